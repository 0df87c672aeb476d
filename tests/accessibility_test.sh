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

for tool in Xvfb xauth dbus-run-session "$python" /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh test installs it)"; exit 1; }
done
"$python" -c 'import pyatspi, Xlib' ||
  { echo "FAIL: python3-pyatspi or python3-xlib is missing (scripts/setup.sh test installs them)"; exit 1; }

. "$here/xdrive.sh"
start_xvfb
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

if ! dbus-run-session -- true 2>"$work/dbus.log"; then
  cat "$work/dbus.log"
  echo "SKIP: no session bus can start here"
  exit 77
fi
dbus-run-session -- "$python" "$here/accessibility_test.py" "$vesk"
