#!/bin/bash
# The viewer on the simulated camera: installs what is missing, builds,
# registers the extension (and the simulated camera, once it is built) in the
# project's own Wine prefix, and starts capview on this display (or on a
# private Xvfb when there is none). capview waits for one key: this script
# gives it one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
VIREO_ARCHES=x86_64 bash "$root/scripts/build.sh"
vireo_build="$root/build/x86_64"
source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
bin="$vireo_build/bin"
/usr/lib/wine/wine64 regsvr32 /s "$bin/vireoprop.ax"
[ -f "$bin/simcam.ax" ] && /usr/lib/wine/wine64 regsvr32 /s "$bin/simcam.ax"
cd "$bin"
# One key press for capview's prompt through a pseudo console.
{ sleep 2; printf '\r'; sleep 3600; } | script -qfec "/usr/lib/wine/wine64 capview.exe" /dev/null
