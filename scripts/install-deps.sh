#!/bin/sh
# Installs what this project needs on a fresh Debian machine: compilers for the four
# targets, the emulator the 32-bit tests run under, the test and benchmark libraries,
# libedit for matsheet's prompt, Python for the test that types at that prompt, and clang
# with libFuzzer for the fuzz targets.
# Does nothing when everything is there; needs root (apt-get) otherwise.
set -eu

packages="cmake g++ g++-multilib qemu-user g++-mingw-w64-i686 googletest libgtest-dev
libgmock-dev libbenchmark-dev liblapack-dev libopenblas0-pthread clang-format libedit-dev python3
clang libclang-rt-14-dev"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing >/dev/null
