#!/usr/bin/env bash
# Types Japanese into the real program through a real input method, as a user
# does: romaji keys, conversion, commit, then Alt+S. A plain UDP peer on port
# 1001 checks the code page 932 bytes that arrive.
#   inputmethod_test.sh <vesk> ibus|fcitx5 xmodifiers|qt_im_module [anthy|mozc]
# xmodifiers: the desktop announces the input method only as XMODIFIERS=@im=...,
# as many do, and Vesk must find it by itself; qt_im_module: QT_IM_MODULE names it.
# Exit 77 (skipped) where the input method is not installed or cannot start.
set -euo pipefail

vesk=$1
im=$2
how=$3
engine=${4:-anthy}

skip() { echo "SKIP: $*"; exit 77; }

need=(Xvfb xauth xdotool xclip dbus-daemon timeout)
case "$im" in
  ibus) need+=(ibus-daemon ibus gsettings) ;;
  fcitx5) need+=(fcitx5 fcitx5-remote gdbus) ;;
  *) echo "unknown input method $im" >&2; exit 2 ;;
esac
[ "$engine" = mozc ] && need+=(setpriv unshare pgrep)
for tool in "${need[@]}"; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# Anthy for ibus is a Python program started as "python3" from PATH: that must be
# Debian's own Python, the one with the GObject bindings. The peer uses it too.
export PATH="/usr/bin:/bin:$PATH"
case "$im:$engine" in
  ibus:mozc) [ -x /usr/lib/ibus-mozc/ibus-engine-mozc ] || skip "ibus-mozc is not installed" ;;
  fcitx5:mozc) [ -e /usr/share/fcitx5/inputmethod/mozc.conf ] || skip "fcitx5-mozc is not installed" ;;
  ibus:anthy) [ -x /usr/libexec/ibus-engine-anthy ] || skip "ibus-anthy is not installed" ;;
  fcitx5:anthy) [ -e /usr/share/fcitx5/inputmethod/anthy.conf ] || skip "fcitx5-anthy is not installed" ;;
  *) echo "unknown engine $engine" >&2; exit 2 ;;
