#!/bin/bash
# Benchmarks: builds what they need for x86_64, registers the simulated
# camera and the extension in the project's Wine prefix, runs vireobench on a
# private Xvfb and prints its tables (figure, floor, ratio) after a line
# describing the machine. A benchmark never fails on a time: the exit status
# only says whether the measurements could be taken.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
vireo_build="$root/build/x86_64"
if [ ! -f "$vireo_build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$vireo_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$vireo_build" -j 2 --target vireobench vireokeep simcam vireoprop >/dev/null

VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
bin="$vireo_build/bin"
wine=/usr/lib/wine/wine64
"$wine" regsvr32 /s "$bin/simcam.ax"
"$wine" regsvr32 /s "$bin/vireoprop.ax"

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
echo "Machine: $(nproc) cores, $cpu, $(wine64 --version 2>/dev/null || "$wine" --version), Xvfb"
status=0
(cd "$bin" && "$wine" vireobench.exe "$@" </dev/null) || status=$?

"$wine" regsvr32 /s /u "$bin/vireoprop.ax" || true
"$wine" regsvr32 /s /u "$bin/simcam.ax" || true
exit $status
