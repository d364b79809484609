#!/bin/bash
# Installs what is missing, builds, checks the shipped 32-bit artefacts, then
# runs every test of each width under Wine on a private Xvfb, the two widths
# side by side: build/x86_64 with 64-bit Wine, build/i686 with 32-bit Wine in
# a 32-bit prefix (natively, or under user-mode emulation where the kernel
# runs no 32-bit code). VIREO_ARCHES=x86_64 keeps to the fast 64-bit run.
# Extra arguments go to ctest (both widths). A failed test is run once more;
# the report names it. Without arguments, the x86_64 test package then runs
# as Windows would run it (scripts/test-package.sh), beside the installer
# packages' tests (tests/msi).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export VIREO_ARCHES="${VIREO_ARCHES:-x86_64 i686}"
report=()
took() { local s=$(( $(date +%s) - $1 )); echo "$((s / 60))m$((s % 60))s"; }

start=$(date +%s)
bash "$root/scripts/setup.sh"
report+=("test: setup in $(took $start)")
bash "$root/scripts/check-format.sh"
start=$(date +%s)
bash "$root/scripts/build.sh"
case " $VIREO_ARCHES " in *" i686 "*) bash "$root/scripts/check-artefacts.sh" ;; esac
report+=("test: build ($VIREO_ARCHES) in $(took $start)")
# The profile text core, fuzzed natively (scripts/fuzz.sh).
start=$(date +%s)
bash "$root/scripts/fuzz.sh"
report+=("test: profile text fuzzed in $(took $start)")

# Each width's suite runs in a prefix, a wineserver and an Xvfb of its own,
# and so do the test package and the installer packages' tests: they run side
# by side. Every part keeps its own log and report line.
suite() {  # suite ARCH [ctest args]: ctest of build/ARCH; its report line in build/ARCH/report
  local arch=$1 start rc=0 retried how=""
  shift
  start=$(date +%s)
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
    set -o pipefail
    ctest --output-on-failure --timeout 300 --repeat until-pass:2 "$@" >ctest.log 2>&1
  ) || rc=$?
  retried=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*' \
              "$root/build/$arch/ctest.log" 2>/dev/null | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' \
              | sort -u | tr '\n' ' ' || true)
  if [ "$arch" = i686 ]; then
    how=" (natively)"
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null && how=" (under qemu-i386)"
  fi
  {
    echo "test: $arch tests $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(took $start)$how"
    [ -z "$retried" ] || echo "test: $arch failed at least once (run again): $retried"
  } >"$root/build/$arch/report"
  return $rc
}
# The x86_64 test package as Windows runs it: unpacked into a fresh prefix,
# run-tests.cmd through Wine's cmd.exe, twice, then with one case made to
# fail (scripts/test-package.sh). Only for the whole suite: with arguments
# for ctest the counts would not compare.
package_test() {
  local start rc=0 log="$root/build/x86_64/package-test.log"
  start=$(date +%s)
  bash "$root/scripts/test-package.sh" x86_64 >"$log" 2>&1 || rc=$?
  {
    echo "test: x86_64 test package $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(took $start)"
    (grep '^test-package: ' "$log" || true) | tail -1
  } >"$root/build/package-report"
  return $rc
}
# The installer packages need the 32-bit build (both of them hold it): built
# from the build trees, signed with a throwaway certificate, and each one
# installed, used, repaired and removed in a fresh prefix of its platform
# (tests/msi).
msi_test() {
  local start rc=0 packages=x86
  start=$(date +%s)
  case " $VIREO_ARCHES " in *" x86_64 "*) packages="x86 x64" ;; esac
  # (set -e does not hold in a tested command: each step is chained.)
  (
    bash "$root/scripts/msi.sh" && bash "$root/tests/msi/sign_test.sh" &&
      for package in $packages; do
        bash "$root/tests/msi/msi_test.sh" "$package" || exit 1
      done
  ) >"$root/build/msi-test.log" 2>&1 || rc=$?
  echo "test: installer packages ($packages) $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(took $start)" \
    >"$root/build/msi-report"
  return $rc
}
status=0
has() { case " $VIREO_ARCHES " in *" $1 "*) true ;; *) false ;; esac; }
collect() {  # collect PID LOG: waits for a background part and shows its log
  local rc=0
  wait "$1" || rc=$?
  cat "$2"
  return $rc
}

# The i686 suite is the longest part (under the emulator three times as long
# as natively): it runs in the background from the start, while the x86_64
# suite, the test package and the installer packages run here one after the
# other.
echo "test: $VIREO_ARCHES"
pid=""
if has i686 && has x86_64; then
  suite i686 "$@" &
  pid=$!
elif has i686; then
  suite i686 "$@" || status=1
  cat "$root/build/i686/ctest.log"
fi
if has x86_64; then
  suite x86_64 "$@" || status=1
  cat "$root/build/x86_64/ctest.log"
  report+=("$(cat "$root/build/x86_64/report")")
  if [ $# -eq 0 ]; then
    package_test || status=1
    cat "$root/build/x86_64/package-test.log"
    report+=("$(cat "$root/build/package-report")")
  fi
fi
if has i686 && [ $# -eq 0 ]; then
  msi_test || status=1
  cat "$root/build/msi-test.log"
fi
if [ -n "$pid" ]; then
  collect "$pid" "$root/build/i686/ctest.log" || status=1
fi
has i686 && report+=("$(cat "$root/build/i686/report")")
if [ $# -gt 0 ]; then
  report+=("test: the test package and the installer packages not run (ctest arguments given)")
elif has i686; then
  report+=("$(cat "$root/build/msi-report")")
fi
printf '%s\n' "${report[@]}"
exit $status
