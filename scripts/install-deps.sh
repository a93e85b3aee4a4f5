#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, as root.
# Idempotent: every step checks first and does nothing when it is already done.
set -euo pipefail

need_pkgs=(
  cmake ninja-build make g++ googletest git
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine64 locales
  python3-pefile hyperfine clang libclang-rt-14-dev osslsigncode openssl
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  # The example installers, built as a vendor builds them.
  nsis wixl
  # Signing on a PKCS#11 token (SoftHSM2 stands in for one in the tests); libcurl4 for Debian 12's own
  # osslsigncode 2.5, which the release test unpacks beside a newer installed one.
  softhsm2 opensc libengine-pkcs11-openssl libcurl4
)

have_all=1
for p in "${need_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    have_all=0
    break
  fi
done

if [ "$have_all" = 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing packages and not root; run as root once" >&2
    exit 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null
fi

# Where this kernel cannot execute 32-bit Linux programs, Wine's 32-bit loader can only run under
# qemu's user-mode emulation: the test of the shipped 32-bit Launcher.exe needs it then.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 &&
   ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
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
  for l in "${want_locales[@]}"; do
    if ! grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l UTF-8" >> /etc/locale.gen
    fi
  done
  locale-gen >/dev/null
fi
