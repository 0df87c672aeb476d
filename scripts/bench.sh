#!/usr/bin/env bash
# The one benchmark command: sets up what is missing, builds in release mode,
# runs every benchmark and prints one table of our figures beside references
# measured in the same run.
#
# A benchmark reports a figure with one line on stdout:
#   RESULT | <figure> | <ours> | <reference> | <reference name> | <unit> | <target>
# where <target> bounds the ratio ours/reference ("<=1.5", ">=0.5") or is "-".
# Shorter forms are taken too: "figure | ours | reference | unit" and
# "figure | ours | reference | unit | target". Output without RESULT lines is
# printed as it is under the table.
#
# VESK_BUILD_DIR=<dir> builds there instead of the release preset's directory;
# VESK_JOBS=<n> limits the build's parallel jobs.
# Binds UDP ports 1001/1002, in a network namespace of its own where it can.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh bench

jobs=${VESK_JOBS:-$(nproc)}
if [ -n "${VESK_BUILD_DIR:-}" ]; then
  build=$VESK_BUILD_DIR
  cmake --preset release -B "$build" >/dev/null
  build_cmd=(cmake --build "$build")
else
  build=$root/build/release
  cmake --preset release >/dev/null
  build_cmd=(cmake --build --preset release)
fi
echo "== Build (release): the program and the benchmarks"
# bench/all is every benchmark target with what it links; the tests are not needed.
"${build_cmd[@]}" -j "$jobs" --target vesk bench/all

logs=$build/bench-logs
rm -rf "$logs"
mkdir -p "$logs"
export QT_QPA_PLATFORM=offscreen # the in-process windows; bench_startup uses its own Xvfb

# Known benchmarks first, in this order; any other bench_* built runs after them.
order=(bench_transcript bench_conversation bench_latency bench_flood bench_burst bench_cp932 bench_startup)
benches=()
for name in "${order[@]}"; do
  [ -x "$build/bench/$name" ] && benches+=("$name")
done
for exe in "$build"/bench/bench_*; do
  name=$(basename "$exe")
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  [[ " ${benches[*]} " == *" $name "* ]] || benches+=("$name")
done

failed=()
for name in "${benches[@]}"; do
  args=()
  [ "$name" = bench_startup ] && args=("$build/app/vesk" "$build/bench/minimal_qt")
  [ "$name" = bench_latency ] && args=("$build/bench/udp_sender")
  [ "$name" = bench_burst ] && args=("$build/bench/udp_sender")
  # Each flood runs for a minute by default; VESK_FLOOD_SECONDS shortens them.
  [ "$name" = bench_flood ] && args=("$build/app/vesk" "$build/bench/udp_sender" "${VESK_FLOOD_SECONDS:-60}")
  echo "== Run $name"
  start=$SECONDS
  # Bursts are measured as an ordinary user gets them: no privilege, and the
  # stock ceiling of the receive buffer (the namespace shares the machine's),
  # set for the run and restored after.
  as=()
  if [ "$name" = bench_burst ] && [ "$(id -u)" -eq 0 ]; then
    rmem_saved=$(sysctl -n net.core.rmem_max)
    trap 'sysctl -qw net.core.rmem_max="$rmem_saved"' EXIT
    sysctl -qw net.core.rmem_max=212992
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  # In a network namespace of its own where it can, like the port-binding tests.
  if "$root/tests/isolated.sh" "${as[@]}" "$build/bench/$name" "${args[@]}" >"$logs/$name.out" 2>"$logs/$name.err"; then
    echo "   done in $((SECONDS - start)) s"
  else
    rc=$?
    echo "   FAILED (exit $rc) after $((SECONDS - start)) s"
    failed+=("$name")
  fi
  if [ -n "${rmem_saved:-}" ]; then
    sysctl -qw net.core.rmem_max="$rmem_saved"
    trap - EXIT
    rmem_saved=
  fi
done

# The Windows program: the zip's size, bursts and start-up under Wine. scripts/windows.sh
# builds the Windows Qt the first time (about half an hour, then cached);
# VESK_BENCH_WINDOWS=0 leaves these figures out.
if [ "${VESK_BENCH_WINDOWS:-1}" != 0 ] && [ -x "$build/bench/bench_startup" ] && [ -x "$build/bench/udp_sender" ]; then
  benches+=(windows)
  echo "== Run windows (scripts/windows.sh bench)"
  start=$SECONDS
  if VESK_JOBS=$jobs scripts/windows.sh bench "$build/bench/bench_startup" "$build/bench/udp_sender" >"$logs/windows.out" 2>"$logs/windows.err"; then
    echo "   done in $((SECONDS - start)) s"
  else
    echo "   FAILED (exit $?) after $((SECONDS - start)) s"
    failed+=(windows)
  fi
