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
# The entry is the sourcing script's own (named by its PID, scripts/binfmt-i386.sh): two such scripts, in two Debian roots on one
# machine, may run at once, and neither may remove the other's. The newest entry matches first; all of
# them name a qemu that runs the same loader.
wine32_emulated=""
wine32_entry=""
# wine32_release: removes the entry registered here, if any. A sourcing script that sets its own EXIT
# trap calls it there.
wine32_release() {
  [ -z "$wine32_entry" ] || echo -1 >"$wine32_entry" 2>/dev/null || true
}
ensure_wine32() {
  . "$(dirname "$0")/../../scripts/binfmt-i386.sh"
  binfmt_prune
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine32_emulated=$(binfmt_qemu_i386 | head -n 1 || true)
    return 0
  fi
  # Debian 12's qemu-user-static names it qemu-i386-static; Debian 13's qemu-user, static itself, qemu-i386.
  qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
  # F: qemu is opened now, so it works in any mount namespace.
  if [ -z "$qemu" ] || ! entry=$(binfmt_register test "$qemu" F 2>/dev/null); then
    echo "SKIP: this machine cannot run 32-bit programs, and cannot emulate them (qemu-i386, binfmt_misc)"
    exit 77
  fi
  wine32_entry=$entry
  trap wine32_release EXIT
  wine32_emulated=$qemu
  echo "32-bit Wine runs under qemu-i386 user emulation ($("$qemu" --version | head -n 1))"
}
