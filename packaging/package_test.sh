#!/usr/bin/env bash
# Checks what users get from an install and from the .deb.
#   package_test.sh validate <cmake> <build dir>
#       installs into a temporary DESTDIR; every file is in its place, none
#       carries a capability or a set-uid/set-gid bit, and the desktop entry
#       and the AppStream metainfo pass their validators
#   package_test.sh deb <cpack> <build dir>
#       builds the .deb into a temporary folder; it declares what the program
#       needs at run time, carries no privilege, and its postinst and postrm
#       grant ports 1001/1002 through authbind and take them back on purge
# Exit 77 (skipped) when a tool it needs is missing.
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
             fonts-ipafont-gothic authbind; do
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

  # The maintainer scripts run against a private /etc/authbind, never the
  # machine's own; that takes a mount namespace (as root, or in a user
  # namespace of one's own) and authbind's folder to mount over.
  local as=(-m)
  [ "$(id -u)" -eq 0 ] || as=(-r -m)
  if [ ! -d /etc/authbind ] || ! unshare "${as[@]}" true 2>/dev/null; then
    echo "SKIP: cannot run the maintainer scripts against a private /etc/authbind here"
    exit 77
  fi
  unshare "${as[@]}" bash "$0" maintainer-scripts "$work/control" || exit 1
  echo "PASS"
}

# Only inside a mount namespace of its own.
check_maintainer_scripts() {
  local control=$1
  local byport=/etc/authbind/byport
  make_work
  mount -t tmpfs -o mode=0755 vesk-test /etc/authbind
  mkdir "$byport"
  # A stand-in setcap notes any use: the program must get no capability.
  mkdir "$work/bin"
  printf '#!/bin/sh\necho "$*" >>"%s/setcap.args"\n' "$work" >"$work/bin/setcap"
  chmod +x "$work/bin/setcap"
  run() { PATH="$work/bin:$PATH" sh "$control/$1" "${@:2}" 2>>"$work/stderr" || fail "$* failed"; }
  grants() { (cd "$byport" && stat -c '%n %a' -- * 2>/dev/null | sort | tr '\n' ' '); }

  # A fresh install lets every user bind 1001 and 1002 through authbind,
  # whose files for ports 512 to 1023 begin with "!"; an upgrade keeps that.
  run postinst configure
  run postinst configure 1.0.0
  [ "$(grants)" = '!1001 755 !1002 755 ' ] || fail "postinst made [$(grants)]"
  [ ! -e "$work/setcap.args" ] || fail "postinst ran setcap $(cat "$work/setcap.args")"

  # What an administrator made is never replaced nor removed; what the package
  # made goes on purge only.
  rm "$byport/!1001"
  echo admin >"$byport/!1001"
  chmod 0750 "$byport/!1001"
  run postinst configure 1.0.0
  run postrm remove
  [ "$(grants)" = '!1001 750 !1002 755 ' ] || fail "after remove: [$(grants)]"
  run postrm purge
  [ "$(grants)" = '!1001 750 ' ] && [ "$(cat "$byport/!1001")" = admin ] ||
    fail "after purge: [$(grants)] $(cat "$byport/!1001")"

  # Without authbind's folder the install still goes through, with a warning.
  rm -r "$byport"
  run postinst configure
  grep -q warning "$work/stderr" || fail "postinst says nothing without $byport"
}

case "$mode" in
  validate) check_validate ;;
  deb) check_deb ;;
  maintainer-scripts) check_maintainer_scripts "$tool" ;;
  *) echo "usage: $0 validate|deb <cmake|cpack> <build dir>" >&2; exit 2 ;;
esac
