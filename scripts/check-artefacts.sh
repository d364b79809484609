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
# The shipped kit: the 32-bit zip with the programs, the header, the CMake
# package, the samples and the install scripts.
(cd "$root/build/i686" && cpack -G ZIP >/dev/null)
zip=$(ls "$root"/build/i686/package/vireo-*-win32.zip)
listing=$(cmake -E tar tf "$zip")
for f in bin/capview.exe bin/vireoprop.ax bin/vireoctl.exe include/vireoctl.h \
         include/vireocamera.h lib/libvireocamera.a lib/cmake/vireo/vireoConfig.cmake lib/cmake/vireo/vireoTargets.cmake \
         samples/CMakeLists.txt samples/exposure_c.c samples/exposure_cpp.cpp install.cmd uninstall.cmd; do
  grep -q "^vireo-[^/]*-win32/$f\$" <<<"$listing" || { echo "check: $(basename "$zip") lacks $f"; fail=1; }
done
[ $fail -eq 0 ] && echo "check: 32-bit artefacts are PE32 and export $want; $(basename "$zip") holds the kit"
exit $fail
