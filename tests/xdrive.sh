# Drives the real program's windows under Xvfb with xdotool; sourced (bash) by
# the scripts that run it. Sourcing makes a scratch folder $work (its *.log
# files are what fail shows) and an EXIT trap that runs the on_exit commands,
# stops every process given to track, last first, and removes $work.
#   track PID...              stop PID on exit
#   on_exit COMMAND           run COMMAND on exit, before the processes stop
#   fail MESSAGE              the message, the windows on screen, each log; exit 1
#   wait_until SECS COMMAND...  true once COMMAND succeeds, false after SECS
#   start_xvfb [WxH] [ARG...] an Xvfb of its own that only this test can reach
#                             (a cookie in $work); exports DISPLAY, XAUTHORITY
#   start_session_bus         a session bus of its own; exports DBUS_SESSION_BUS_ADDRESS
#   own_home                  HOME, XDG_* folders and runtime folder inside $work
#   window_of PID TITLE [SECS]  the visible window of PID titled exactly TITLE
#   place WINDOW X            moves WINDOW to (X, 0) and gives it the focus
#   focus WINDOW              gives WINDOW the keyboard focus
#   click WINDOW CONTROL      clicks a control named in `controls` below
#   type_into WINDOW TEXT     types TEXT (keys on the keyboard) where the focus is
#   paste_into WINDOW TEXT    puts TEXT there through the clipboard
#   enter_loopback WINDOW [paste]  fills in the start window's address with
#                             127.0.0.1, typed (or pasted: past an input method
#                             that starts in hiragana)
#   copied_by COMMAND...      what COMMAND (keys that copy) puts on the clipboard
#   transcript_of WINDOW      the conversation window's transcript, as copied
#   expect_transcript WINDOW TEXT  waits until the transcript reads exactly TEXT
#   udp_peer PORT FILE [SECS] a plain UDP peer on 127.0.0.1:PORT: FILE gets the
#                             first datagram's bytes in hex ("93 FA ...")
#   mozc_starts_on            Mozc's IBus engine starts switched on (hiragana),
#                             set under $XDG_CONFIG_HOME

work=$(mktemp -d)
_xdrive_pids=()
_xdrive_on_exit=()

track() { _xdrive_pids+=("$@"); }
on_exit() { _xdrive_on_exit+=("$1"); }

