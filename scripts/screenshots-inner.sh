#!/usr/bin/env bash
# The part of screenshots.sh that runs beside its own Xvfb.
set -euo pipefail
vesk=$1 out=$2
mkdir -p "$out"
exec 3>/tmp/vesk-shot-display.$$
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
trap 'kill $(jobs -p) 2>/dev/null; rm -f /tmp/vesk-shot-display.$$' EXIT
for _ in $(seq 50); do [ -s /tmp/vesk-shot-display.$$ ] && break; sleep 0.1; done
export DISPLAY=:$(cat /tmp/vesk-shot-display.$$) QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

start_copy() { # role octets...
  "$vesk" >/dev/null 2>&1 &
  local w
  w=$(xdotool search --sync --onlyvisible --pid $! --name '^Vesk -Main-$' | head -n1)
  xdotool windowfocus --sync "$w"
  xdotool type 127; xdotool key Tab; xdotool type 0; xdotool key Tab
  xdotool type 0; xdotool key Tab; xdotool type 1
  echo "$w"
}

main=$(start_copy)
import -window "$main" "$out/start.png"
xdotool key alt+s
server=$(xdotool search --sync --onlyvisible --name '^Vesk - Server -$' | head -n1)
xdotool windowmove "$server" 0 0

second=$(start_copy)
xdotool windowmove "$second" 400 0
xdotool mousemove --window "$second" 20 97 click 1   # the Client option
xdotool key alt+s
client=$(xdotool search --sync --onlyvisible --name '^Vesk - Client -$' | head -n1)
xdotool windowmove "$client" 400 0

say() { # window text
  xdotool windowfocus --sync "$1"
  xdotool mousemove --window "$1" 100 30 click 1
  xdotool type --delay 5 "$2"
  xdotool key alt+s
  sleep 0.3
}
say "$server" "こんにちは、聞こえますか？"
say "$client" "はい、よく聞こえます。"
say "$server" "Vesk works: 0.0.0.1 ok"
say "$client" "では、また明日。"
import -window "$server" "$out/server.png"
import -window "$client" "$out/client.png"
echo "Screenshots in $out"
