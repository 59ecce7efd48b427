#!/bin/sh
# Times the pack's functions, called as a host calls them, against the reference LAPACK and
# OpenBLAS on one thread: builds the optimised pack and the benchmark (preset `bench`),
# prints Google Benchmark's report, then a table of the median times with the ratios pack /
# reference and pack / OpenBLAS. Extra arguments go to the benchmark, e.g.
# --benchmark_filter=lsolve.
# Run it on a quiet machine: other work on the cores shows up in the times.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target matpack_bench
exec build/bench/bin/matpack_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"
