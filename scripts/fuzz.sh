#!/bin/sh
# Runs each fuzz target (tests/fuzz) for SECONDS (default 60) with a fixed seed, starting
# from its committed corpus and regressions: builds the `fuzz` preset (clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) first. Inputs that find new coverage go
# to build/fuzz/found/<target>, a crash to build/fuzz/artifacts/ (and the script fails).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: call worksheet (default both)
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-call worksheet}

cmake --preset fuzz >/dev/null
for target in $targets; do
  cmake --build --preset fuzz -j "$(nproc)" --target "${target}_fuzzer"
done
mkdir -p build/fuzz/artifacts
for target in $targets; do
  echo "== fuzz $target for $seconds s"
  mkdir -p "build/fuzz/found/$target"
  regressions=tests/fuzz/regressions/$target
  [ -d "$regressions" ] || regressions=
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/bin/${target}_fuzzer" -seed=1 -max_total_time="$seconds" -timeout=10 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
    "build/fuzz/found/$target" "tests/fuzz/corpus/$target" $regressions
done
