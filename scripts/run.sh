#!/bin/bash
# The viewer on the simulated camera. Installs what is missing, builds,
# registers the extension and the simulated camera in the project's own Wine
# prefix and starts capview (with --props, camsettings beside it, showing the
# camera's "Camera Setting" page).
#
# On a display (DISPLAY set): the windows stay until you press Q in the
# viewer window (camsettings ends when you close its frame).
# Without one: everything runs on a private Xvfb; once the picture is live a
# screenshot of the screen is written (build/capview-screenshot.png, or the
# file given with --shot FILE), then the viewer is ended with Q.
#
# capview first waits for one key on its console: on a display, press it in
# this terminal; without one, this script gives it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

props=0
shot="$root/build/capview-screenshot.png"
while [ $# -gt 0 ]; do
  case "$1" in
    --props) props=1 ;;
    --shot) shot="$(realpath -m "$2")"; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; echo "usage: $0 [--props] [--shot FILE]"; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

headless=0
[ -n "${DISPLAY:-}" ] || headless=1

# A Japanese font, so that the viewer's title reads as it should.
bash "$root/scripts/setup.sh" fonts-ipafont-gothic
VIREO_ARCHES=x86_64 bash "$root/scripts/build.sh"
vireo_build="$root/build/x86_64"
source "$root/scripts/wine-env.sh"
bin="$vireo_build/bin"
wine=/usr/lib/wine/wine64

cleanup() {
  [ -n "${props_pid:-}" ] && kill "$props_pid" >/dev/null 2>&1 || true
  [ -n "${viewer_pid:-}" ] && kill "$viewer_pid" >/dev/null 2>&1 || true
  vireo_wine_stop
  [ -n "${fifos:-}" ] && rm -f "$fifos"
  true
}
trap cleanup EXIT

# Wine's caption font borrows its Japanese glyphs from that font.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
  /v Tahoma /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1 || true
"$wine" regsvr32 /s "$bin/vireoprop.ax"
"$wine" regsvr32 /s "$bin/simcam.ax"
cd "$bin"

# capview writes its console text in code page 932. Its standard output goes
# through a pipe (so that Wine's console does not reinterpret the bytes) and
# reaches a UTF-8 terminal converted line by line (iconv alone would wait for
# the end of its input).
to_terminal() {
  if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    cat
    return
  fi
  local line
  while IFS= read -r line || [ -n "$line" ]; do
    printf '%s\n' "${line%$'\r'}" | iconv -c -f CP932 -t UTF-8
  done
}

# Waits up to $2 seconds for a window whose title is $1; prints its X id.
wait_window() {
  local id=""
  for _ in $(seq 1 $(( $2 * 5 ))); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# Starts camsettings once the viewer window is there and puts its frame beside
# the viewer, so that both can be seen at once.
start_props() {
  local viewer frame width
  viewer=$(wait_window 'DirectShow' "$1") || return 0
  "$wine" camsettings.exe &
  props_pid=$!
  frame=$(wait_window 'Vireo Simulated Camera' 30) || return 0
  width=$(xdotool getwindowgeometry --shell "$viewer" | sed -n 's/^WIDTH=//p')
  xdotool windowmove "$frame" $(( ${width:-640} + 10 )) 0 >/dev/null 2>&1 || true
}

if [ "$headless" -eq 0 ]; then
  # On the user's display: capview reads its key from this terminal and its
  # banner shows here.
  if [ "$props" -eq 1 ]; then
    { start_props 600; wait; } &
    props_pid=$!
  fi
  "$wine" capview.exe > >(to_terminal) || status=$?
  exit "${status:-0}"
fi

# capview on a pseudo console; the key for its prompt goes in through a fifo
# that stays open while it runs.
fifo="$(mktemp -u)"
mkfifo "$fifo"
# Its banner comes back through a second fifo.
banner="$(mktemp -u)"
mkfifo "$banner"
fifos="$banner"
script -qfec "$wine capview.exe > $banner" /dev/null <"$fifo" >/dev/null &
viewer_pid=$!
to_terminal <"$banner" &
exec 3>"$fifo"
rm -f "$fifo"
sleep 2
printf '\r' >&3

[ "$props" -eq 1 ] && start_props 60

# No display of the user's: show that the picture is live, then end with Q.
if ! window=$(wait_window 'DirectShow' 60); then
  echo "run.sh: the viewer window did not appear" >&2
  exit 1
fi
sleep 2  # a few frames
mkdir -p "$(dirname "$shot")"
import -display "$DISPLAY" -window root "$shot"
echo "run.sh: screenshot of the viewer written to $shot"
if [ "$props" -eq 1 ]; then
  # The frame has the focus: Escape closes it as its Cancel button does.
  xdotool key Escape
  for _ in $(seq 1 50); do kill -0 "$props_pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$props_pid" 2>/dev/null; then
    echo "run.sh: camsettings did not end on Escape" >&2
  else
    wait "$props_pid" && echo "run.sh: camsettings ended with status 0" || echo "run.sh: camsettings ended with status $?"
  fi
  props_pid=""
fi
# A click activates the viewer window; Q there ends the viewer.
xdotool mousemove --window "$window" 100 100 click 1
sleep 0.5
xdotool key q
for _ in $(seq 1 100); do
  kill -0 "$viewer_pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$viewer_pid" 2>/dev/null; then
  echo "run.sh: the viewer did not end on Q" >&2
  exit 1
fi
status=0
wait "$viewer_pid" || status=$?
viewer_pid=""
echo "run.sh: the viewer ended on Q with status $status"
exit "$status"
