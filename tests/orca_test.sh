#!/usr/bin/env bash
# A real Orca reads the real program under Xvfb with a window manager; what it
# says is taken from its debug output ("SPEECH OUTPUT: '...'"): the start
# window, the boxes as Tab reaches them, the conversation window, and a line
# that arrives while the focus is in the input box, then while another window
# is active.
#   orca_test.sh <vesk>
# Exit 77 (skipped) where Orca is not installed.
set -euo pipefail

vesk=$1
for tool in orca openbox speech-dispatcher script gsettings Xvfb xdotool dbus-daemon unshare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# "orca --replace" ends every Orca of the same user it finds: the test has a
# process namespace of its own, where it finds only its own.
if [ "${VESK_ORCA_NAMESPACE:-}" != 1 ]; then
  flags=-pf
  [ "$(id -u)" -eq 0 ] || flags=-rpf
  exec env VESK_ORCA_NAMESPACE=1 unshare $flags --mount-proc bash "$0" "$@"
fi
export PATH="/usr/bin:/bin:$PATH" # Orca and the peer need Debian's Python

. "$(dirname "$0")/xdrive.sh"
own_home
unset QT_IM_MODULE QT_IM_MODULES XMODIFIERS
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
start_xvfb
start_session_bus
openbox --sm-disable >"$work/openbox.log" 2>&1 &
track $!

# Speech goes to a file through speech-dispatcher's generic module: no sound
# card is needed, and Orca is never held up waiting for one.
spoken="$work/spoken"
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher/modules"
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<CONF
AudioOutputMethod "libao"
AddModule "file" "sd_generic" "file.conf"
DefaultModule "file"
DefaultLanguage "ja"
CONF
cat >"$XDG_CONFIG_HOME/speech-dispatcher/modules/file.conf" <<CONF
GenericExecuteSynth "printf '%s\\\\n' \\'\$DATA\\' >>$spoken"
GenericLanguage "ja" "ja" "utf-8"
AddVoice "ja" "MALE1" "ja"
CONF
printf 'default_driver=null\n' >"$HOME/.libao"
on_exit 'kill "$(cat "$XDG_RUNTIME_DIR/speech-dispatcher/pid/speech-dispatcher.pid" 2>/dev/null)" 2>/dev/null'

gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled true
# Through a terminal Orca's debug output comes line by line, not in blocks.
script -qfc "orca --replace -d braille --debug-file /dev/stdout" "$work/orca.out" >/dev/null 2>&1 </dev/null &
track $!
orca_says_ready() { grep -q 'SPEECH OUTPUT' "$work/orca.out" 2>/dev/null; }
wait_until 30 orca_says_ready || fail "Orca said nothing within 30 s"

# What Orca has said since the last mark.
mark() { said_from=$(($(wc -l <"$work/orca.out") + 1)); }
said() { tail -n +"$said_from" "$work/orca.out" | grep -a "SPEECH OUTPUT: '" | sed "s/.*SPEECH OUTPUT: '//; s/' *{.*//"; }
_said_has() { said | grep -qF -- "$1"; }
expect_said() {
  wait_until 10 _said_has "$1" || fail "Orca did not say \"$1\"; it said:
$(said)"
}
send_line() { python3 -c 'import socket, sys
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(sys.argv[1].encode("cp932"), ("127.0.0.1", 1002))' "$1"; }

echo "== The start window opens"
mark
"$vesk" >"$work/vesk.log" 2>&1 &
vesk_pid=$!
track "$vesk_pid"
main=$(window_of "$vesk_pid" "Vesk -Main-")
expect_said "Vesk -Main- frame"
expect_said "相手のIPアドレスを4つの欄に入れ、ServerかClientを選んで決定（Alt+S）を押すと会話を始めます"
expect_said "相手のIPアドレス： text"

echo "== Tab through the boxes, typing the address"
for step in "127:相手のIPアドレス 2番目の数 text" "0:相手のIPアドレス 3番目の数 text" \
            "0:相手のIPアドレス 4番目の数 text" "1:Client / Server panel" ":決定(S) push button" \
            ":終了(X) push button"; do
  mark
  [ -z "${step%%:*}" ] || xdotool type -- "${step%%:*}"
  xdotool key Tab
  expect_said "${step#*:}"
done

echo "== The conversation window opens"
mark
xdotool key alt+s
conv=$(window_of "$vesk_pid" "Vesk - Server -")
expect_said "Vesk - Server - frame"
expect_said "相手とメッセージをやり取りします。送信は Alt+S、終了は Alt+X"
expect_said "送信メッセージ text"

echo "== A line arrives with the focus in the input box"
mark
send_line "こんにちは"
expect_said "相手>> こんにちは"

echo "== A line arrives with the focus in the transcript: said once"
xdotool key Tab Tab
expect_said "送受信メッセージ text"
mark
send_line "二行目です"
expect_said "相手>> 二行目です"
sleep 1
[ "$(said | grep -c '二行目です')" = 1 ] || fail "Orca said the line more than once: $(said)"

echo "== A line arrives while another window is active"
"$vesk" >"$work/vesk2.log" 2>&1 &
track $!
window_of $! "Vesk -Main-" >/dev/null
wait_until 10 eval '[ "$(xdotool getactivewindow)" != "$conv" ]' || fail "the conversation window stayed active"
mark
send_line "三行目です"
expect_said "相手>> 三行目です"
grep -a 'SPEECH OUTPUT' "$work/orca.out" | sed "s/.*SPEECH OUTPUT: //"
echo PASS
