#!/usr/bin/env bash
# The Windows program under Wine and the Linux program talk over UDP on 127.0.0.1,
# one message each way, driven by synthetic keyboard and mouse input under Xvfb.
# Checked: what each window shows, and the exact bytes of each datagram on the
# wire (read with tcpdump). Run it in a network namespace of its own.
#   end_to_end.sh <vesk.exe> <Linux vesk>
set -euo pipefail
exe=$1
linux=$2
. "$(dirname "$0")/wine.sh"

for tool in Xvfb xauth xdotool xclip tcpdump timeout; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done

. "$(dirname "$0")/../xdrive.sh"
# Ends the Windows programs, which the wine process started for them does not take along.
on_exit wine_stop

echo "   starting Xvfb, the wineserver and tcpdump"
start_xvfb
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

wine_start || fail "the wineserver did not start"

tcpdump -i lo -n -U -Z root -w "$work/wire.pcap" 'udp and (dst port 1001 or dst port 1002)' >"$work/tcpdump.log" 2>&1 &
tcpdump_pid=$!
track "$tcpdump_pid"
wait_until 10 grep -q 'listening on' "$work/tcpdump.log" || fail "tcpdump did not start"

echo "   starting vesk.exe under Wine (Server) and Vesk for Linux (Client)"
(cd "$(dirname "$exe")" && exec wine "$exe") >"$work/wine.log" 2>&1 &
server=$!; track "$server"
QT_QPA_PLATFORM=xcb "$linux" >"$work/linux.log" 2>&1 &
client=$!; track "$client"

# Wine's first window waits for its desktop process to start.
main_s=$(window_of "$server" "Vesk -Main-" 60)
main_c=$(window_of "$client" "Vesk -Main-")
# Without a window manager both open at the same place: the Linux one moves aside.
xdotool windowmove --sync "$main_c" 512 0

focus "$main_s"
enter_loopback "$main_s"
xdotool key alt+s
conv_s=$(window_of "$server" "Vesk - Server -")

focus "$main_c"
enter_loopback "$main_c"
click "$main_c" start.client
xdotool key alt+s
conv_c=$(window_of "$client" "Vesk - Client -")
xdotool windowmove --sync "$conv_c" 512 0

echo "   Linux to Windows: best-fit characters as Windows maps them"
paste_into "$conv_c" "了解です ¥é"
xdotool key alt+s
expect_transcript "$conv_s" '相手>> 了解です \e'
# The sender's own line shows what went out, as the partner reads it.
expect_transcript "$conv_c" '自分>> 了解です \e'

echo "   Windows to Linux: half-width katakana, an NEC special character, kanji"
click "$conv_s" conversation.send_box
paste_into "$conv_s" "ﾃｽﾄ①漢字 ok"
xdotool key alt+s
expect_transcript "$conv_c" "相手>> ﾃｽﾄ①漢字 ok
自分>> 了解です \\e"
expect_transcript "$conv_s" "自分>> ﾃｽﾄ①漢字 ok
相手>> 了解です \\e"

echo "   the datagrams on the wire"
# tcpdump -U writes each packet as it comes.
captured() { [ "$(tcpdump -r "$work/wire.pcap" -n 2>/dev/null | wc -l)" -ge 2 ]; }
wait_until 5 captured || fail "tcpdump did not write both datagrams"
kill -INT "$tcpdump_pid"
wait "$tcpdump_pid" 2>/dev/null || true
# One line per datagram: "<destination port> <payload in hex>", the IP header's
# own length taken from the packet.
tcpdump -r "$work/wire.pcap" -n -x 2>/dev/null | awk '
  function flush() { if (port != "") { ihl = substr(hex, 2, 1) * 8; print port, substr(hex, ihl + 17) } }
  /^[0-9]/ { flush(); port = $5; sub(/^.*\./, "", port); sub(/:$/, "", port); hex = ""; next }
  /0x[0-9a-f]+:/ { for (i = 2; i <= NF; ++i) hex = hex $i }
  END { flush() }' >"$work/datagrams"
expected="1002 97b989f082c582b7205c65
1001 c3bdc487408abf8e9a206f6b"
[ "$(cat "$work/datagrams")" = "$expected" ] ||
  fail "datagrams on the wire were
$(cat "$work/datagrams")
expected
$expected"
echo "   1002: 97 b9 89 f0 82 c5 82 b7 20 5c 65 (Linux to Windows), 1001: c3 bd c4 87 40 8a bf 8e 9a 20 6f 6b (Windows to Linux)"
echo "PASS"
