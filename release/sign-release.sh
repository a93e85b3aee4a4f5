#!/usr/bin/env bash
# make sign: builds HEAD's Launcher.exe and Launcher-same-publisher.exe with the locked release
# toolchain (locked-build.sh: never the host's compiler), signs both with Authenticode (SHA-256, with
# the certificate chain) into build/release/, and writes a .buildinfo beside each: the commit, the
# environment it was built in, and the SHA-256 of the unsigned build and of the release, for the vendor
# to publish. On any failure there is none of these files, not even an older one.
#
# From the environment (make exports its variables to this script; none is put on a command line):
#   PKCS11_MODULE, KEY and CERT
#                     the key on a token or HSM: the token's PKCS#11 module, the key's pkcs11: URI, and
#                     the certificate as a PEM file with its chain, or as the pkcs11: URI of the
#                     certificate on the token. Signs through OpenSSL's pkcs11 engine (Debian's
#                     libengine-pkcs11-openssl), which osslsigncode finds by itself.
#   or CERT and KEY   PEM files: the code-signing certificate, followed by its chain, and its private key
#   or PKCS12         a PKCS#12 file holding both
#   PIN_FILE or PIN   the token's PIN: a file whose first line it is, or the value itself
#   PASS_FILE or PASS the key's or PKCS#12 file's password, likewise. A value given on make's command
#                     line shows in every user's ps; a file, or a variable exported beforehand, does not.
#   TIMESTAMP_URL     an RFC 3161 time-stamping service; without one the signature is valid only while
#                     the certificate is. If it cannot be reached or refuses, nothing is signed.
#   OSSLSIGNCODE      the osslsigncode to run (default: the one on PATH; 2.5 and 2.9 both work)
set -euo pipefail
cd "$(dirname "$0")/.."
programs=(Launcher Launcher-same-publisher)
osslsigncode=${OSSLSIGNCODE:-osslsigncode}

usage() {
  echo "usage: make sign PKCS11_MODULE=module.so KEY='pkcs11:...' CERT=chain.pem|'pkcs11:...' PIN_FILE=pin [TIMESTAMP_URL=...]" >&2
  echo "       make sign CERT=chain.pem KEY=key.pem [PASS_FILE=pass] [TIMESTAMP_URL=...]" >&2
  echo "       make sign PKCS12=bundle.p12 [PASS_FILE=pass] [TIMESTAMP_URL=...]" >&2
  exit 2
}
need_file() {  # what, path
  [ -f "$2" ] || { echo "sign: no such $1: $2" >&2; exit 2; }
}

# A release from an earlier run must not pass for this one.
for program in "${programs[@]}"; do rm -f "build/release/$program.exe" "build/release/$program.exe.buildinfo"; done

args=(sign -h sha256 -n "Launcher")
secret_file=${PASS_FILE:-}
secret=${PASS:-}
if [ -n "${PKCS11_MODULE:-}" ]; then
  need_file "PKCS#11 module" "$PKCS11_MODULE"
  [[ ${KEY:-} == pkcs11:* ]] || { echo "sign: with PKCS11_MODULE, KEY is the key's pkcs11: URI" >&2; exit 2; }
  [ -n "${CERT:-}" ] || usage
  # No -pkcs11engine: osslsigncode 2.5 takes no path there ("bad engine id"), and both find the engine.
  args+=(-pkcs11module "$PKCS11_MODULE" -key "$KEY")
  if [[ $CERT == pkcs11:* ]]; then
    args+=(-pkcs11cert "$CERT")
  else
    need_file "certificate file" "$CERT"
    args+=(-certs "$CERT")
  fi
  secret_file=${PIN_FILE:-$secret_file}
  secret=${PIN:-$secret}
elif [ -n "${PKCS12:-}" ]; then
  need_file "PKCS#12 file" "$PKCS12"
  args+=(-pkcs12 "$PKCS12")
elif [ -n "${CERT:-}" ] && [ -n "${KEY:-}" ]; then
  need_file "certificate file" "$CERT"
  need_file "key file" "$KEY"
  # Every certificate in CERT goes into the signature, so that Windows can build the chain.
  args+=(-certs "$CERT" -key "$KEY")
else
  usage
fi

work=$(mktemp -d)  # private to this user: mode 700
trap 'rm -rf "$work"' EXIT
# The secret reaches osslsigncode through a file, never its command line, where any user's ps would show
# it: the first line of the given file, or the variable's value, without a line end.
if [ -n "$secret_file" ]; then
  need_file "PIN or password file" "$secret_file"
  (umask 077 && head -n 1 "$secret_file" | tr -d '\r\n' >"$work/secret")
  args+=(-readpass "$work/secret")
elif [ -n "$secret" ]; then
  (umask 077 && printf '%s' "$secret" >"$work/secret")
  args+=(-readpass "$work/secret")
fi
[ -z "${TIMESTAMP_URL:-}" ] || args+=(-ts "$TIMESTAMP_URL")

commit=$(git rev-parse HEAD)
built=build/locked/$commit
if ! release/locked-build.sh "$commit" "$built" >"$work/environment"; then
  echo "sign: $(tail -n 1 "$work/environment")" >&2
  exit 1
fi
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "note:     the working tree has uncommitted changes; the release is commit $commit as committed"

mkdir -p build/release
failed() {
  cat "$work/log" >&2
  echo "sign: $1" >&2
  exit 1
}
# Both signed into the private folder first, then moved: either both releases are there, or neither.
for program in "${programs[@]}"; do
  unsigned=$built/$program.exe
  signed=$work/$program.exe
  "$osslsigncode" "${args[@]}" -in "$unsigned" -out "$signed" >"$work/log" 2>&1 ||
    failed "osslsigncode could not sign $unsigned${TIMESTAMP_URL:+ with a timestamp from $TIMESTAMP_URL}"
  if [ -n "${TIMESTAMP_URL:-}" ]; then
    # Asked for a timestamp, the release has one, or there is no release.
    "$osslsigncode" extract-signature -in "$signed" -out "$signed.signature" >>"$work/log" 2>&1 &&
      /usr/bin/python3 release/authenticode_signature.py "$signed.signature" "$work" >"$work/kind" 2>>"$work/log" &&
      grep -qx "timestamp: rfc3161" "$work/kind" ||
      failed "$program.exe carries no timestamp from $TIMESTAMP_URL"
  fi
  {
    echo "commit:              $commit"
    echo "sha256 of the build: $(sha256sum "$unsigned" | cut -d' ' -f1)"
    echo "sha256 of the release: $(sha256sum "$signed" | cut -d' ' -f1)"
    cat "$work/environment"
  } >"$signed.buildinfo"
done
for program in "${programs[@]}"; do
  mv "$work/$program.exe" "build/release/$program.exe"
  mv "$work/$program.exe.buildinfo" "build/release/$program.exe.buildinfo"
  echo "signed:   build/release/$program.exe"
  cat "build/release/$program.exe.buildinfo"
  echo "buildinfo: build/release/$program.exe.buildinfo"
done
[ -n "${TIMESTAMP_URL:-}" ] && echo "timestamp: $TIMESTAMP_URL" ||
  echo "note:     no timestamp (TIMESTAMP_URL): the signature is valid only while the certificate is"
