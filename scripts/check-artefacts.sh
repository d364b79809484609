#!/bin/bash
# The 32-bit programs are PE32 files, and the module exports its four entry
# points under their plain names.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/i686/bin"
fail=0
for f in "$bin"/*.exe "$bin"/*.ax; do
  [ -e "$f" ] || continue
  if ! file -b "$f" | grep -q '^PE32 executable'; then
    echo "check: $(basename "$f") is not a 32-bit PE file: $(file -b "$f")"; fail=1
  fi
done
[ -f "$bin/vireoprop.ax" ] || { echo "check: no 32-bit vireoprop.ax"; exit 1; }
exports=$(i686-w64-mingw32-objdump -p "$bin/vireoprop.ax" |
          awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}')
want="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer"
got=$(echo $exports | tr ' ' '\n' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$got" != "$want" ]; then
  echo "check: vireoprop.ax exports '$got', expected '$want'"; fail=1
fi
[ $fail -eq 0 ] && echo "check: 32-bit artefacts are PE32 and export $want"
exit $fail
