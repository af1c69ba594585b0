#!/bin/sh
# Signs a copy of the helper the way the release package does (../sign-helper.sh), with a
# certificate made here and thrown away, and checks that the signature verifies against that
# certificate's authority only, and that the signed helper still runs under Wine and still
# has its version record, manifest and icons (the resource tests, run against the copy).
# Usage: signed-helper-test.sh <helper.exe> <app-blackbox-tests.exe> <wine-run.sh>
set -eu
helper="$1"; resource_tests="$2"; wine="$3"
packaging=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/keldrix-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAILED: $*"; exit 1; }

new_authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
}
new_authority authority "KELDRIX Test Authority"
new_authority unrelated "Unrelated Authority"
openssl req -newkey rsa:2048 -nodes -subj "/CN=KELDRIX Test Publisher" -keyout signer.key -out signer.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -days 1 -in signer.csr -CA authority.pem -CAkey authority.key -CAcreateserial \
  -extfile signer.ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -passout pass:throwaway -out signer.p12

# The resource tests read the helper where a build tree holds its installation, seen from theirs.
mkdir -p build/tests build/installations/installed
cp "$helper" build/installations/installed/KELDRIX-Network.exe
cp "$resource_tests" build/tests/
KELDRIX_SIGN_PKCS12="$work/signer.p12" KELDRIX_SIGN_PASSWORD=throwaway \
  sh "$packaging/sign-helper.sh" build/installations/installed/KELDRIX-Network.exe
signed=build/installations/installed/KELDRIX-Network.exe

osslsigncode verify -CAfile authority.pem -in "$signed" > verify.log 2>&1 \
  || { cat verify.log; fail "the signature does not verify"; }
grep -q "Subject: /CN=KELDRIX Test Publisher" verify.log || { cat verify.log; fail "signed by someone else"; }
if osslsigncode verify -CAfile unrelated.pem -in "$signed" >/dev/null 2>&1; then
  fail "the signature verifies against an authority that did not issue the certificate"
fi
echo "signature verifies"

set +e
capabilities=$("$wine" "$signed" --network-capabilities)
code=$?
set -e
echo "signed helper --network-capabilities: $capabilities (exit code $code)"
[ "$code" -eq 0 ] || fail "exit code $code"
echo "$capabilities" | grep -qxE '\{"ipv6Disabled":(true|false)\}' || fail "unexpected output"

"$wine" build/tests/"$(basename "$resource_tests")" --gtest_filter='Resources.*:LoadedAsData.*' > resources.log 2>&1 \
  || { cat resources.log; fail "the signed helper's resources"; }
grep -qE '^\[  PASSED  \] [1-9][0-9]* test' resources.log || { cat resources.log; fail "no resource test ran"; }
grep -E '^\[  PASSED  \]' resources.log
