#!/usr/bin/env bash
# Sets up what is missing, builds Vesk and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target vesk
exe=build/release/app/vesk
# The fixed ports 1001 and 1002 are below 1024: on Linux an ordinary user needs
# this one capability to bind them.
if [ "$(id -u)" -ne 0 ] && ! getcap "$exe" | grep -q cap_net_bind_service; then
  echo "Granting $exe the right to use ports below 1024 (sudo setcap)..."
  sudo setcap cap_net_bind_service=+ep "$exe" || echo "Could not grant it; binding the port will fail." >&2
fi
exec "$exe"
