# Sourced by the scripts that run Windows programs under Wine. Wine creates every
# socket inside the wineserver, so the wineserver is started here, in the network
# namespace the caller runs in, after ending one left running for the prefix.
# Needs WINEPREFIX; wine_start creates the prefix the first time.
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix to use}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No .NET or HTML engine: nothing here needs them, and Wine would offer to download them.
# No winemenubuilder: it would copy the Start menu and file types into the Linux
# desktop's menus under the home folder, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The Windows form of a Linux path: Wine's drive Z: is the Linux root.
wine_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# Wine keeps the QT_* variables from Windows programs (they are taken to be
# for Linux Qt) and hands them WINEQT_<name> as QT_<name> instead.
wine_pass_qt_environment() {
  local name
  for name in $(compgen -e); do
    case $name in QT_*) export "WINE$name=${!name}" ;; esac
  done
}

wine_start() {
  command -v wine >/dev/null || { echo "wine is not installed" >&2; return 1; }
  # Wine's first boot of a fresh prefix now and then ends half done, leaving no
  # kernel32.dll behind ("could not load kernel32.dll"). Such a prefix is
  # useless, so it is made again from nothing, once, with what went wrong shown.
  wine_boot && return 0
  if [ -n "${wine_fresh:-}" ]; then
    echo "   the fresh Wine prefix did not boot; making it again" >&2
    wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  else
    echo "   the Wine prefix did not boot; booting it again" >&2
  fi
  wine_boot && return 0
  echo "wineboot failed" >&2
  return 1
}

# One boot: ends a wineserver left running for the prefix, starts one here and
# boots the prefix, creating it the first time (wine_fresh says whether it did).
wine_boot() {
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w || { echo "a wineserver for $WINEPREFIX did not end" >&2; return 1; }
  mkdir -p "$WINEPREFIX"
  wine_fresh=
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine_fresh=1
    echo "   creating the Wine prefix $WINEPREFIX"
  fi
  wineserver -p >/dev/null 2>&1 </dev/null
  # Boots the prefix and starts its background services now, with their output
  # in a file: started later by a test program, they would keep that program's
  # output pipe open, and its reader waiting. Wine's errors about loading and
  # booting go there too, for when the boot fails.
  local log="$WINEPREFIX/wineboot.log"
  WINEDEBUG=-all,err+module,err+environ,err+wineboot timeout 300 wine wineboot >"$log" 2>&1 </dev/null ||
    { cat "$log" >&2; return 1; }
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
}
