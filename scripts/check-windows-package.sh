#!/bin/sh
# Checks the Windows package (by default the zip the mingw build's `package` target
# makes): unpacks it and walks the imports of every DLL and program in it. Each import
# must be a file in the same folder, a Windows system DLL listed below, or the host's
# utility library, which a host has loaded before it loads the pack (the package carries
# matsheet's stand-in in bin/). Every file the package holds is walked, so what the
# runtime DLLs import is checked too. Then checks the packaged matpack.dll's exports.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

package_name() {
  sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$root/build/mingw/CPackConfig.cmake"
}
zip=$(realpath "${1:-$root/build/mingw/$(package_name).zip}")

system_dlls="kernel32.dll msvcrt.dll user32.dll advapi32.dll shell32.dll ole32.dll
oleaut32.dll ws2_32.dll ntdll.dll"
host_dlls="ufnutils.dll"

lower() { printf '%s\n' "$1" | tr '[:upper:]' '[:lower:]'; }
listed() { printf '%s\n' $2 | grep -qxF "$1"; }

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d)

status=0
for path in bin/matsheet.exe bin/ufnutils.dll lib/matpack.dll examples/tour.sheet README.txt; do
  if [ ! -f "$top/$path" ]; then
    echo "$(basename "$zip") lacks $path" >&2
    status=1
  fi
done

binaries=$(cd "$top" && find . -type f \( -iname '*.dll' -o -iname '*.exe' \) | sort)
packaged=$(lower "$binaries")
packaged_names=$(printf '%s\n' "$packaged" | sed 's|.*/||')
for binary in $binaries; do
  folder=$(dirname "$binary")
  for import in $(i686-w64-mingw32-objdump -p "$top/$binary" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    name=$(lower "$import")
    if listed "$(lower "$folder")/$name" "$packaged" || listed "$name" "$system_dlls"; then
      continue
    fi
    if listed "$name" "$host_dlls" && listed "$name" "$packaged_names"; then
      continue
    fi
    echo "$binary imports $import, which is neither beside it nor a Windows system DLL" >&2
    status=1
  done
done
[ $status -eq 0 ] && echo "$(basename "$zip"): every file finds its imports:" $binaries

"$root/scripts/check-dll-exports.sh" "$top/lib/matpack.dll" || status=1
exit $status
