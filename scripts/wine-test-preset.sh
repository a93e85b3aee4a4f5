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
# The kernel decides, not binfmt_misc: an entry of ours whose run was killed (a ctest timeout) is removed
# first where it can be weighed (scripts/binfmt-i386.sh), and never makes a machine that runs 32-bit
# programs take the emulating path. Only a live refusal of make test EMULATE_32BIT=1 does, for its run.
. "$(dirname "$0")/binfmt-i386.sh"
binfmt_prune
if binfmt_ours refuses; then
  echo win64-tests
elif kernel_runs_i386 "$(dirname "$0")/../build"; then
  # Here no run of ours needs qemu: whatever qemu entry of ours is left is a leftover.
  binfmt_drop test
  echo win32-tests
# Should the probe itself not run (a build folder mounted noexec), the loader decides, where no qemu
# entry for i386 stands between it and the kernel.
elif /usr/lib/wine/wine --version >/dev/null 2>&1 && ! binfmt_qemu_i386 >/dev/null; then
  echo win32-tests
else
  echo win64-tests
fi
