#!/bin/bash
# Sourced: the Wine of one width ($vireo_arch, default x86_64).
#   x86_64: the 64-bit loader, a 64-bit prefix.
#   i686:   the 32-bit loader (the private copy that scripts/setup.sh lays out;
#           natively, or under qemu-i386 through binfmt_misc where the kernel
#           runs no 32-bit code) in a 32-bit prefix.
# Both are served by the native 64-bit wineserver. Sets vireo_wine (the
# loader) and vireo_wineserver, and exports what Wine reads.
vireo_wineserver=/usr/lib/wine/wineserver64
case "${vireo_arch:-x86_64}" in
  i686)
    vireo_wine=/usr/lib/vireo-wine32/wine
    export WINEARCH=win32 WINELOADER="$vireo_wine" ;;
  x86_64)
    vireo_wine=/usr/lib/wine/wine64
    export WINEARCH=win64 ;;
  *)
    echo "wine-arch: no Wine for ${vireo_arch}" >&2
    return 1 ;;
esac
export WINESERVER="$vireo_wineserver"
