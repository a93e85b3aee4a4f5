#!/usr/bin/env bash
# make sign: signs the built Launcher.exe with Authenticode (SHA-256, with the certificate chain) into
# build/release/Launcher.exe, leaving the unsigned build as it is.
#
# From the environment (make passes its variables):
#   CERT and KEY      PEM files: the code-signing certificate, followed by its chain, and its private key
#   or PKCS12         a PKCS#12 file holding both
#   PASS              the key's or PKCS#12 file's password, if it has one
#   TIMESTAMP_URL     an RFC 3161 time-stamping service; without one the signature is valid only while
#                     the certificate is
set -euo pipefail
cd "$(dirname "$0")/.."
unsigned=build/win32/bin/Launcher.exe
release=build/release/Launcher.exe

usage() {
  echo "usage: make sign CERT=cert.pem KEY=key.pem [PASS=...] [TIMESTAMP_URL=...]" >&2
  echo "       make sign PKCS12=bundle.p12 [PASS=...] [TIMESTAMP_URL=...]" >&2
  exit 2
}
args=(sign -h sha256 -n "Launcher")
if [ -n "${PKCS12:-}" ]; then
  [ -f "$PKCS12" ] || { echo "sign: no such PKCS#12 file: $PKCS12" >&2; exit 2; }
  args+=(-pkcs12 "$PKCS12")
elif [ -n "${CERT:-}" ] && [ -n "${KEY:-}" ]; then
  [ -f "$CERT" ] || { echo "sign: no such certificate file: $CERT" >&2; exit 2; }
  [ -f "$KEY" ] || { echo "sign: no such key file: $KEY" >&2; exit 2; }
  # Every certificate in CERT goes into the signature, so that Windows can build the chain.
  args+=(-certs "$CERT" -key "$KEY")
else
  usage
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "${PASS:-}" ]; then
  # From a private file, not the command line, where any user's ps would show it.
  (umask 077 && printf '%s' "$PASS" >"$work/pass")
  args+=(-readpass "$work/pass")
fi
[ -z "${TIMESTAMP_URL:-}" ] || args+=(-ts "$TIMESTAMP_URL")

mkdir -p "$(dirname "$release")"
if ! osslsigncode "${args[@]}" -in "$unsigned" -out "$work/Launcher.exe" >"$work/log" 2>&1; then
  cat "$work/log" >&2
  echo "sign: osslsigncode could not sign $unsigned" >&2
  exit 1
fi
mv "$work/Launcher.exe" "$release"
echo "signed:   $release"
echo "commit:   $(git rev-parse HEAD 2>/dev/null || echo unknown)"
echo "sha256:   $(sha256sum "$release" | cut -d' ' -f1)"
[ -n "${TIMESTAMP_URL:-}" ] && echo "timestamp: $TIMESTAMP_URL" ||
  echo "note:     no timestamp (TIMESTAMP_URL): the signature is valid only while the certificate is"
