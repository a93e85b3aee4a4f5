#!/usr/bin/env bash
# make sign and make verify, end to end, with throwaway CAs, certificates, a SoftHSM2 token and a local
# time-stamping service made here (never a committed key). Runs in a clone of HEAD, so that what is
# signed is the commit that verify rebuilds, whatever the working tree holds; the clone's path holds a
# space. The clone's locked builds reuse the source tree's Debian roots and apt archive cache (build/,
# DEBIAN_ROOTS), so that a second run downloads no root again. It runs in CACHE_DIRECTORY, on disk.
# Needs root: the locked build environment is a Debian root.
# Usage: check_sign_verify.sh SOURCE_REPOSITORY OTHER_PROGRAM.exe CACHE_DIRECTORY [osslsigncode-2.5]
#   Without the fourth argument: both tables with the installed osslsigncode, then the locked release
#   toolchain. With it: both tables with Debian 12's own 2.5, downloaded through the project's apt helper
#   and unpacked into CACHE_DIRECTORY; where it cannot be downloaded (no bookworm source, as on Debian 13;
#   no network), it says so with the download's own error and exits 77, which ctest reports as a skip.
set -euo pipefail
source=$(readlink -f "$1")
other=$(readlink -f "$2")
mkdir -p "$3"
cache=$(readlink -f "$3")
mode=${4:-installed}
work=$(mktemp -d "$cache/run.XXXXXX")
server=""
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
export DEBIAN_ROOTS=$source/build
src="$work/a clone/src"
git clone -q "$source" "$src"
cd "$work"

# ---- osslsigncode versions -------------------------------------------------------------------------
versions=(osslsigncode)
if [ "$mode" = osslsigncode-2.5 ]; then
  debian=$cache/osslsigncode-bookworm
  if [ ! -x "$debian/usr/bin/osslsigncode" ]; then
    rm -rf "$debian" "$cache/download"
    mkdir -p "$cache/download"
    if (cd "$cache/download" && apt_who="apt" "$source/scripts/apt-install.sh" --download osslsigncode/bookworm) \
         >/dev/null 2>"$work/download.log"; then
      dpkg-deb -x "$cache"/download/osslsigncode_*.deb "$debian"
    fi
  fi
  if [ ! -x "$debian/usr/bin/osslsigncode" ]; then
    echo "SKIP: osslsigncode 2.5 (Debian 12's) could not be downloaded here: $({ grep '^apt: apt-get download' "$work/download.log" || tail -n 1 "$work/download.log"; } | tail -n 1)"
    exit 77
  fi
  versions=("$debian/usr/bin/osslsigncode")
fi

