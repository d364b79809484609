#!/bin/bash
# Fails when a C or C++ source of the project is not laid out as .clang-format
# says; with --fix it lays them out instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! out="$(clang-format --dry-run --Werror "${files[@]}" 2>&1)"; then
  printf '%s\n' "$out" | grep -E '^[^ ].*: error' | sort -u | head -n 40
  echo "check-format: the files above are not formatted; run: bash scripts/check-format.sh --fix"
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
