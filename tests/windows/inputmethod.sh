#!/usr/bin/env bash
# Japanese typed into vesk.exe under Wine (not Windows) through a real input
# method: ibus with Anthy behind its X input method bridge, which Wine turns into
# the Windows input-method messages Qt reads. Romaji keys, conversion, commit,
# Send; a plain UDP peer on port 1001 checks the code page 932 bytes. Then End:
# the fresh start window takes a commit too. Wine's notepad is typed into the
# same way first: when it gets 日本語 and vesk.exe does not, the fault is
# vesk.exe's, not Wine's. Run it in a network namespace of its own.
#   inputmethod.sh <vesk.exe>
#
# No sleeps: keys go through ibus and back to Wine in order, so none waits for
# the one before, and each step waits for what shows it done. Wine mixes that
# order up in two cases (docs/windows.md), which the test keeps clear of: with
# no window manager a closing window holds the program up for 2 s, and keys
# typed meanwhile come back jumbled, so it waits for such a window to be gone;
# keys ibus hands back while a commit is delivered can come last first (Alt+S
# as "s", then Alt), so it waits for the commit, then clicks Send.
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
# Anthy's engine is a Python program started as "python3" from PATH: that must
# be Debian's own, the one with the GObject bindings. The peer uses it too.
export PATH="/usr/bin:/bin:$PATH"
. "$here/wine.sh"

for tool in Xvfb xdotool xclip xprop dbus-daemon ibus-daemon ibus gsettings timeout; do
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
# The test command runs the Linux suites offscreen; vesk.exe draws through Wine.
unset QT_QPA_PLATFORM QT_IM_MODULE GTK_IM_MODULE XMODIFIERS IBUS_ADDRESS DBUS_SESSION_BUS_ADDRESS
# Xlib opens an input method only in a locale it supports. Wine takes it as
# English, so its input context lets ibus keep the preedit text to itself and
# hands the program only the commit.
export LC_ALL=C.UTF-8

echo "   starting Xvfb, a session bus and ibus with Anthy behind its X input method"
start_xvfb
start_session_bus
# Latin mode (3): Ctrl+J turns hiragana on, as a user would.
gsettings set org.freedesktop.ibus.engine.anthy.common input-mode 3 2>"$work/gsettings.log" ||
  fail "cannot write the Anthy settings"
ibus-daemon --xim --panel=disable --emoji-extension=disable --replace >"$work/ibus.log" 2>&1 &
track $!
# "ibus engine <name>" fails when it cannot also set the X keyboard layout,
# though the engine is on; asking back is what tells.
anthy_on() {
  ibus engine anthy >/dev/null 2>&1 || true
  [ "$(ibus engine 2>/dev/null)" = anthy ]
}
wait_until 10 anthy_on || fail "ibus did not start the Anthy engine"
# Wine opens the input method when its X11 driver starts: the bridge must be up.
bridge_up() { xprop -root XIM_SERVERS 2>/dev/null | grep -q '@server=ibus'; }
wait_until 10 bridge_up || fail "ibus's X input method bridge did not start"
export XMODIFIERS=@im=ibus

wine_start || fail "the wineserver did not start"

echo "   a plain UDP peer on port 1001"
udp_peer 1001 "$work/received" 120

# Input method on, nihongo, Space converts, Return commits. Ctrl+J is safe
# here: ibus reads the Ctrl from the J key itself.
type_japanese() {
  xdotool key ctrl+j
  xdotool type nihongo
  xdotool key space Return
}

echo "   Wine's notepad first, typed into the same way"
# Wine's XIM trace shows when the commit reaches the program.
WINEDEBUG=+xim wine notepad >"$work/notepad.log" 2>&1 &
track $!
notepad=$(timeout 30 xdotool search --sync --onlyvisible --name '^Untitled - Notepad$' 2>/dev/null | head -n1) ||
  fail "Wine's notepad did not open"
focus "$notepad"
type_japanese
if wait_until 20 grep -q 'X11DRV_XIMLookupChars' "$work/notepad.log"; then
  # Ctrl+J: Anthy, one for all windows, back to Latin for the address boxes.
  # Select all and copy from the Edit menu, in plain keys that come after it.
  xdotool key ctrl+j
  notepad_got=$(copied_by xdotool key F10 e a F10 e c | tr -d '\n')
else
  notepad_got="(no commit)"
fi
echo "   Wine's notepad got [$notepad_got]"
wine taskkill /f /im notepad.exe >/dev/null 2>&1 || true

echo "   vesk.exe as Server at 127.0.0.1: typing nihongo, converting, committing, Send"
# Qt's input method log, on stderr, names the box each commit went to.
export QT_FORCE_STDERR_LOGGING=1 QT_LOGGING_RULES=qt.qpa.input.methods=true
wine_pass_qt_environment
(cd "$(dirname "$exe")" && exec wine "$exe") >"$work/wine.log" 2>&1 &
vesk=$!
track "$vesk"
committed_to() { grep -q "composition sending markup.* commit= \"[^\"].* name = \"$1\"" "$work/wine.log"; }
gone() { ! xdotool search --all --onlyvisible --pid "$vesk" --name "^$1\$" >/dev/null 2>&1; }

main=$(window_of "$vesk" "Vesk -Main-" 60)
enter_loopback "$main"
# From the last box past Server to Start, and press it: plain keys, as Wine can let
# Alt's release overtake the S still in ibus.
xdotool key Tab Tab space
conv=$(window_of "$vesk" "Vesk - Server -")
wait_until 10 gone "Vesk -Main-" || fail "the start window did not close"
focus "$conv"
type_japanese
wait_until 20 committed_to txtSend || fail "no commit reached the send box; Wine's notepad got [$notepad_got]"
click "$conv" conversation.send
wait_until 10 test -s "$work/received" || true
got=$(cat "$work/received" 2>/dev/null || true)
expected="93 FA 96 7B 8C EA" # 日本語 in code page 932
[ "$got" = "$expected" ] ||
  fail "the peer received [$got], expected [$expected] (日本語); Wine's notepad got [$notepad_got] the same way"
echo "   received $got (日本語)"

echo "   End: the fresh start window takes a commit too (hiragana is still on)"
click "$conv" conversation.end
main=$(window_of "$vesk" "Vesk -Main-")
wait_until 10 gone "Vesk - Server -" || fail "the conversation window did not close"
focus "$main"
xdotool type nihongo
xdotool key space Return
wait_until 20 committed_to "txtIP(0)" || fail "no commit reached the fresh start window's first box"
echo "PASS"
