#!/usr/bin/env bash
# make sign and make verify, end to end, with a throwaway CA and code-signing certificate made here
# (never a committed key). Runs in a clone of HEAD, so that what is signed is the commit that verify
# rebuilds, whatever the working tree holds.
# Usage: check_sign_verify.sh SOURCE_REPOSITORY OTHER_PROGRAM.exe
set -euo pipefail
source=$(readlink -f "$1")
other=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q "$source" "$work/src"
src=$work/src
cd "$work"

# A CA, a code-signing certificate it issued (its key under a password), the chain as a vendor keeps it,
# the same as PKCS#12, and an unrelated CA.
quiet() { "$@" >/dev/null 2>&1; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
quiet openssl req -newkey rsa:2048 -passout pass:test-only -keyout vendor.key -out vendor.csr -subj "/CN=Throwaway Vendor/O=Test"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >vendor.ext
quiet openssl x509 -req -in vendor.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile vendor.ext -out vendor.pem
cat vendor.pem ca.pem >chain.pem
quiet openssl pkcs12 -export -inkey vendor.key -passin pass:test-only -in vendor.pem -certfile ca.pem \
  -passout pass:test-only -out vendor.p12
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout unrelated.key -out unrelated.pem -days 2 -subj "/CN=Unrelated CA"

# Signed releases, both ways a vendor may hold the key.
make -s -C "$src" sign CERT="$work/chain.pem" KEY="$work/vendor.key" PASS=test-only >sign.log
cp "$src/build/release/Launcher.exe" signed.exe
make -s -C "$src" sign PKCS12="$work/vendor.p12" PASS=test-only >>sign.log
cp "$src/build/release/Launcher.exe" signed-p12.exe

cp "$src/build/win32/bin/Launcher.exe" unsigned.exe

# One byte changed inside the code, which the signature covers.
text_offset=$((16#$(i686-w64-mingw32-objdump -h signed.exe | awk '$2 == ".text" { print $6 }')))
cp signed.exe tampered.exe
byte=$(od -An -tu1 -j $((text_offset + 64)) -N1 tampered.exe | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of=tampered.exe bs=1 seek=$((text_offset + 64)) conv=notrunc 2>/dev/null

# Another program, validly signed with the same certificate.
osslsigncode sign -certs chain.pem -key vendor.key -pass test-only -h sha256 -in "$other" -out other-signed.exe >/dev/null

passed=0
failed=0
# name | file | CA file | expected exit status of the script | text the output must hold
while IFS='|' read -r name file cafile status expected; do
  set +e
  (cd "$src" && scripts/verify-release.sh "$work/$file" "${cafile:+$work/$cafile}") >out.log 2>&1
  got=$?
  set -e
  if [ "$got" = "$status" ] && grep -qF -- "$expected" out.log; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name: exit status $got (expected $status), output must hold: $expected"
    sed 's/^/  | /' out.log
  fi
done <<'EOF_CASES'
signed release|signed.exe||0|verdict:             this is the launcher built from commit
signed release, chain checked against its CA|signed.exe|ca.pem|0|signed by a chain from
signed from a PKCS#12 file|signed-p12.exe|ca.pem|0|signer:              /CN=Throwaway Vendor/O=Test
the unsigned build|unsigned.exe||0|authenticode digest: none (unsigned)
one byte changed in the code: the signature no longer matches|tampered.exe||1|REJECTED: broken signature
one byte changed in the code: the bytes are not this build's|tampered.exe||1|REJECTED: changed bytes
another program signed with the same certificate|other-signed.exe||1|REJECTED: another build
a chain that does not lead to the given CA|signed.exe|unrelated.pem|1|REJECTED: untrusted signature
a CA file for an unsigned file|unsigned.exe|ca.pem|1|REJECTED: unsigned
EOF_CASES
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
