#!/bin/sh
# Runs a test that binds the fixed ports 1001/1002 in a network namespace of its
# own, so that a Vesk copy running on this machine cannot take the ports from it
# (or receive its messages). As an ordinary user the namespace also grants the
# right to bind ports below 1024.
# That network has only the loopback device, so nothing leaves the machine, plus
# two documentation networks that fail the way real ones do: 192.0.2.0/24 is
# "host unreachable" and 198.51.100.0/24 "prohibited". VESK_TEST_NETWORK=private
# tells the test it runs there.
# Never runs the test on the machine's own network instead: where no namespace
# can be made it fails as root, and skips (77) as an ordinary user, whom the
# system may deny user namespaces.
if [ "$(id -u)" -eq 0 ]; then flags=-n; else flags=-rn; fi
why=
if ! command -v unshare >/dev/null 2>&1 || ! command -v ip >/dev/null 2>&1; then
  why="unshare or ip is not installed (scripts/setup.sh test installs them)"
elif ! err=$(unshare $flags true 2>&1); then
  why="cannot make a network namespace: $err"
fi
if [ -n "$why" ]; then
  if [ "$(id -u)" -eq 0 ]; then echo "FAIL: $why" >&2; exit 1; fi
  echo "SKIP: $why"
  exit 77
fi
exec unshare $flags sh -c 'ip link set lo up &&
  ip route add unreachable 192.0.2.0/24 && ip route add prohibit 198.51.100.0/24 &&
  VESK_TEST_NETWORK=private exec "$@"' sh "$@"
