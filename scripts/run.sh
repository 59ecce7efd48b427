#!/bin/sh
# Builds the pack and the worksheet program, and shows the function table the way a host
# loads it.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
build/native/bin/matsheet --list
