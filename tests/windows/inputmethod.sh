#!/usr/bin/env bash
# Japanese typed into vesk.exe under Wine (not Windows) through a real input
# method: ibus with Anthy behind its X input method bridge, which Wine turns into
# the Windows input-method messages Qt reads. Romaji keys, conversion, commit,
# Alt+S; a plain UDP peer on port 1001 checks the code page 932 bytes. Wine's
# notepad is typed into the same way first: when it gets 日本語 and vesk.exe
# does not, the fault is vesk.exe's, not Wine's. Run it in a network namespace
# of its own.
#   inputmethod.sh <vesk.exe>
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
# Anthy's engine is a Python program started as "python3" from PATH: that must
# be Debian's own, the one with the GObject bindings. The peer uses it too.
export PATH="/usr/bin:/bin:$PATH"
. "$here/wine.sh"

for tool in Xvfb xdotool xclip dbus-daemon ibus-daemon ibus gsettings timeout; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done
[ -x /usr/libexec/ibus-x11 ] || { echo "FAIL: ibus's X input method bridge is not installed" >&2; exit 1; }
[ -x /usr/libexec/ibus-engine-anthy ] || { echo "FAIL: ibus-anthy is not installed" >&2; exit 1; }

# Sourced first: its EXIT trap is the one clean-up, ibus and Wine included.
. "$here/../xdrive.sh"
# ibus takes its helper processes down with it when asked to leave.
on_exit 'timeout 5 ibus exit >/dev/null 2>&1'
on_exit wine_stop

# A fresh home: ibus and Anthy remember there, a failed engine start among it.
own_home
unset QT_IM_MODULE GTK_IM_MODULE XMODIFIERS IBUS_ADDRESS DBUS_SESSION_BUS_ADDRESS
# Xlib opens an input method only in a locale it supports.
export LC_ALL=C.UTF-8

echo "   starting Xvfb, a session bus and ibus with Anthy behind its X input method"
start_xvfb
start_session_bus
# Latin mode (3): Ctrl+J turns hiragana on, as a user would.
gsettings set org.freedesktop.ibus.engine.anthy.common input-mode 3 2>"$work/gsettings.log" ||
  fail "cannot write the Anthy settings"
ibus-daemon --xim --panel=disable --emoji-extension=disable --replace >"$work/ibus.log" 2>&1 &
track $!
engine=
for _ in $(seq 100); do
  # "ibus engine <name>" fails when it cannot also set the X keyboard layout,
  # though the engine is on; asking back is what tells.
  ibus engine anthy >/dev/null 2>&1 || true
  engine=$(ibus engine 2>/dev/null) || true
  [ "$engine" = anthy ] && break
  sleep 0.1
done
[ "$engine" = anthy ] || fail "ibus did not start the Anthy engine"
# Wine opens the input method when its X11 driver starts: the bridge must be up.
for _ in $(seq 100); do
  xprop -root XIM_SERVERS 2>/dev/null | grep -q '@server=ibus' && break
  sleep 0.1
done
xprop -root XIM_SERVERS 2>/dev/null | grep -q '@server=ibus' || fail "ibus's X input method bridge did not start"
export XMODIFIERS=@im=ibus

wine_start || fail "the wineserver did not start"

echo "   a plain UDP peer on port 1001"
udp_peer 1001 "$work/received" 120

# Input method on, nihongo, Space converts, Return commits.
type_japanese() {
  xdotool key ctrl+j
  sleep 0.2
  xdotool type --delay 60 nihongo
  xdotool key --delay 200 space Return
  sleep 0.3
}

echo "   Wine's notepad first, typed into the same way"
wine notepad >"$work/notepad.log" 2>&1 &
track $!
notepad=$(timeout 30 xdotool search --sync --onlyvisible --name '^Untitled - Notepad$' 2>/dev/null | head -n1) ||
  fail "Wine's notepad did not open"
xdotool windowfocus --sync "$notepad"
sleep 0.5
type_japanese
xdotool key ctrl+a ctrl+c
sleep 0.3
notepad_got=$(timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r\n' || true)
echo "   Wine's notepad got [$notepad_got]"
# Ctrl+J again: Anthy back to Latin for the address boxes.
xdotool key ctrl+j
wine taskkill /f /im notepad.exe >/dev/null 2>&1 || true

echo "   vesk.exe as Server at 127.0.0.1: typing nihongo, converting, committing, Alt+S"
(cd "$(dirname "$exe")" && exec wine "$exe") >"$work/wine.log" 2>&1 &
vesk=$!
track "$vesk"
main=$(window_of "$vesk" "Vesk -Main-" 60)
enter_loopback "$main"
xdotool key alt+s
conv=$(window_of "$vesk" "Vesk - Server -")
# The message box has the focus when the window opens.
xdotool windowfocus --sync "$conv"
sleep 0.5
type_japanese
xdotool key alt+s

for _ in $(seq 100); do
  [ -s "$work/received" ] && break
  sleep 0.1
done
got=$(cat "$work/received" 2>/dev/null || true)
expected="93 FA 96 7B 8C EA" # 日本語 in code page 932
[ "$got" = "$expected" ] ||
  fail "the peer received [$got], expected [$expected] (日本語); Wine's notepad got [$notepad_got] the same way"
echo "   received $got (日本語)"
echo "PASS"
