#!/usr/bin/env bash
# make verify FILE=<exe> [CAFILE=<pem>]: is FILE this commit's launcher?
#
# Builds this commit in a clean clone (the build is reproducible: the same commit gives the same bytes
# anywhere), removes FILE's Authenticode signature (an unsigned FILE is compared as it is) and compares
# the bytes; checks that the signature's signed digest is the file's own Authenticode digest and, given
# CAFILE, that the signer's chain leads to a certificate in it.
# Exit status: 0 when every check holds; 1 when one fails, each failure named; 2 on a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."
file=${1:-}
cafile=${2:-}
if [ -z "$file" ]; then
  echo "usage: make verify FILE=Launcher.exe [CAFILE=ca.pem]" >&2
  exit 2
fi
[ -f "$file" ] || { echo "verify: no such file: $file" >&2; exit 2; }
[ -z "$cafile" ] || [ -f "$cafile" ] || { echo "verify: no such CA file: $cafile" >&2; exit 2; }
file=$(readlink -f "$file")

commit=$(git rev-parse HEAD)
# One build per commit, kept: reproducible, so building it again would give the same bytes.
reference=build/verify/$commit/Launcher.exe
if [ ! -f "$reference" ]; then
  clone=build/verify/$commit.clone
  rm -rf "$clone"
  mkdir -p "$(dirname "$reference")"
  git clone -q --no-checkout . "$clone"
  git -C "$clone" checkout -q "$commit"
  cmake --preset win32 -S "$clone" >/dev/null
  cmake --build "$clone/build/win32" --target Launcher >/dev/null
  cp "$clone/build/win32/bin/Launcher.exe" "$reference.partial"
  mv "$reference.partial" "$reference"
  rm -rf "$clone"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=()

# The signature, if there is one: its signed digest against the digest of the file as it is.
digest="none (unsigned)"
subject="none (unsigned)"
if osslsigncode extract-signature -in "$file" -out "$work/signature.der" >/dev/null 2>&1; then
  # Without -CAfile osslsigncode still checks the chain against the system's roots, and fails for a
  # private CA; the digests it prints are what this check reads.
  osslsigncode verify -in "$file" >"$work/verify.log" 2>&1 || true
  signed_digest=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
  digest=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log" | head -n 1)
  subject=$(sed -n 's/^[[:space:]]*Subject: *//p' "$work/verify.log" | head -n 1)
  if [ -z "$subject" ]; then
    # osslsigncode names the signer only once the digests match: ask the signature itself.
    subject=$(openssl pkcs7 -inform DER -in "$work/signature.der" -print_certs -noout 2>/dev/null |
      sed -n 's/^subject=//p' | head -n 1)
  fi
  subject=${subject:-unknown}
  if [ -z "$signed_digest" ] || [ -z "$digest" ]; then
    failures+=("broken signature: it cannot be read")
    digest=${digest:-unknown}
  elif [ "$signed_digest" != "$digest" ]; then
    failures+=("broken signature: it signs the digest $signed_digest, the file's is $digest")
  fi
  if [ -n "$cafile" ] && ! osslsigncode verify -CAfile "$cafile" -in "$file" >"$work/chain.log" 2>&1; then
    failures+=("untrusted signature: the signer's chain does not lead to a certificate in $cafile")
  fi
  if ! osslsigncode remove-signature -in "$file" -out "$work/unsigned.exe" >/dev/null 2>&1; then
    failures+=("broken signature: it cannot be removed to compare the file")
    cp "$file" "$work/unsigned.exe"
  fi
else
  [ -z "$cafile" ] || failures+=("unsigned: a CA file was given, but FILE carries no signature")
  cp "$file" "$work/unsigned.exe"
fi

# The bytes. A few differing bytes in a file of the same size is this build altered; anything else is
# not this commit's build at all.
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
echo "sha256 of the build: $(sha256sum "$reference" | cut -d' ' -f1)"
echo "authenticode digest: $digest"
echo "signer:              $subject"
if [ ${#failures[@]} -eq 0 ]; then
  echo "verdict:             this is the launcher built from commit $commit${cafile:+, signed by a chain from $cafile}"
  exit 0
fi
for failure in "${failures[@]}"; do echo "REJECTED: $failure"; done
exit 1
