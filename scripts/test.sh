#!/bin/sh
# Runs every test: builds the native, asan and i686 presets and runs their tests (the
# 32-bit ones under qemu-i386), runs each fuzz target for 60 seconds from its committed
# corpus, builds the Windows package and checks that everything in it finds its imports
# and that the pack exports its records, builds the benchmark, and checks the formatting.
# Installs missing tools first when run as root.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

for preset in native asan i686; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz"
scripts/fuzz.sh 60

echo "== mingw"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" --target package
scripts/check-windows-package.sh

echo "== bench (built, not run)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs"

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "all tests passed"
