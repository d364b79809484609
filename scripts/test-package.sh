#!/bin/bash
# test-package.sh [WIDTH [RUNS]]: the test package of build/WIDTH (default x86_64)
# run as a Windows machine runs it: its zip unpacked into a fresh Wine prefix
# (a new copy of the ready one, nothing registered), run-tests.cmd run by
# Wine's cmd.exe, no ctest and no script of this tree in between. Checks:
#   1. it passes, and its closing line counts as many GoogleTest cases as the
#      build's ctest has tests less the package's host-only ones, and the
#      cases in its XML reports are those tests by name;
#   2. a second run in the same prefix passes the same way (nothing left
#      behind that breaks a rerun);
#   3. with one case made to fail (the package's own contents check told to
#      expect a file that is not there), it exits 1 and names that case;
#   4. with the simulated camera registered before, it stops with 2 and names
#      its key.
# RUNS 1 (default 2) keeps to the first check: one run, as the cases' check
# in a width whose runner was checked in the other.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
vireo_arch="${1:-x86_64}"
runs="${2:-2}"
build="$root/build/$vireo_arch"
zip=$(ls "$build"/tests-package/vireo-tests-*.zip)
name=$(basename "$zip" .zip)
work="$build/package-test"
fail() { echo "test-package: FAIL: $*"; exit 1; }

# The build's own tests: ctest's list (GoogleTest cases discovered by ctest,
# one ctest test each) less the tests only the build host runs.
# (ctest names a parameterised case with its parameter after "  # ".)
(cd "$build" && ctest -N) | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p' | sed 's/  # GetParam() = .*$//' |
  sort > "$build/ctest-tests.txt"
sort "$build/tests-package/$name.host-only.txt" | grep -v '^$' > "$build/host-only.txt" || true
comm -23 "$build/ctest-tests.txt" "$build/host-only.txt" > "$build/package-expected.txt"
expected=$(wc -l < "$build/package-expected.txt")
[ "$expected" -gt 0 ] || fail "ctest lists no test in $build"

rm -rf "$work"
mkdir -p "$work"
vireo_build="$work" VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
trap vireo_wine_stop EXIT
(cd "$WINEPREFIX/drive_c" && cmake -E tar xf "$zip")
script="C:\\$name\\run-tests.cmd"

# run LABEL [ARGS]: run-tests.cmd through cmd.exe; its output in LABEL.log.
run() {
  local label=$1 rc=0
  shift
  "$vireo_wine" cmd /c "$script" "$@" </dev/null >"$work/$label.out" 2>&1 || rc=$?
  tr -d '\r' < "$work/$label.out" > "$work/$label.log"
  echo "$rc"
}

# passes LABEL: a whole run passed with the expected cases.
passes() {
  local label=$1 rc last cases begin=$(date +%s)
  rc=$(run "$label")
  # The reports stay with the run's log (the prefix goes at the end), a
  # program's first run too when it ran again.
  rm -rf "$work/$label-results"
  cp -r "$WINEPREFIX/drive_c/$name/results" "$work/$label-results" 2>/dev/null || true
  last=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$work/$label.log" | tail -1)
  grep 'run-tests: ' "$work/$label.log" | grep -v '^run-tests: [a-z_0-9]*$' || true
  [ "$rc" -eq 0 ] || fail "$label run exited $rc: $last (log $work/$label.log)"
  [ "$last" = "$expected passed, 0 failed" ] ||
    fail "$label run: \"$last\", ctest has $expected tests besides the host-only ones"
  cases="$work/$label-cases.txt"
  # (A program run twice keeps its first run's report as NAME.first.xml.)
  ls "$WINEPREFIX/drive_c/$name/results/"*.xml | grep -v '\.first\.xml$' | xargs cat | tr -d '\r' |
    sed -nE 's/.*<testcase name="([^"]*)".*classname="([^"]*)".*/\2.\1/p' | sort > "$cases"
  diff "$build/package-expected.txt" "$cases" >/dev/null ||
    fail "$label run: its cases differ from ctest's: $(diff "$build/package-expected.txt" "$cases" | head -5 | tr '\n' ' ')"
  echo "test-package: $label run: $last in $(( $(date +%s) - begin ))s ($(wc -l < "$cases") cases in the XML reports, as in ctest)"
}

# checks: the rerun, a case made to fail, a machine where the simulated
# camera is registered already.
checks() {
  passes second
  export VIREO_TESTS_EXPECT_ALSO=not-in-the-package.dll
  rc=$(run failing --gtest_filter=PackageContents.*)
  unset VIREO_TESTS_EXPECT_ALSO
  last=$(tail -1 "$work/failing.log")
  [ "$rc" -eq 1 ] || fail "a failing case: run-tests.cmd exited $rc ($last)"
  [ "$last" = "0 passed, 1 failed" ] || fail "a failing case: closing line \"$last\""
  grep -qx 'run-tests: FAILED package_tests:PackageContents\.[A-Za-z]*' "$work/failing.log" ||
    fail "a failing case: not named ($(grep FAILED "$work/failing.log" | tr '\n' ' '))"
  grep -q 'not-in-the-package.dll is not beside the tests' \
    "$WINEPREFIX/drive_c/$name/results/package_tests.txt" || fail "a failing case: no reason in its output"
  echo "test-package: one case made to fail: exit 1, $(grep 'FAILED' "$work/failing.log")"

  # The script stops before any test (they would leave the camera
  # unregistered) and names the key.
  "$vireo_wine" regsvr32 /s "C:\\$name\\simcam.ax" || fail "simcam.ax of the package not registered"
  rc=$(run registered)
  "$vireo_wine" regsvr32 /s /u "C:\\$name\\simcam.ax" || fail "simcam.ax of the package not unregistered"
  [ "$rc" -eq 2 ] || fail "simulated camera registered before: run-tests.cmd exited $rc"
  grep -q '^run-tests: already registered on this machine:.*{D0AF50DC-6191-401C-AD58-C7AED26E8597}' \
    "$work/registered.log" || fail "simulated camera registered before: $(head -3 "$work/registered.log")"
  echo "test-package: with the simulated camera registered before: exit 2, nothing run"
}

start=$(date +%s)
passes first
if [ "$runs" -ge 2 ]; then
  checks
  echo "test-package: $name passed twice in a fresh prefix, in $(( $(date +%s) - start ))s"
else
  echo "test-package: $name passed once in a fresh prefix, in $(( $(date +%s) - start ))s"
fi
vireo_wine_stop
trap - EXIT
rm -rf "$WINEPREFIX"
