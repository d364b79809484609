#!/bin/bash
# msi_test.sh x64|x86: a Windows Installer package of build/msi (scripts/msi.sh)
# as a user's machine gets it, in a fresh Wine prefix of its platform (x64: a
# 64-bit prefix, which runs both widths, with both registry views and both
# Program Files folders; x86: a 32-bit prefix), the simulated camera
# registered for each width the prefix has:
#   1. regsvr32 of each width's module at the place the package installs it:
#      the registry the package must write. x64: unregistering one width
#      leaves the other its IFace and its page; unregistering the other
#      leaves no key of the module (the registry is as before), in both
#      orders.
#   2. an older package (1.10.0), then this one over it, each installed as
#      a user installs it (with the installer's window, /qr), which starts
#      the Camera Settings Keeper; the upgrade ends the older keeper before
#      it removes the older files: one entry in
#      Programs and Features, this version's files, and in both registry
#      views exactly the entries regsvr32 wrote (apart from the installer's
#      own bookkeeping). Each width's vireoctl reads the camera through
#      IFace; each width's launcher opens the "Camera Setting" page, whose
#      controls show what the camera holds. The Start-menu shortcut is there;
#      the policy templates lie in Vireo\policy, and a locked control set
#      as Group Policy sets it is refused by each width's vireoctl.
#   3. repair ends the running keeper and puts back a deleted program and a
#      deleted registry value.
#   4. silent removal with the keeper running: the package ends it, the
#      exported registry (both views, HKLM\System) and the file tree are as
#      before the install, the users' saved settings apart.
#   5. the simulated camera, a feature installed only on request: the camera
#      registered above leaves; a default install lists no video input
#      device to any width's vireoctl; ADDLOCAL=SimulatedCamera adds the
#      feature to it, and ADDLOCAL=ALL installs it anew: each time each
#      width's vireoctl lists the simulated camera, whose entries in each
#      registry view are exactly the ones regsvr32 of simcam.ax writes at
#      the package's places, and the installed simcamctl sees it; each
#      removal unregisters it: no device listed, registry and files as
#      before the install.
# x64 also: the x86 package refuses the 64-bit prefix and changes nothing.
# The keeper is installed of the package's width with its Run value.
# Wine's msiexec is the installer; the prefix is a copy of the machine's
# ready, never-used prefix of that width (scripts/wine-env.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
pkg="${1:?usage: msi_test.sh x64|x86}"
case "$pkg" in
  x64) vireo_arch=x86_64 widths="x86_64 i686" views="64 32" ;;
  x86) vireo_arch=i686 widths="i686" views="" ;;
  *) echo "msi_test: no package $pkg" >&2; exit 2 ;;
esac
msidir="${VIREO_MSI_OUT:-$root/build/msi}"
msi=$(ls "$msidir"/vireo-*-"$pkg".msi)
version=$(basename "$msi" | sed -E 's/^vireo-(.*)-[^-]*\.msi$/\1/')
work="$root/build/msi-test-$pkg"
rm -rf "$work"
mkdir -p "$work"
vireo_build="$work"
VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
"$vireo_wine" "$root/build/$vireo_arch/bin/desktop_keeper.exe" </dev/null >/dev/null 2>&1 &

