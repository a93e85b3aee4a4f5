# Sourced by the scripts that run 32-bit programs (the shipped Launcher.exe, an NSIS installer) under
# Wine. Makes /usr/lib/wine/wine runnable or says why not.
#
# Where the kernel cannot execute 32-bit Linux programs, and so cannot run Wine's 32-bit loader, the
# loader runs under qemu-i386 user emulation, registered with binfmt_misc for the sourcing script only
# (machine-wide: such tests run alone). That is slow, about a minute per 32-bit process.
#
# ensure_wine32: returns 0 when 32-bit Wine runs (natively, or emulated: through another run's entry,
# or through one registered now and unregistered again when the script exits; wine32_emulated then
# names the qemu); otherwise prints a SKIP line and exits the script with 77.
# The entry is the sourcing script's own (named by its PID): two such scripts, in two Debian roots on one
# machine, may run at once, and neither may remove the other's. The newest entry matches first; all of
# them name a qemu that runs the same loader.
wine32_emulated=""
# The qemu that an enabled binfmt_misc entry for i386 ELF files names, whoever registered it (this
# script, another run's, a package's): binfmt_misc is asked before the kernel's own ELF loader, so where
# there is one, 32-bit programs run through it.
wine32_emulator() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" && grep -q '^magic 7f454c46010101' "$entry" &&
      sed -n 's/^interpreter \(.*qemu-i386.*\)/\1/p' "$entry" | grep . && return 0
  done
  return 1
}
ensure_wine32() {
  binfmt=/proc/sys/fs/binfmt_misc
  entry=$binfmt/launcher-test-i386-$$
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine32_emulated=$(wine32_emulator | head -n 1 || true)
    return 0
  fi
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  # Debian 12's qemu-user-static names it qemu-i386-static; Debian 13's qemu-user, static itself, qemu-i386.
  qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
  if [ -z "$qemu" ] || [ ! -w "$binfmt/register" ]; then
    echo "SKIP: this machine cannot run 32-bit programs, and cannot emulate them (qemu-i386, binfmt_misc)"
    exit 77
  fi
  # i386 ELF executables and shared objects; F: qemu is opened now, so it works in any mount namespace.
  printf '%s' ":${entry##*/}:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
    >"$binfmt/register"
  trap 'echo -1 > "$entry"' EXIT
  wine32_emulated=$qemu
  echo "32-bit Wine runs under qemu-i386 user emulation ($("$qemu" --version | head -n 1))"
}
