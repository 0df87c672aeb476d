#!/usr/bin/env bash
# The desktop notifications of the real program under Xvfb, read from the D-Bus
# calls a fake notification service on a private session bus gets: none while
# the window is active; the caption as title and the line as body (escaped as
# markup, cut short) while it is not; the next line replaces it; activating the
# window withdraws it.
#   notification_test.sh <vesk>
set -euo pipefail

vesk=$1
here=$(cd "$(dirname "$0")" && pwd)
export PATH="/usr/bin:/bin:$PATH" # Debian's Python, with the GObject bindings

. "$here/xdrive.sh"
own_home
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
start_xvfb
start_session_bus
calls="$work/calls"
python3 "$here/fake_notifications.py" "$calls" >"$work/service.log" 2>&1 &
track $!
service_ready() { grep -q '^Ready' "$calls" 2>/dev/null; }
wait_until 10 service_ready || fail "the fake notification service did not start"

send_line() { python3 -c 'import socket, sys
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(sys.argv[1].encode("cp932"), ("127.0.0.1", 1002))' "$1"; }
calls_are() { [ "$(grep -v '^Ready' "$calls")" = "$1" ]; }
expect_calls() {
  wait_until 10 calls_are "$1" || fail "the notification service got:
$(grep -v '^Ready' "$calls")
expected:
$1"
}

"$vesk" >"$work/vesk.log" 2>&1 &
vesk_pid=$!
track "$vesk_pid"
main=$(window_of "$vesk_pid" "Vesk -Main-")
focus "$main"
enter_loopback "$main"
xdotool key alt+s
conv=$(window_of "$vesk_pid" "Vesk - Server -")
focus "$conv"

echo "== The active window notifies nothing"
send_line "見えている"
expect_transcript "$conv" "相手>> 見えている"

echo "== In the background: notified, then replaced"
"$vesk" >"$work/other.log" 2>&1 &
other=$!
track "$other"
focus "$(window_of "$other" "Vesk -Main-")"
# The program hears of the focus change a moment after the X server: a line
# sent before that is rightly not notified, so it is sent again.
first=$(printf 'Notify\t0\tVesk - Server -\t相手&gt;&gt; &lt;b&gt;太字&lt;/b&gt; &amp; 続き\t1')
for _ in 1 2 3 4 5; do
  send_line "<b>太字</b> & 続き"
  wait_until 2 calls_are "$first" && break
done
expect_calls "$first"
long=$(printf '長%.0s' {1..120})
send_line "$long"
expect_calls "$(printf '%s\nNotify\t1\tVesk - Server -\t相手&gt;&gt; %s…\t1' "$first" "${long:0:94}")"

echo "== Active again: withdrawn"
focus "$conv"
expect_calls "$(printf '%s\nNotify\t1\tVesk - Server -\t相手&gt;&gt; %s…\t1
Close\t1' "$first" "${long:0:94}")"
echo PASS
