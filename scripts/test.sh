#!/bin/bash
# Installs what is missing, builds, checks the shipped 32-bit artefacts, then
# runs every test of each width under Wine on private Xvfb displays, the two
# widths side by side: build/x86_64 with 64-bit Wine, build/i686 with 32-bit
# Wine in a 32-bit prefix (natively, or under user-mode emulation where the
# kernel runs no 32-bit code). VIREO_ARCHES=x86_64 keeps to the fast 64-bit run.
# Without arguments each width runs as a Windows machine would: every
# GoogleTest case through its test package (run-tests.cmd in a fresh prefix,
# scripts/test-package.sh), the tests the build host drives through ctest
# (ctest -L host), and its installer package (tests/msi). With arguments,
# ctest runs each width's suite with them, one GoogleTest case per test. A
# failed test or program is run once more; the report names it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export VIREO_ARCHES="${VIREO_ARCHES:-x86_64 i686}"
report=()
took() { local s=$(( $(date +%s) - $1 )); echo "$((s / 60))m$((s % 60))s"; }

start=$(date +%s)
bash "$root/scripts/setup.sh"
report+=("test: setup in $(took $start)")
# The setup's choice of suites on a mirror caught in a sync, from recorded answers.
bash "$root/tests/setup/apt_suite_test.sh"
bash "$root/scripts/check-format.sh"
start=$(date +%s)
bash "$root/scripts/build.sh"
case " $VIREO_ARCHES " in *" i686 "*) bash "$root/scripts/check-artefacts.sh" ;; esac
report+=("test: build ($VIREO_ARCHES) in $(took $start)")
# The profile text core, fuzzed natively (scripts/fuzz.sh).
start=$(date +%s)
bash "$root/scripts/fuzz.sh"
report+=("test: profile text fuzzed in $(took $start)")

# Each part runs in a prefix, a wineserver and an Xvfb of its own, so parts
# run side by side; every part keeps its own log and report line.

