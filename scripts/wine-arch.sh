#!/bin/bash
# Sourced: the Wine of one width ($vireo_arch, default x86_64).
#   x86_64: the 64-bit loader, a 64-bit prefix.
#   i686:   the 32-bit loader (the private copy that scripts/setup.sh lays out;
#           natively, or under qemu-i386 through binfmt_misc where the kernel
#           runs no 32-bit code) in a 32-bit prefix.
# Both are served by the native 64-bit wineserver. Sets vireo_wine (the
# loader) and vireo_wineserver, exports what Wine reads, and defines
# vireo_make_prefix, which lays out $WINEPREFIX as a copy of a ready prefix.
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

# A ready prefix per width and Wine version, kept outside the build trees so
# that a fresh clone copies it (about a second) instead of creating one (7 s
# for 64-bit, half a minute for 32-bit under the emulator).
vireo_make_prefix() {
  local ready tmp side=""
  # A 64-bit prefix made while the 32-bit Wine was missing has no 32-bit side
  # (SysWOW64): one made with it is kept apart.
  [ "$vireo_arch" != x86_64 ] || [ ! -x /usr/lib/vireo-wine32/wine ] || side=-wow64
  ready="${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vireo/wineprefix-$vireo_arch$side-$("$vireo_wine" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' _)"
  if [ ! -f "$ready/system.reg" ]; then
    echo "wine: creating a ready $WINEARCH prefix $ready"
    mkdir -p "$(dirname "$ready")"
    tmp="$(mktemp -d "$ready.XXXXXX")"
    (
      export WINEPREFIX="$tmp"
      "$vireo_wine" wineboot.exe -i >/dev/null 2>&1 || true
      "$vireo_wineserver" -w
      "$vireo_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
      "$vireo_wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
      "$vireo_wineserver" -w
    )
    if [ ! -f "$tmp/system.reg" ]; then
      echo "wine: creating the prefix failed" >&2
      rm -rf "$tmp"
      return 1
    fi
    # Another run may have made it meanwhile: keep the first.
    mv -T "$tmp" "$ready" 2>/dev/null || rm -rf "$tmp"
  fi
  echo "wine: prefix $WINEPREFIX copied from $ready"
  rm -rf "$WINEPREFIX"
  cp -a "$ready" "$WINEPREFIX"
}
