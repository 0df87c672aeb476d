#!/usr/bin/env bash
# Bursts from the Linux udp_sender into the Windows bench_burst under Wine (not
# Windows), which cannot start a Linux program itself: before each burst the
# receiver prints "ready <port> <count> <bytes>" and this sends that burst.
# Prints the receiver's table and its RESULT lines renamed for Wine. Run it in a
# network namespace of its own, with net.core.rmem_max set for the run.
#   burst.sh <udp_sender> <bench_burst.exe> [runs]
set -euo pipefail
sender=$1 exe=$2 runs=${3:-5}
. "$(dirname "$0")/wine.sh"
trap wine_stop EXIT
trap 'exit 143' TERM INT
wine_start >&2
cd "$(dirname "$exe")"
echo "bench_burst.exe under Wine (not Windows), net.core.rmem_max $(cat /proc/sys/net/core/rmem_max)"
wine "$exe" - "$runs" </dev/null | while IFS= read -r line; do
  line=${line%$'\r'} # a Windows program's line ends
  case $line in
    "ready "*)
      read -r _ port count bytes <<<"$line"
      "$sender" burst "$port" "$count" "$bytes"
      ;;
    RESULT*) sed -e 's/^RESULT | burst of \([^,]*\),/RESULT | burst of \1 under Wine,/' -e 's/plain QUdpSocket/& under Wine/' <<<"$line" ;;
    *) printf '%s\n' "$line" ;;
  esac
done
