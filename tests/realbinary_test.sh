#!/usr/bin/env bash
# Installs the built program the way a package would and has two copies of it
# talk to each other under Xvfb, driven only by synthetic keyboard and mouse
# input, so what is checked is what a person would see. The copies run as an
# ordinary user, started by the desktop entry's command line, with the port
# grants the package's postinst makes (in a private /etc/authbind), as a
# member of the group they go to. Then that
# user's own Qt plugin, loaded through QT_PLUGIN_PATH and -platformpluginpath,
# must get no port below 1024.
#   realbinary_test.sh <cmake> <build dir> <user plugin>
# Exit 77 (skipped) when a tool it needs is missing or it is not run as root
# (it needs root to set that up; nothing it starts runs as root).
set -euo pipefail

cmake_exe=$1
build_dir=$2
user_plugin=$3
source_dir=$(cd "$(dirname "$0")/.." && pwd)

for tool in Xvfb xauth xdotool xclip timeout authbind setpriv unshare; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: needs root to set up a private /etc/authbind and an ordinary user"
  exit 77
fi
if grep -q '^NoNewPrivs:[[:space:]]*1' /proc/self/status; then
  echo "SKIP: set-uid programs (authbind's helper) cannot gain privilege here"
  exit 77
fi
# The copies bind 1001/1002: never on the machine's own network.
if [ "${VESK_TEST_NETWORK:-}" != private ]; then
  echo "FAIL: not in a network namespace of its own: run it through tests/isolated.sh" >&2
  exit 1
fi
# The machine's own authbind configuration is never touched: the rest runs
# with a mount namespace of its own.
if [ -z "${VESK_PRIVATE_MOUNTS:-}" ]; then
  err=$(unshare -m true 2>&1) || { echo "FAIL: cannot make a mount namespace: $err" >&2; exit 1; }
  VESK_PRIVATE_MOUNTS=1 exec unshare -m bash "$0" "$@"
fi

user=nobody
uid=$(id -u "$user")
gid=$(id -g "$user")

. "$(dirname "$0")/xdrive.sh"
chmod 755 "$work"

echo "== Installing into a temporary DESTDIR"
DESTDIR="$work/root" "$cmake_exe" --install "$build_dir" --prefix /usr >"$work/install.out" ||
  { cat "$work/install.out"; fail "cmake --install failed"; }
vesk="$work/root/usr/bin/vesk"
[ -x "$vesk" ] || fail "no program at $vesk"

echo "== Granting the ports as the package does, to the group vesk"
# The group goes into a private /etc, the grant's record into a private dpkg
# database: overlays, since the tools replace their files by renaming.
for d in /etc /var/lib/dpkg; do
  mkdir -p "$work/overlay$d/upper" "$work/overlay$d/work"
  mount -t overlay vesk-test -o "lowerdir=$d,upperdir=$work/overlay$d/upper,workdir=$work/overlay$d/work" "$d"
done
mount -t tmpfs -o mode=0755 vesk-authbind /etc/authbind
mkdir /etc/authbind/byport /etc/authbind/byaddr /etc/authbind/byuid
sh "$source_dir/packaging/postinst" configure || fail "postinst configure failed"
ls -l /etc/authbind/byport
vesk_gid=$(getent group vesk | cut -d: -f3)

# What the menu runs, with "vesk" found in the installed tree.
exec_line=$(sed -n 's/^Exec=//p' "$work/root/usr/share/applications/vesk.desktop")
read -ra launch <<<"$exec_line"
echo "   Exec=$exec_line"

mkdir -m 700 "$work/home"
chown "$uid:$gid" "$work/home"
# Runs a command as the ordinary user, a member of vesk, with no capability;
# its process id stays that of the program it starts. A preloaded library
# (authbind's) comes before the sanitizer runtime in the sanitizer build, which
# does not matter to it here.
as_user=(env HOME="$work/home" XAUTHORITY="$work/home/.Xauthority" PATH="$work/root/usr/bin:$PATH"
         ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
         setpriv --reuid="$uid" --regid="$gid" --groups="$vesk_gid")

echo "== Starting Xvfb"
start_xvfb
echo "   DISPLAY=$DISPLAY"
# The user's own copy of the display's cookie: the one in $work is root's alone.
install -m 600 -o "$uid" -g "$gid" "$XAUTHORITY" "$work/home/.Xauthority"

export QT_QPA_PLATFORM=xcb
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
chown "$uid:$gid" "$XDG_RUNTIME_DIR"

