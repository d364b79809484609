#!/bin/bash
# Sourced: prepares the Wine prefix of build/x86_64 and a display for it.
#   - a prefix inside the build tree (made once with wineboot, then kept),
#     with the X11 driver's "Managed" off so that closing windows is fast;
#   - DISPLAY: the caller's, or a private Xvfb (VIREO_HEADLESS=1 forces it);
#   - a persistent wineserver and one warm-up run on that display.
# Defines vireo_wine_stop to end the wineserver and the Xvfb it started.
vireo_build="${vireo_build:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/x86_64}"
export WINEPREFIX="$vireo_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
vireo_xvfb_pid=""

if [ -n "${VIREO_HEADLESS:-}" ] || [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 91 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    vireo_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    break
  done
fi
echo "$DISPLAY" > "$vireo_build/display"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
  wineserver -w
fi
wineserver -p
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true

vireo_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$vireo_xvfb_pid" ]; then kill "$vireo_xvfb_pid" >/dev/null 2>&1 || true; fi
}
