#!/bin/sh
# Signed copies for the same-publisher rows of the end-to-end test and for the benchmark, with
# throwaway certificates made here (never a committed key): a test CA, the vendor's code-signing
# certificate and another publisher's from the same CA.
# Usage: sign_for_same_publisher.sh OUTPUT_DIRECTORY LAUNCHER.exe INSTALLER.exe
# Writes to OUTPUT_DIRECTORY: LAUNCHER-signed.exe, INSTALLER-signed.exe (both the vendor's),
# INSTALLER-tampered.exe (the vendor's, one byte changed after signing) and
# INSTALLER-other-publisher.exe.
set -eu
out=$(readlink -f "$1") launcher=$(readlink -f "$2") installer=$(readlink -f "$3")
work=$(mktemp -d)
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
trap 'rm -rf "$work"' EXIT
cd "$work"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Throwaway Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >leaf.ext
for who in vendor other; do
  subject="/C=DE/O=Vantorq Technologies/CN=Vantorq Technologies"
  [ "$who" = vendor ] || subject="/C=DE/O=Someone Else/CN=Vantorq Technologies Ltd"
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$who.key" -out "$who.csr" -subj "$subject"
  quiet openssl x509 -req -in "$who.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 20 -extfile leaf.ext -out "$who.pem"
  cat "$who.pem" ca.pem >"$who-chain.pem"
done
sign() {  # who, input, output
  rm -f "$3"
  quiet osslsigncode sign -certs "$1-chain.pem" -key "$1.key" -h sha256 -in "$2" -out "$3"
}
l=$out/$(basename "$launcher" .exe) i=$out/$(basename "$installer" .exe)
sign vendor "$launcher" "$l-signed.exe"
sign vendor "$installer" "$i-signed.exe"
sign other "$installer" "$i-other-publisher.exe"
# One byte of the code changed after signing: the file's digest no longer matches the signed one. The
# byte at 1 KiB lies in the first section, which the digest covers.
cp "$i-signed.exe" "$i-tampered.exe"
printf '\377' | dd of="$i-tampered.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
cmp -s "$i-signed.exe" "$i-tampered.exe" && { echo "the tampered copy is unchanged" >&2; exit 1; }
exit 0
