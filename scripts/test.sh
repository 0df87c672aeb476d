#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test headless: the
# suite as it is, the suite again under the address and undefined behaviour
# sanitizers, each fuzz target for a bounded time, and the Windows program's
# suites and an end-to-end run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
fuzz_seconds=${VESK_FUZZ_SECONDS:-30}

echo "== Tests"
cmake --preset default -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== Tests under the address and undefined behaviour sanitizers"
cmake --preset asan -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== Fuzzing, ${fuzz_seconds} s a target"
cmake --preset fuzz -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build --preset fuzz -j "$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] && [ -f "$target" ] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$work/$name"
  # New inputs go to a scratch copy; the committed seeds stay as they are.
  if "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
       -artifact_prefix="$work/$name-" "$work/$name" "$corpus" >"$work/$name.log" 2>&1; then
    passed=$((passed + 1))
    echo "$name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name.log" | grep -o '[0-9]*$') runs, no failure"
  else
    failed=$((failed + 1))
    echo "$name FAILED:"; tail -n 40 "$work/$name.log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

# The Windows program: cross-built, zipped and its suites run under Wine. The
# first run builds Qt for Windows (about half an hour on 2 idle cores, then
# cached in ~/.cache/vesk); VESK_WINDOWS=0 leaves it out.
if [ "${VESK_WINDOWS:-1}" != 0 ]; then
  echo "== The Windows program under Wine"
  scripts/windows.sh
fi
