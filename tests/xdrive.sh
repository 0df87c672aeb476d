# Driving the real program's windows under Xvfb with xdotool, shared by the
# tests that run it. Sourced; the sourcing script defines type_into (window,
# text: types into whatever has the focus there), a scratch folder $work whose
# *.log files tell what went wrong, and an array pids of what its clean-up stops.

# Fails the test: the message, the windows on screen and the end of every log.
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

# Starts an Xvfb of its own on a free display and exports DISPLAY.
start_xvfb() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not report a display"
  export DISPLAY=":$(head -n1 "$work/display")"
}

# The one visible window of process $1 whose title is exactly $2; waits for it
# (up to $3 seconds, 20 by default).
window_of() {
  local id deadline=$((SECONDS + ${3:-20}))
  while :; do
    # A window that goes away while xdotool reads it (a start window closing)
    # ends the search with an X error; searching again is all it takes.
    id=$(timeout 5 xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -n1) || true
    [ -n "$id" ] && break
    [ "$SECONDS" -lt "$deadline" ] || fail "no window \"$2\" for process $1 within ${3:-20} s"
    sleep 0.2
  done
  echo "$id"
}

# The whole transcript of conversation window $1, read as a person would copy it
# (line breaks as "\n", whatever the platform puts on the clipboard).
transcript_of() {
  xdotool windowfocus --sync "$1"
  sleep 0.3
  # The transcript box sits at (16, 64) and is 249 x 161 pixels.
  xdotool mousemove --window "$1" 120 140 click 1
  xdotool key ctrl+a ctrl+c
  sleep 0.3
  timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' || true
}

# Puts $2 into whatever has the focus in window $1, through the clipboard. To
# type a character the keyboard map lacks, xdotool remaps a spare key for it and
# back; a program busy at that moment reads the key with the map changed again,
# and the character is lost (Wine reads the map once: it gets one character
# over and over).
paste_into() {
  printf '%s' "$2" | xclip -selection clipboard >/dev/null 2>&1
  xdotool windowfocus --sync "$1"
  sleep 0.3
  xdotool key ctrl+v
}

# Waits until the transcript of window $1 reads exactly $2.
expect_transcript() {
  local got=""
  for _ in $(seq 25); do
    got=$(transcript_of "$1")
    [ "$got" = "$2" ] && return 0
    sleep 0.2
  done
  fail "transcript of $(xdotool getwindowname "$1") is [$got], expected [$2]"
}

# Fills in start window $1 with 127.0.0.1: the first box has the focus.
enter_loopback() {
  type_into "$1" 127
  xdotool key Tab; type_into "$1" 0
  xdotool key Tab; type_into "$1" 0
  xdotool key Tab; type_into "$1" 1
}
