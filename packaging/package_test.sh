#!/usr/bin/env bash
# Checks what users get from an install and from the .deb.
#   package_test.sh validate <cmake> <build dir>
#       installs into a temporary DESTDIR; every file is in its place and the
#       desktop entry and the AppStream metainfo pass their validators
#   package_test.sh deb <cpack> <build dir>
#       builds the .deb into a temporary folder; it declares what the program
#       needs at run time and its postinst grants the port capability
# Exit 77 (skipped) when a tool it needs is missing.
set -euo pipefail

mode=$1
tool=$2
build_dir=$3

need() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || { echo "SKIP: $t is not installed"; exit 77; }
  done
}

fail() { echo "FAIL: $*" >&2; exit 1; }

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
             fonts-ipafont-gothic libcap2-bin; do
    grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep"
  done

  local listing
  listing=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/vesk ./usr/share/applications/vesk.desktop \
           ./usr/share/icons/hicolor/scalable/apps/vesk.svg \
           ./usr/share/metainfo/io.github.vesk.Vesk.metainfo.xml; do
    grep -q " $f\$" <<<"$listing" || fail "the package lacks $f"
  done

  dpkg-deb -e "$deb" "$work/control"
  local postinst="$work/control/postinst"
  [ -x "$postinst" ] || fail "no executable postinst"

  # The postinst runs with a stand-in setcap: once granting, once failing as
  # it does on a filesystem without extended attributes.
  mkdir "$work/bin"
  cat >"$work/bin/setcap" <<EOF
#!/bin/sh
echo "\$*" >>"$work/setcap.args"
exit \${SETCAP_RC:-0}
EOF
  chmod +x "$work/bin/setcap"
  PATH="$work/bin:$PATH" sh "$postinst" configure || fail "postinst configure failed"
  [ "$(cat "$work/setcap.args")" = "cap_net_bind_service=+ep /usr/bin/vesk" ] ||
    fail "postinst ran setcap with [$(cat "$work/setcap.args")]"

  local rc=0
  SETCAP_RC=1 PATH="$work/bin:$PATH" sh "$postinst" configure 2>"$work/warn" || rc=$?
  [ $rc -eq 0 ] || fail "postinst fails the install when setcap fails"
  grep -q warning "$work/warn" || fail "postinst says nothing when setcap fails"

  # On removal or an aborted upgrade there is nothing to grant.
  : >"$work/setcap.args"
  PATH="$work/bin:$PATH" sh "$postinst" abort-upgrade 1.0.0 || fail "postinst abort-upgrade failed"
  [ ! -s "$work/setcap.args" ] || fail "postinst ran setcap outside configure"
  echo "PASS"
}

case "$mode" in
  validate) check_validate ;;
  deb) check_deb ;;
  *) echo "usage: $0 validate|deb <cmake|cpack> <build dir>" >&2; exit 2 ;;
esac
