#!/usr/bin/env bash
# Starts Xvfb and a session bus (which starts the accessibility bus on demand)
# and reads the built program there as a screen reader does: accessibility_test.py.
#   accessibility_test.sh <vesk>
# Exit 77 (skipped) only when the buses cannot start here; a missing package is a
# failure, since scripts/setup.sh installs them.
set -euo pipefail

vesk=$1
here=$(cd "$(dirname "$0")" && pwd)
# Debian's python, which has the AT-SPI and X bindings, not whichever comes first on PATH.
python=/usr/bin/python3

for tool in Xvfb dbus-run-session "$python" /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh test installs it)"; exit 1; }
done
"$python" -c 'import pyatspi, Xlib' ||
  { echo "FAIL: python3-pyatspi or python3-xlib is missing (scripts/setup.sh test installs them)"; exit 1; }

work=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "FAIL: Xvfb did not report a display"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

if ! dbus-run-session -- true 2>"$work/dbus.log"; then
  cat "$work/dbus.log"
  echo "SKIP: no session bus can start here"
  exit 77
fi
dbus-run-session -- "$python" "$here/accessibility_test.py" "$vesk"
