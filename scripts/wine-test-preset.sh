#!/bin/sh
# Prints the CMake preset whose build the Wine tests run: the shipped i686 build where this machine can
# run 32-bit Wine, else its x86_64 twin, built from the same sources. (Some kernels, and some VMs,
# cannot execute 32-bit Linux programs at all, and Wine's 32-bit loader is one.)
# LAUNCHER_WINE_PRESET=win64-tests runs the twin on a machine that could run either, so that what the
# other kind of machine runs can be tried here.
if [ -n "${LAUNCHER_WINE_PRESET:-}" ]; then
  echo "$LAUNCHER_WINE_PRESET"
# The loader must run without one of our own qemu entries in binfmt_misc (tests/wine32/wine32.sh): those
# exist only where the kernel cannot run 32-bit programs, and only while another test run uses them.
elif /usr/lib/wine/wine --version >/dev/null 2>&1 &&
     ! ls /proc/sys/fs/binfmt_misc/launcher-test-i386-* >/dev/null 2>&1; then
  echo win32-tests
else
  echo win64-tests
fi
