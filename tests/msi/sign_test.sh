#!/bin/bash
# sign_test.sh: signing as a builder with a certificate does it. Makes a
# throwaway code-signing certificate (openssl), builds both packages with
# VIREO_SIGN_PFX and its password set, and checks with osslsigncode verify
# that every shipped program, both modules and both packages carry a valid
# signature by it; the packages built without it (build/msi) carry none.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$root/build/sign-test"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "sign: FAIL: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vireo test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
  2>/dev/null
password="throwaway-$$"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout "pass:$password" \
  -out "$work/signer.pfx"

VIREO_SIGN_PFX="$work/signer.pfx" VIREO_SIGN_PASSWORD="$password" VIREO_MSI_OUT="$work/msi" \
  bash "$root/scripts/msi.sh" >"$work/msi.log"
files=("$work"/msi/stage-*/bin/*.exe "$work"/msi/stage-*/bin/*.ax "$work"/msi/*.msi)
[ "${#files[@]}" -eq 16 ] || fail "expected 16 files to sign, found ${#files[@]}"
for file in "${files[@]}"; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "$file: no valid signature"; }
  grep -q 'Vireo test signer' "$work/verify.log" || fail "$file: signed by someone else"
done
# Without a certificate nothing is signed.
for file in "$root"/build/msi/*.msi; do
  ! osslsigncode verify -in "$file" >/dev/null 2>&1 || fail "$file is signed without a certificate"
done
echo "sign: ${#files[@]} files signed and verified; the unsigned build signed nothing"
