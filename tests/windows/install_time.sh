#!/usr/bin/env bash
# Silent install and uninstall times of the installer under Wine (not Windows),
# in a fresh prefix: the median of 5 of each, in milliseconds, on one line.
#   install_time.sh <setup.exe>
set -euo pipefail
setup=$1
work=$(mktemp -d)
export WINEPREFIX=$work/prefix HOME=$work/home
mkdir "$HOME"
. "$(dirname "$0")/wine.sh"
trap 'wine_stop; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT
wine_start >&2
programs=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Vesk
now() { date +%s%N; }
installs=() uninstalls=()
for _ in 1 2 3 4 5; do
  start=$(now)
  wine "$setup" /S
  installs+=($(( ($(now) - start) / 1000000 )))
  start=$(now)
  wine "$(wine_path "$programs")\\uninstall.exe" /S
  # The uninstaller runs on from a copy in the temporary folder.
  while [ -e "$programs" ]; do sleep 0.02; done
  uninstalls+=($(( ($(now) - start) / 1000000 )))
done
median() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
echo "$(median "${installs[@]}") $(median "${uninstalls[@]}")"
