#!/bin/bash
# Installs what the build and the tests need on a Debian 12 machine (as root);
# packages named as arguments are installed as well. Safe to run again: it
# only does what is missing.
#
# With i686 among VIREO_ARCHES (the default "x86_64 i686") it also prepares the
# 32-bit runs:
#   - wine32:i386 and wine32-preloader:i386. Their loader /usr/lib/wine/wine
#     would make /usr/bin/wine (and wineboot) pick the 32-bit loader for every
#     caller; it is kept non-executable with dpkg-statoverride (set before the
#     package is unpacked, so 64-bit callers never see it), and the 32-bit runs
#     use a private copy of the loader and its preloader in /usr/lib/vireo-wine32
#     (beside /usr/lib/wine, so Wine finds its libraries and data as from there);
#   - for kernels that run no 32-bit code, user-mode emulation: qemu-user from
#     bookworm-backports (bookworm's own qemu 7.2 crashes Wine's background
#     processes; the backports entry reuses the address of the machine's Debian
#     source and is pinned so that only the emulator comes from it), and a
#     binfmt_misc entry for i386 ELF files (flags PF) so that the programs Wine
#     starts with execve run under the emulator too. The entry is made only
#     where the kernel does not run i386 programs itself, and checked on every
#     run (the kernel forgets it on reboot). VIREO_I386=emulated makes it on a
#     kernel that runs them too (binfmt_misc comes before the kernel's own
#     loader), to try the emulated runs there; the next run without it
#     removes it again.
set -euo pipefail
source "$(dirname "$0")/apt-suite.sh"
PACKAGES=(cmake make ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb googletest nlohmann-json3-dev
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 file imagemagick x11-utils x11-apps xdotool
          clang-format wixl osslsigncode openssl clang-14 libclang-rt-14-dev python3 "$@")
want32=0
case " ${VIREO_ARCHES:-x86_64 i686} " in *" i686 "*) want32=1 ;; esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# apt-get and dpkg take one lock; wait while another install holds it. A
# mirror caught in the middle of a sync serves an index that does not match
# its release file: an update is tried for a minute, and then the install
# goes on with the package lists apt has (it decides whether they serve).
apt_get() {
  local tries=0 most=3 pause=10
  [ "$1" != update ] || most=4 pause=20
  until $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; do
    tries=$((tries + 1))
    [ $tries -lt $most ] || return 1
    echo "setup: apt-get $1 failed; again in ${pause}s" >&2
    sleep $pause
  done
}

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_get update -qq || echo "setup: installing from the package lists at hand" >&2
  updated=1
  apt_get install -y -qq "${missing[@]}" >/dev/null
fi

[ $want32 -eq 1 ] || exit 0

loader_dir=/usr/lib/vireo-wine32

# The backports entry: the URI of the Debian entry that carries bookworm.
backports=/etc/apt/sources.list.d/vireo-backports.sources
if [ ! -f "$backports" ]; then
  uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ { u = $2 }
               /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm" && u != "") { print u; exit } }' \
          /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "setup: no Debian bookworm source entry to derive backports from" >&2; exit 1; }
  echo "setup: adding bookworm-backports from $uri for the emulator"
  $SUDO tee "$backports" >/dev/null <<EOF
Types: deb
URIs: $uri
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  updated=0
fi
# Nothing but the emulator comes from backports.
$SUDO tee /etc/apt/preferences.d/vireo-backports >/dev/null <<'EOF'
Package: *
Pin: release n=bookworm-backports
Pin-Priority: -1

Package: qemu-user
Pin: release n=bookworm-backports
Pin-Priority: 500
EOF

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  updated=0
fi

# The 32-bit loader stays non-executable in /usr/lib/wine, before it exists.
if ! dpkg-statoverride --list /usr/lib/wine/wine >/dev/null; then
  $SUDO dpkg-statoverride --add root root 0644 /usr/lib/wine/wine
fi
[ ! -e /usr/lib/wine/wine ] || [ ! -x /usr/lib/wine/wine ] || $SUDO chmod 0644 /usr/lib/wine/wine

