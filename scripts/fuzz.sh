#!/bin/bash
# Fuzzes the profile text core (camera/profile_text.cpp) natively on Linux:
# builds tests/fuzz/profile_fuzz.cpp with libFuzzer and the address and
# undefined-behaviour sanitizers into build/fuzz, then runs it on a copy of
# the starting corpus there (the source tree is never written). Fails on a
# crash, a leak, a sanitizer report or a round-trip difference. FUZZ_RUNS
# sets the number of inputs (default 200000).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/fuzz"
runs="${FUZZ_RUNS:-200000}"
mkdir -p "$out"
clang++-14 -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -fno-exceptions -fno-rtti -Wall -Wextra -Werror -I"$root/camera" \
  "$root/tests/fuzz/profile_fuzz.cpp" "$root/camera/profile_text.cpp" -o "$out/profile_fuzz"
rm -rf "$out/corpus" "$out/artifacts"
mkdir -p "$out/artifacts"
cp -r "$root/tests/fuzz/corpus" "$out/corpus"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
start=$(date +%s)
if ! "$out/profile_fuzz" -runs="$runs" -max_len=70000 -error_exitcode=77 -print_final_stats=1 \
       -artifact_prefix="$out/artifacts/" "$out/corpus" >"$out/fuzz.log" 2>&1; then
  tail -n 40 "$out/fuzz.log"
  echo "fuzz: FAILED (the input is in $out/artifacts)"
  exit 1
fi
grep -E '^stat::number_of_executed_units' "$out/fuzz.log" | sed 's/^/fuzz: /'
echo "fuzz: profile text, $runs inputs passed in $(( $(date +%s) - start ))s"
