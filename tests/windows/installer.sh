#!/usr/bin/env bash
# The installer under Wine (not Windows), silently, in a fresh prefix and with a
# home folder of its own: an older version first, then this one over it; the
# files are the zip's, the Start-menu shortcut has its Japanese name, the entry
# in the installed programs its version; the installed vesk.exe converses with
# the Linux build (end_to_end.sh); the uninstaller leaves nothing behind, and
# nothing is ever written to the home folder. Run it in a network namespace of
# its own.
#   installer.sh <setup.exe> <version> <older setup.exe> <zip> <Linux vesk>
set -euo pipefail
setup=$1
version=$2
old_setup=$3
zip=$4
linux=$5
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
# Wine finds its shell folders and the Linux desktop's menus through HOME.
export HOME=$work/home
mkdir "$HOME"
. "$here/wine.sh"
trap 'wine_stop; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT

fail() { echo "FAIL: $*" >&2; exit 1; }

name="Vesk メッセンジャー"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk'
drive=$WINEPREFIX/drive_c
profile=$drive/users/$(id -un)
programs=$profile/AppData/Local/Programs/Vesk
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$name.lnk"

# Value $1 of the uninstall entry (in HKCU, or in $2), read through an export:
# reg query prints in the console's code page, which has no Japanese here.
entry() {
  rm -f "$work/entry.reg"
  wine reg export "${2:-$key}" "$(wine_path "$work/entry.reg")" /y >/dev/null 2>&1 || return 0
  # .reg strings escape backslashes and quotes with a backslash.
  iconv -f UTF-16 -t UTF-8 "$work/entry.reg" | tr -d '\r' |
    sed -n "s/^\"$1\"=\"\(.*\)\"\$/\1/p" | sed 's/\\\(.\)/\1/g'
}

install() {
  local start=$SECONDS
  wine "$@" /S || fail "$(basename "$1") /S exited with $?"
  echo "   $(basename "$1") ${*:2}${2:+ }/S: $((SECONDS - start)) s"
}

# Runs the uninstaller of folder $1 as entry $2 names it (the way Windows runs
# it), and waits for it.
uninstall() {
  local start=$SECONDS command
  command=$(entry UninstallString "$2")
  command=${command#\"}
  command=${command%\"}
  [ -n "$command" ] || fail "no UninstallString in $2"
  wine "$command" /S || fail "$command /S exited with $?"
  # The uninstaller runs on from a copy in the temporary folder.
  for _ in $(seq 200); do
    [ -e "$1" ] || break
    sleep 0.1
  done
  for _ in $(seq 10); do
    [ -z "$(entry DisplayName "$2")" ] && break
    sleep 0.2
  done
  echo "   uninstall.exe /S: $((SECONDS - start)) s"
  [ ! -e "$1" ] || fail "the program folder stays: $(ls -A "$1")"
  [ -z "$(entry DisplayName "$2")" ] || fail "the uninstall entry $2 stays"
}

wine_start
# The files in the prefix before: the uninstaller must bring it back to these.
# (Folders may stay: Windows keeps the user's Programs folder, and the temporary
# folder the uninstaller ran from, emptied at the next start, until it is cleaned.)
files() { (cd "$drive" && find . ! -type d | LC_ALL=C sort); }
files >"$work/before"

echo "   installing the older version, then $version over it"
install "$old_setup"
[ -f "$programs/stale.dll" ] || fail "the older version was not installed"
install "$setup"
[ "$(entry DisplayVersion)" = "$version" ] || fail "the installed programs list version [$(entry DisplayVersion)], expected $version"
[ "$(entry DisplayName)" = "$name" ] || fail "the installed programs list [$(entry DisplayName)], expected $name"
[ "$(entry Publisher)" = "Vesk developers" ] || fail "publisher [$(entry Publisher)]"
[ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut"

echo "   the installed files are the zip's, and nothing of the older version stays"
mkdir "$work/zip"
unzip -q "$zip" -d "$work/zip"
diff -r -x uninstall.exe -x vesk.ico "$work/zip"/*/ "$programs/" || fail "the installed folder differs from the zip"
[ -f "$programs/uninstall.exe" ] || fail "no uninstall.exe"

echo "   the installed vesk.exe and the Linux build converse"
wine_stop
bash "$here/end_to_end.sh" "$programs/vesk.exe" "$linux"

echo "   uninstalling"
wine_start
uninstall "$programs" "$key"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut stays"

# Wine runs everything as administrator, and its netsh does nothing: the
# firewall rule is not tested here.
echo "   for all users (/ALLUSERS), then uninstalled"
install "$setup" /ALLUSERS
all_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk'
[ "$(entry InstallLocation "$all_key")" = 'C:\Program Files\Vesk' ] ||
  fail "the machine's installed programs list [$(entry InstallLocation "$all_key")]"
[ -f "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$name.lnk" ] || fail "no shortcut in the common Start menu"
[ -z "$(entry DisplayName)" ] || fail "installing for all users made an entry of the user's"
uninstall "$drive/Program Files/Vesk" "$all_key"
[ ! -e "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$name.lnk" ] || fail "the common Start-menu shortcut stays"
# That copy is deleted at the next start of Windows, here of Wine's.
wine wineboot -r >/dev/null 2>&1 || fail "wineboot -r failed"
wine_stop
files >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "the prefix is not as before the installation"
! grep -il vesk "$WINEPREFIX"/*.reg >&2 || fail "the registry still names Vesk"
# The Linux programs may keep caches there; Wine's menu entries and icons must not be.
find "$HOME" \( -path '*/applications*' -o -path '*/menus*' -o -path '*/desktop-directories*' \
  -o -path '*/icons*' -o -iname '*wine*' \) >"$work/home-files"
[ ! -s "$work/home-files" ] || fail "Wine wrote into the home folder: $(cat "$work/home-files")"
echo "PASS"
