#!/bin/bash
# Configures and builds both widths: build/x86_64 (run and tested here under
# Wine) and build/i686 (the shipped 32-bit programs).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"
for arch in ${VIREO_ARCHES:-x86_64 i686}; do
  dir="$root/build/$arch"
  extra=()
  [ "$arch" = i686 ] && extra=(-DVIREO_BUILD_TESTS=OFF -DVIREO_BUILD_BENCH=OFF)
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
          -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs" -- --no-print-directory
done
