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
# it starts through authbind, which binds those two ports for the members of
# the group vesk, as the package grants them. On a machine without that group
# the grant is made once, and the user joins it, through sudo; a session that
# began before joining gets the group through sg.
if [ "$(id -u)" -ne 0 ]; then
  if ! getent group vesk >/dev/null; then
    echo "Granting ports 1001 and 1002 to the group vesk through authbind (sudo)..."
    sudo sh packaging/postinst configure || echo "Could not grant them; binding the port will fail." >&2
  fi
  if getent group vesk >/dev/null && ! id -nG | tr ' ' '\n' | grep -qx vesk; then
    user=$(id -un)
    if ! getent group vesk | cut -d: -f4 | tr ',' '\n' | grep -qx "$user"; then
      echo "Adding $user to the group vesk (sudo); other sessions have it after logging in again..."
      sudo adduser --quiet "$user" vesk || echo "Could not add $user to vesk; binding the port will fail." >&2
    fi
    exec sg vesk -c "exec authbind $(printf '%q' "$exe")"
  fi
fi
exec authbind "$exe"