# wine32:i386 beside wine64. Where the mirror served some suite's amd64 index
# and not its i386 one (scripts/apt-suite.sh), both widths of Wine and the
# amd64 halves of the pairs they need come from the release alone, in one
# step; otherwise wine32 is installed as it is.
install_wine32() {
  local suite gaps pins
  suite=$(apt-cache policy 2>/dev/null | apt_one_suite)
  if [ -z "$suite" ]; then
    apt_get install -y -qq --no-install-recommends wine32:i386 wine32-preloader:i386 >/dev/null
    return
  fi
  gaps=$(apt-cache policy 2>/dev/null | apt_i386_gaps | tr '\n' ' ')
  pins=$(apt-cache policy $(pairs_of_wine32) 2>/dev/null | apt_pin_to_suite "$suite")
  echo "setup: no i386 index of ${gaps% } (a mirror in the middle of a sync?): both widths of Wine from $suite in one step"
  apt_get install -y -qq --no-install-recommends --allow-downgrades -t "$suite" wine64 wine wine32:i386 wine32-preloader:i386 \
    $pins >/dev/null
}
# pairs_of_wine32: the installed amd64 packages that wine32 needs an i386
# twin of at the same version (Multi-Arch: same).
pairs_of_wine32() {
  comm -12 <(dpkg-query -W -f='${Package} ${Architecture} ${Multi-Arch}\n' |
               awk '$2 == "amd64" && $3 == "same" { print $1 }' | sort -u) \
           <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
               --no-replaces --no-enhances wine32:i386 wine32-preloader:i386 2>/dev/null |
               awk '/^[^ <]/ { sub(/:i386$/, ""); print }' | sort -u)
}

need=()
installed qemu-user || need+=(qemu-user)
case "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)" in
  1:7.*|1:8.*) need+=(qemu-user) ;;   # the emulator of bookworm itself
esac
installed wine32:i386 || need+=(wine32:i386)
installed wine32-preloader:i386 || need+=(wine32-preloader:i386)
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]} for the 32-bit runs"
  [ $updated -eq 1 ] || apt_get update -qq || echo "setup: installing from the package lists at hand" >&2
  # The emulator first, so that it is in place when the i386 packages arrive.
  apt_get install -y -qq --no-install-recommends qemu-user >/dev/null
  install_wine32
fi

# The private 32-bit loader.
$SUDO mkdir -p "$loader_dir"
for pair in wine:/usr/lib/wine/wine wine-preloader:/usr/lib/wine/wine-preloader.static; do
  name=${pair%%:*} from=${pair#*:}
  if ! cmp -s "$from" "$loader_dir/$name"; then
    $SUDO install -m 0755 "$from" "$loader_dir/$name.new"
    $SUDO mv -f "$loader_dir/$name.new" "$loader_dir/$name"
  fi
done

# binfmt_misc: i386 ELF files run by qemu-i386, where the kernel does not run
# them itself (a kernel without IA32 emulation gives "Exec format error"). A
# kernel that runs them gets no entry: the programs then run natively, much
# faster, and an entry left from an earlier run is removed. P keeps the
# program's own argv[0] (qemu knows it is called so through the name ending in
# -binfmt-P); F opens the emulator now, so it is found from any mount namespace.
binfmt=/proc/sys/fs/binfmt_misc
interp=/usr/libexec/qemu-binfmt/i386-binfmt-P
entry="$binfmt/qemu-i386"
if [ ! -e "$binfmt/register" ]; then
  $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
fi
native() { "$loader_dir/wine-preloader" >/dev/null 2>&1; [ $? -ne 126 ]; }
emulated=0
[ "${VIREO_I386:-}" = emulated ] && emulated=1
if [ -e "$entry" ]; then
  # Tried with the entry off for a moment.
  echo 0 | $SUDO tee "$entry" >/dev/null
  if native && [ $emulated -eq 0 ]; then
    echo "setup: the kernel runs i386 programs itself; removing the qemu-i386 entry"
    echo -1 | $SUDO tee "$entry" >/dev/null
  elif grep -qx "interpreter $interp" "$entry" && grep -q '^flags: .*P.*F' "$entry"; then
    echo 1 | $SUDO tee "$entry" >/dev/null
  else
    echo -1 | $SUDO tee "$entry" >/dev/null
  fi
fi
if [ ! -e "$entry" ] && { [ $emulated -eq 1 ] || ! native; }; then
  echo "setup: registering qemu-i386 for i386 ELF files"
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$interp:PF" | $SUDO tee "$binfmt/register" >/dev/null
fi

# What the 32-bit runs rely on, checked.
if [ -x /usr/lib/wine/wine ]; then
  echo "setup: /usr/lib/wine/wine is executable: /usr/bin/wine would pick the 32-bit loader" >&2; exit 1
fi
if ! out=$("$loader_dir/wine" --version 2>&1); then
  echo "setup: the 32-bit Wine loader does not start: $out" >&2; exit 1
fi
