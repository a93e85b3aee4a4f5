#!/usr/bin/env bash
# make verify FILE=<exe> [CAFILE=<pem>] [TSA_CAFILE=<pem>] [CRLFILE=<pem>]: is FILE this commit's launcher,
# signed as it should be?
#
# Builds this commit in a clean clone with the locked release toolchain (locked-build.sh: the same
# commit gives the same bytes on any host), removes FILE's Authenticode signature (an unsigned FILE is
# compared as it is) and compares the bytes; checks that the signature's signed digest is the file's own Authenticode digest, that an
# RFC 3161 timestamp, if there is one, is intact and stamps this signature, and, given the files, that the
# signer's chain leads to CAFILE, the timestamp's to TSA_CAFILE, and that CRLFILE does not revoke the
# signer. Nothing is fetched from the network: a certificate's CRL and AIA addresses are not followed.
#
# osslsigncode's verify exits 0 even when a timestamp fails, so its report lines are read, never its
# exit status; OSSLSIGNCODE names the one to use (2.5, Debian 12's, and 2.9 give the same verdicts).
# Exit status: 0 when every check holds; 1 when one fails, each failure named on a REJECTED: line; 2 on
# a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."
file=${1:-}
cafile=${2:-}
tsa_cafile=${3:-}
crlfile=${4:-}
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
if [ -z "$file" ]; then
  echo "usage: make verify FILE=Launcher.exe [CAFILE=ca.pem] [TSA_CAFILE=tsa-ca.pem] [CRLFILE=crls.pem]" >&2
  exit 2
fi
[ -f "$file" ] || { echo "verify: no such file: $file" >&2; exit 2; }
for given in "$cafile" "$tsa_cafile" "$crlfile"; do
  [ -z "$given" ] || [ -f "$given" ] || { echo "verify: no such file: $given" >&2; exit 2; }
done
# A CRL counts only when its issuer is trusted, and CAFILE says which issuers are.
[ -z "$crlfile" ] || [ -n "$cafile" ] || { echo "verify: CRLFILE needs CAFILE" >&2; exit 2; }
file=$(readlink -f "$file")

# Whatever fails unforeseen (a build that breaks, a tool that is missing) still ends in a verdict.
trap 'echo "REJECTED: not verified: \"$BASH_COMMAND\" failed (line $LINENO)"; exit 1' ERR

commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The reference: this commit built in a clean clone with the locked release toolchain, never the host's
# (one build per commit and lock, kept: the build is reproducible). Without it nothing can be compared.
if ! release/locked-build.sh "$commit" "build/locked/$commit" >"$work/environment"; then
  echo "REJECTED: not verified: $(tail -n 1 "$work/environment")"
  exit 1
fi
# Either of the commit's two launchers: the one whose bytes FILE has, whatever its name; failing that,
# the one its name says (Launcher-same-publisher.exe, or else Launcher.exe), for the report.
reference=build/locked/$commit/Launcher.exe
case "${file##*/}" in *[Ss]ame-publisher*) reference=build/locked/$commit/Launcher-same-publisher.exe ;; esac
failures=()

# osslsigncode 2.9 fetches the CRL named in a certificate unless told not to, and fails without network;
# 2.5 fetches nothing and knows neither option.
offline=()
offline_with_crl=()
# (Read whole: under pipefail, grep -q ending the pipe early would make the test fail.)
verify_help=$("$osslsigncode" verify --help 2>&1 || true)
if [[ $verify_help == *-ignore-cdp* ]]; then
  offline=(-ignore-crl)
  offline_with_crl=(-ignore-cdp)
fi
line_of() {  # report, line label: what follows the label, on the first such line
  sed -n "/^[[:space:]]*$2 *: */{s///;p;q;}" "$1" | tr -d '\r'
}
openssl_reason() {  # log: the certificate error, else the reason in openssl's last error line, else its last line
  { sed -n 's/.*:Verify error: *//p' "$1"
    sed -n 's/^[0-9A-F]*:error:[0-9A-F]*:[^:]*:[^:]*:\([^:]*\):.*/\1/p' "$1" | tail -n 1
    tail -n 1 "$1"; } | sed -n 1p  # sed, not head: head would end the pipe early, and pipefail fail it
}

