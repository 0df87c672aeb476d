#!/usr/bin/env bash
# Types Japanese into the real program through a real input method, as a user
# does: romaji keys, conversion, commit, then Alt+S. A plain UDP peer on port
# 1001 checks the code page 932 bytes that arrive.
#   inputmethod_test.sh <vesk> ibus|fcitx5 xmodifiers|qt_im_module
# xmodifiers: the desktop announces the input method only as XMODIFIERS=@im=...,
# as many do, and Vesk must find it by itself; qt_im_module: QT_IM_MODULE names it.
# Exit 77 (skipped) where the input method is not installed or cannot start.
set -euo pipefail

vesk=$1
im=$2
how=$3

skip() { echo "SKIP: $*"; exit 77; }

need=(Xvfb xdotool dbus-daemon timeout)
case "$im" in
  ibus) need+=(ibus-daemon ibus gsettings) ;;
  fcitx5) need+=(fcitx5 gdbus) ;;
  *) echo "unknown input method $im" >&2; exit 2 ;;
esac
for tool in "${need[@]}"; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# Anthy for ibus is a Python program started as "python3" from PATH: that must be
# Debian's own Python, the one with the GObject bindings. The peer uses it too.
export PATH="/usr/bin:/bin:$PATH"
case "$im" in
  ibus)
    [ -x /usr/libexec/ibus-engine-anthy ] || skip "ibus-anthy is not installed"
    python3 -c 'import gi; gi.require_version("IBus", "1.0"); from gi.repository import IBus' 2>/dev/null ||
      skip "the Python bindings of ibus are not installed" ;;
  fcitx5)
    [ -e /usr/share/fcitx5/inputmethod/anthy.conf ] || skip "fcitx5-anthy is not installed"
    ls /usr/lib/*/qt6/plugins/platforminputcontexts/libfcitx5platforminputcontextplugin.so >/dev/null 2>&1 ||
      skip "fcitx5-frontend-qt6 is not installed" ;;
esac
if [ "$(id -u)" -ne 0 ] &&
   [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt 1001 ]; then
  skip "ports 1001/1002 need root or cap_net_bind_service here"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  # ibus takes its helper processes down with it when asked to leave.
  if [ "$im" = ibus ]; then timeout 5 ibus exit >/dev/null 2>&1 || true; fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  exec >&2
  echo "FAIL: $*"
  local log
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "-- $(basename "$log"):"; tail -n 30 "$log"; }
  done
  exit 1
}

# Everything the session writes stays in the scratch folder.
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_IM_MODULE QT_IM_MODULES GTK_IM_MODULE XMODIFIERS IBUS_ADDRESS DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb

echo "== Starting Xvfb and a session bus"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
exec 3>"$work/bus"
dbus-daemon --session --nofork --address="unix:path=$work/bus.socket" --print-address=3 >"$work/dbus.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && [ -s "$work/bus" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not report a display"
[ -s "$work/bus" ] || fail "dbus-daemon did not report its address"
DISPLAY=":$(head -n1 "$work/display")"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export DISPLAY DBUS_SESSION_BUS_ADDRESS

# Starts ibus with Anthy as its engine, in Latin mode (3): Ctrl+J turns hiragana
# on, as a user would.
start_ibus() {
  gsettings set org.freedesktop.ibus.engine.anthy.common input-mode 3 2>"$work/gsettings.log" ||
    fail "cannot write the Anthy settings"
  ibus-daemon --panel=disable --emoji-extension=disable --replace >"$work/ibus.log" 2>&1 &
  pids+=($!)
  # "ibus engine <name>" fails when it cannot also set the X keyboard layout,
  # though the engine is on; asking back is what tells.
  local _
  for _ in $(seq 100); do
    ibus engine anthy >/dev/null 2>&1 || true
    [ "$(ibus engine 2>/dev/null)" = anthy ] && return 0
    sleep 0.1
  done
  cat "$work/ibus.log"
  skip "ibus did not start the Anthy engine"
}

# Starts fcitx5 with US keys and Anthy, as its configuration tool leaves them;
# Ctrl+Space turns Anthy on, which starts in hiragana.
start_fcitx5() {
  mkdir -p "$XDG_CONFIG_HOME/fcitx5"
  cat >"$XDG_CONFIG_HOME/fcitx5/profile" <<'PROFILE'
[Groups/0]
Name=Default
Default Layout=us
DefaultIM=anthy

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=anthy
Layout=

[GroupOrder]
0=Default
PROFILE
  fcitx5 >"$work/fcitx5.log" 2>&1 &
  pids+=($!)
  # Asked without activating it: a call to fcitx5 itself would have the bus
  # start a second fcitx5 while the first one is still coming up.
  local _
  for _ in $(seq 100); do
    [ "$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
           --method org.freedesktop.DBus.NameHasOwner org.fcitx.Fcitx5 2>/dev/null)" = "(true,)" ] && return 0
    sleep 0.1
  done
  cat "$work/fcitx5.log"
  skip "fcitx5 did not start"
}

echo "== Starting $im with Anthy"
"start_$im"

case "$im:$how" in
  ibus:xmodifiers) export XMODIFIERS=@im=ibus ;;
  ibus:qt_im_module) export QT_IM_MODULE=ibus ;;
  fcitx5:xmodifiers) export XMODIFIERS=@im=fcitx ;;
  fcitx5:qt_im_module) export QT_IM_MODULE=fcitx ;;
  *) fail "unknown case $how" ;;
esac

echo "== A plain UDP peer on port 1001"
python3 - "$work/received" >"$work/peer.log" 2>&1 <<'PY' &
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 1001))
s.settimeout(60)
data = s.recv(65535)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(data.hex(" ").upper())
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
PY
pids+=($!)

echo "== Starting Vesk as Server at 127.0.0.1 (${XMODIFIERS:+XMODIFIERS=$XMODIFIERS}${QT_IM_MODULE:+QT_IM_MODULE=$QT_IM_MODULE})"
"$vesk" >"$work/vesk.log" 2>&1 &
vesk_pid=$!
pids+=("$vesk_pid")
window_of() {
  local id
  id=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$vesk_pid" --name "^$1\$" 2>/dev/null | head -n1) ||
    fail "no window \"$1\""
  [ -n "$id" ] || fail "no window \"$1\""
  echo "$id"
}
main=$(window_of "Vesk -Main-")
xdotool windowfocus --sync "$main"
for part in 127 0 0 1; do
  xdotool type --delay 30 "$part"
  xdotool key Tab
done
xdotool key alt+s
conv=$(window_of "Vesk - Server -")
# The message box has the focus when the window opens.
xdotool windowfocus --sync "$conv"
sleep 0.5

echo "== Typing: input method on, nihongo, Space converts, Return commits, Alt+S"
if [ "$im" = ibus ]; then xdotool key ctrl+j; else xdotool key ctrl+space; fi
sleep 0.2
xdotool type --delay 60 nihongo
xdotool key --delay 200 space Return
sleep 0.3
xdotool key alt+s

for _ in $(seq 100); do
  [ -s "$work/received" ] && break
  sleep 0.1
done
[ -s "$work/received" ] || fail "the peer received nothing"
got=$(cat "$work/received")
expected="93 FA 96 7B 8C EA" # 日本語 in code page 932
[ "$got" = "$expected" ] || fail "the peer received [$got], expected [$expected] (日本語)"
echo "PASS: received $got"
