#!/usr/bin/env bash
# The Windows program, built and tested on this Debian 12 machine:
#   1. installs what is missing (MinGW-w64, Wine, Xvfb, zip, ...);
#   2. builds Qt 6 for Windows once, from Debian's own qt6-base source, and keeps
#      it under ~/.cache/vesk (a new Qt, compiler or switch set builds it anew);
#   3. cross-builds Vesk and leaves build/windows/vesk-<version>-windows-x64/,
#      build/windows/vesk-<version>-windows-x64.zip and the installer
#      build/windows/vesk-<version>-setup.exe (NSIS);
#   4. runs the Qt Test suites built for Windows under Wine; installs the program
#      under Wine over an older version and runs the installed vesk.exe against
#      the Linux build over UDP on 127.0.0.1, then uninstalls it; types 日本語
#      into vesk.exe through an X input method (ibus with Anthy), Wine's notepad
#      first as the control, and a plain UDP peer checks the bytes sent.
# "inputmethod" runs only the last of these.
# Wine is not Windows: what only a real Windows machine shows is not tested here.
#
# VESK_WINDOWS_CACHE=<dir> keeps the Windows Qt there instead of ~/.cache/vesk.
# VESK_JOBS=<n> limits parallel build jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VESK_JOBS:-$(nproc)}
cache=${VESK_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vesk}
out=$root/build/windows
triple=x86_64-w64-mingw32

die() { echo "windows.sh: $*" >&2; exit 1; }
# Stopped from outside, the script still runs its EXIT clean-up.
trap 'exit 143' TERM INT HUP

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || die "run as root or install sudo"
  as_root=(sudo)
fi

# Qt for Windows: build_qt, and the cross toolchain Vesk shares with it.
. "$root/scripts/windows-qt.sh"

# ------------------------------------------------------------- Vesk for Windows
cross=$out/cross

build_vesk() {
  echo "== Vesk for Windows: cross build in $cross"
  local start=$SECONDS
  mkdir -p "$out"
  # CMake keeps the toolchain of an existing build folder: a new Qt needs a new folder.
  if [ -f "$cross/CMakeCache.txt" ] && ! grep -qF "$qt_prefix/" "$cross/CMakeCache.txt"; then
    rm -rf "$cross"
  fi
  # Qt's own toolchain file finds the Windows Qt and loads the MinGW toolchain;
  # ctest runs the Windows test programs through Wine.
  cmake -S "$root" -B "$cross" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tests/windows/wine_test.sh" \
        -DVESK_BUILD_TESTS=ON -DVESK_BUILD_BENCH=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
        >"$out/cross-configure.log" 2>&1 \
    || { cat "$out/cross-configure.log" >&2; die "configuring the cross build failed"; }
  # The program, the test suites, the start-up reference and the burst receiver;
  # the other benchmarks measure Linux and are not built.
  cmake --build "$cross" -j "$jobs" --target vesk tests/all minimal_qt bench_burst >"$out/cross-build.log" 2>&1 \
    || { grep -A20 -m2 '^FAILED:' "$out/cross-build.log" >&2 || tail -n 40 "$out/cross-build.log" >&2
         die "the cross build failed; the whole log is $out/cross-build.log"; }
  echo "   built in $((SECONDS - start)) s"
}

# The Linux program, the Windows program's partner in the end-to-end run.
build_linux_peer() {
  echo "== Vesk for Linux, the partner for the end-to-end run: build in $out/linux"
  cmake -S "$root" -B "$out/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF >"$out/linux-configure.log" 2>&1 \
    || { cat "$out/linux-configure.log" >&2; die "configuring the Linux build failed"; }
  cmake --build "$out/linux" -j "$jobs" --target vesk >"$out/linux-build.log" 2>&1 \
    || { tail -n 40 "$out/linux-build.log" >&2; die "the Linux build failed; the log is $out/linux-build.log"; }
}

# -------------------------------------------------------- the portable folder
# A program of the cross build: Qt puts every program and DLL of a Windows build
# in the top build folder, beside each other.
built() {
  [ -f "$cross/$1" ] || die "$1 was not built in $cross"
  echo "$cross/$1"
}

gcc_runtime_dir() { dirname "$("$triple-g++-posix" -print-libgcc-file-name)"; }

# Copies into folder $1 every DLL that the programs and DLLs in it import and
# that Qt or the MinGW runtime provides; the rest are Windows' own.
copy_imported_dlls() {
  local folder=$1 changed=1 file dll found dir
  local search=("$qt_prefix/bin" "$(gcc_runtime_dir)" "/usr/$triple/lib")
  while [ $changed -eq 1 ]; do
    changed=0
    while IFS= read -r -d '' file; do
      for dll in $("$triple-objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$folder/$dll" ] && continue
        found=
        for dir in "${search[@]}"; do
          [ -f "$dir/$dll" ] && { found=$dir/$dll; break; }
        done
        [ -n "$found" ] || continue
        cp "$found" "$folder/"
        changed=1
      done
    done < <(find "$folder" -name '*.exe' -print0 -o -name '*.dll' -print0)
  done
}

