# Sourced by the scripts that run 32-bit programs (the shipped Launcher.exe, an NSIS installer) under
# Wine. Makes /usr/lib/wine/wine runnable or says why not.
#
# Where the kernel cannot execute 32-bit Linux programs, and so cannot run Wine's 32-bit loader, the
# loader runs under qemu-i386 user emulation, registered with binfmt_misc for the sourcing script only
# (machine-wide: such tests run alone). That is slow, about a minute per 32-bit process.
#
# ensure_wine32: returns 0 when 32-bit Wine runs (natively, or now emulated, unregistered again when the
# script exits); otherwise prints a SKIP line and exits the script with 77.
ensure_wine32() {
  binfmt=/proc/sys/fs/binfmt_misc
  entry=$binfmt/launcher-test-i386
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ ! -x /usr/bin/qemu-i386-static ] || [ ! -w "$binfmt/register" ]; then
    echo "SKIP: this machine cannot run 32-bit programs, and cannot emulate them (qemu-i386-static, binfmt_misc)"
    exit 77
  fi
  if [ ! -e "$entry" ]; then
    # i386 ELF executables and shared objects; F: qemu is opened now, so it works in any mount namespace.
    printf '%s' ':launcher-test-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
    trap 'echo -1 > "$entry"' EXIT
  fi
  echo "32-bit Wine runs under qemu-i386 user emulation"
}