digest="none (unsigned)"
subject="none (unsigned)"
timestamp="none"
revocation="not checked"
if "$osslsigncode" extract-signature -in "$file" -out "$work/extracted" >/dev/null 2>&1; then
  parts=$work/parts
  mkdir "$parts"
  subject=unknown
  kind=unreadable
  timestamp_intact=no
  if /usr/bin/python3 release/authenticode_signature.py "$work/extracted" "$parts" >"$work/kind" 2>"$work/parts.log"; then
    kind=$(sed -n 's/^timestamp: //p' "$work/kind")
  else
    failures+=("broken signature: it cannot be read ($(cat "$work/parts.log"))")
  fi
  if [ -f "$parts/signer.der" ]; then
    subject=$(openssl x509 -inform DER -in "$parts/signer.der" -noout -subject -nameopt compat 2>/dev/null |
      sed 's/^subject=//' || true)
    subject=${subject:-unknown}
  fi

  # One report serves every check below: the digests, whether there is a timestamp, and (given the
  # files) the trust in the signer's and the TSA's chains. Without -CAfile osslsigncode checks the chain
  # against the system's roots, and fails for a private CA; the digests it prints all the same.
  trust=()
  [ -z "$cafile" ] || trust+=(-CAfile "$cafile")
  [ -z "$tsa_cafile" ] || trust+=(-TSA-CAfile "$tsa_cafile")
  "$osslsigncode" verify "${trust[@]}" "${offline[@]}" -in "$file" >"$work/verify.log" 2>&1 || true
  signed_digest=$(line_of "$work/verify.log" "Current message digest" | cut -d' ' -f1)
  digest=$(line_of "$work/verify.log" "Calculated message digest" | cut -d' ' -f1)
  if [ -z "$signed_digest" ] || [ -z "$digest" ]; then
    failures+=("broken signature: it cannot be read")
    digest=${digest:-unknown}
  elif [ "$signed_digest" != "$digest" ]; then
    failures+=("broken signature: it signs the digest $signed_digest, the file's is $digest")
  fi

  # The timestamp, on its own terms: the TSA's signature over it, the signature value it stamps, and the
  # TSA's certificate valid at the stamped time, trusting only that certificate. Whether the TSA is one to
  # trust is TSA_CAFILE's question, below.
  case $kind in
    none)
      if grep -q "Timestamp Server Signature verification" "$work/verify.log"; then
        failures+=("broken timestamp: osslsigncode finds one where this check finds none")
      fi ;;
    countersignature)
      timestamp="an Authenticode countersignature"
      failures+=("unchecked timestamp: an Authenticode countersignature; this check reads RFC 3161 timestamps, which make sign adds") ;;
    rfc3161)
      stamped=$(openssl ts -reply -in "$parts/token.der" -token_in -token_out -text 2>/dev/null | line_of /dev/stdin "Time stamp" || true)
      tsa=""
      [ ! -f "$parts/tsa-signer.der" ] ||
        tsa=$(openssl x509 -inform DER -in "$parts/tsa-signer.der" -noout -subject -nameopt compat 2>/dev/null |
          sed 's/^subject=//' || true)
      tsa=${tsa:-a TSA whose certificate it does not carry}
      timestamp="${stamped:-unreadable} by $tsa"
      epoch=$(date -u -d "$stamped" +%s 2>/dev/null || true)
      openssl pkcs7 -inform DER -in "$parts/token.der" -print_certs -out "$work/tsa-own.pem" >/dev/null 2>&1 || true
      if [ -z "$epoch" ] || [ ! -s "$work/tsa-own.pem" ]; then
        failures+=("broken timestamp: it cannot be read")
      else
        openssl ts -verify -in "$parts/token.der" -token_in -data "$parts/signature-value.bin" \
          -CAfile "$work/tsa-own.pem" -partial_chain -attime "$epoch" >"$work/timestamp.log" 2>&1 || true
        if grep -qx "Verification: OK" "$work/timestamp.log"; then
          timestamp_intact=yes
        else
          failures+=("broken timestamp: it does not verify ($(openssl_reason "$work/timestamp.log"))")
        fi
      fi ;;
    *) ;;
  esac

  # Trust: the signer's chain against CAFILE and the TSA's against TSA_CAFILE, at the stamped time when
  # the timestamp holds. osslsigncode names what it checked on its own lines.
  if [ -n "$cafile" ] || [ -n "$tsa_cafile" ]; then
    if [ -n "$cafile" ] && [ "$(line_of "$work/verify.log" "Signature verification")" != ok ]; then
      failures+=("untrusted signature: the signer's chain does not lead to a certificate in $cafile")
    fi
    if [ -n "$tsa_cafile" ] && [ "$timestamp_intact" = yes ] &&
       [ "$(line_of "$work/verify.log" "Timestamp Server Signature verification")" != ok ]; then
      failures+=("untrusted timestamp: the TSA's chain does not lead to a certificate in $tsa_cafile")
    fi
    if [ -n "$crlfile" ]; then
      "$osslsigncode" verify "${trust[@]}" -CRLfile "$crlfile" "${offline_with_crl[@]}" -in "$file" \
        >"$work/crl.log" 2>&1 || true
      if [ "$(line_of "$work/crl.log" "Signature CRL verification")" = ok ]; then
        revocation="not revoked in $crlfile"
      elif grep -q "certificate revoked" "$work/crl.log"; then
        revocation="revoked in $crlfile"
        failures+=("revoked certificate: $crlfile revokes the signer's certificate")
      else
        revocation="unknown"
        failures+=("unknown revocation: $crlfile does not settle the signer's certificate ($(grep -m 1 -i 'error' "$work/crl.log" | sed 's/^[[:space:]]*//' || echo "no CRL verdict"))")
      fi
    fi
  fi

  if ! "$osslsigncode" remove-signature -in "$file" -out "$work/unsigned.exe" >/dev/null 2>&1; then
    failures+=("broken signature: it cannot be removed to compare the file")
    cp "$file" "$work/unsigned.exe"
  fi
