#!/usr/bin/env bash
# The part of screenshots.sh that runs beside its own Xvfb.
set -euo pipefail
vesk=$1 out=$2
mkdir -p "$out"
. "$(dirname "$0")/../tests/xdrive.sh"
start_xvfb 800x600 -dpi 96
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

"$vesk" >"$work/first.log" 2>&1 &
first=$!; track "$first"
main=$(window_of "$first" "Vesk -Main-")
focus "$main"
enter_loopback "$main"
import -window "$main" "$out/start.png"
xdotool key alt+s
server=$(window_of "$first" "Vesk - Server -")
xdotool windowmove --sync "$server" 0 0

"$vesk" >"$work/second.log" 2>&1 &
second=$!; track "$second"
main=$(window_of "$second" "Vesk -Main-")
xdotool windowmove --sync "$main" 400 0
focus "$main"
enter_loopback "$main"
click "$main" start.client
xdotool key alt+s
client=$(window_of "$second" "Vesk - Client -")
xdotool windowmove --sync "$client" 400 0

# Each window's transcript so far, newest line first.
declare -A said=(["$server"]="" ["$client"]="")
say() { # window text
  local from=$1 to
  to=$([ "$from" = "$server" ] && echo "$client" || echo "$server")
  click "$from" conversation.send_box
  paste_into "$from" "$2"
  xdotool key alt+s
  said[$from]="自分>> $2${said[$from]:+$'\n'${said[$from]}}"
  said[$to]="相手>> $2${said[$to]:+$'\n'${said[$to]}}"
  expect_transcript "$to" "${said[$to]}"
}
say "$server" "こんにちは、聞こえますか？"
say "$client" "はい、よく聞こえます。"
say "$server" "Vesk works: 0.0.0.1 ok"
say "$client" "では、また明日。"
expect_transcript "$client" "${said[$client]}"
# Reading a transcript selected it all: a click takes the selection away, and
# one in each input box leaves the windows as someone typing there sees them.
for w in "$server" "$client"; do
  click "$w" conversation.transcript
  click "$w" conversation.send_box
done
import -window "$server" "$out/server.png"
import -window "$client" "$out/client.png"
echo "Screenshots in $out"
