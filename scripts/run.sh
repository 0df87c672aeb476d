#!/usr/bin/env bash
# Sets up what is missing, builds Vesk and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset release >/dev/null
exe=build/release/app/vesk
# A copy an older version of this script gave a capability is linked anew.
if command -v getcap >/dev/null && [ -n "$(getcap "$exe" 2>/dev/null)" ]; then rm -f "$exe"; fi
cmake --build --preset release --target vesk
# The fixed ports 1001 and 1002 are below 1024. The program holds no privilege:
# it starts through authbind, which binds those two ports once they are
# granted, as the package grants them (asked for once, through sudo).
if [ "$(id -u)" -ne 0 ] && { [ ! -e '/etc/authbind/byport/!1001' ] || [ ! -e '/etc/authbind/byport/!1002' ]; }; then
  echo "Granting ports 1001 and 1002 to every user through authbind (sudo)..."
  sudo sh packaging/postinst configure || echo "Could not grant them; binding the port will fail." >&2
fi
exec authbind "$exe"
