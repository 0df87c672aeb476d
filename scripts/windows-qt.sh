# Qt 6 for Windows, built once from Debian's own qt6-base source with the
# MinGW-w64 cross compilers and kept in the cache. Sourced by windows.sh, which
# sets cache, jobs, triple, as_root and die.

# ------------------------------------------------------------- Qt for Windows
# The switches were found by building 6.4.2: Debian's +dfsg source lacks wintab
# (so no tablet events), the qwindows plugin does not link with DirectWrite 3 or
# Direct2D, and Vesk needs neither OpenGL, Vulkan, D-Bus, ICU, SQL, printing,
# Concurrent nor Xml. Without pkg-config no Linux library can slip into the build.
qt_switches=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_directwrite3=OFF -DFEATURE_direct2d=OFF
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
  -DFEATURE_dbus=OFF -DFEATURE_icu=OFF -DFEATURE_sql=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_pkg_config=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
)

# The cross toolchain, for Qt and for Vesk alike. Qt's installed toolchain file
# loads it from the cache, so a build of Qt does not depend on this checkout.
toolchain_text() {
  cat <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

qt_key() {
  local gcc
  gcc=$("$triple-g++-posix" -dumpfullversion)-$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
  local sum
  sum=$({ printf '%s\n' "${qt_switches[@]}"; toolchain_text; } | sha256sum | cut -c1-12)
  echo "qt-$qt_version-mingw-gcc-$gcc-$sum" | tr -c 'A-Za-z0-9.\n-' '_'
}

# Fetches Debian's qt6-base source of the installed host Qt's version, through a
# deb-src entry for the same archive that lives only in a scratch apt state.
fetch_qt_source() {
  local dir=$1 apt=$1/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
  local found=0 f
  for f in /etc/apt/sources.list.d/debian.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/debian.sources"
    found=1
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt/sources.list.d/debian.list"
    found=1
  fi
  [ $found -eq 1 ] || die "no Debian archive found in /etc/apt/sources.list or sources.list.d/debian.sources"
  local opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
              -o "APT::Sandbox::User=root" -q)
  echo "Fetching the qt6-base $qt_version source"
  "${as_root[@]}" apt-get "${opts[@]}" update >"$dir/apt.log" 2>&1 \
    || { cat "$dir/apt.log" >&2; die "apt-get update for the deb-src entry failed"; }
  (cd "$dir" && "${as_root[@]}" apt-get "${opts[@]}" source --only-source "qt6-base=$qt_version" >>"$dir/apt.log" 2>&1) \
    || { tail -n 20 "$dir/apt.log" >&2; die "apt-get source qt6-base=$qt_version failed (is the host Qt older than the archive's? apt-get upgrade qt6-base-dev)"; }
  if [ ${#as_root[@]} -gt 0 ]; then "${as_root[@]}" chown -R "$(id -u):$(id -g)" "$dir"; fi
}

# Each folder this script makes in the cache holds this file; only such folders
# are ever deleted, so a cache pointed at a shared place (/opt) loses nothing else.
made_here=.made-by-vesk-windows-qt

# Deletes each folder given that holds the mark.
remove_made_here() {
  local d
  for d in "$@"; do
    if [ -d "$d" ] && [ ! -L "$d" ] && [ -f "$d/$made_here" ]; then rm -rf -- "$d"; fi
  done
}

build_qt() {
  qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null) || die "qt6-base-dev is not installed"
  qt_prefix=$cache/$(qt_key)
  if [ -f "$qt_prefix/.complete" ]; then
    # Built before folders were marked: its .complete record says it is ours.
    if [ ! -e "$qt_prefix/$made_here" ] && head -n1 "$qt_prefix/.complete" | grep -q '^qt6-base '; then
      touch "$qt_prefix/$made_here"
    fi
    echo "== Qt $qt_version for Windows: cached in $qt_prefix"
    return 0
  fi
  echo "== Qt $qt_version for Windows: building once into $qt_prefix (about half an hour on 2 idle cores)"
  local start=$SECONDS work
  mkdir -p "$cache"
  # Scratch trees of builds that failed or were stopped, hours ago.
  local stale
  mapfile -t stale < <(find "$cache" -maxdepth 1 -type d -name 'qt-build.*' -mmin +180)
  remove_made_here "${stale[@]}"
  work=$(mktemp -d "$cache/qt-build.XXXXXX")
  touch "$work/$made_here"
  fetch_qt_source "$work"
  local src
  src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
  [ -n "$src" ] || die "no qt6-base source tree in $work"
  remove_made_here "$qt_prefix"
  [ ! -e "$qt_prefix" ] || die "$qt_prefix is in the way and was not made by this script (an unfinished build of an older one? then delete it)"
  mkdir -p "$qt_prefix"
  touch "$qt_prefix/$made_here"
  toolchain_text >"$qt_prefix/toolchain.cmake"
  echo "   configuring (log: $work/configure.log)"
  cmake -S "$src" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/toolchain.cmake" \
        -DCMAKE_INSTALL_PREFIX="$qt_prefix" "${qt_switches[@]}" >"$work/configure.log" 2>&1 \
    || { tail -n 40 "$work/configure.log" >&2; die "configuring Qt failed; the whole log is $work/configure.log"; }
  echo "   building with $jobs jobs (log: $work/build.log)"
  # A process group of its own, so that stopping this script stops the whole build.
  setsid cmake --build "$work/build" -j "$jobs" >"$work/build.log" 2>&1 &
  local builder=$! ticks=0
  trap 'kill -TERM -- "-$builder" 2>/dev/null' EXIT
  # A line every five minutes, so a long quiet build shows it is moving.
  while kill -0 "$builder" 2>/dev/null; do
    sleep 5
    ticks=$((ticks + 1))
    [ $((ticks % 60)) -ne 0 ] ||
      echo "   $(grep -o '^\[[0-9]*/[0-9]*\]' "$work/build.log" | tail -n1) after $(( (SECONDS - start) / 60 )) min"
  done
  wait "$builder" \
    || { grep -A20 -m2 '^FAILED:' "$work/build.log" >&2 || tail -n 40 "$work/build.log" >&2
         die "building Qt failed; the whole log is $work/build.log"; }
  trap - EXIT
  cmake --install "$work/build" >"$work/install.log" 2>&1 \
    || { tail -n 20 "$work/install.log" >&2; die "installing Qt failed; the log is $work/install.log"; }
  printf '%s\n' "qt6-base $qt_version" "${qt_switches[@]}" >"$qt_prefix/.complete"
  rm -rf "$work"
  # Builds under older keys are not used again.
  mapfile -t stale < <(find "$cache" -maxdepth 1 -type d -name 'qt-*' ! -name 'qt-build.*' ! -path "$qt_prefix")
  remove_made_here "${stale[@]}"
  echo "   built in $(( (SECONDS - start) / 60 )) min $(( (SECONDS - start) % 60 )) s, $(du -sh "$qt_prefix" | cut -f1) installed"
}
