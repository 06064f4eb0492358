#!/bin/sh
# Configures and builds the program, its help file and its installer, and
# (unless "notests") the test programs: "32" (the default, the product)
# into build/, "64" (the same sources for 64-bit Windows) into build64/.
# build/bin/horavex.exe is the program.
set -eu
cd "$(dirname "$0")/.."

case "${1:-32}" in
    32) dir=build; toolchain=cmake/toolchain-mingw-i686.cmake ;;
    64) dir=build64; toolchain=cmake/toolchain-mingw-x86_64.cmake ;;
    *) echo "usage: $0 [32|64] [tests|notests]" >&2; exit 2 ;;
esac
case "${2:-tests}" in
    tests) tests=ON ;;
    notests) tests=OFF ;;
    *) echo "usage: $0 [32|64] [tests|notests]" >&2; exit 2 ;;
esac

if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DHORAVEX_TESTS="$tests"
elif ! grep -qx "HORAVEX_TESTS:BOOL=$tests" "$dir/CMakeCache.txt"; then
    cmake -S . -B "$dir" -DHORAVEX_TESTS="$tests"
fi
cmake --build "$dir" --parallel "$(nproc)"