# ---- certificates ----------------------------------------------------------------------------------
quiet() { "$@" >/dev/null 2>&1; }
make_ca() {  # name, subject
  quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 -subj "$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
issue() {  # CA, extensions file, request, certificate out, [public key to put in it instead]
  quiet openssl x509 -req -in "$3" -CA "$1.pem" -CAkey "$1.key" -CAcreateserial -days 20 -extfile "$2" \
    ${5:+-force_pubkey "$5"} -out "$4"
}
make_ca ca "/CN=Throwaway Test CA"
make_ca unrelated "/CN=Unrelated CA"
make_ca tsa-ca "/CN=Throwaway TSA CA"
make_ca other-tsa-ca "/CN=Other TSA CA"

# The time-stamping services, and the address that CRL distribution points and AIA entries name: any
# request that verify makes to them shows in requests.log.
cat >tsa.cnf <<'EOF'
[tsa]
serial = ./tsa.serial
crypto_device = builtin
signer_cert = ./tsa.pem
signer_key = ./tsa.key
certs = ./tsa-chain.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
# Takes no SHA-256 query: every request from osslsigncode gets a "rejection" reply.
[refuses]
serial = ./tsa.serial
crypto_device = builtin
signer_cert = ./tsa.pem
signer_key = ./tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha512
EOF
# One service for each of the other TSA certificates, NAME-tsa.pem, in a section of that name.
for name in other not-yet-valid expired; do
  printf '[%s]\nserial = ./tsa.serial\ncrypto_device = builtin\nsigner_cert = ./%s-tsa.pem\nsigner_key = ./%s-tsa.key\ncerts = ./%s-tsa-chain.pem\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256\n' \
    "$name" "$name" "$name" "$name" >>tsa.cnf
done
echo 01 >tsa.serial
# Windows and osslsigncode take a TSA certificate only with this one key usage, marked critical.
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >tsa.ext
for name in tsa other-tsa; do
  quiet openssl req -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr -subj "/CN=Throwaway ${name^^}"
  issue $name-ca tsa.ext $name.csr $name.pem
  cat $name.pem $name-ca.pem >$name-chain.pem
done
# A TSA certificate that becomes valid only tomorrow: its timestamps today come before it (openssl ca,
# since openssl x509 cannot set a start date).
mkdir tsa-ca.db
: >tsa-ca.db/index.txt
echo 1000 >tsa-ca.db/serial
printf '[ca]\ndefault_ca=c\n[c]\ndatabase=tsa-ca.db/index.txt\nserial=tsa-ca.db/serial\nnew_certs_dir=tsa-ca.db\ncertificate=tsa-ca.pem\nprivate_key=tsa-ca.key\ndefault_md=sha256\npolicy=any\n[any]\ncommonName=supplied\n' >tsa-ca.cnf
quiet openssl req -newkey rsa:2048 -nodes -keyout not-yet-valid-tsa.key -out not-yet-valid-tsa.csr -subj "/CN=Throwaway TSA, valid from tomorrow"
quiet openssl ca -batch -notext -config tsa-ca.cnf -extfile tsa.ext -in not-yet-valid-tsa.csr -out not-yet-valid-tsa.pem \
  -startdate "$(date -u -d tomorrow +%Y%m%d%H%M%SZ)" -enddate "$(date -u -d '+20 days' +%Y%m%d%H%M%SZ)"
cat not-yet-valid-tsa.pem tsa-ca.pem >not-yet-valid-tsa-chain.pem
# A release stamped five days ago by a TSA certificate that expired two days ago: what verifying an old
# release looks like. Its whole world is made ten days ago (faketime), a CA of its own included.
past() { faketime -f -10d "$@"; }
quiet past openssl req -x509 -newkey rsa:2048 -nodes -keyout past-ca.key -out past-ca.pem -days 30 -subj "/CN=Throwaway CA, ten days ago" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet past openssl req -newkey rsa:2048 -nodes -keyout expired-tsa.key -out expired-tsa.csr -subj "/CN=Throwaway TSA, expired"
quiet past openssl x509 -req -in expired-tsa.csr -CA past-ca.pem -CAkey past-ca.key -CAcreateserial -days 8 -extfile tsa.ext -out expired-tsa.pem
cat expired-tsa.pem past-ca.pem >expired-tsa-chain.pem
: >requests.log
python3 "$source/tests/release/local_tsa.py" tsa.cnf port requests.log 2>tsa-server.log &
server=$!
for _ in $(seq 100); do [ -f port ] && break; sleep 0.1; done
service=http://127.0.0.1:$(cat port)
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# Code-signing certificates: one whose key is under a password, one carrying CRL and AIA addresses as a
# public CA's do, one that the CA then revokes.
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >vendor.ext
quiet past openssl req -newkey rsa:2048 -nodes -keyout past-vendor.key -out past-vendor.csr -subj "/CN=Throwaway Vendor, ten days ago/O=Test"
quiet past openssl x509 -req -in past-vendor.csr -CA past-ca.pem -CAkey past-ca.key -CAcreateserial -days 20 -extfile vendor.ext -out past-vendor.pem
cat past-vendor.pem past-ca.pem >past-vendor-chain.pem
{ cat vendor.ext
  echo "crlDistributionPoints=URI:$service/ca.crl"
  echo "authorityInfoAccess=caIssuers;URI:$service/ca.crt,OCSP;URI:$service/ocsp"; } >public-ca.ext
quiet openssl req -newkey rsa:2048 -passout pass:test-only -keyout vendor.key -out vendor.csr -subj "/CN=Throwaway Vendor/O=Test"
issue ca vendor.ext vendor.csr vendor.pem
cat vendor.pem ca.pem >chain.pem
quiet openssl pkcs12 -export -inkey vendor.key -passin pass:test-only -in vendor.pem -certfile ca.pem \
  -passout pass:test-only -out vendor.p12
printf 'test-only\n' >vendor.pass
for name in with-addresses revoked; do
  quiet openssl req -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr -subj "/CN=Throwaway Vendor, $name/O=Test"
  issue ca public-ca.ext $name.csr $name.pem
  cat $name.pem ca.pem >$name-chain.pem
done
mkdir crl
: >crl/index.txt
echo 1000 >crl/number
printf '[ca]\ndefault_ca=c\n[c]\ndatabase=crl/index.txt\ncrlnumber=crl/number\ncertificate=ca.pem\nprivate_key=ca.key\ndefault_md=sha256\ndefault_crl_days=2\n' >crl.cnf
quiet openssl ca -config crl.cnf -revoke revoked.pem
quiet openssl ca -config crl.cnf -gencrl -out crl.pem

# The token: SoftHSM2 with its own configuration here, a key generated on it that never leaves it, and
# a certificate the CA issued for that key (signed by way of a throwaway request: the token's key need
# not sign its own request). PINs reach pkcs11-tool through the environment, never its command line.
mkdir -p token/store
printf 'directories.tokendir = %s/token/store\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >token/softhsm2.conf
export SOFTHSM2_CONF=$work/token/softhsm2.conf TOKEN_SO_PIN=so-secret-4711 TOKEN_PIN=pin-secret-0815
module=/usr/lib/softhsm/libsofthsm2.so
token() { pkcs11-tool --module "$module" --token-label "Vendor Token" "$@"; }
quiet pkcs11-tool --module "$module" --init-token --label "Vendor Token" --so-pin env:TOKEN_SO_PIN
quiet token --init-pin --login --login-type so --so-pin env:TOKEN_SO_PIN --new-pin env:TOKEN_PIN
quiet token --login --pin env:TOKEN_PIN --keypairgen --key-type rsa:2048 --id 01 --label codesign --usage-sign --sensitive
token --login --pin env:TOKEN_PIN --list-objects --type privkey >token-objects.txt 2>&1 || true
grep -q 'never extractable' token-objects.txt || { echo "FAILED: the token's key is extractable"; cat token-objects.txt; exit 1; }
quiet token --read-object --type pubkey --id 01 -o token-key.der
quiet openssl pkey -pubin -inform DER -in token-key.der -out token-key.pem
quiet openssl req -newkey rsa:2048 -nodes -keyout throwaway.key -out token.csr -subj "/CN=Throwaway Token Vendor/O=Test"
issue ca vendor.ext token.csr token-cert.pem token-key.pem
cat token-cert.pem ca.pem >token-chain.pem
quiet openssl x509 -in token-cert.pem -outform DER -out token-cert.der
quiet token --login --pin env:TOKEN_PIN --write-object token-cert.der --type cert --id 01 --label codesign
printf '%s\n' "$TOKEN_PIN" >token.pin
key_uri='pkcs11:token=Vendor%20Token;object=codesign;type=private'
cert_uri='pkcs11:token=Vendor%20Token;object=codesign;type=cert'

commit=$(git -C "$src" rev-parse HEAD)
release=$src/build/release/Launcher.exe
second=$src/build/release/Launcher-same-publisher.exe  # signed with it, or neither is

changed_byte() {  # file, offset: that byte plus one, in place
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; shift; printf '  %s\n' "$@"; }

for osslsigncode in "${versions[@]}"; do
  version=$("$osslsigncode" --version | head -n 1)
  echo "== $version"
  # Whatever the scripts hand osslsigncode shows here: no PIN or password may.
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>%s/arguments.log\nexec %s "$@"\n' "$work" "$osslsigncode" >osslsigncode-recorded
  chmod +x osslsigncode-recorded
  export OSSLSIGNCODE=$work/osslsigncode-recorded
  : >arguments.log
  rm -f ./*.exe
  w=$work

  # name | environment | make sign arguments | release kept as ("": make sign must fail, leaving none,
  # though an earlier release and its buildinfo were there)
  while IFS='|' read -r name environment arguments keep; do
    rm -f "$release" "$release.buildinfo" "$second" "$second.buildinfo"
    if [ -z "$keep" ]; then
      mkdir -p "${release%/*}"
      echo "an earlier release" | tee "$release" "$second" "$second.buildinfo" >"$release.buildinfo"
    fi
    set +e
    eval "$environment make -s -C \"\$src\" sign $arguments" >sign.log 2>&1
    status=$?
    set -e
    if [ -n "$keep" ] && [ "$status" = 0 ] && [ -f "$release" ] && [ -f "$second" ] &&
       grep -qx "commit: *$commit" "$release.buildinfo" "$second.buildinfo" &&
       grep -qx "sha256 of the release: $(sha256sum "$release" | cut -d' ' -f1)" "$release.buildinfo" &&
       grep -qx "sha256 of the release: $(sha256sum "$second" | cut -d' ' -f1)" "$second.buildinfo"; then
      cp "$release" "$keep"
      cp "$second" "sp-$keep"
      pass "make sign: $name"
    elif [ -z "$keep" ] && [ "$status" != 0 ] && [ ! -e "$release" ] && [ ! -e "$release.buildinfo" ] &&
         [ ! -e "$second" ] && [ ! -e "$second.buildinfo" ]; then
      pass "make sign: $name"
    else
      fail "make sign: $name" "exit status $status; release files: $(ls "$release"* "$second"* 2>&1)" "$(tail -n 5 sign.log)"
    fi
  done <<EOF_SIGN
a key file, its password on make's command line (still taken)||CERT=$w/chain.pem KEY=$w/vendor.key PASS=test-only|signed.exe
a PKCS#12 file, its password in a file||PKCS12=$w/vendor.p12 PASS_FILE=$w/vendor.pass|signed-p12.exe
a token, PIN from a file, certificate chain from a file, timestamped||PKCS11_MODULE=$module KEY='$key_uri' CERT=$w/token-chain.pem PIN_FILE=$w/token.pin TIMESTAMP_URL=$service/tsa|token.exe
a token, PIN from the environment, certificate from the token|PIN=\$TOKEN_PIN|PKCS11_MODULE=$module KEY='$key_uri' CERT='$cert_uri'|token-certificate.exe
a token, and the wrong PIN|PIN=wrong-pin|PKCS11_MODULE=$module KEY='$key_uri' CERT=$w/token-chain.pem|
a timestamp from a TSA that another CA certified||CERT=$w/chain.pem KEY=$w/vendor.key PASS_FILE=$w/vendor.pass TIMESTAMP_URL=$service/other|other-tsa.exe
a timestamp from five days ago, by a TSA certificate expired since||CERT=$w/past-vendor-chain.pem KEY=$w/past-vendor.key TIMESTAMP_URL=$service/expired@-5d|expired-tsa.exe
a timestamp from a TSA certificate not yet valid||CERT=$w/chain.pem KEY=$w/vendor.key PASS_FILE=$w/vendor.pass TIMESTAMP_URL=$service/not-yet-valid|not-yet-valid-tsa.exe
a certificate with CRL and AIA addresses, timestamped||CERT=$w/with-addresses-chain.pem KEY=$w/with-addresses.key TIMESTAMP_URL=$service/tsa|with-addresses.exe
a certificate the CA revoked later||CERT=$w/revoked-chain.pem KEY=$w/revoked.key|revoked.exe
a timestamping service that cannot be reached||CERT=$w/chain.pem KEY=$w/vendor.key PASS_FILE=$w/vendor.pass TIMESTAMP_URL=http://127.0.0.1:1/|
a timestamping service that refuses||CERT=$w/chain.pem KEY=$w/vendor.key PASS_FILE=$w/vendor.pass TIMESTAMP_URL=$service/refuses|
EOF_SIGN
  if grep -qE "test-only|$TOKEN_PIN|wrong-pin" arguments.log; then
    fail "no PIN or password on osslsigncode's command line" "$(grep -E "test-only|$TOKEN_PIN|wrong-pin" arguments.log)"
  else
    pass "no PIN or password on osslsigncode's command line"
  fi

  # One byte changed inside the code, which the signature covers.
  text_offset=$((16#$(i686-w64-mingw32-objdump -h signed.exe | awk '$2 == ".text" { print $6 }')))
  cp signed.exe tampered.exe
  changed_byte tampered.exe $((text_offset + 64))
  # One second more in the timestamp token's time (its one GeneralizedTime: certificates carry UTCTime),
  # which the TSA's signature covers and Authenticode's digest does not.
  cp token.exe token-timestamp-changed.exe
  gen_time=$(grep -obUaP '20[0-9]{12}Z' token-timestamp-changed.exe | head -n 1 | cut -d: -f1)
  gen_second=$((gen_time + 13))
  [ "$(od -An -c -j $gen_second -N1 token-timestamp-changed.exe | tr -d ' ')" != 9 ] || gen_second=$((gen_second - 1))
  changed_byte token-timestamp-changed.exe $gen_second
  # Another program, validly signed with the same certificate.
  "$osslsigncode" sign -certs chain.pem -key vendor.key -readpass vendor.pass -h sha256 -in "$other" -out other-signed.exe >/dev/null
  cp "$src/build/locked/$commit/Launcher.exe" unsigned.exe

  : >requests.log
  # name | file | CAFILE | TSA_CAFILE | CRLFILE | expected exit status | text the output must hold
  while IFS='|' read -r name file cafile tsa_cafile crlfile status expected; do
    set +e
    (cd "$src" && release/verify-release.sh "$work/$file" "${cafile:+$work/$cafile}" "${tsa_cafile:+$work/$tsa_cafile}" \
      "${crlfile:+$work/$crlfile}") >out.log 2>&1
    got=$?
    set -e
    if [ "$got" = "$status" ] && grep -qF -- "$expected" out.log &&
       { [ "$got" = 0 ] || grep -q '^REJECTED: ' out.log; }; then
      pass "$name"
    else
      fail "$name" "exit status $got (expected $status), output must hold: $expected" "$(sed 's/^/| /' out.log)"
    fi
  done <<'EOF_CASES'
signed release|signed.exe||||0|verdict:             this is the launcher built from commit
signed release, chain checked against its CA|signed.exe|ca.pem|||0|signed by a chain from
signed release: no timestamp, revocation not checked|signed.exe|ca.pem|||0|timestamp: none
signed from a PKCS#12 file|signed-p12.exe|ca.pem|||0|signer:              /CN=Throwaway Vendor/O=Test
the same-publisher build, signed with it|sp-signed.exe|ca.pem|||0|(Launcher-same-publisher.exe)
the same-publisher build signed on a token, renamed: known by its bytes|sp-token.exe|ca.pem|tsa-ca.pem||0|(Launcher-same-publisher.exe)
the unsigned build|unsigned.exe||||0|authenticode digest: none (unsigned)
one byte changed in the code: the signature no longer matches|tampered.exe||||1|REJECTED: broken signature
one byte changed in the code: the bytes are not this build's|tampered.exe||||1|REJECTED: changed bytes
another program signed with the same certificate|other-signed.exe||||1|REJECTED: another build
a chain that does not lead to the given CA|signed.exe|unrelated.pem|||1|REJECTED: untrusted signature
a CA file for an unsigned file|unsigned.exe|ca.pem|||1|REJECTED: unsigned
signed on a token, timestamped: accepted with CAFILE and TSA_CAFILE|token.exe|ca.pem|tsa-ca.pem||0|, timestamped by a TSA from
signed on a token, timestamped: the time and the TSA named|token.exe|ca.pem|tsa-ca.pem||0|by /CN=Throwaway TSA
signed on a token with the certificate it holds|token-certificate.exe|ca.pem|||0|signer:              /CN=Throwaway Token Vendor/O=Test
one byte changed inside the timestamp token|token-timestamp-changed.exe|ca.pem|tsa-ca.pem||1|REJECTED: broken timestamp
one byte changed inside the timestamp token, no TSA_CAFILE given|token-timestamp-changed.exe||||1|REJECTED: broken timestamp
a timestamp whose TSA another CA certified|other-tsa.exe|ca.pem|tsa-ca.pem||1|REJECTED: untrusted timestamp: the TSA's chain does not lead
a timestamp made before its TSA certificate was valid|not-yet-valid-tsa.exe|ca.pem|tsa-ca.pem||1|REJECTED: broken timestamp: it does not verify (certificate is not yet valid)
a timestamp whose TSA certificate has expired since, valid at the stamped time|expired-tsa.exe|past-ca.pem|past-ca.pem||0|, timestamped by a TSA from
a certificate with CRL and AIA addresses, verified offline|with-addresses.exe|ca.pem|tsa-ca.pem||0|revocation: not checked
a certificate with CRL and AIA addresses, checked against a CRL file|with-addresses.exe|ca.pem|tsa-ca.pem|crl.pem|0|revocation: not revoked in
a revoked certificate, given CRLFILE|revoked.exe|ca.pem||crl.pem|1|REJECTED: revoked certificate
EOF_CASES
  if grep -q '^GET' requests.log; then
    fail "verify fetched nothing from the network" "$(cat requests.log)"
  else
    pass "verify fetched nothing from the network"
  fi
done
if [ "$mode" != installed ]; then
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
  exit
fi
# ---- the locked release toolchain -------------------------------------------------------------------
echo "== the locked release toolchain"
locked_sha=$(sha256sum "$src/build/locked/$commit/Launcher.exe" 2>/dev/null | cut -d' ' -f1 || true)
make -s -C "$src" build >host-build.log 2>&1
if cmp -s "$src/build/win32/bin/Launcher.exe" "$src/build/locked/$commit/Launcher.exe"; then
  echo "fact: this host's own toolchain makes the same bytes as the locked one ($locked_sha)"
else
  echo "fact: this host's own toolchain makes other bytes ($(sha256sum "$src/build/win32/bin/Launcher.exe" | cut -d' ' -f1)) than the locked one ($locked_sha); releases use the locked one"
fi
# A host compiler that makes other bytes (one more at the end of every program it links) changes nothing.
mkdir -p wrapped
for compiler in i686-w64-mingw32-g++-win32 i686-w64-mingw32-gcc-win32; do
  printf '#!/bin/sh
/usr/bin/%s "$@" || exit
for a; do [ "$prev" = -o ] && case $a in *.exe) printf x >>"$a" ;; esac; prev=$a; done
' \
    "$compiler" >"wrapped/$compiler"
  chmod +x "wrapped/$compiler"
done
rm -rf "$src/build/win32" "$src/build/locked" "$src/build/release"
set +e
PATH=$work/wrapped:$PATH make -s -C "$src" build >wrapped-build.log 2>&1
PATH=$work/wrapped:$PATH make -s -C "$src" sign CERT="$work/chain.pem" KEY="$work/vendor.key" PASS_FILE="$work/vendor.pass" >sign.log 2>&1
status=$?
(cd "$src" && PATH=$work/wrapped:$PATH release/verify-release.sh "$release" "$work/ca.pem" "" "") >out.log 2>&1
verified=$?
set -e
wrapped_sha=$(sha256sum "$src/build/win32/bin/Launcher.exe" 2>/dev/null | cut -d' ' -f1 || true)
name="a host compiler that makes other bytes: make sign signs the locked bytes, make verify accepts"
if [ -z "$wrapped_sha" ] || [ -z "$locked_sha" ]; then
  # Without both builds, "other bytes" would be any hash against an empty one: the row proves nothing.
  fail "$name" "its premise did not hold: the wrapped host build (sha256 '$wrapped_sha') or the locked one ('$locked_sha') is missing" \
    "$(tail -n 3 wrapped-build.log)"
elif [ "$wrapped_sha" != "$locked_sha" ] && [ "$status" = 0 ] && [ "$verified" = 0 ] &&
   grep -qx "sha256 of the build: $locked_sha" "$release.buildinfo"; then
  pass "$name"
else
  fail "$name" "wrapped host build $wrapped_sha, locked $locked_sha; make sign $status, verify $verified" "$(tail -n 3 sign.log)" "$(sed 's/^/| /' out.log)"
fi
# A lock naming a version the mirror does not have: no environment, and so no verdict on the bytes; the
# same where apt's sources name no security archive, as a local mirror's do (the reason is still named).
sed 's/^cmake .*/cmake 0.0-0/' "$src/release/toolchain.lock" >missing.lock
echo "Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main" >no-security.sources
# name | APT_SOURCES ("": this machine's)
while IFS='|' read -r name sources; do
  set +e
  (cd "$src" && APT_SOURCES=$sources LOCK=$work/missing.lock release/verify-release.sh "$work/signed.exe" "" "" "") >out.log 2>&1
  got=$?
  set -e
  if [ "$got" = 1 ] && grep -q '^REJECTED: not verified: cannot make the locked build environment: .* does not have cmake 0.0-0 in its whole indexes .*MIRROR=' out.log &&
     ! grep -q 'another build' out.log; then
    pass "$name"
  else
    fail "$name" "exit status $got" "$(sed 's/^/| /' out.log)"
  fi
done <<EOF_LOCK
a locked version the mirror does not have: not verified, and how to supply it|
apt's sources name no security archive: the reason is still named|$work/no-security.sources
EOF_LOCK
# make test's own steps (scripts/make-test.sh), run in this clone whose path holds a space, with a
# cmake and a ctest that only write down the arguments they were given, one a line: each path must
# arrive as one argument.
name="a clone path with a space: make test's CMake paths arrive whole"
mkdir -p stand-ins
# The host tree's configure writes its list of required trees, which run-ctest.sh requires: an empty one.
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"$STAND_IN_LOG"; echo ---- >>"$STAND_IN_LOG"\n[ "$1 $2" != "--preset host" ] || { mkdir -p build/host && : >build/host/required-trees.txt; }\n' >stand-ins/cmake
printf '#!/bin/sh\necho "100%% tests passed, 0 tests failed out of 1"\n' >stand-ins/ctest
chmod +x stand-ins/cmake stand-ins/ctest
rm -f make-test.args
set +e
PATH=$PWD/stand-ins:$PATH STAND_IN_LOG=$PWD/make-test.args LAUNCHER_WINE_PRESET=win32-tests "$src/scripts/make-test.sh" \
  >make-test.log 2>&1
status=$?
set -e
if [ "$status" = 0 ] && grep -qxF -- "-DLAUNCHER_SHIPPED_EXE=$src/build/win32/bin/Launcher.exe" make-test.args &&
   grep -qxF -- "-DLAUNCHER_WINE_TEST_DIR=$src/build/win32-tests" make-test.args; then
  pass "$name"
else
  fail "$name" "make-test.sh exited $status: $(tail -n 3 make-test.log)" \
    "the arguments it gave cmake: $(grep -E 'LAUNCHER_(SHIPPED_EXE|WINE_TEST_DIR)' make-test.args 2>&1 | tr '\n' ' ')"
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
