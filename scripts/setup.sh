#!/usr/bin/env bash
# Installs whatever this Debian 12 machine lacks for the given purpose, and
# nothing when everything is there already.
#   setup.sh run    compiler, CMake, Qt 6, a Japanese font, authbind and adduser
#                   (ports 1001/1002 for the group vesk)
#   setup.sh test   the same, plus what the tests, fuzzing and packaging use
#   setup.sh bench  the same as test, plus what the benchmarks use
#   setup.sh docs   the same as test, plus what the screenshots use
#   setup.sh windows  the same as test, plus the Windows cross build and Wine
set -euo pipefail

purpose=${1:-run}
packages=(build-essential cmake ninja-build qt6-base-dev fonts-ipafont-gothic authbind adduser)
case "$purpose" in
  run) ;;
  test|bench|docs|windows)
    packages+=(clang libclang-rt-14-dev nftables xvfb xdotool x11-utils
               desktop-file-utils appstream dpkg-dev file iproute2 mount xclip xauth libcap2-bin)
    # The accessibility bus and what reads it the way a screen reader does.
    packages+=(at-spi2-core dbus-daemon python3-pyatspi python3-xlib)
    # A real screen reader (it brings speech-dispatcher) and a window manager
    # that gives the windows it reads the focus.
    packages+=(orca openbox)
    # What the desktop tests run as nobody with (pgrep, sysctl) and the fake
    # notification service is written with.
    packages+=(procps python3-gi)
    # Real input methods typed through in the input method tests.
    packages+=(dbus-daemon libglib2.0-bin ibus ibus-anthy ibus-mozc
               fcitx5 fcitx5-frontend-qt6 fcitx5-anthy fcitx5-mozc)
    # The Wayland run: Qt's Wayland plugin, a headless compositor, its
    # screenshot and typing tools.
    packages+=(qt6-wayland sway grim wtype)
    if [ "$purpose" = bench ]; then packages+=(libxcb1-dev time); fi
    if [ "$purpose" = docs ]; then packages+=(imagemagick); fi
    if [ "$purpose" = windows ]; then
      # dpkg-dev unpacks Debian's Qt source; tcpdump reads the datagrams on the wire.
      packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 qt6-base-dev-tools
                 wine wine64 zip unzip dpkg-dev tcpdump)
      # The installer: NSIS, and the icon drawn from the SVG at each size Windows shows.
      packages+=(nsis librsvg2-bin icoutils)
    fi
    ;;
  *) echo "usage: $0 run|test|bench|docs|windows" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root or install sudo to set up: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