_xdrive_cleanup() {
  local i pid
  for ((i = ${#_xdrive_on_exit[@]} - 1; i >= 0; i--)); do eval "${_xdrive_on_exit[i]}" || true; done
  for ((i = ${#_xdrive_pids[@]} - 1; i >= 0; i--)); do
    pid=${_xdrive_pids[i]}
    kill "$pid" 2>/dev/null || continue
    # One that ignores the request is not waited for forever.
    wait_until 10 _xdrive_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
# A child that has ended but is not yet waited for still answers kill -0.
_xdrive_gone() { ! kill -0 "$1" 2>/dev/null || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }
trap _xdrive_cleanup EXIT
# Stopped from outside, the clean-up still runs.
trap 'exit 143' TERM INT HUP

fail() {
  exec >&2
  echo "FAIL: $*"
  echo "-- visible windows:"
  local w
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    echo "   $w $(xdotool getwindowname "$w" 2>/dev/null) (pid $(xdotool getwindowpid "$w" 2>/dev/null))"
  done
  local log
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "-- $(basename "$log"):"; tail -n 40 "$log"; }
  done
  exit 1
}

wait_until() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1 # the poll's interval
  done
}

_xdrive_nonempty() { [ -s "$1" ]; }

start_xvfb() {
  local size=${1:-1024x768}; shift || true
  # Xvfb takes every cookie in the file, whatever display it names; a client
  # looks for its own display's, added once the display is known.
  export XAUTHORITY="$work/xauthority"
  local cookie
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  : >"$XAUTHORITY"
  xauth -q add :0 . "$cookie"
  exec 3>"$work/display"
  # -noreset: a server resetting as its last client leaves keeps the next one
  # waiting (the accessibility bus launcher, connecting just then, stalled).
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset -auth "$XAUTHORITY" "$@" >"$work/xvfb.log" 2>&1 &
  track $!
  exec 3>&-
  wait_until 10 _xdrive_nonempty "$work/display" || fail "Xvfb did not report a display"
  export DISPLAY=":$(head -n1 "$work/display")"
  xauth -q add "$DISPLAY" . "$cookie"
}

start_session_bus() {
  exec 3>"$work/bus"
  dbus-daemon --session --nofork --address="unix:path=$work/bus.socket" --print-address=3 >"$work/dbus.log" 2>&1 &
  track $!
  exec 3>&-
  wait_until 10 _xdrive_nonempty "$work/bus" || fail "dbus-daemon did not report its address"
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS
}

# Whatever the session writes stays in the scratch folder.
own_home() {
  export HOME="$work/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}

window_of() {
  local id deadline=$((SECONDS + ${3:-20}))
  while [ "$SECONDS" -lt "$deadline" ]; do
    # A window that goes away while xdotool reads it (a start window closing)
    # ends the search with an X error; searching again is all it takes.
    id=$(timeout $((deadline - SECONDS + 1)) xdotool search --sync --all --onlyvisible --pid "$1" --name "^$2\$" \
           2>/dev/null | head -n1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
  done
  fail "no window \"$2\" for process $1 within ${3:-20} s"
}

focus() { xdotool windowfocus --sync "$1"; }

# Without a window manager every window opens at the same place; each copy
# gets its own part of the screen so that clicks land on the intended one. A
# click inside makes it the window the program takes as active.
place() {
  xdotool windowmove --sync "$1" "$2" 0
  xdotool mousemove --window "$1" 4 4 click 1
  focus "$1"
}

# The controls clicked, by window and name: left, top, width, height in twips
# inside the client area, as the forms place them (a control in a frame adds
# the frame's position). 15 twips are a pixel at 96 dpi.
declare -A controls=(
  [start.ip1]="1200 360 375 270"
  [start.ip2]="1560 360 375 270"
  [start.ip3]="1920 360 375 270"
  [start.ip4]="2280 360 375 270"
  [start.server]="120+120 720+360 855 180"
  [start.client]="120+120 720+720 855 180"
  [start.start]="1800 840 855 375"
  [start.end]="1800 1320 855 375"
  [conversation.send_box]="240 360 3735 270"
  [conversation.send]="4080 315 855 375"
  [conversation.transcript]="240 960 3735 2415"
  [conversation.end]="4080 960 855 375"
)

# Pixels from twips, rounded as the forms round them; "a+b" adds each part's pixels.
_xdrive_px() {
  local part sum=0
  for part in ${1//+/ }; do sum=$((sum + (part + 7) / 15)); done
  echo "$sum"
}

click() {
  local rect left top width height x y
  rect=${controls[$2]:-}
  [ -n "$rect" ] || fail "no control $2"
  read -r left top width height <<<"$rect"
  left=$(_xdrive_px "$left") top=$(_xdrive_px "$top")
  width=$(_xdrive_px "$width") height=$(_xdrive_px "$height")
  y=$((top + height / 2))
  case $2 in
    # An option button: the middle of its round indicator, at the left.
    start.server | start.client) x=$((left + height / 2)) ;;
    *) x=$((left + width / 2)) ;;
  esac
  xdotool mousemove --window "$1" "$x" "$y" click 1
}

type_into() {
  focus "$1"
  xdotool type --delay 40 -- "$2"
}

_xdrive_clipboard() { timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' || true; }
_xdrive_clipboard_is() { [ "$(_xdrive_clipboard)" = "$1" ]; }
_xdrive_clipboard_is_not() { [ "$(_xdrive_clipboard)" != "$1" ]; }

# xclip takes the clipboard in a process it forks: until that one owns it, a
# paste would get what was there before.
_xdrive_set_clipboard() {
  printf '%s' "$1" | xclip -selection clipboard >/dev/null 2>&1
  wait_until 5 _xdrive_clipboard_is "$1" || fail "xclip did not take the clipboard"
}

# To type a character the keyboard map lacks, xdotool remaps a spare key for it
# and back; a program busy at that moment reads the key with the map changed
# again, and the character is lost (Wine reads the map once: it gets one
# character over and over). The clipboard has no such trouble.
paste_into() {
  _xdrive_set_clipboard "$2"
  focus "$1"
  xdotool key ctrl+v
}

# The first box has the focus.
enter_loopback() {
  local put=type_into octet first=1
  [ "${2:-}" = paste ] && put=paste_into
  for octet in 127 0 0 1; do
    [ -n "$first" ] || xdotool key Tab
    first=
    "$put" "$1" "$octet"
  done
}

# Read as a person would copy it (line breaks as "\n", whatever the platform
# puts on the clipboard). An empty box copies nothing: what is still the mark
# put there before after a moment reads as empty.
copied_by() {
  local mark="(nothing copied $RANDOM)"
  _xdrive_set_clipboard "$mark"
  "$@"
  if wait_until 3 _xdrive_clipboard_is_not "$mark"; then _xdrive_clipboard; fi
}

transcript_of() {
  focus "$1"
  click "$1" conversation.transcript
  copied_by xdotool key ctrl+a ctrl+c
}

expect_transcript() {
  local got deadline=$((SECONDS + 20))
  while :; do
    got=$(transcript_of "$1")
    [ "$got" = "$2" ] && return 0
    [ "$SECONDS" -lt "$deadline" ] || break
  done
  fail "transcript of $(xdotool getwindowname "$1") is [$got], expected [$2]"
}

udp_peer() {
  python3 - "$1" "$2" "${3:-60}" >"$work/peer.log" 2>&1 <<'PY' &
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.settimeout(float(sys.argv[3]))
data = s.recv(65535)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(data.hex(" ").upper())
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
PY
  track $!
}

mozc_starts_on() {
  mkdir -p "$XDG_CONFIG_HOME/mozc"
  cat >"$XDG_CONFIG_HOME/mozc/ibus_config.textproto" <<'CONFIG'
engines {
  name : "mozc-jp"
  longname : "Mozc"
  layout : "default"
  layout_variant : ""
  layout_option : ""
  rank : 80
}
active_on_launch: True
CONFIG
}
