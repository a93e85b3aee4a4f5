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
# The loader must run without one of our own binfmt_misc entries (scripts/binfmt-i386.sh): a live one
# is another run's qemu, or EMULATE_32BIT's refusal; an entry whose run was killed is removed first, so
# that it never makes a native machine take the emulating path.
. "$(dirname "$0")/binfmt-i386.sh"
binfmt_prune
if /usr/lib/wine/wine --version >/dev/null 2>&1 && ! binfmt_ours_live; then
  echo win32-tests
else
  echo win64-tests
fi
