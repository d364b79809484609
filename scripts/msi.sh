#!/bin/bash
# Builds the Windows Installer packages from the build trees that
# scripts/build.sh made, with wixl (msitools):
#   build/msi/vireo-<version>-x86.msi   the 32-bit set, from build/i686
#   build/msi/vireo-<version>-x64.msi   both widths, from build/x86_64 and build/i686
# Each tree is first laid out as the kit installs it (cmake --install --strip),
# with the simulated camera's package beside it (--component simcam), in
# build/msi/stage-<width>; the packages take their files from there. A
# package whose trees are not both built is left out (and said so).
#   VIREO_MSI_VERSION   another product version (the tests build an older one)
#   VIREO_MSI_OUT       another output folder
#   VIREO_SIGN_PFX      sign the programs, modules and packages (scripts/sign.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
version="${VIREO_MSI_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
  "$root"/build/i686/CMakeCache.txt "$root"/build/x86_64/CMakeCache.txt 2>/dev/null | head -1)}"
[ -n "$version" ] || { echo "msi: no build tree: run scripts/build.sh first" >&2; exit 1; }
out="${VIREO_MSI_OUT:-$root/build/msi}"
mkdir -p "$out"

stage() {  # stage WIDTH: the installed layout of build/WIDTH, signed when asked
  local dir="$out/stage-$1"
  rm -rf "$dir"
  cmake --install "$root/build/$1" --prefix "$dir" --strip >/dev/null
  # The simulated camera's package (install component simcam), for the
  # packages' feature of its own.
  cmake --install "$root/build/$1" --prefix "$dir" --component simcam --strip >/dev/null
  bash "$root/scripts/sign.sh" "$dir"/bin/*.exe "$dir"/bin/*.ax
}
package() {  # package ARCH WIDTHS-TEXT DEFINES...
  local arch="$1" widths="$2" msi="$out/vireo-$version-$1.msi" kb
  shift 2
  kb=$(du -sk --apparent-size "$out/stage-i686/bin" "$out/stage-i686/include" \
         "$out/stage-i686/lib" "$out/stage-i686/samples" | awk '{ s += $1 } END { print s }')
  [ "$arch" = x86 ] || kb=$((kb + $(du -sk --apparent-size "$out/stage-x86_64/bin" | cut -f1)))
  sed -e "s/@VERSION@/$version/g" -e "s/@ARCH@/$arch/g" -e "s/@WIDTHS@/$widths/" \
    "$root/kit/msi/readme.txt.in" | sed 's/$/\r/' >"$out/readme-$arch.txt"
  # wixl takes the files' paths relative to the folder it runs in.
  (cd "$out" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Readme="readme-$arch.txt" -D SizeKb="$kb" \
    "$@" -o "$msi" "$root/kit/msi/vireo.wxs")
  bash "$root/scripts/sign.sh" "$msi"
  echo "msi: $msi"
}

have() { [ -f "$root/build/$1/bin/vireoprop.ax" ]; }
if ! have i686; then
  echo "msi: build/i686 is not built: no package (both need the 32-bit set)" >&2
  exit 1
fi
stage i686
package x86 "32-bit" -D Stage=stage-i686 -D Stage32=stage-i686
if have x86_64; then
  stage x86_64
  package x64 "64-bit and 32-bit" -D Stage=stage-x86_64 -D Stage32=stage-i686
else
  echo "msi: build/x86_64 is not built: no x64 package"
fi
