#!/bin/sh
# Configures (once) and builds the program and its tests: "32" (the default,
# the product) into build/, "64" (the same sources for 64-bit Windows) into
# build64/.  build/bin/horavex.exe is the program.
set -eu
cd "$(dirname "$0")/.."

case "${1:-32}" in
    32) dir=build; toolchain=cmake/toolchain-mingw-i686.cmake ;;
    64) dir=build64; toolchain=cmake/toolchain-mingw-x86_64.cmake ;;
    *) echo "usage: $0 [32|64]" >&2; exit 2 ;;
esac

if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$dir" --parallel "$(nproc)"
