# Sourced by the scripts that run 32-bit programs (the shipped Launcher.exe, an NSIS installer) under
# Wine. Makes /usr/lib/wine/wine runnable or says why not.
#
# Where the kernel cannot execute 32-bit Linux programs, and so cannot run Wine's 32-bit loader, the
# loader runs under qemu-i386 user emulation, registered with binfmt_misc for the sourcing script only.
# That is slow, about a minute per 32-bit process.
#
# wine32_own_binfmt SCRIPT [ARGUMENT...]: called first by a sourcing script with its own $0 and
# arguments. Where this machine would need qemu's entry, the script has no binfmt_misc of its own yet,
# and the kernel gives one (Linux 6.7 and later, as root: scripts/binfmt-i386.sh), runs the script
# again in one, and exits with its status; the entry is then made there, seen by the script alone, and
# goes with it however it ends. Elsewhere it returns, and the entry is the machine's (older kernels).
#
# ensure_wine32: returns 0 when 32-bit Wine runs (natively, or emulated: through another run's entry,
# or through one registered now and unregistered again when the script exits; wine32_emulated then
# names the qemu); otherwise prints a SKIP line and exits the script with 77.
# A machine-wide entry is the sourcing script's own (named by its PID and start time): two such scripts,
# in two Debian roots on one machine, may run at once, and neither may remove the other's. The newest
# entry matches first; all of them name a qemu that runs the same loader.
#
# wine32_on_signals: TERM, HUP and INT become an exit (143, 129, 130), so that the EXIT trap runs; dash,
# which runs /bin/sh scripts, does not run it when a signal ends the script. Every test script with a
# cleanup trap calls it.
wine32_emulated=""
wine32_entry=""
wine32_on_signals() {
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  trap 'exit 130' INT
}
# wine32_release: removes the entry registered here, if any. A sourcing script that sets its own EXIT
# trap calls it there.
wine32_release() {
  [ -z "$wine32_entry" ] || echo -1 >"$wine32_entry" 2>/dev/null || true
  wine32_entry=""
}
wine32_own_binfmt() {
  . "$(dirname "$0")/../../scripts/binfmt-i386.sh"
  binfmt_private && return 0
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  _w32_why=$(binfmt_isolation_missing) && return 0
  [ $? = 1 ] || { echo "$0: $_w32_why" >&2; exit 1; }
  _w32_status=0
  binfmt_isolate "$@" || _w32_status=$?
  exit "$_w32_status"
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
  wine32_on_signals
  trap wine32_release EXIT
  wine32_emulated=$qemu
  _w32_where="the machine's binfmt_misc (this kernel gives no run one of its own)"
  binfmt_private && _w32_where="a binfmt_misc of this run's own"
  echo "32-bit Wine runs under qemu-i386 user emulation ($("$qemu" --version | head -n 1)), registered in $_w32_where"
}