fi

# Collects every figure as: bench|figure|ours|reference|reference name|unit|target
results=$logs/results.txt
: >"$results"
verbatim=()
for name in "${benches[@]}"; do
  out=$logs/$name.out
  if grep -q '^RESULT |' "$out"; then
    awk -v b="$name" -F' *[|] *' '
      /^RESULT \|/ {
        if (NF == 5)      print b "|" $2 "|" $3 "|" $4 "|-|" $5 "|-"
        else if (NF == 6) print b "|" $2 "|" $3 "|" $4 "|-|" $5 "|" $6
        else if (NF >= 7) print b "|" $2 "|" $3 "|" $4 "|" $5 "|" $6 "|" $7
      }' "$out" >>"$results"
  else
    verbatim+=("$name")
  fi
done

echo
echo "== Results ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r), commit $(git rev-parse --short HEAD 2>/dev/null || echo none)$(git diff --quiet 2>/dev/null || echo ' + local changes'))"
echo "   Each figure is a median of several runs; the ratio is ours / reference."
echo
awk -F'|' '
  function num(s) { return s ~ /^[-+]?[0-9]*\.?[0-9]+([eE][-+]?[0-9]+)?$/ }
  function pad(s, w) { return sprintf("%-" w "s", s) }
  function padr(s, w) { return sprintf("%" w "s", s) }
  {
    n++
    fig[n] = $2; ours[n] = $3 " " $6; ref[n] = ($4 == "-" ? "-" : $4 " " $6)
    refname[n] = $5; target[n] = $7; ratio[n] = "-"; verdict[n] = ""
    if (num($3) && num($4) && $4 + 0 != 0) {
      r = $3 / $4
      ratio[n] = sprintf("%.2fx", r)
      if (target[n] ~ /^<=/) verdict[n] = (r <= substr(target[n], 3) + 0) ? "met" : "MISSED"
      else if (target[n] ~ /^>=/) verdict[n] = (r >= substr(target[n], 3) + 0) ? "met" : "MISSED"
    }
    if (target[n] ~ /^[<>]=/) target[n] = target[n] "x"
  }
  END {
    h[1] = "Figure"; h[2] = "Ours"; h[3] = "Reference"; h[4] = "Reference is"; h[5] = "Ratio"; h[6] = "Target"; h[7] = "Result"
    for (c = 1; c <= 7; c++) w[c] = length(h[c])
    for (i = 1; i <= n; i++) {
      v[1] = fig[i]; v[2] = ours[i]; v[3] = ref[i]; v[4] = refname[i]; v[5] = ratio[i]; v[6] = target[i]; v[7] = verdict[i]
      for (c = 1; c <= 7; c++) { cell[i, c] = v[c]; if (length(v[c]) > w[c]) w[c] = length(v[c]) }
    }
    line = "|"; rule = "|"
    for (c = 1; c <= 7; c++) {
      line = line " " pad(h[c], w[c]) " |"
      dash = ""; for (k = 0; k < w[c]; k++) dash = dash "-"
      rule = rule (c == 2 || c == 3 || c == 5 ? "-" dash ":|" : " " dash " |")
    }
    print line; print rule
    for (i = 1; i <= n; i++) {
      line = "|"
      for (c = 1; c <= 7; c++)
        line = line " " (c == 2 || c == 3 || c == 5 ? padr(cell[i, c], w[c]) : pad(cell[i, c], w[c])) " |"
      print line
    }
    if (n == 0) print "(no figures)"
  }' "$results"

for name in "${verbatim[@]}"; do
  echo
  echo "-- $name (printed as it is):"
  sed 's/^/   /' "$logs/$name.out"
done
for name in "${failed[@]}"; do
  echo
  echo "-- $name FAILED; the end of its output:"
  tail -n 15 "$logs/$name.out" "$logs/$name.err" | sed 's/^/   /'
done
echo
echo "Logs: $logs"
[ ${#failed[@]} -eq 0 ]
