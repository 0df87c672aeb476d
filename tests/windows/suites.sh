#!/usr/bin/env bash
# Runs the cross-built Qt Test suites under Wine with ctest, headless on Qt's
# offscreen platform, in the network namespace it is started in.
#   suites.sh <cross build dir> <folder with DLLs>...
set -euo pipefail
build=$1
shift
. "$(dirname "$0")/wine.sh"

wine_start
trap wine_stop EXIT
trap 'exit 143' TERM INT
# The DLLs come from the folders given (the Windows Qt's, the MinGW runtime's);
# offscreen draws text with FreeType, from the fonts in QT_QPA_FONTDIR: the
# Japanese font the windows are measured with.
WINEPATH=
for dir in "$@"; do WINEPATH+="${WINEPATH:+;}$(wine_path "$dir")"; done
export WINEPATH
export QT_QPA_PLATFORM=offscreen
export QT_QPA_FONTDIR
QT_QPA_FONTDIR=$(wine_path /usr/share/fonts/opentype/ipafont-gothic)
# The Qt Test programs; the other tests are scripts around the Linux program.
# The flood (100,000 datagrams, half a minute under Wine) stays with the Linux
# run: it loads Wine's sockets, not anything of Vesk's own that differs here.
ctest --test-dir "$build" --output-on-failure --no-tests=error -R '^tst_' -E '^tst_flood$'
