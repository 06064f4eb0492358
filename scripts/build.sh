#!/bin/sh
# Configures (once) and builds the program and its tests into build/.
# build/bin/horavex.exe is the program.
set -eu
cd "$(dirname "$0")/.."

if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
          -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build --parallel "$(nproc)"
