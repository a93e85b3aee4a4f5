#!/bin/sh
# Prints the CMake preset whose build the Wine tests run: the shipped i686 build where this machine can
# run 32-bit Wine, else its x86_64 twin, built from the same sources. (Some kernels, and some VMs,
# cannot execute 32-bit Linux programs at all, and Wine's 32-bit loader is one.)
# LAUNCHER_WINE_PRESET=win64-tests runs the twin on a machine that could run either; make test
# EMULATE_32BIT=1 (scripts/make-test.sh) makes such a machine take the emulating machine's whole path.
if [ -n "${LAUNCHER_WINE_PRESET:-}" ]; then
  echo "$LAUNCHER_WINE_PRESET"
  exit 0
fi
# The kernel decides, never the machine's binfmt_misc: whatever entries it holds (another run's qemu, a
# leftover of an older design) change nothing here. Only make test EMULATE_32BIT=1's refusal does, in
# the binfmt_misc of that run's own, for that run (scripts/binfmt-i386.sh).
. "$(dirname "$0")/binfmt-i386.sh"
if [ -n "${LAUNCHER_NATIVE_32BIT_REFUSED:-}" ] && binfmt_private && [ -f "$LAUNCHER_NATIVE_32BIT_REFUSED" ]; then
  echo win64-tests
elif kernel_runs_i386 "$(dirname "$0")/../build"; then
  echo win32-tests
# Should the probe itself not run (a build folder mounted noexec), the loader decides, where no qemu
# entry for i386 stands between it and the kernel.
elif /usr/lib/wine/wine --version >/dev/null 2>&1 && ! binfmt_qemu_i386 >/dev/null; then
  echo win32-tests
else
  echo win64-tests
fi
