#!/bin/bash
# Installs what the build and the tests need on a Debian machine (as root);
# packages named as arguments are installed as well.
set -euo pipefail
PACKAGES=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb googletest
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 file imagemagick x11-utils x11-apps xdotool "$@")
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
