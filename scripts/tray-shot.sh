#!/bin/bash
# Screenshots of the keeper's notification-area icon in each of its states,
# on a light and on a dark taskbar: the keeper of build/x86_64 runs in a Wine
# virtual desktop (it has a taskbar with a notification area) on a private
# Xvfb, with the simulated camera. Writes build/tray-shots.png (or $1).
#   kept:      keeping on, the camera restored
#   not kept:  vireoctl keep off
#   refused:   the camera refuses its restore (simcamctl refuse ... SET_DATA)
#   menu:      a twin plugged in, the icon right-clicked: the keeper's menu
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/tray-shots.png}"
vireo_arch=x86_64 VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
bin="$root/build/x86_64/bin"
shots="$(mktemp -d)"
desk() { "$vireo_wine" explorer /desktop=tray,360x200 "$@" </dev/null >/dev/null 2>&1; }
wreg() { "$vireo_wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1; }
"$vireo_wine" regsvr32 /s "$bin/vireoprop.ax"
"$vireo_wine" regsvr32 /s "$bin/simcam.ax"
"$vireo_wine" "$bin/simcamctl.exe" reset >/dev/null 2>&1 || true
# shot NAME [GEOMETRY]: the taskbar's notification area (or GEOMETRY of the
# desktop), scaled up to 480 pixels wide.
shot() {
  sleep 4
  import -window root "$shots/screen.png"
  convert "$shots/screen.png" -crop "${2:-160x24+200+176}" +repage -scale 480x "$shots/$1.png"
}
for theme in light dark; do
  if [ $theme = light ]; then
    wreg 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' SystemUsesLightTheme REG_DWORD 1
    for c in ButtonFace Window Menu; do wreg 'HKCU\Control Panel\Colors' $c REG_SZ "243 243 243"; done
    wreg 'HKCU\Control Panel\Colors' MenuText REG_SZ "0 0 0"
  else
    wreg 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' SystemUsesLightTheme REG_DWORD 0
    for c in ButtonFace Window Menu; do wreg 'HKCU\Control Panel\Colors' $c REG_SZ "32 32 32"; done
    wreg 'HKCU\Control Panel\Colors' MenuText REG_SZ "240 240 240"
  fi
  "$vireo_wine" "$bin/vireoctl.exe" keep on >/dev/null 2>&1
  desk "$bin/vireokeep.exe" &
  sleep 3
  desk "$bin/vireoctl.exe" set EXPOSURE 500
  shot "$theme-1-kept"
  "$vireo_wine" "$bin/vireoctl.exe" keep off >/dev/null 2>&1
  shot "$theme-2-notkept"
  "$vireo_wine" "$bin/vireoctl.exe" keep on >/dev/null 2>&1
  sleep 3
  "$vireo_wine" "$bin/simcamctl.exe" refuse any SET_DATA 0x80070005 >/dev/null 2>&1
  desk "$bin/simcamctl.exe" unplug
  desk "$bin/simcamctl.exe" plug
  shot "$theme-3-refused"
  "$vireo_wine" "$bin/simcamctl.exe" reset >/dev/null 2>&1
  desk "$bin/simcamctl.exe" add "Vireo Simulated Camera"
  sleep 3
  xdotool mousemove 349 190 click 3 mousemove 20 20  # away: no tooltip over the menu
  shot "$theme-4-menu" 180x100+180+100
  xdotool key Escape
  desk "$bin/simcamctl.exe" -d 1 remove
  desk "$bin/vireokeep.exe" --exit || true
done
convert "$shots"/light-*.png -append "$shots/light.png"
convert "$shots"/dark-*.png -append "$shots/dark.png"
convert "$shots/light.png" "$shots/dark.png" +append "$out"
rm -rf "$shots"
echo "tray-shot: $out"
