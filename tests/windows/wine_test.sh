#!/usr/bin/env bash
# How ctest runs a Windows test program (CMAKE_CROSSCOMPILING_EMULATOR), inside
# the namespace and wineserver that suites.sh set up.
#   wine_test.sh <program.exe> [arguments]
set -u
. "$(dirname "$0")/wine.sh"
# With no console, Qt Test would send its log to the debugger (OutputDebugString).
export QT_FORCE_STDERR_LOGGING=1
wine_pass_qt_environment
exec wine "$@" </dev/null