echo "== Starting two copies"
"${as_user[@]}" "${launch[@]}" >"$work/server.log" 2>&1 &
server=$!; track "$server"
"${as_user[@]}" "${launch[@]}" >"$work/client.log" 2>&1 &
client=$!; track "$client"

main_s=$(window_of "$server" "Vesk -Main-")
main_c=$(window_of "$client" "Vesk -Main-")
place "$main_s" 0
place "$main_c" 512

echo "== Server: address, Alt+S (Server is the preset choice)"
focus "$main_s"
enter_loopback "$main_s"
xdotool key alt+s
conv_s=$(window_of "$server" "Vesk - Server -")

echo "== Client: address, click Client, Alt+S"
focus "$main_c"
enter_loopback "$main_c"
click "$main_c" start.client
xdotool key alt+s
conv_c=$(window_of "$client" "Vesk - Client -")

place "$conv_s" 0
place "$conv_c" 512

echo "== Server sends; Enter alone must not send"
type_into "$conv_s" "hello from server"
xdotool key Return
# A message that must not come gives nothing to wait for: it is given the time to.
sleep 0.5
expect_transcript "$conv_c" ""
focus "$conv_s"
xdotool key alt+s
expect_transcript "$conv_c" "相手>> hello from server"
expect_transcript "$conv_s" "自分>> hello from server"

echo "== Client replies in Japanese; newest line on top"
# The input box has lost the focus to the transcript: a click puts it back.
click "$conv_c" conversation.send_box
paste_into "$conv_c" "了解です"
xdotool key alt+s
expect_transcript "$conv_s" "相手>> 了解です
自分>> hello from server"
expect_transcript "$conv_c" "自分>> 了解です
相手>> hello from server"

echo "== End (Alt+X) goes back to a fresh start window; the program keeps running"
focus "$conv_s"
xdotool key alt+x
main_s=$(window_of "$server" "Vesk -Main-")
conversation_hidden() {
  [ -z "$(xdotool search --all --onlyvisible --pid "$server" --name '^Vesk - Server -$' 2>/dev/null)" ]
}
wait_until 5 conversation_hidden || fail "the conversation window is still shown after End"
# A program that quits on End gives nothing to wait for: it is given the time to.
sleep 0.5
kill -0 "$server" 2>/dev/null || fail "the Server copy exited on End"

echo "== The port was given back: Server starts again from the fresh window"
place "$main_s" 0
enter_loopback "$main_s"
xdotool key alt+s
conv_s=$(window_of "$server" "Vesk - Server -")
place "$conv_s" 0
type_into "$conv_s" "again"
xdotool key alt+s
expect_transcript "$conv_c" "相手>> again
自分>> 了解です
相手>> hello from server"

echo "== The user's own Qt plugin runs inside Vesk but gets no port below 1024"
# QT_PLUGIN_PATH names a folder whose platformthemes/ Qt searches;
# -platformpluginpath one that Qt searches itself.
plugins="$work/plugins"
mkdir -p "$plugins/path/platformthemes" "$plugins/direct"
cp "$user_plugin" "$plugins/path/platformthemes/"
cp "$user_plugin" "$plugins/direct/"
chown -R "$uid:$gid" "$plugins"

# Starts the desktop entry's command as the user with the plugin asked for,
# given "$@" as extra environment and then "--" and extra arguments.
plugin_gets_no_port() {
  local how=$1; shift
  local envs=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do envs+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; fi
  local report="$plugins/$how.report"
  "${as_user[@]}" env "${envs[@]}" VESK_USERPLUGIN_REPORT="$report" QT_QPA_PLATFORMTHEME=userplugin \
      "${launch[@]}" "$@" >"$work/$how.log" 2>&1 &
  local pid=$!; track "$pid"
  window_of "$pid" "Vesk -Main-" >/dev/null
  echo "   $how:"; sed 's/^/     /' "$report" 2>/dev/null || true
  grep -qx "loaded, euid $uid" "$report" 2>/dev/null || fail "$how: the plugin was not loaded as the user"
  [ "$(grep -Ec '^(udp|tcp) 80 refused: ' "$report")" -eq 2 ] || fail "$how: the plugin got port 80"
  kill "$pid"
}
plugin_gets_no_port QT_PLUGIN_PATH QT_PLUGIN_PATH="$plugins/path"
plugin_gets_no_port -platformpluginpath -- -platformpluginpath "$plugins/direct"

echo "PASS"