else
  for given in "$cafile" "$tsa_cafile" "$crlfile"; do
    [ -z "$given" ] || { failures+=("unsigned: a CA or CRL file was given, but FILE carries no signature"); break; }
  done
  cp "$file" "$work/unsigned.exe"
fi

# The bytes. A few differing bytes in a file of the same size is this build altered; anything else is
# not this commit's build at all.
for build in build/locked/$commit/Launcher.exe build/locked/$commit/Launcher-same-publisher.exe; do
  ! cmp -s "$work/unsigned.exe" "$build" || reference=$build
done
if ! cmp -s "$work/unsigned.exe" "$reference"; then
  size=$(stat -c %s "$work/unsigned.exe")
  expected_size=$(stat -c %s "$reference")
  cmp -l "$work/unsigned.exe" "$reference" >"$work/differences" 2>/dev/null || true
  differing=$(wc -l <"$work/differences")
  if [ "$size" = "$expected_size" ] && [ "$differing" -le 64 ]; then
    # Removing a signature recomputes the PE checksum (offset 216 in PE32 files), so a changed byte in
    # a signed file shows there too.
    offsets=$(head -n 8 "$work/differences" | awk '{ o = o (NR > 1 ? ", " : "") ($1 - 1) } END { print o }')
    failures+=("changed bytes: $differing byte(s) differ from this commit's build, at offset(s) $offsets")
  else
    failures+=("another build: not this commit's launcher ($size bytes unsigned, this commit's build has $expected_size)")
  fi
fi

echo "commit:              $commit"
echo "file:                $file"
echo "sha256 of the file:  $(sha256sum "$file" | cut -d' ' -f1)"
echo "sha256 of the build: $(sha256sum "$reference" | cut -d' ' -f1) (${reference##*/})"
cat "$work/environment"
echo "authenticode digest: $digest"
echo "signer:              $subject"
echo "timestamp: $timestamp"
echo "revocation: $revocation"
if [ ${#failures[@]} -eq 0 ]; then
  echo "verdict:             this is the launcher built from commit $commit${cafile:+, signed by a chain from $cafile}${tsa_cafile:+, timestamped by a TSA from $tsa_cafile}"
  exit 0
fi
for failure in "${failures[@]}"; do echo "REJECTED: $failure"; done
exit 1
