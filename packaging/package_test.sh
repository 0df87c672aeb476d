#!/usr/bin/env bash
# Checks what users get from an install and from the .deb.
#   package_test.sh validate <cmake> <build dir>
#       installs into a temporary DESTDIR; every file is in its place, none
#       carries a capability or a set-uid/set-gid bit, and the desktop entry
#       and the AppStream metainfo pass their validators
#   package_test.sh deb <cpack> <build dir>
#       builds the .deb into a temporary folder; it declares what the program
#       needs at run time, carries no privilege, and its postinst and postrm
#       grant ports 1001/1002 through authbind to the group vesk alone, keep
#       an administrator's changes and take back on purge what they made;
#       the packaged program binds both roles for a member, nothing for others
# Exit 77 (skipped) when a tool it needs is missing or it is not run as root.
set -euo pipefail

mode=$1
tool=${2:-}
build_dir=${3:-}

need() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || { echo "SKIP: $t is not installed"; exit 77; }
  done
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# Nothing under $1 may run with more rights than its user has: Vesk loads Qt,
# and Qt loads plugins and modules a user can choose.
no_privilege_in() {
  local getcap
  getcap=$(command -v getcap || echo /usr/sbin/getcap)
  [ -x "$getcap" ] || { echo "SKIP: getcap is not installed"; exit 77; }
  local found
  found=$("$getcap" -r "$1" 2>/dev/null || true)
  [ -z "$found" ] || fail "files with capabilities: $found"
  found=$(find "$1" -perm /6000 -print)
  [ -z "$found" ] || fail "set-uid or set-gid files: $found"
}

make_work() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

check_validate() {
  need desktop-file-validate appstreamcli
  make_work
  DESTDIR="$work/root" "$tool" --install "$build_dir" --prefix /usr >/dev/null
  local usr="$work/root/usr"
  local f
  for f in bin/vesk share/applications/vesk.desktop \
           share/icons/hicolor/scalable/apps/vesk.svg \
           share/metainfo/io.github.vesk.Vesk.metainfo.xml; do
    [ -s "$usr/$f" ] || fail "$f is not installed"
  done
  [ -x "$usr/bin/vesk" ] || fail "bin/vesk is not executable"
  no_privilege_in "$work/root"

  desktop-file-validate "$usr/share/applications/vesk.desktop" ||
    fail "desktop-file-validate"
  appstreamcli validate --no-net "$usr/share/metainfo/io.github.vesk.Vesk.metainfo.xml" ||
    fail "appstreamcli validate"
  # The tree check also finds the desktop entry the metainfo launches.
  appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"

  # The version a software centre shows is the one that was built.
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
  grep -q "<release version=\"$version\"" "$usr/share/metainfo/io.github.vesk.Vesk.metainfo.xml" ||
    fail "metainfo does not name release $version"
  echo "PASS"
}

