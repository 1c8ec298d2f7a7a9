#!/usr/bin/env bash
# Builds the Windows programs and their tests with mingw-w64 (cmake/mingw-w64.cmake).
# Usage: scripts/windows-build.sh [BUILD_DIR]   (default build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows}
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKOV_WERROR=ON "${launcher[@]}" > /dev/null
ninja -C "$build" -j"$(nproc)"
