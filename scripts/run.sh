#!/bin/sh
# Builds the pack and the worksheet program, and runs the tour of the pack's functions.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
build/native/bin/matsheet examples/tour.sheet
