#!/bin/sh
# Runs a test that binds the fixed ports 1001/1002 in a network namespace of its
# own where the system allows it, so that a Vesk copy running on this machine
# cannot take the ports from it (or receive its messages). As an ordinary user
# the namespace also grants the right to bind ports below 1024.
# Falls back to running the test as it is.
if command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then flags=-n; else flags=-rn; fi
  if unshare $flags true 2>/dev/null; then
    exec unshare $flags sh -c 'ip link set lo up && exec "$@"' sh "$@"
  fi
fi
exec "$@"