check_deb() {
  need dpkg-deb dpkg-shlibdeps
  make_work
  "$tool" --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
  local deb
  deb=$(ls "$work"/out/vesk_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || fail "no vesk_*.deb was made"

  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # Found by dpkg-shlibdeps, then the ones only loaded at run time.
  local dep
  for dep in libqt6widgets6 libqt6network6 qt6-qpa-plugins \
             fonts-ipafont-gothic authbind adduser qt6-wayland; do
    grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep"
  done

  local listing
  listing=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/vesk ./usr/share/applications/vesk.desktop \
           ./usr/share/icons/hicolor/scalable/apps/vesk.svg \
           ./usr/share/metainfo/io.github.vesk.Vesk.metainfo.xml; do
    grep -q " $f\$" <<<"$listing" || fail "the package lacks $f"
  done

  dpkg-deb -x "$deb" "$work/data"
  no_privilege_in "$work/data"

  dpkg-deb -e "$deb" "$work/control"
  [ -x "$work/control/postinst" ] || fail "no executable postinst"
  [ -x "$work/control/postrm" ] || fail "no executable postrm"

  # The maintainer scripts and the users they are checked with live in
  # private copies of /etc, dpkg's database and authbind's configuration, and
  # a network of their own: that takes root and a mount namespace.
  if [ "$(id -u)" -ne 0 ] || [ ! -d /etc/authbind ] || ! unshare -m -n true 2>/dev/null; then
    echo "SKIP: cannot run the maintainer scripts against a private /etc here (needs root)"
    exit 77
  fi
  need authbind setpriv useradd ip Xvfb xdotool xclip
  chmod 755 "$work"
  unshare -m -n bash "$0" maintainer-scripts "$work/control" "$work/data/usr/bin/vesk" || exit 1
  echo "PASS"
}

# Only inside mount and network namespaces of its own.
check_maintainer_scripts() {
  local control=$1 vesk=$2
  local byport=/etc/authbind/byport
  make_work
  chmod 755 "$work"
  homes=$work
  ip link set lo up
  private() {
    mkdir -p "$work/$2/upper" "$work/$2/work"
    mount -t overlay "vesk-$2" -o "lowerdir=$1,upperdir=$work/$2/upper,workdir=$work/$2/work" "$1"
  }
  # addgroup, useradd and dpkg-statoverride replace their files by renaming, so
  # the private copies are overlays rather than files mounted one by one.
  private /etc etc
  private /var/lib/dpkg dpkg
  mount -t tmpfs -o mode=0755 vesk-test /etc/authbind
  mkdir "$byport"
  local u
  for u in vesk-member vesk-outsider; do
    useradd --no-create-home --user-group --shell /bin/sh "$u"
    mkdir -m 700 "$work/home-$u"
    chown "$u:" "$work/home-$u"
  done
  # A stand-in setcap notes any use: the program must get no capability.
  mkdir "$work/bin"
  printf '#!/bin/sh\necho "$*" >>"%s/setcap.args"\n' "$work" >"$work/bin/setcap"
  chmod +x "$work/bin/setcap"
  run() { PATH="$work/bin:$PATH" sh "$control/$1" "${@:2}" 2>>"$work/stderr" || fail "$* failed"; }
  grants() { (cd "$byport" && stat -c '%n %U:%G %a' -- * 2>/dev/null | sort | tr '\n' ' '); }
  # Sets "as" to run a command as $1 with, for $2 "member", the groups the
  # database gives (as at a new login), for "stale" none (a session older than
  # the database); its process id stays the command's.
  as_user() {
    local groups=--init-groups
    [ "$2" = member ] || groups=--clear-groups
    as=(env -i PATH=/usr/bin:/bin HOME="$homes/home-$1" LC_ALL=C.UTF-8 DISPLAY="${DISPLAY:-}"
        QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$homes/home-$1"
        setpriv --reuid="$1" --regid="$1" "$groups")
  }
  # Whether authbind lets $1 ($2 as above) bind $3 (udp or tcp) port $4.
  binds() {
    as_user "$1" "$2"
    "${as[@]}" authbind /usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if sys.argv[1] == "udp" else socket.SOCK_STREAM)
try:
    s.bind(("0.0.0.0", int(sys.argv[2])))
except PermissionError:
    sys.exit(1)' "$3" "$4"
  }

  # What an administrator had before: a grant of their own for another port.
  echo admin >"$byport/!1003"
  chmod 0755 "$byport/!1003"
  local before
  before=$(grants)

  # A fresh install makes the group and gives 1001 and 1002 to it alone.
  run postinst configure
  getent group vesk >/dev/null || fail "postinst made no group vesk"
  [ "$(grants)" = "!1001 root:vesk 750 !1002 root:vesk 750 $before" ] || fail "postinst made [$(grants)]"
  [ ! -e "$work/setcap.args" ] || fail "postinst ran setcap $(cat "$work/setcap.args")"
  adduser --quiet vesk-member vesk

  local proto port
  for proto in udp tcp; do
    for port in 1001 1002; do
      binds vesk-member member "$proto" "$port" || fail "a member cannot bind $proto $port"
      ! binds vesk-outsider member "$proto" "$port" || fail "a non-member binds $proto $port"
      ! binds vesk-member stale "$proto" "$port" || fail "a session without the group binds $proto $port"
    done
  done
  check_program

  # An upgrade or a reconfigure leaves the administrator's changes: a deleted
  # grant stays deleted, a changed one stays changed.
  rm "$byport/!1001"
  chmod 0755 "$byport/!1002"
  run postinst configure 1.0.0
  run postinst configure 1.0.1
  # The same for the .deb installed after scripts/run.sh granted the ports.
  run postinst configure
  [ "$(grants)" = "!1002 root:vesk 755 $before" ] || fail "after upgrade: [$(grants)]"
  # Removing keeps the grant; purging takes back exactly what the package made.
  run postrm remove
  [ "$(grants)" = "!1002 root:vesk 755 $before" ] || fail "after remove: [$(grants)]"
  run postrm purge
  [ "$(grants)" = "$before" ] || fail "after purge: [$(grants)], before [$before]"
  [ -z "$(dpkg-statoverride --list '/etc/authbind/byport/*')" ] || fail "purge left statoverride entries"

  # An administrator's own file is never replaced, nor removed on purge.
  echo admin >"$byport/!1001"
  chmod 0700 "$byport/!1001"
  run postinst configure
  [ "$(grants)" = "!1001 root:root 700 !1002 root:vesk 750 $before" ] || fail "over an own file: [$(grants)]"
  [ "$(cat "$byport/!1001")" = admin ] || fail "postinst rewrote an own file"
  run postrm purge
  [ "$(grants)" = "!1001 root:root 700 $before" ] || fail "purge over an own file: [$(grants)]"
  rm "$byport/!1001"

  # An earlier version's grant to every user, left as it made it, is narrowed
  # to the group on upgrade, and purged.
  printf '# Made by the vesk package: lets a program started through authbind bind\n# port 1001. Removed when vesk is purged, unless it has been changed.\n' >"$byport/!1001"
  chmod 0755 "$byport/!1001"
  run postinst configure 1.0.0
  [ "$(grants)" = "!1001 root:vesk 750 $before" ] || fail "the old grant became [$(grants)]"
  run postrm purge
  [ "$(grants)" = "$before" ] || fail "purge after the old grant: [$(grants)]"

  # Without root nothing is granted, and it says so.
  ! setpriv --reuid=nobody --regid=nogroup --clear-groups sh "$control/postinst" configure 2>/dev/null ||
    fail "postinst succeeded without root"
  # Without authbind's folder the install still goes through, with a warning.
  rm -r "$byport"
  run postinst configure
  grep -q warning "$work/stderr" || fail "postinst says nothing without $byport"
}

