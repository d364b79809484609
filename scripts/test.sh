#!/bin/bash
# Installs what is missing, builds both widths, runs every test of the x86_64
# build under Wine, and checks the shipped 32-bit artefacts.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
bash "$root/scripts/check-artefacts.sh"

vireo_build="$root/build/x86_64"
VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
cd "$vireo_build"
ctest --output-on-failure --timeout 300 "$@"