esac
case "$im" in
  ibus)
    python3 -c 'import gi; gi.require_version("IBus", "1.0"); from gi.repository import IBus' 2>/dev/null ||
      skip "the Python bindings of ibus are not installed" ;;
  fcitx5)
    ls /usr/lib/*/qt6/plugins/platforminputcontexts/libfcitx5platforminputcontextplugin.so >/dev/null 2>&1 ||
      skip "fcitx5-frontend-qt6 is not installed" ;;
esac
# mozc_server refuses to run as root: the session then runs as nobody, in a
# process namespace of its own, where the server Mozc leaves behind is surely
# the test's own. The test's network lets nobody bind the fixed ports.
if [ "$engine" = mozc ] && [ "$(id -u)" -eq 0 ]; then
  [ "${VESK_TEST_NETWORK:-}" = private ] || skip "Mozc runs as nobody only in a network of the test's own"
  sysctl -q -w net.ipv4.ip_unprivileged_port_start=1001
  # Not as the namespace's first process: ibus-daemon, whose parent is then
  # process 1, takes its parent for dead and leaves.
  exec unshare -pf --mount-proc setpriv --reuid=nobody --regid=nogroup --clear-groups \
    sh -c 'bash "$0" "$@"; exit $?' "$0" "$@"
fi
if [ "$(id -u)" -ne 0 ] &&
   [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt 1001 ]; then
  skip "ports 1001/1002 need root or cap_net_bind_service here"
fi

. "$(dirname "$0")/xdrive.sh"
# ibus takes its helper processes down with it when asked to leave.
if [ "$im" = ibus ]; then on_exit 'timeout 5 ibus exit >/dev/null 2>&1'; fi

own_home
unset QT_IM_MODULE QT_IM_MODULES GTK_IM_MODULE XMODIFIERS IBUS_ADDRESS DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb

echo "== Starting Xvfb and a session bus"
start_xvfb
start_session_bus
# Mozc's server outlives the input method that started it.
[ "$engine" = mozc ] && on_exit 'for pid in $(pgrep -x mozc_server); do kill "$pid"; done'

# Starts ibus with the engine. Anthy starts in Latin mode (3): Ctrl+J turns
# hiragana on, as a user would. Mozc is told to start in hiragana, as its
# users set it, since no key of its own turns hiragana on.
ibus_engine=anthy
[ "$engine" = mozc ] && ibus_engine=mozc-jp
start_ibus() {
  if [ "$engine" = mozc ]; then
    mozc_starts_on
  else
    gsettings set org.freedesktop.ibus.engine.anthy.common input-mode 3 2>"$work/gsettings.log" ||
      fail "cannot write the Anthy settings"
  fi
  ibus-daemon --panel=disable --emoji-extension=disable --replace >"$work/ibus.log" 2>&1 &
  track $!
  wait_until 10 engine_is_on && return 0
  cat "$work/ibus.log"
  skip "ibus did not start the $engine engine"
}
# "ibus engine <name>" fails when it cannot also set the X keyboard layout,
# though the engine is on; asking back is what tells.
engine_is_on() {
  ibus engine "$ibus_engine" >/dev/null 2>&1 || true
  [ "$(ibus engine 2>/dev/null)" = "$ibus_engine" ]
}

# Starts fcitx5 with US keys and the engine, as its configuration tool leaves
# them; Ctrl+Space turns the engine on, which starts in hiragana.
start_fcitx5() {
  mkdir -p "$XDG_CONFIG_HOME/fcitx5"
  cat >"$XDG_CONFIG_HOME/fcitx5/profile" <<PROFILE
[Groups/0]
Name=Default
Default Layout=us
DefaultIM=$engine

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=$engine
Layout=

[GroupOrder]
0=Default
PROFILE
  fcitx5 >"$work/fcitx5.log" 2>&1 &
  track $!
  wait_until 10 fcitx5_on_bus && return 0
  cat "$work/fcitx5.log"
  skip "fcitx5 did not start"
}
# Asked without activating it: a call to fcitx5 itself would have the bus
# start a second fcitx5 while the first one is still coming up.
fcitx5_on_bus() {
  [ "$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
         --method org.freedesktop.DBus.NameHasOwner org.fcitx.Fcitx5 2>/dev/null)" = "(true,)" ]
}

# Whether the input method's state for the focused program is $1: 0 nothing in
# focus, 1 in focus with the method off, 2 on (fcitx5-remote's numbers; for ibus
# only 0 and 1 are told: a context in focus other than the one it has alone).
im_state_is() {
  case $im in
    fcitx5) [ "$(fcitx5-remote 2>/dev/null)" = "$1" ] ;;
    ibus) [ "$([ "$(ibus_context)" = "$ibus_own_context" ] && echo 0 || echo 1)" = "$1" ] ;;
  esac
}
ibus_context() {
  python3 -c 'import gi; gi.require_version("IBus", "1.0"); from gi.repository import IBus
print(IBus.Bus().current_input_context())' 2>/dev/null
}

echo "== Starting $im with $engine"
"start_$im"
if [ "$im" = ibus ]; then ibus_own_context=$(ibus_context); fi

case "$im:$how" in
  ibus:xmodifiers) export XMODIFIERS=@im=ibus ;;
  ibus:qt_im_module) export QT_IM_MODULE=ibus ;;
  fcitx5:xmodifiers) export XMODIFIERS=@im=fcitx ;;
  fcitx5:qt_im_module) export QT_IM_MODULE=fcitx ;;
  *) fail "unknown case $how" ;;
esac

echo "== A plain UDP peer on port 1001"
udp_peer 1001 "$work/received" 60

echo "== Starting Vesk as Server at 127.0.0.1 (${XMODIFIERS:+XMODIFIERS=$XMODIFIERS}${QT_IM_MODULE:+QT_IM_MODULE=$QT_IM_MODULE})"
"$vesk" >"$work/vesk.log" 2>&1 &
vesk_pid=$!
track "$vesk_pid"
main=$(window_of "$vesk_pid" "Vesk -Main-")
focus "$main"
# Mozc starts every box in hiragana, the address boxes too.
if [ "$engine" = mozc ]; then enter_loopback "$main" paste; else enter_loopback "$main"; fi
xdotool key alt+s
conv=$(window_of "$vesk_pid" "Vesk - Server -")
# The message box has the focus when the window opens; the keys go to the
# input method once it has the program's input context in focus.
focus "$conv"
wait_until 10 im_state_is 1 || fail "$im never had the message box in focus"

echo "== Typing: input method on, nihongo, Space converts, Return commits, Alt+S"
# The input method takes each key in turn: ibus's Anthy has turned hiragana on
# by the time it reads the next one, and the commit reaches the program before
# the Alt+S that follows it.
if [ "$im" = ibus ]; then
  [ "$engine" = mozc ] || xdotool key ctrl+j
else
  xdotool key ctrl+space
  wait_until 10 im_state_is 2 || fail "Ctrl+Space did not turn $engine on"
fi
xdotool type --delay 60 nihongo
xdotool key --delay 200 space Return
xdotool key alt+s

received() { [ -s "$work/received" ]; }
wait_until 10 received || fail "the peer received nothing"
got=$(cat "$work/received")
expected="93 FA 96 7B 8C EA" # 日本語 in code page 932
[ "$got" = "$expected" ] || fail "the peer received [$got], expected [$expected] (日本語)"
echo "PASS: received $got"
