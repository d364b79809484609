#!/bin/bash
# Sourced: prepares the Wine prefix of one build tree and a display for it.
#   - vireo_build: the tree (default build/$vireo_arch); vireo_arch: x86_64
#     (default; i686 when the tree is build/i686): which Wine runs it
#     (scripts/wine-arch.sh);
#   - a prefix inside the build tree, kept: the first time a copy of a ready
#     prefix of that width (made once per machine with wineboot, with the X11
#     driver's "Managed" off so that closing windows is fast);
#   - DISPLAY: the caller's, or a private Xvfb (VIREO_HEADLESS=1 forces it);
#   - a persistent wineserver and one warm-up run on that display.
# Defines vireo_wine_stop to end the wineserver and the Xvfb it started.
vireo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -z "${vireo_arch:-}" ]; then
  vireo_arch=x86_64
  [ -n "${vireo_build:-}" ] && [ "$(basename "$vireo_build")" = i686 ] && vireo_arch=i686
fi
vireo_build="${vireo_build:-$vireo_root/build/$vireo_arch}"
source "$vireo_root/scripts/wine-arch.sh"
export WINEPREFIX="$vireo_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
vireo_xvfb_pid=""

if [ -n "${VIREO_HEADLESS:-}" ] || [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display itself and names it (-displayfd), so runs
  # started side by side (scripts/test.sh runs the widths at once) never
  # take the same one.
  vireo_display_file="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$vireo_display_file" >/dev/null 2>&1 &
  vireo_xvfb_pid=$!
  for _ in $(seq 1 100); do [ -s "$vireo_display_file" ] && break; sleep 0.1; done
  [ -s "$vireo_display_file" ] || { echo "wine-env: Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(tr -d '\n' <"$vireo_display_file")"
  rm -f "$vireo_display_file"
fi
mkdir -p "$vireo_build"
echo "$DISPLAY" > "$vireo_build/display"

[ -f "$WINEPREFIX/system.reg" ] || vireo_make_prefix
"$vireo_wineserver" -p
"$vireo_wine" cmd /c exit </dev/null >/dev/null 2>&1 || true

vireo_wine_stop() {
  "$vireo_wineserver" -k >/dev/null 2>&1 || true
  if [ -n "$vireo_xvfb_pid" ]; then kill "$vireo_xvfb_pid" >/dev/null 2>&1 || true; fi
}
