#!/bin/bash
# Configures and builds both widths: build/x86_64 and build/i686 (the shipped
# 32-bit programs), each with its tests; VIREO_ARCHES picks the widths
# (default "x86_64 i686"). The benchmarks are built for x86_64 only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"
for arch in ${VIREO_ARCHES:-x86_64 i686}; do
  dir="$root/build/$arch"
  opts=(-DVIREO_BUILD_TESTS=ON)
  [ "$arch" = i686 ] && opts+=(-DVIREO_BUILD_BENCH=OFF)
  # A new tree is made for Ninja (a fifth faster here than make); a tree made
  # before keeps its generator.
  [ -f "$dir/CMakeCache.txt" ] || ! command -v ninja >/dev/null || opts+=(-G Ninja)
  # Configure once, and again when a tree was configured with other options
  # (an older i686 tree without its tests).
  if [ ! -f "$dir/CMakeCache.txt" ] || ! grep -q '^VIREO_BUILD_TESTS:BOOL=ON$' "$dir/CMakeCache.txt"; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
          -DCMAKE_BUILD_TYPE=Release "${opts[@]}" >/dev/null
  fi
  quiet=()
  grep -q '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$' "$dir/CMakeCache.txt" && quiet=(-- --no-print-directory)
  cmake --build "$dir" -j "$jobs" "${quiet[@]}"
done
