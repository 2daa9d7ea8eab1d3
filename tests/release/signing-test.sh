#!/bin/bash
# Packages a release signed with a throwaway self-signed code-signing
# certificate made here, checks the zipped program's Authenticode signature
# (SHA-256) and its checksum file, and runs the signed program under Wine.
#
#   signing-test.sh SOURCE TOOLCHAIN-FILE PREFIX
set -euo pipefail

if [ "$#" -ne 3 ]; then
    echo "usage: signing-test.sh SOURCE TOOLCHAIN-FILE PREFIX" >&2
    exit 2
fi
ScriptFolder="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)"
Work="$(mktemp -d)"
trap 'rm -rf -- "$Work"' EXIT

# A certificate for this run only; its key never leaves the temp folder.
openssl rand -hex 16 >"$Work/password"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=empctl throwaway test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$Work/key.pem" -out "$Work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$Work/key.pem" -in "$Work/cert.pem" -out "$Work/signer.p12" \
    -passout "file:$Work/password"

bash "$ScriptFolder/release-build.sh" "$1" "$2" "$Work/release" \
    -DEMPCTL_SIGN_PKCS12="$Work/signer.p12" -DEMPCTL_SIGN_PASSWORD_FILE="$Work/password"

Build="$Work/release/build"
(cd -- "$Build" && sha256sum --quiet -c empctl-*.zip.sha256)
mkdir -- "$Work/unzipped"
(cd -- "$Work/unzipped" && cmake -E tar xf "$(echo "$Build"/empctl-*.zip)")
Program="$(echo "$Work"/unzipped/*/empctl.exe)"

Verified="$(osslsigncode verify -CAfile "$Work/cert.pem" -in "$Program" 2>&1)" || {
    echo "signing-test.sh: the zipped program's signature does not verify:" >&2
    echo "$Verified" >&2
    exit 1
}
if ! grep -q 'Message digest algorithm *: SHA256' <<<"$Verified"; then
    echo "signing-test.sh: the signature is not SHA-256:" >&2
    echo "$Verified" >&2
    exit 1
fi
# The build folder's own program stays unsigned: only the release is signed.
if osslsigncode verify -CAfile "$Work/cert.pem" -in "$Build/empctl.exe" >/dev/null 2>&1; then
    echo "signing-test.sh: the build folder's program was signed in place" >&2
    exit 1
fi

# A signed program still runs, and still opens the device: /s returns 0
# whenever the open succeeds.
EMPCTL_WINEPREFIX="$3"
# shellcheck source=../wine/wine-env.sh
source "$ScriptFolder/../wine/wine-env.sh"
RequireThrowawayPrefix
EnsureWineSession
for Option in '/?' /s; do
    Status=0
    timeout 120 wine "$Program" "$Option" >"$Work/out" 2>&1 </dev/null || Status=$?
    if [ "$Status" -ne 0 ] || ! grep -q . "$Work/out"; then
        echo "signing-test.sh: the signed empctl $Option exited $Status, printing:" >&2
        cat "$Work/out" >&2
        exit 1
    fi
done
echo "signed with SHA-256, verified, and runs"
