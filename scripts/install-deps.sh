#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (bookworm) or 13 (trixie), amd64, as root.
# Idempotent: every step checks first and does nothing when it is already done, so that a second run
# makes no apt call and a user who is not root passes once root has installed everything.
set -euo pipefail

# wine32:i386 beside wine64, the i686 and x86_64 cross compilers: an amd64 machine's set.
architecture=$(dpkg --print-architecture 2>/dev/null || uname -m)
if [ "$architecture" != amd64 ]; then
  echo "install-deps: this machine is $architecture; building and testing need Debian on amd64" >&2
  exit 1
fi

# The names that differ between the releases: clang's runtime (for libFuzzer and the sanitizers) must
# match the clang that the release's "clang" installs; libcurl was renamed for the 64-bit time_t
# transition; trixie's qemu-user holds the static emulators that qemu-user-static held before.
release=$( (. /etc/os-release && echo "${VERSION_CODENAME:-} ${PRETTY_NAME:-an unknown system}") 2>/dev/null ||
  echo " an unknown system")
case "${release%% *}" in
  bookworm) clang_runtime=libclang-rt-14-dev libcurl=libcurl4 emulator=qemu-user-static ;;
  trixie) clang_runtime=libclang-rt-19-dev libcurl=libcurl4t64 emulator=qemu-user ;;
  *)
    echo "install-deps: this is ${release#* }; the package names are known for Debian 12 (bookworm) and 13 (trixie) only" >&2
    exit 1
    ;;
esac

need_pkgs=(
  cmake ninja-build make g++ git
  # GoogleTest: its sources for the cross-built Wine tests, its libraries for the host tests.
  googletest libgtest-dev
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 locales
  python3-pefile hyperfine clang "$clang_runtime" osslsigncode openssl
  # make verify takes the signature apart with asn1crypto's CMS and RFC 3161 structures.
  python3-asn1crypto
  # The example installers, built as a vendor builds them.
  nsis wixl
  # Signing on a PKCS#11 token (SoftHSM2 stands in for one in the tests); libcurl for Debian 12's own
  # osslsigncode 2.5, which the release test unpacks beside a newer installed one.
  softhsm2 opensc libengine-pkcs11-openssl "$libcurl"
  # The release test stamps a release as a time-stamping service would have done days ago.
  faketime
  # make sign and make verify build in a Debian root of the locked release; make fresh makes one too.
  debootstrap
)

installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }
apt_who=install-deps
. "$(dirname "$0")/apt-install.sh"
updated=0
install() {
  if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing $*; run as root once" >&2
    exit 1
  fi
  # One update a run: the later installs (the emulator, npm) use the lists the first one read.
  if [ "$updated" = 0 ]; then apt_update || exit 1; updated=1; fi
  apt_install_updated "$@" || exit 1
}

missing=()
for p in "${need_pkgs[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  install "${missing[@]}"
fi

# Where this kernel cannot execute 32-bit Linux programs, Wine's 32-bit loader can only run under
# qemu's user-mode emulation: the tests of the shipped 32-bit Launcher.exe need it then, and make test
# EMULATE_32BIT=1 takes that path on any machine.
if { [ "${EMULATE_32BIT:-}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; } && ! installed "$emulator"; then
  install "$emulator"
fi

# The validator that make test checks the GitHub Actions workflow with, offline: npm's
# @action-validator/cli at the versions and digests tests/workflow/package-lock.json locks, installed
# into the build tree. npm as a command, whoever installed it: a machine may have Node.js from elsewhere,
# whose npm Debian's npm package would conflict with.
tools=$(cd "$(dirname "$0")/.." && pwd)/build/tools/workflow
lock=$(dirname "$0")/../tests/workflow
if [ ! -x "$tools/node_modules/.bin/action-validator" ] || ! cmp -s "$lock/package-lock.json" "$tools/package-lock.json"; then
  command -v npm >/dev/null || install nodejs npm
  mkdir -p "$tools"
  cp "$lock/package.json" "$lock/package-lock.json" "$tools/"
  (cd "$tools" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
fi

# Wine takes its ANSI code page from the locale; these give 1252, 1251, 932, and (hi_IN has no ANSI code
# page) 65001, UTF-8.
want_locales=(en_US.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8 hi_IN.UTF-8)
missing_locale=0
for l in "${want_locales[@]}"; do
  norm=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  if ! locale -a 2>/dev/null | tr 'A-Z' 'a-z' | grep -qx "$norm"; then
    missing_locale=1
  fi
done
if [ "$missing_locale" = 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "install-deps: missing the locales ${want_locales[*]}; run as root once" >&2; exit 1; }
  for l in "${want_locales[@]}"; do
    if ! grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l UTF-8" >> /etc/locale.gen
    fi
  done
  locale-gen >/dev/null
fi
