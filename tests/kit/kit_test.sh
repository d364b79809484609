#!/bin/bash
# kit_test.sh BUILD_DIR TOOLCHAIN_FILE: the kit of BUILD_DIR (either width,
# in a prefix of that width) as a user gets it, with the simulated camera's
# package beside it. Zips both with cpack, unpacks the zips into a fresh Wine
# prefix, runs the package's register.cmd and the kit's install.cmd, builds
# the C89 and C++ samples against the installed CMake package
# (find_package(vireo), vireo::camera) and the package's C89 sample against
# both (find_package(vireosim), vireo::simcam), runs them and "vireoctl info"
# on the simulated camera, runs uninstall.cmd and unregister.cmd and compares
# the registry with what it was before each. An install.cmd beside a broken
# module reports the failure with its code.
set -euo pipefail
build="$1"
toolchain="$2"
work="$build/kit-test"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
vireo_arch=$(basename "$toolchain" .cmake)
vireo_arch=${vireo_arch#toolchain-}
source "$(dirname "$0")/../../scripts/wine-arch.sh"
wine="$vireo_wine"
trap '"$vireo_wineserver" -k >/dev/null 2>&1 || true' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The fresh prefix is made while the kit and the simulated camera's package
# are zipped.
"$wine" wineboot.exe -i >/dev/null 2>&1 &
boot=$!
(cd "$build" && cpack -G ZIP -B "$work/package" >/dev/null &&
  cpack --config CPackSimConfig.cmake -B "$work/sim-package" >/dev/null)
zip=$(ls "$work"/package/vireo-*-win*.zip)
simzip=$(ls "$work"/sim-package/vireo-sim-*-win*.zip)
echo "kit: $(basename "$zip") and $(basename "$simzip")"
wait "$boot" || true
"$vireo_wineserver" -w
"$vireo_wineserver" -p
drive="$WINEPREFIX/drive_c"
(cd "$drive" && cmake -E tar xf "$zip" && cmake -E tar xf "$simzip")
kit=$(ls -d "$drive"/vireo-[0-9]*-win*)
sim=$(ls -d "$drive"/vireo-sim-*-win*)
! grep -l '\.debug_info' "$kit"/bin/* "$sim"/bin/* || fail "the programs carry debugging sections"
winkit="C:\\$(basename "$kit")"
winsim="C:\\$(basename "$sim")"

# The proxy's keys, which Windows itself has; and the video input
# category's instance key, which the filter mapper leaves behind once it has
# listed a device (Windows has it with any camera).
for key in MediaSets MediaInterfaces; do
  "$wine" reg add "HKLM\\System\\CurrentControlSet\\Control\\$key" /f >/dev/null
done
"$wine" reg add 'HKLM\Software\Classes\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance' /f >/dev/null
snapshot() {
  for key in 'HKLM\Software\Classes' 'HKLM\System\CurrentControlSet\Control\MediaSets' \
             'HKLM\System\CurrentControlSet\Control\MediaInterfaces'; do
    "$wine" reg query "$key" /s 2>&1 | tr -d '\r'
  done
}
snapshot > "$work/registry-empty.txt"
# The test's camera, from its package; the kit's vireoctl lists it.
out=$("$wine" cmd /c "$winsim\\register.cmd" 2>&1 | tr -d '\r') || fail "register.cmd: $out"
echo "$out"
[ "$out" = "register: simcam.ax registered, Vireo Simulated Camera listed" ] || fail "register.cmd said: $out"
out=$("$wine" "$kit/bin/vireoctl.exe" list 2>&1 | tr -d '\r') || fail "vireoctl list: $out"
echo "$out" | grep -q '^0  Vireo Simulated Camera  IFace: no ' || fail "vireoctl list: $out"
snapshot > "$work/registry-before.txt"

# The samples build against the unpacked packages while install.cmd runs.
{ cmake -S "$kit/samples" -B "$work/sample" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$work/sample" &&
  cmake -S "$sim/samples/simcam" -B "$work/simsample" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_PREFIX_PATH="$kit;$sim" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$work/simsample"; } >"$work/sample-build.log" 2>&1 &
sample=$!

# Into a file, not a pipe: the keeper that install.cmd starts holds the Unix
# descriptors it was started with (Wine passes them on), so a pipe would stay
# open as long as the keeper runs.
status=0
"$wine" cmd /c "$winkit\\install.cmd" >"$work/install.out" 2>&1 || status=$?
out=$(tr -d '\r' <"$work/install.out")
[ "$status" -eq 0 ] || fail "install.cmd: $out"
echo "$out"
[ "$out" = "install: vireoprop.ax registered, the Camera Settings Keeper started and set to start at sign-in" ] ||
  fail "install.cmd said: $out"
view=$(grep -o 'reg:[0-9]*' "$kit/install.cmd" | head -1)
run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
"$wine" reg query "$run" /v VireoKeeper "/$view" 2>/dev/null | tr -d '\r' |
  grep -qF "\"$winkit\\bin\\vireokeep.exe\"" || fail "no Run value for the keeper"
# The keeper's log says when it started and when it ended.
log="$drive/users/$(id -un)/AppData/Local/Vireo/keeper.log"
for _ in $(seq 1 100); do grep -qs ' start: vireokeep' "$log" && break; sleep 0.2; done
grep -qs ' start: vireokeep' "$log" || fail "install.cmd did not start the keeper"
"$wine" reg query 'HKLM\Software\Classes\CLSID\{04F2A42A-479F-4511-8F03-1CE31876DBCC}\InprocServer32' \
  >/dev/null 2>&1 || fail "the handler's class is not registered"

wait "$sample" || { cat "$work/sample-build.log"; fail "the samples do not build against the kit"; }
grep -q "vireo_DIR:PATH=$kit/lib/cmake/vireo" "$work/sample/CMakeCache.txt" ||
  fail "find_package(vireo) did not find the unpacked kit"
grep -q -- "$kit/include" "$work/sample/CMakeFiles/exposure_c.dir/includes_C.rsp" ||
  fail "the C sample was not compiled against the kit's include folder"
grep -q -- "-std=c90" "$work/sample/CMakeFiles/exposure_c.dir/flags.make" ||
  fail "the C sample was not compiled as C89"
for sample in exposure_c exposure_cpp; do
  cat "$work/sample/CMakeFiles/$sample.dir/link"* | grep -q -- "$kit/lib/libvireocamera.a" ||
    fail "$sample was not linked with the kit's camera library"
done
# The simulated camera's sample: its package found, and the kit through it.
for found in "vireosim_DIR:PATH=$sim/lib/cmake/vireosim" "vireo_DIR:PATH=$kit/lib/cmake/vireo"; do
  grep -qx "$found" "$work/simsample/CMakeCache.txt" || fail "the simulated camera's sample: no $found"
done
grep -q -- "-std=c90" "$work/simsample/CMakeFiles/simtest_c.dir/flags.make" ||
  fail "the simulated camera's sample was not compiled as C89"
for lib in "$sim/lib/libvireosim.a" "$kit/lib/libvireocamera.a"; do
  cat "$work/simsample/CMakeFiles/simtest_c.dir/link"* | grep -q -- "$lib" ||
    fail "the simulated camera's sample was not linked with $lib"
done

# The C program writes 500; the C++ program, a program later, reads it and
# writes the factory value back.
out=$("$wine" "$work/sample/exposure_c.exe" 500 2>&1 | tr -d '\r') || fail "exposure_c: $out"
echo "$out"
[ "$out" = $'read EXPOSURE = 284 (28.4 msec)\nwrote EXPOSURE = 500' ] || fail "exposure_c: $out"
out=$("$wine" "$work/sample/exposure_cpp.exe" 284 2>&1 | tr -d '\r') || fail "exposure_cpp: $out"
echo "$out"
[ "$out" = $'read EXPOSURE = 500 (50.0 msec)\nwrote EXPOSURE = 284' ] || fail "exposure_cpp: $out"

# The application sees the refusal the sample's test sets, then the camera
# gone (and the camera is back at its factory values). The running keeper
# would give the camera back whatever it last remembered, 284 or 500 as its
# timer fell, so settings are not kept here; the keeper still sees the replug.
"$wine" "$kit/bin/vireoctl.exe" keep off >/dev/null 2>&1 || fail "vireoctl keep off"
simtest=$'EXPOSURE SET_DATA, refused once: 0x80070005 as expected
EXPOSURE SET_DATA again: 0x00000000 as expected
EXPOSURE GET_DATA, unplugged: 0x8007048F as expected'
out=$("$wine" "$work/simsample/simtest_c.exe" 2>&1 | tr -d '\r') || fail "simtest_c: $out"
echo "$out"
[ "$out" = "$simtest" ] || fail "simtest_c: $out"

out=$("$wine" "$kit/bin/vireoctl.exe" info 2>&1 | tr -d '\r') || fail "vireoctl info: $out"
echo "$out"
[ "$(echo "$out" | grep -c ' enable 1 ')" -eq 15 ] || fail "vireoctl info: not fifteen controls"
echo "$out" | grep -q '^EXPOSURE .* current 284 \[28.4 msec\]$' || fail "vireoctl info: exposure"
for _ in $(seq 1 150); do grep -qs 'skip restore .*(arrival): settings not kept' "$log" && break; sleep 0.2; done
grep -qs 'skip restore .*(arrival): settings not kept' "$log" || fail "the keeper did not see the camera come back"
"$wine" "$kit/bin/vireoctl.exe" keep on >/dev/null 2>&1 || fail "vireoctl keep on"

out=$("$wine" cmd /c "$winkit\\uninstall.cmd" 2>&1 | tr -d '\r') || fail "uninstall.cmd: $out"
echo "$out"
[ "$out" = "uninstall: vireoprop.ax unregistered" ] || fail "uninstall.cmd said: $out"
tail -n 1 "$log" | grep -q ' end (close)' || fail "uninstall.cmd left the keeper running: $(tail -n 1 "$log")"
! "$wine" reg query "$run" /v VireoKeeper "/$view" >/dev/null 2>&1 || fail "the keeper's Run value stays"
snapshot > "$work/registry-after.txt"
diff -u "$work/registry-before.txt" "$work/registry-after.txt" || fail "the registry differs after uninstall.cmd"
grep -q 'MediaSets' "$work/registry-before.txt" || fail "the registry snapshot is empty"

# Without the kit the application cannot open the camera: the sample fails.
status=0
out=$("$wine" "$work/simsample/simtest_c.exe" 2>&1 | tr -d '\r') || status=$?
echo "$out (status $status)"
[ "$status" -eq 1 ] && echo "$out" | grep -q '^camera: the device offers no IFace' ||
  fail "simtest_c without the kit: $out (status $status)"

# unregister.cmd: no camera listed, the registry as before register.cmd.
out=$("$wine" cmd /c "$winsim\\unregister.cmd" 2>&1 | tr -d '\r') || fail "unregister.cmd: $out"
echo "$out"
[ "$out" = "unregister: simcam.ax unregistered" ] || fail "unregister.cmd said: $out"
status=0
"$wine" "$kit/bin/vireoctl.exe" list >/dev/null 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "vireoctl list after unregister.cmd: status $status, not 3 (no device)"
snapshot > "$work/registry-after.txt"
diff -u "$work/registry-empty.txt" "$work/registry-after.txt" || fail "the registry differs after unregister.cmd"

# A second uninstall or unregister (or one for the other width) succeeds and
# says so.
out=$("$wine" cmd /c "$winkit\\uninstall.cmd" 2>&1 | tr -d '\r') || fail "uninstall.cmd again: $out"
echo "$out"
echo "$out" | grep -q '^uninstall: vireoprop.ax is not registered (.*): nothing to remove$' ||
  fail "uninstall.cmd again said: $out"
out=$("$wine" cmd /c "$winsim\\unregister.cmd" 2>&1 | tr -d '\r') || fail "unregister.cmd again: $out"
echo "$out"
echo "$out" | grep -q '^unregister: simcam.ax is not registered (.*): nothing to remove$' ||
  fail "unregister.cmd again said: $out"

# Without administrator rights the scripts stop before regsvr32, with their
# own status: here a net.exe that refuses "net session", as Windows' does for
# a user who is not elevated (Wine's own always answers).
mkdir -p "$drive/notadmin"
cp "$build/bin/net_refusing.exe" "$drive/notadmin/net.exe"
for script in "$winkit\\install" "$winkit\\uninstall" "$winsim\\register" "$winsim\\unregister"; do
  status=0
  out=$("$wine" cmd /c "set PATH=C:\\notadmin;%PATH% & $script.cmd" 2>&1 | tr -d '\r') ||
    status=$?
  script=${script##*\\}
  echo "$out (status $status)"
  # 740, of which the shell sees the low eight bits.
  [ "$status" -eq $((740 % 256)) ] || fail "$script.cmd without administrator rights: status $status"
  echo "$out" | grep -q "^$script: administrator rights are needed: run $script.cmd from an elevated prompt" ||
    fail "$script.cmd without administrator rights said: $out"
done
snapshot > "$work/registry-after.txt"
diff -u "$work/registry-empty.txt" "$work/registry-after.txt" || fail "a refused script changed the registry"

# A module that cannot be registered: install.cmd names the failure's code.
mkdir -p "$drive/broken/bin"
cp "$kit/install.cmd" "$drive/broken/"
cp "$kit/bin/vireokeep.exe" "$drive/broken/bin/"
echo "not a module" > "$drive/broken/bin/vireoprop.ax"
status=0
out=$("$wine" cmd /c 'C:\broken\install.cmd' 2>&1 | tr -d '\r') || status=$?
echo "$out (status $status)"
[ "$status" -ne 0 ] || fail "install.cmd reported success for a broken module"
echo "$out" | grep -q "^install: registering .* failed with code $status\$" || fail "install.cmd said: $out"

"$vireo_wineserver" -k >/dev/null 2>&1 || true
"$vireo_wineserver" -w
rm -rf "$WINEPREFIX"  # a fresh prefix takes over a gigabyte
echo "kit: installed, used and removed"