drive="$WINEPREFIX/drive_c"
handler='{04F2A42A-479F-4511-8F03-1CE31876DBCC}'
w() { "$vireo_wine" "$@" </dev/null; }
# A path as Windows names it: C:\... inside the prefix's drive, Z:\... elsewhere.
winpath() {
  local p="$1" d="Z:"
  case "$p" in "$drive"/*) p="${p#"$drive"}" d="C:" ;; esac
  p="${p//\//\\}"
  echo "$d$p"
}
fail() { echo "msi($pkg): FAIL: $*"; exit 1; }
step() { echo "msi($pkg): $*"; }

# Where the package puts a width's programs.
bindir() {
  if [ "$pkg" = x64 ] && [ "$1" = i686 ]; then
    echo "$drive/Program Files (x86)/Vireo/bin"
  else
    echo "$drive/Program Files/Vireo/bin"
  fi
}

# The registry as reg exports it, and the file tree, leaving out what the
# installer keeps for itself (its product and component records, the cached
# package, the Programs and Features entry, checked on their own below) and
# the display entries Wine writes anew whenever its desktop starts.
filter() {
  awk '/^\[/ { k = $0
               skip = index(k, "\\Classes\\Installer]") || index(k, "\\Classes\\Installer\\") ||
                      index(k, "\\CurrentVersion\\Installer]") ||
                      index(k, "\\CurrentVersion\\Installer\\") ||
                      index(k, "\\CurrentVersion\\Uninstall\\{") || index(k, "\\Control\\Video\\") ||
                      index(k, "\\CurrentVersion\\Run]") }
       !skip && !/^"DriverDateData"=/'
}
export_key() {  # export_key KEY FILE [VIEW]
  w reg export "$1" "$(winpath "$2.reg")" ${3:+/reg:$3} /y >/dev/null || fail "reg export $1 $3"
  iconv -f UTF-16LE -t UTF-8 "$2.reg" | tr -d '\r' | filter >"$2"
  rm -f "$2.reg"
}
snapshot() {  # snapshot NAME
  local dir="$work/$1"
  mkdir -p "$dir"
  if [ -n "$views" ]; then
    for view in $views; do export_key 'HKLM\Software' "$dir/software-$view.txt" "$view"; done
  else
    export_key 'HKLM\Software' "$dir/software.txt"
  fi
  export_key 'HKLM\System' "$dir/system.txt"
  (cd "$drive" && find . -path ./windows/Installer -prune -o -printf '%p %s\n' | sort) \
    | grep -v '^\./users/[^/]*/AppData/Local/Vireo' >"$dir/files.txt"
}
same() {  # same A B [what]: the snapshots' registry (and file tree) are equal
  local f
  for f in "$work/$1"/*.txt; do
    [ "${3:-}" != registry ] || [ "$(basename "$f")" != files.txt ] || continue
    diff -u "$f" "$work/$2/$(basename "$f")" >"$work/diff.txt" ||
      { head -40 "$work/diff.txt"; fail "$2 differs from $1 in $(basename "$f")"; }
  done
}

# Each width's vireoctl reads all fifteen controls through IFace; that
# width's launcher then opens the page, whose exposure control and text show
# what vireoctl read.
check_width() {  # check_width WIDTH BINDIR
  local out current shown
  out=$(w "$2/vireoctl.exe" info 2>&1 | tr -d '\r') || fail "$1 vireoctl info: $out"
  [ "$(echo "$out" | grep -c ' enable 1 ')" -eq 15 ] || fail "$1 vireoctl info: $out"
  current=$(echo "$out" | sed -n -E 's/^EXPOSURE .* current ([0-9]+) \[(.*)\]$/\1 \2/p')
  [ -n "$current" ] || fail "$1 vireoctl info: no EXPOSURE: $out"
  out=$(w "$root/build/$1/bin/pagecheck.exe" "$(winpath "$2")\\camsettings.exe" 2>&1 |
        tr -d '\r') || fail "$1 launcher: $out"
  echo "$out" | grep -qx "EXPOSURE $current" || fail "$1 page shows: $out (vireoctl: $current)"
  step "$1: vireoctl reads the camera through IFace, the launcher's page shows EXPOSURE $current"
}
lacks_iface() {  # lacks_iface WIDTH BINDIR: vireoctl finds IFace only for the other width (status 5)
  local status=0
  w "$2/vireoctl.exe" info >/dev/null 2>&1 || status=$?
  [ "$status" -eq 5 ] || fail "$1 vireoctl info: status $status, not 5 (IFace only for the other width)"
}
product_entries() {  # the Programs and Features entries of the product, one per line
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | grep -c 'DisplayName    REG_SZ    Vireo Camera Support$' || true
}
entry_value() {  # entry_value NAME: the value of the product's entry
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | awk -v name="$1" '
      /^HKEY_/ { key = $0 }
      $1 == "DisplayName" && $0 ~ /Vireo Camera Support$/ { found = key }
      $1 == name { v[key] = $3 }
      END { print v[found] }'
}

# The proxy's parent keys, which Windows has; the simulated camera of each
# width.
for key in MediaSets MediaInterfaces; do
  w reg add "HKLM\\System\\CurrentControlSet\\Control\\$key" /f >/dev/null
done
for width in $widths; do
  w regsvr32 /s "$(winpath "$root/build/$width/bin/simcam.ax")" || fail "simcam.ax ($width)"
done
snapshot before

if [ "$pkg" = x64 ]; then
  # The 32-bit package on 64-bit Windows: refused, nothing written.
  status=0
  w msiexec /i "$(winpath "$(ls "$msidir"/vireo-*-x86.msi)")" /qn || status=$?
  [ "$status" -ne 0 ] || fail "the x86 package installed on 64-bit Windows"
  snapshot refused
  same before refused
  step "the x86 package refuses 64-bit Windows (status $status) and changes nothing"
fi

# 1. regsvr32 of the modules at the package's places.
for width in $widths; do
  mkdir -p "$(bindir "$width")"
  cp "$msidir/stage-$width/bin/"{vireoprop.ax,vireoctl.exe,camsettings.exe} "$(bindir "$width")/"
done
register() {  # register WIDTH [/u]
  w regsvr32 /s ${2:-} "$(winpath "$(bindir "$1")/vireoprop.ax")" || fail "regsvr32 ${2:-} ($1)"
}
for width in $widths; do register "$width"; done
snapshot regsvr32
if [ "$pkg" = x64 ]; then
  for first in x86_64 i686; do
    other=i686
    [ "$first" = x86_64 ] || other=x86_64
    register "$first" /u
    lacks_iface "$first" "$(bindir "$first")"
    check_width "$other" "$(bindir "$other")"
    register "$other" /u
    snapshot "without-$other"
    same before "without-$other" registry
    step "regsvr32 /u of $first left $other its IFace and page; of $other too: no key left"
    for width in $widths; do register "$width"; done
  done
  for width in $widths; do register "$width" /u; done
else
  register i686 /u
fi
rm -rf "$drive/Program Files/Vireo" "$drive/Program Files (x86)/Vireo"
snapshot unregistered
same before unregistered

# The keeper's log: how many keepers started and ended so far.
log="$drive/users/$(id -un)/AppData/Local/Vireo/keeper.log"
logged() { grep -c "$1" "$log" 2>/dev/null || true; }
wait_logged() {  # wait_logged TEXT COUNT WHAT: TEXT is logged COUNT times within 20 s
  for _ in $(seq 1 100); do [ "$(logged "$1")" -ge "$2" ] && return 0; sleep 0.2; done
  fail "$3 (the keeper's log: $(tr -d '\r' <"$log" 2>/dev/null | tail -5))"
}

# 2. An older package, then this one over it (a major upgrade), each as a
# user installs it: the installer's window (/qr, reduced UI) starts the
# keeper, and the upgrade's removal of the older version ends it first.
VIREO_MSI_VERSION=1.10.0 VIREO_MSI_OUT="$work/older" bash "$root/scripts/msi.sh" >/dev/null
w msiexec /i "$(winpath "$work/older/vireo-1.10.0-$pkg.msi")" /qr || fail "msiexec /i (1.10.0)"
[ "$(entry_value DisplayVersion)" = 1.10.0 ] || fail "1.10.0 is not in Programs and Features"
wait_logged 'start: vireokeep' 1 "the install did not start the keeper"
w msiexec /i "$(winpath "$msi")" /qr || fail "msiexec /i"
wait_logged 'end (close)' 1 "the upgrade did not end the older keeper"
wait_logged 'start: vireokeep' 2 "the upgrade did not start its keeper"
step "each install started the keeper; the upgrade ended the older one first"
[ "$(product_entries)" -eq 1 ] || fail "$(product_entries) entries in Programs and Features"
[ "$(entry_value DisplayVersion)" = "$version" ] || fail "version $(entry_value DisplayVersion)"
[ "$(entry_value Publisher)" = Zr58_K ] || fail "publisher $(entry_value Publisher)"
size=$(entry_value Size)
[ "${size:-0}" -gt 0 ] || fail "no size in Programs and Features"
grep -q "support $version" "$drive/Program Files/Vireo/readme.txt" || fail "the readme is not $version's"
step "upgraded from 1.10.0: one entry, Vireo Camera Support $version by Zr58_K, $size KB"
snapshot installed
same regsvr32 installed registry
step "the package wrote exactly the entries regsvr32 writes ($(echo $widths))"
for width in $widths; do
  check_width "$width" "$(bindir "$width")"
  for file in "$(bindir "$width")"/*; do
    strings -el "$file" | grep -cx 1.11.0.0 >/dev/null || fail "$file has no version 1.11.0.0"
  done
done
link=$(ls "$drive"/ProgramData/Microsoft/Windows/"Start Menu"/Programs/Vireo/*.lnk \
          "$drive"/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/Vireo/*.lnk \
          2>/dev/null || true)
[ "$(basename "$link")" = "Camera Settings.lnk" ] || fail "Start-menu shortcut: $link"
{ strings -a "$link"; strings -a -el "$link"; } | grep -ci 'Vireo\\bin\\camsettings.exe' >/dev/null || fail "the shortcut's target"

run=$(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v VireoKeeper 2>/dev/null |
      tr -d '\r' | sed -n 's/^ *VireoKeeper *REG_SZ *//p')
[ "$run" = "\"$(winpath "$drive/Program Files/Vireo/bin")\\vireokeep.exe\"" ] ||
  fail "the keeper's Run value: $run"
step "the keeper ($vireo_arch) starts at sign-in: Run value $run"

# The policy templates beside the programs, as the build generated them; a
# locked control, written as the policy engine writes it (the 64-bit view),
# refused by each width's vireoctl with its own status.
for f in vireo.admx en-US/vireo.adml; do
  cmp -s "$drive/Program Files/Vireo/policy/$f" "$root/build/$vireo_arch/policy/$f" ||
    fail "the template policy\\$f is not the build's"
done
policies='HKLM\Software\Policies'
had_policies=0
w reg query "$policies" ${views:+/reg:64} >/dev/null 2>&1 && had_policies=1
w reg add "$policies\Vireo\Camera\Mandatory" /v EXPOSURE /t REG_DWORD /d 800 /f \
  ${views:+/reg:64} >/dev/null || fail "reg add of the policy"
for width in $widths; do
  status=0
  w "$(bindir "$width")/vireoctl.exe" set EXPOSURE=300 >"$work/locked.txt" 2>&1 || status=$?
  [ "$status" -eq 6 ] && grep -q 'EXPOSURE is locked at 800' "$work/locked.txt" ||
    fail "$width vireoctl set of a locked control: status $status: $(cat "$work/locked.txt")"
done
if [ "$had_policies" = 1 ]; then
  w reg delete "$policies\Vireo" /f ${views:+/reg:64} >/dev/null
else
  w reg delete "$policies" /f ${views:+/reg:64} >/dev/null
fi
step "the policy templates lie in Vireo\\policy as built; a locked EXPOSURE is refused by $(echo $widths)'s vireoctl (status 6)"

# 3. Repair.
rm "$(bindir i686)/vireoctl.exe"
w reg delete "HKLM\\Software\\Classes\\CLSID\\$handler\\InprocServer32" /f /reg:32 >/dev/null
# The properties that msiexec /famus sets (Wine's msiexec answers /f with
# "unknown product", 1605).
w msiexec /i "$(winpath "$msi")" REINSTALL=ALL REINSTALLMODE=amus /qn || fail "repair"
wait_logged 'end (close)' 2 "the repair did not end the running keeper"
snapshot repaired
same installed repaired
step "repair ended the running keeper and put back vireoctl.exe and the handler's registration"

# 4. Silent removal, the keeper running (started as the Run value starts it).
"$vireo_wine" "$drive/Program Files/Vireo/bin/vireokeep.exe" </dev/null >/dev/null 2>&1 &
keeper=$!
wait_logged 'start: vireokeep' 3 "the keeper did not start"
w msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x"
wait_logged 'end (close)' 3 "the removal did not end the running keeper"
for _ in $(seq 1 50); do kill -0 "$keeper" 2>/dev/null || break; sleep 0.2; done
! kill -0 "$keeper" 2>/dev/null || fail "the keeper still runs after the removal"
[ -f "$log" ] || fail "the removal took the user's keeper log"
[ "$(product_entries)" -eq 0 ] || fail "the entry stays in Programs and Features"
snapshot removed
same before removed
step "removed, the running keeper ended by the package: registry ($([ -n "$views" ] && echo "both views, " )HKLM\\System) and files as before, the user's settings kept"

# 5. The simulated camera's feature. First the camera the steps above used
# leaves, and regsvr32 of each width's simcam.ax at the package's places
# gives the entries the feature must write: its class and its device in the
# video input category, in each registry view.
simclass='{D0AF50DC-6191-401C-AD58-C7AED26E8597}'
simkeys() {  # simkeys NAME: the simulated camera's keys in each view ("" where none)
  local dir="$work/$1" view key
  mkdir -p "$dir"
  for view in ${views:-native}; do
    for key in "CLSID\\$simclass" "CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\$simclass"; do
      # (Wine's reg says a key is missing on standard output.)
      w reg query "HKLM\\Software\\Classes\\$key" /s ${views:+/reg:$view} 2>&1 | tr -d '\r' |
        grep -v '^reg: ' || true
    done >"$dir/$view.txt"
  done
}
lists_camera() {  # lists_camera WIDTH VIREOCTL yes|no: that width's programs see the camera, or no device
  local out status=0
  out=$(w "$2" list 2>&1 | tr -d '\r') || status=$?
  if [ "$3" = yes ]; then
    [ "$status" -eq 0 ] && echo "$out" | grep -q '^0  Vireo Simulated Camera  IFace: yes  id: ' ||
      fail "$1 vireoctl list (status $status): $out"
  else
    [ "$status" -eq 3 ] || fail "$1 vireoctl list: status $status, not 3 (no device): $out"
  fi
}
for width in $widths; do
  w regsvr32 /s /u "$(winpath "$root/build/$width/bin/simcam.ax")" || fail "regsvr32 /u simcam.ax ($width)"
  mkdir -p "$(bindir "$width")"
  cp "$msidir/stage-$width/bin/simcam.ax" "$(bindir "$width")/"
done
for width in $widths; do
  w regsvr32 /s "$(winpath "$(bindir "$width")/simcam.ax")" || fail "regsvr32 simcam.ax ($width)"
done
simkeys sim-regsvr32
for file in "$work"/sim-regsvr32/*.txt; do
  grep -q '^ *FilterData ' "$file" || fail "regsvr32 listed no device ($(basename "$file" .txt))"
done
for width in $widths; do
  w regsvr32 /s /u "$(winpath "$(bindir "$width")/simcam.ax")" || fail "regsvr32 /u simcam.ax ($width)"
done
rm -rf "$drive/Program Files/Vireo" "$drive/Program Files (x86)/Vireo"
# Wine's msiexec takes away each key its removal leaves empty, and the empty
# keys above it: so the keys regsvr32 /u left empty (the category's Instance
# key the filter mapper keeps; in the 32-bit view the category and CLSID
# keys themselves) go before the install, as the removal would take them.
prune() {  # prune KEY...: in each view, each key deleted while it holds nothing (deepest first)
  local key view
  for key in "$@"; do
    for view in ${views:-native}; do
      [ -n "$(w reg query "$key" ${views:+/reg:$view} 2>&1 | tr -d '\r' | grep .)" ] ||
        w reg delete "$key" /f ${views:+/reg:$view} >/dev/null || fail "reg delete $key"
    done
  done
}
category='HKLM\Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}'
prune "$category\Instance" "$category" 'HKLM\Software\Classes\CLSID'
snapshot sim-before
simkeys sim-none
! grep -q . "$work"/sim-none/*.txt || fail "regsvr32 /u left keys of the simulated camera"

with_feature() {  # with_feature HOW: each width lists the camera, with regsvr32's keys; its files
  local out file width
  for width in $widths; do
    lists_camera "$width" "$(bindir "$width")/vireoctl.exe" yes
    strings -el "$(bindir "$width")/simcam.ax" | grep -cx 1.11.0.0 >/dev/null ||
      fail "simcam.ax ($width) has no version 1.11.0.0"
  done
  simkeys sim-feature
  same sim-regsvr32 sim-feature
  out=$(w "$drive/Program Files/Vireo/bin/simcamctl.exe" list 2>&1 | tr -d '\r') || fail "simcamctl list: $out"
  echo "$out" | grep -q $'^0\tVireo Simulated Camera\t.*\tplugged$' || fail "simcamctl list: $out"
  for file in include/vireosim.h lib/libvireosim.a lib/cmake/vireosim/vireosimConfig.cmake \
              samples/simcam/simtest_c.c; do
    [ -f "$drive/Program Files/Vireo/$file" ] || fail "$1 did not install $file"
  done
  step "$1: each width lists the simulated camera, its keys in each view are regsvr32's; simcamctl, vireosim.h, its library, CMake package and sample installed"
}
removed() {  # removed: no device listed to any width, registry and files as before
  local width
  w msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x (with the simulated camera)"
  for width in $widths; do
    lists_camera "$width" "$root/build/$width/bin/vireoctl.exe" no
  done
  snapshot sim-removed
  same sim-before sim-removed
  step "removed: no video input device listed, registry and files as before"
}

# A default install, then the feature added by its id; a new install of
# every feature.
w msiexec /i "$(winpath "$msi")" /qn || fail "msiexec /i (default features)"
for width in $widths; do
  lists_camera "$width" "$(bindir "$width")/vireoctl.exe" no
  [ ! -e "$(bindir "$width")/simcam.ax" ] || fail "a default install put simcam.ax ($width) in place"
done
simkeys sim-default
same sim-none sim-default
step "a default install lists no video input device ($(echo $widths)) and writes no key of the simulated camera"
w msiexec /i "$(winpath "$msi")" ADDLOCAL=SimulatedCamera /qn || fail "msiexec /i ADDLOCAL=SimulatedCamera"
with_feature "ADDLOCAL=SimulatedCamera added to the installed kit"
removed
w msiexec /i "$(winpath "$msi")" ADDLOCAL=ALL /qn || fail "msiexec /i ADDLOCAL=ALL"
with_feature "ADDLOCAL=ALL"
removed

"$vireo_wineserver" -k >/dev/null 2>&1 || true
"$vireo_wineserver" -w
rm -rf "$WINEPREFIX"
echo "msi($pkg): passed"