# The packaged program as users start it: a member opens both roles, a
# non-member's Start is refused and binds nothing. Needs the grant of
# the fresh install.
check_program() {
  # The shared real-program driver: its own scratch folder, display and
  # clean-up (which also stops every copy started here); the maintainer
  # scripts' folder goes with it.
  local scripts_work=$work
  . "$(dirname "$0")/../tests/xdrive.sh"
  on_exit "rm -rf '$scripts_work'"
  chmod 755 "$work"
  start_xvfb
  local u
  for u in vesk-member vesk-outsider; do
    install -o "$u" -m 600 "$XAUTHORITY" "$homes/home-$u/.Xauthority"
  done
  programs=()
  stop() {
    local p
    for p in "${programs[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    programs=()
  }
  # Starts the program as $1 ($2 as for as_user) and presses Start for role $3.
  # A preloaded library (authbind's) comes before the sanitizer runtime in the
  # sanitizer build, which does not matter to it here.
  local started main
  start() {
    as_user "$1" "$2"
    "${as[@]:0:2}" XAUTHORITY="$homes/home-$1/.Xauthority" \
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${as[@]:2}" \
      authbind "$vesk" >"$work/$1-$3.log" 2>&1 &
    started=$!
    programs+=("$started")
    track "$started"
    main=$(window_of "$started" "Vesk -Main-")
    focus "$main"
    enter_loopback "$main"
    [ "$3" = Server ] || click "$main" start.client
    xdotool key alt+s
  }
  start vesk-member member Server
  window_of "$started" "Vesk - Server -" >/dev/null
  start vesk-member member Client
  window_of "$started" "Vesk - Client -" >/dev/null
  stop

  # A refused Start shows the error box over the start window, which stays.
  # (What the box says is checked with the text's own test: Qt copies a
  # message box's text with Ctrl+C on Windows only.)
  start vesk-outsider member Client
  window_of "$started" Vesk >/dev/null
  window_of "$started" "Vesk -Main-" >/dev/null
  [ -z "$(ss -Hanu 'sport = :1001')" ] || fail "a non-member's copy holds port 1001"
  stop
}

case "$mode" in
  validate) check_validate ;;
  deb) check_deb ;;
  maintainer-scripts) check_maintainer_scripts "$tool" "$build_dir" ;;
  *) echo "usage: $0 validate|deb <cmake|cpack> <build dir>" >&2; exit 2 ;;
esac
