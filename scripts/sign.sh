#!/bin/bash
# sign.sh FILE...: Authenticode-signs each file in place with osslsigncode
# when VIREO_SIGN_PFX names the builder's certificate (a PKCS#12 file; its
# password in VIREO_SIGN_PASSWORD); without it signs nothing and succeeds.
# Programs, modules and Windows Installer packages alike, SHA-256.
set -euo pipefail
[ -n "${VIREO_SIGN_PFX:-}" ] || exit 0
[ -f "$VIREO_SIGN_PFX" ] || { echo "sign: $VIREO_SIGN_PFX not found" >&2; exit 1; }
# The password goes through a private file, not the command line.
pass="$(mktemp)"
trap 'rm -f "$pass"' EXIT
chmod 600 "$pass"
printf '%s' "${VIREO_SIGN_PASSWORD:-}" >"$pass"
for file in "$@"; do
  osslsigncode sign -pkcs12 "$VIREO_SIGN_PFX" -readpass "$pass" -h sha256 \
    -n "Vireo Camera Support" -in "$file" -out "$file.signed" >/dev/null
  mv -f "$file.signed" "$file"
  echo "sign: $(basename "$file")"
done