# Puts program $1 into folder $2 the way it ships: the platform plugin, the
# native style, the DLLs they all import, stripped.
deploy() {
  local program=$1 folder=$2
  mkdir -p "$folder/platforms" "$folder/styles"
  cp "$program" "$folder/"
  cp "$qt_prefix/plugins/platforms/qwindows.dll" "$folder/platforms/"
  # The native look; without it Qt falls back to its plain Windows style.
  cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
  copy_imported_dlls "$folder"
  find "$folder" \( -name '*.exe' -o -name '*.dll' \) -exec "$triple-strip" --strip-unneeded {} +
}

package() {
  local version name dir zipfile stamp
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cross/CMakeCache.txt")
  [ -n "$version" ] || die "no project version in $cross/CMakeCache.txt"
  name=vesk-$version-windows-x64
  dir=$out/$name
  zipfile=$out/$name.zip
  echo "== The portable folder and $name.zip"
  rm -rf "$dir" "$zipfile"
  deploy "$(built vesk.exe)" "$dir"
  # The commit's time on every file, so the same sources give the same zip.
  stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
  find "$dir" -exec touch -h -d "@$stamp" {} +
  (cd "$out" && find "$name" | LC_ALL=C sort | zip -q -X -9 "$zipfile" -@)
  portable_dir=$dir
  portable_zip=$zipfile
  version_built=$version
  echo "   $(find "$dir" -type f | wc -l) files, $(du -sk "$dir" | cut -f1) KiB unpacked; $(du -k "$zipfile" | cut -f1) KiB zipped"
  setup_exe=$out/vesk-$version-setup.exe
  echo "== The installer $(basename "$setup_exe")"
  local start=$SECONDS
  make_installer "$dir" "$version" "$setup_exe"
  echo "   $(du -k "$setup_exe" | cut -f1) KiB, built in $((SECONDS - start)) s"
}

# ------------------------------------------------------------------ installer
# The icon at the sizes Windows shows, drawn from the SVG; 256 pixels as PNG.
make_icon() {
  local ico=$1 scratch size
  scratch=$(mktemp -d)
  for size in 16 24 32 48 64 256; do
    rsvg-convert -w "$size" -h "$size" -o "$scratch/$size.png" "$root/packaging/vesk.svg"
  done
  icotool -c -o "$ico" "$scratch"/{16,24,32,48,64}.png -r "$scratch/256.png"
  rm -rf "$scratch"
}

