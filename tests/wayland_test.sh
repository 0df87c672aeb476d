#!/usr/bin/env bash
# The real program as a native Wayland client on a headless compositor (sway),
# the way it starts on a Wayland desktop: nothing set by hand but what the
# session sets. Checks both windows' client sizes in a screenshot, types 日本語
# through IBus and Mozc (wtype) to a plain UDP peer, and that a line arriving
# in the background reaches the desktop as a notification.
#   wayland_test.sh <vesk> [SCALE]
# SCALE: the output's scale (1 by default); the sizes are checked at it.
# Exit 77 (skipped) where sway, wtype, grim, Qt's Wayland plugin or ibus-mozc
# is not installed.
set -euo pipefail

vesk=$1
scale=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
for tool in sway swaymsg grim wtype ibus-daemon ibus dbus-daemon setpriv unshare pgrep; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -x /usr/lib/ibus-mozc/ibus-engine-mozc ] || skip "ibus-mozc is not installed"
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 || skip "qt6-wayland is not installed"
# sway and mozc_server refuse root: as in the Mozc input method test, the
# session runs as nobody in process and network namespaces of its own.
if [ "$(id -u)" -eq 0 ]; then
  [ "${VESK_TEST_NETWORK:-}" = private ] || skip "runs as nobody only in a network of the test's own"
  sysctl -q -w net.ipv4.ip_unprivileged_port_start=1001
  exec unshare -pf --mount-proc setpriv --reuid=nobody --regid=nogroup --clear-groups \
    sh -c 'bash "$0" "$@"; exit $?' "$0" "$@"
fi
export PATH="/usr/bin:/bin:$PATH" # Debian's Python, with the GObject bindings

. "$here/xdrive.sh"
own_home
on_exit 'for pid in $(pgrep -x mozc_server); do kill "$pid"; done'
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_IM_MODULE QT_IM_MODULES XMODIFIERS GTK_IM_MODULE
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING
export LC_ALL=C.UTF-8
start_session_bus

echo "== A notification service, sway, IBus with Mozc"
python3 "$here/fake_notifications.py" "$work/calls" >"$work/service.log" 2>&1 &
track $!
mozc_starts_on

cat >"$work/sway.conf" <<CONF
output HEADLESS-1 resolution 1024x768 scale $scale bg #000000 solid_color
default_border none
default_floating_border none
focus_follows_mouse no
xwayland disable
CONF
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
track $!
sway_ready() { ls "$XDG_RUNTIME_DIR"/wayland-? >/dev/null 2>&1 && ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1; }
wait_until 20 sway_ready || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-? | head -n1)")
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -n1)
# What a Wayland desktop session tells its programs; GNOME names no input method.
export WAYLAND_DISPLAY SWAYSOCK XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
# Started in the session, as a desktop does: the name of the file where IBus
# leaves its address for the programs comes from WAYLAND_DISPLAY.
ibus-daemon --panel=disable --emoji-extension=disable --replace >"$work/ibus.log" 2>&1 &
track $!

# The sway window titled $1: "shell x y width height" in logical pixels.
window() {
  swaymsg -t get_tree 2>/dev/null | python3 -c 'import json, sys
def walk(n):
    yield n
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        yield from walk(c)
for n in walk(json.load(sys.stdin)):
    if n.get("name") == sys.argv[1] and n.get("pid"):
        r = n["rect"]
        print(n.get("shell"), r["x"], r["y"], r["width"], r["height"])' "$1"
}
_shown() { [ -n "$(window "$1")" ]; }
# The window must be a native one, of the size its form gives, and a
# screenshot must show it at that size in device pixels: the drawn area
# (not the black background) is exactly the window.
expect_window() {
  wait_until 20 _shown "$1" || {
    swaymsg -t get_tree 2>/dev/null | grep -o '"name": "[^"]*"' >"$work/windows.log"
    fail "no window \"$1\""
  }
  sleep 0.5 # drawn a moment after it is mapped
  local shell x y w h
  read -r shell x y w h <<<"$(window "$1")"
  [ "$shell" = xdg_shell ] || fail "\"$1\" is a $shell window, not a native Wayland one"
  [ "$w $h" = "$2 $3" ] || fail "\"$1\" is ${w}x$h, expected $2x$3"
  grim -t ppm "$work/screen.ppm" || fail "grim could not take a screenshot"
  local drawn
  drawn=$(python3 - "$work/screen.ppm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
magic, width, height, depth, pixels = data.split(maxsplit=4)
width, height = int(width), int(height)
xs, ys = [], []
for y in range(height):
    row = pixels[y * width * 3:(y + 1) * width * 3]
    lit = [x for x in range(width) if row[3 * x:3 * x + 3] != b"\0\0\0"]
    if lit:
        ys.append(y); xs += [lit[0], lit[-1]]
print(f"{max(xs) - min(xs) + 1} {max(ys) - min(ys) + 1}" if xs else "nothing")
PY
)
  [ "$drawn" = "$((w * scale)) $((h * scale))" ] ||
    fail "the screenshot shows \"$1\" as [$drawn] device pixels, expected $((w * scale)) $((h * scale))"
  echo "   \"$1\": $shell, ${w}x$h, drawn ${drawn/ /x} at scale $scale"
}
key() { wtype "$@" >>"$work/wtype.log" 2>&1; }

echo "== A plain UDP peer on port 1001"
udp_peer 1001 "$work/received" 60

echo "== The start window"
# "ibus engine <name>" can fail setting the keyboard layout though the engine
# is on; asking back is what tells.
engine_is() {
  ibus engine "$1" >/dev/null 2>&1 || true
  [ "$(ibus engine 2>/dev/null)" = "$1" ]
}
# The address goes in through the plain keyboard engine: a Hankaku/Zenkaku
# toggle would depend on Mozc's state at the moment the key lands.
wait_until 10 engine_is xkb:us::eng || fail "ibus did not take the plain keyboard"
"$vesk" >"$work/vesk.log" 2>&1 &
track $!
expect_window "Vesk -Main-" 185 130
# wtype's first key after it connects is lost: a Shift goes first each time.
key -k Shift_L -s 100 127 -k Tab 0 -k Tab 0 -k Tab 1 -M alt s -m alt

echo "== The conversation window; 日本語 typed through IBus and Mozc"
expect_window "Vesk - Server -" 335 236
# Mozc starts in hiragana in the window that has the focus.
wait_until 10 engine_is mozc-jp || fail "ibus did not take Mozc"
# One wtype for all: the composition is committed when its keyboard goes.
key -k Shift_L -s 100 -d 60 nihongo -s 200 -k space -s 200 -k Return -s 200 -M alt s -m alt
received() { [ -s "$work/received" ]; }
wait_until 10 received || fail "the peer received nothing"
got=$(cat "$work/received")
[ "$got" = "93 FA 96 7B 8C EA" ] || fail "the peer received [$got], expected [93 FA 96 7B 8C EA] (日本語)"
echo "   the peer received $got"

echo "== A line arriving in the background reaches the desktop"
"$vesk" >"$work/other.log" 2>&1 &
track $!
wait_until 20 _shown "Vesk -Main-" || fail "no second start window"
notified() { grep -q "^Notify	0	Vesk - Server -	相手&gt;&gt; 届いた	" "$work/calls" 2>/dev/null; }
for _ in 1 2 3 4 5; do
  python3 -c 'import socket
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto("届いた".encode("cp932"), ("127.0.0.1", 1002))'
  wait_until 2 notified && break
done
notified || fail "no notification of the line; the service got: $(cat "$work/calls")"
echo PASS