# ctest_in ARCH LOG [ctest args]: ctest of build/ARCH, its output in build/ARCH/LOG.
ctest_in() {
  local arch=$1 log=$2
  shift 2
  (
    vireo_arch=$arch
    vireo_build="$root/build/$arch"
    VIREO_HEADLESS=1 source "$root/scripts/wine-env.sh"
    trap vireo_wine_stop EXIT
    # Wine closes its desktop a second after the last process on it ends; a
    # test starting just then can find no display driver. The keeper holds
    # the desktop for the run (the wineserver's end stops it).
    "$vireo_wine" "$vireo_build/bin/desktop_keeper.exe" </dev/null >/dev/null 2>&1 &
    cd "$vireo_build"
    # A test that fails is run once more: a Wine process now and then fails
    # to start or to reach its display (a few in a thousand runs here). A
    # fault of the code fails both runs; every retried test is named below.
    ctest --output-on-failure --timeout 300 --repeat until-pass:2 "$@" >"$log" 2>&1
  )
}
# how ARCH: how the programs of that width run here.
how() {
  [ "$1" = i686 ] || return 0
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    echo " (under qemu-i386)"
  else
    echo " (natively)"
  fi
}
# ctest_report ARCH LOG WHAT RC START: the report lines of a ctest run.
ctest_report() {
  local arch=$1 log=$2 what=$3 rc=$4 start=$5 retried
  retried=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*' "$root/build/$arch/$log" 2>/dev/null |
              sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | sort -u | tr '\n' ' ' || true)
  echo "test: $arch $what $( [ "$rc" -eq 0 ] && echo passed || echo FAILED ) in $(took "$start")$(how "$arch")"
  [ -z "$retried" ] || echo "test: $arch failed at least once (run again): $retried"
}
# suite ARCH [ctest args]: ctest of build/ARCH, one GoogleTest case per test.
suite() {
  local arch=$1 start rc=0
  shift
  start=$(date +%s)
  ctest_in "$arch" ctest.log "$@" || rc=$?
  ctest_report "$arch" ctest.log tests $rc "$start" >"$root/build/$arch/report"
  return $rc
}
# host_tests ARCH: the tests that the build host drives (the kit's zips built
# and used in a prefix of their own), through ctest.
host_tests() {
  local arch=$1 start rc=0
  start=$(date +%s)
  ctest_in "$arch" host.log -L host || rc=$?
  ctest_report "$arch" host.log "host-driven tests ($(grep -oE 'Test +#[0-9]+: [A-Za-z]+' \
    "$root/build/$arch/host.log" | awk '{print $3}' | sort -u | tr '\n' ' ' | sed 's/ $//'))" \
    $rc "$start" >>"$root/build/$arch/report"
  return $rc
}
# package_test ARCH RUNS: the test package of build/ARCH as Windows runs it:
# unpacked into a fresh prefix, run-tests.cmd through Wine's cmd.exe RUNS
# times, then with one case made to fail (scripts/test-package.sh).
package_test() {
  local arch=$1 start rc=0 log="$root/build/$1/package-test.log"
  start=$(date +%s)
  bash "$root/scripts/test-package.sh" "$arch" "$2" >"$log" 2>&1 || rc=$?
  {
    echo "test: $arch test package $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(took "$start")$(how "$arch")"
    (grep '^test-package: ' "$log" || true) | tail -1
    (grep '^run-tests: passed when run again:' "$log" || true) | sed "s/^run-tests: /test: $arch package, /"
  } >>"$root/build/$arch/report"
  return $rc
}
# The installer packages hold the 32-bit build (the x64 one both widths):
# built from the build trees and signed with a throwaway certificate once;
# then each one is installed, used, repaired and removed in a fresh prefix of
# its platform (tests/msi).
msi_build() {
  local start rc=0
  start=$(date +%s)
  (bash "$root/scripts/msi.sh" && bash "$root/tests/msi/sign_test.sh") >"$root/build/msi-build.log" 2>&1 || rc=$?
  if [ $rc -eq 0 ]; then
    echo "test: installer packages built and signed in $(took "$start")"
  else
    echo "test: installer packages FAILED to build or sign in $(took "$start") (build/msi-build.log)"
  fi >"$root/build/msi-build-report"
  echo $rc >"$root/build/msi-built"
  return $rc
}
msi_test() {  # msi_test ARCH PACKAGE: an installer package, in the lane of ARCH
  local arch=$1 package=$2 start rc=0
  start=$(date +%s)
  if [ "$(cat "$root/build/msi-built" 2>/dev/null)" != 0 ]; then
    echo "test: installer package $package not tested: the packages were not built" >>"$root/build/$arch/report"
    return 1
  fi
  bash "$root/tests/msi/msi_test.sh" "$package" >>"$root/build/$arch/msi-test.log" 2>&1 || rc=$?
  echo "test: installer package $package $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(took "$start")" \
    >>"$root/build/$arch/report"
  return $rc
}
# lane ARCH: a whole width. Its host-driven tests first: ctest lists the
# GoogleTest cases by running each test program once, in the build's prefix
# with its wineserver warm, and the package's check compares its cases with
# that list. Then its test package: on x86_64 with the rerun in the same
# prefix, a case made to fail and a refused run; on i686 one run (the
# longer lane under the emulator). The installer packages, which need the
# 32-bit tree: both in the x86_64 lane where it runs, else x86 here.
lane() {
  local arch=$1 rc=0
  host_tests "$arch" || rc=1
  if [ "$arch" = x86_64 ]; then
    package_test "$arch" 2 || rc=1
    if has i686; then
      msi_test "$arch" x64 || rc=1
      msi_test "$arch" x86 || rc=1
    fi
  else
    package_test "$arch" 1 || rc=1
    has x86_64 || msi_test "$arch" x86 || rc=1
  fi
  return $rc
}
# show ARCH: a lane's logs.
show() {
  local f
  for f in package-test.log host.log msi-test.log ctest.log; do
    [ -f "$root/build/$1/$f" ] && cat "$root/build/$1/$f"
  done
  return 0
}
status=0
has() { case " $VIREO_ARCHES " in *" $1 "*) true ;; *) false ;; esac; }
for arch in $VIREO_ARCHES; do
  rm -f "$root/build/$arch/"{report,package-test.log,host.log,msi-test.log,ctest.log}
done
rm -f "$root/build/msi-built" "$root/build/msi-build-report"
echo "test: $VIREO_ARCHES"

if [ $# -gt 0 ]; then
  # ctest arguments: each width's suite through ctest, side by side.
  pids=()
  for arch in $VIREO_ARCHES; do
    suite "$arch" "$@" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  for arch in $VIREO_ARCHES; do cat "$root/build/$arch/ctest.log"; done
  for arch in $VIREO_ARCHES; do report+=("$(cat "$root/build/$arch/report")"); done
  report+=("test: the test packages and the installer packages not run (ctest arguments given)")
else
  # Every GoogleTest case runs in its width's test package; the i686 lane
  # in the background, the other here, after the installer packages are
  # built (a few seconds).
  first=${VIREO_ARCHES%% *}
  pids=()
  for arch in $VIREO_ARCHES; do
    [ "$arch" = "$first" ] || { lane "$arch" & pids+=($!); }
  done
  if has i686; then msi_build || status=1; fi
  lane "$first" || status=1
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  for arch in $VIREO_ARCHES; do show "$arch"; done
  has i686 && { cat "$root/build/msi-build.log"; report+=("$(cat "$root/build/msi-build-report")"); }
  for arch in $VIREO_ARCHES; do report+=("$(cat "$root/build/$arch/report")"); done
fi
printf '%s\n' "${report[@]}"
exit $status
