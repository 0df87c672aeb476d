#!/usr/bin/env bash
# Start-up of a Windows program under Wine to its first window mapped, beside a
# reference program, measured by the Linux bench_startup on an Xvfb of its own;
# prints its RESULT line renamed for Wine. Run it in a network namespace of its own.
#   startup.sh <bench_startup> <program.exe> <reference.exe>
set -euo pipefail
bench_startup=$1
. "$(dirname "$0")/wine.sh"

. "$(dirname "$0")/../xdrive.sh"
on_exit wine_stop
# The prefix is booted without a display, so the server is started anew: the
# first (unmeasured) start on bench_startup's Xvfb brings up Wine's desktop there.
wine_start
wine_stop
wineserver -p

# bench_startup starts a program by its path: each .exe gets a starter script.
for which in ours reference; do
  exe=$([ "$which" = ours ] && echo "$2" || echo "$3")
  printf '#!/bin/sh\ncd "%s" && QT_QPA_PLATFORM=windows exec wine "%s"\n' "$(dirname "$exe")" "$exe" >"$work/$which"
  chmod +x "$work/$which"
done
"$bench_startup" "$work/ours" "$work/reference" 9 0 | sed -n \
  -e 's/^first mapped windows/under Wine, &/p' \
  -e 's/^RESULT | start-up to the start window shown | \(.*\) | minimal Qt Widgets program | ms | .*/RESULT | vesk.exe under Wine: start-up to the start window shown | \1 | minimal Qt Widgets program under Wine | ms | <=1.25/p'