# Builds installer $3 of version $2 for portable folder $1; further arguments go
# to makensis. The uninstaller gets the list of exactly these files.
make_installer() {
  local folder=$1 version=$2 setup=$3 scratch path
  shift 3
  scratch=$(mktemp -d)
  make_icon "$scratch/vesk.ico"
  # Files first, then each folder deepest first, once it is empty.
  (cd "$folder"
   if find . | grep -q '[$"]'; then echo "a file name holds \$ or \"" >&2; exit 1; fi
   find . -type f | LC_ALL=C sort | while read -r path; do
     path=${path#./}; printf 'Delete "$INSTDIR\\%s"\n' "${path//\//\\}"
   done
   find . -mindepth 1 -type d | LC_ALL=C sort -r | while read -r path; do
     path=${path#./}; printf 'RMDir "$INSTDIR\\%s"\n' "${path//\//\\}"
   done) >"$scratch/files.nsh" || die "cannot list the files of $folder"
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$folder" -DICON="$scratch/vesk.ico" \
           -DFILES="$scratch/files.nsh" -DOUTFILE="$setup" "$@" "$root/packaging/windows/vesk.nsi" \
           >"$scratch/makensis.log" 2>&1 \
    || { cat "$scratch/makensis.log" >&2; rm -rf "$scratch"; die "makensis failed"; }
  rm -rf "$scratch"
}

# -------------------------------------------------------------- Wine runs
# Each Wine run happens in a network namespace of its own (tests/isolated.sh),
# with a wineserver started there and a Wine prefix of our own.
export WINEPREFIX=$out/wine

run_suites() {
  echo "== The test suites for Windows, under Wine (not Windows)"
  # ctest bounds each suite; this bounds the whole run.
  timeout 1800 tests/isolated.sh bash tests/windows/suites.sh \
    "$cross" "$qt_prefix/bin" "$(gcc_runtime_dir)" "/usr/$triple/lib" \
    || die "the test suites under Wine failed (exit $?)"
}

# The installer in a fresh prefix, over an older version: a stand-in built here
# with a file this version lacks and another vesk.exe. The installed program, the
# zip's files as a user gets them, converses with the Linux build.
run_installer() {
  echo "== The installer under Wine (not Windows): over an older version, vesk.exe installed against Vesk for Linux over UDP on 127.0.0.1, uninstalled"
  local scratch status=0
  scratch=$(mktemp -d)
  mkdir "$scratch/old"
  echo "an older vesk.exe" >"$scratch/old/vesk.exe"
  echo "a file only the older version had" >"$scratch/old/stale.dll"
  make_installer "$scratch/old" 0.9.0 "$scratch/vesk-0.9.0-setup.exe" -X"SetCompressor /FINAL zlib"
  timeout 600 tests/isolated.sh bash tests/windows/installer.sh "$setup_exe" "$version_built" \
    "$scratch/vesk-0.9.0-setup.exe" "$portable_zip" "$out/linux/app/vesk" || status=$?
  rm -rf "$scratch"
  [ $status -eq 0 ] || die "the installer run under Wine failed (exit $status)"
}

run_inputmethod() {
  echo "== Japanese through an X input method (ibus, Anthy) into vesk.exe under Wine (not Windows)"
  timeout 300 tests/isolated.sh bash tests/windows/inputmethod.sh "$portable_dir/vesk.exe" \
    || die "the input method run under Wine failed (exit $?)"
}

# ----------------------------------------------------------------- benchmarks
# Prints RESULT lines for scripts/bench.sh: the zip's and the installer's sizes,
# the installer's silent install time under Wine, bursts from the Linux sender
# into bench_burst.exe under Wine, and start-up of vesk.exe under Wine to its
# start window mapped, beside a minimal Qt Widgets program built and run the same
# way. $1 is the Linux bench_startup program, $2 the Linux udp_sender.
bench() {
  local bench_startup=$1 udp_sender=$2
  [ -x "$bench_startup" ] || die "no bench_startup at $bench_startup"
  [ -x "$udp_sender" ] || die "no udp_sender at $udp_sender"
  local zip_kib minimal_kib scratch
  zip_kib=$(du -k "$portable_zip" | cut -f1)
  # The reference: the same deployment of the minimal program, zipped the same way.
  scratch=$(mktemp -d)
  deploy "$(built minimal_qt.exe)" "$scratch/minimal"
  (cd "$scratch" && zip -q -r -X -9 minimal.zip minimal)
  minimal_kib=$(du -k "$scratch/minimal.zip" | cut -f1)
  awk -v o="$zip_kib" -v r="$minimal_kib" 'BEGIN {
    printf "RESULT | Windows zip size | %.1f | %.1f | minimal Qt Widgets program zipped alike | MiB | -\n", o / 1024, r / 1024 }'
  local setup_kib times
  setup_kib=$(du -k "$setup_exe" | cut -f1)
  awk -v o="$setup_kib" -v r="$zip_kib" 'BEGIN {
    printf "RESULT | Windows installer size | %.1f | %.1f | the zip | MiB | -\n", o / 1024, r / 1024 }'
  times=$(timeout 300 bash tests/windows/install_time.sh "$setup_exe") || die "timing the installer under Wine failed"
  echo "RESULT | silent install under Wine (median of 5) | ${times% *} | ${times#* } | silent uninstall under Wine | ms | -"
  local status=0
  # The stock ceiling of the receive buffer for the bursts, as scripts/bench.sh
  # sets for bench_burst: Wine hands SO_RCVBUF to Linux, where it binds root too.
  deploy "$(built bench_burst.exe)" "$scratch/burst"
  rmem_saved=$(sysctl -n net.core.rmem_max)
  trap '"${as_root[@]}" sysctl -qw net.core.rmem_max="$rmem_saved"' EXIT
  "${as_root[@]}" sysctl -qw net.core.rmem_max=212992
  timeout 900 tests/isolated.sh bash tests/windows/burst.sh "$udp_sender" "$scratch/burst/bench_burst.exe" \
    || status=$?
  "${as_root[@]}" sysctl -qw net.core.rmem_max="$rmem_saved"
  trap - EXIT
  timeout 900 tests/isolated.sh bash tests/windows/startup.sh "$bench_startup" \
    "$portable_dir/vesk.exe" "$scratch/minimal/minimal_qt.exe" || status=$?
  rm -rf "$scratch"
  return $status
}

# --------------------------------------------------------------------- main
mode=${1:-all}
case "$mode" in
  all)
    scripts/setup.sh windows
    build_qt
    build_vesk
    package
    build_linux_peer
    run_suites
    run_installer
    run_inputmethod
    echo "== Windows: the zip is $portable_zip, the installer $setup_exe"
    ;;
  build)
    scripts/setup.sh windows
    build_qt
    build_vesk
    package
    ;;
  inputmethod)
    scripts/setup.sh windows
    build_qt
    build_vesk
    package
    run_inputmethod
    ;;
  bench)
    [ $# -eq 3 ] || die "usage: $0 bench <bench_startup program> <udp_sender program>"
    scripts/setup.sh windows >&2
    { build_qt; build_vesk; package; } >&2
    bench "$2" "$3"
    ;;
  *) die "usage: $0 [all|build|inputmethod|bench <bench_startup program> <udp_sender program>]" ;;
esac
