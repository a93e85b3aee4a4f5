#!/usr/bin/env bash
# make test: every layer built (the Wine tests' build, the same-publisher build, the fuzz targets, the
# host tests that tie them together), then one ctest run over all of them.
#
# EMULATE_32BIT=1 takes the path of a machine whose kernel cannot run 32-bit programs, on one that can.
# The ctest run goes into a user, mount and PID namespace with a binfmt_misc instance of its own
# (scripts/binfmt-i386.sh: Linux 6.7 and later), where an i386 entry whose interpreter does not exist
# makes every 32-bit exec fail, as it fails there, until a test registers qemu-i386 in front of it
# (tests/wine32/wine32.sh; the newest entry is asked first), in that same instance. Nothing is written
# to the machine's binfmt_misc: no other program on the machine is refused, and a run that ends in any
# way (killed with SIGKILL included) takes its entries with it. So the Wine tables run on the x86_64
# twin, the shipped file and the NSIS installer run through qemu, and Wine's templates are made in the
# same order, without 32-bit DLLs until a test that runs 32-bit programs needs them. Its templates are
# kept apart from the native path's (build/wine-templates-emulated), so that neither path starts from
# what the other made. Where the kernel has no such instance, it says so in one line and fails. Where
# 32-bit programs cannot run anyway, the switch changes nothing.
#
# The builds run outside the namespace, and so does what cannot run in it: debootstrap (the release
# test's Debian root; a user namespace may not make device nodes). The tests run inside it: chroot, and
# apt in the release test's root (every ID is mapped to itself, _apt's included).
#
# Usage: make-test.sh (make test). make-test.sh --in-own-binfmt is its own ctest step, which it runs in
# the namespace; anywhere else that step refuses to run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
. scripts/binfmt-i386.sh

if [ "${1:-}" = --in-own-binfmt ]; then
  # Outside a namespace of binfmt_isolate's, binfmt_register would write the machine's binfmt_misc, and
  # nothing would ever remove the refusal.
  binfmt_private || { echo "make-test.sh --in-own-binfmt: not in a binfmt_misc of its own (binfmt_isolate makes one): refused; run make test" >&2; exit 1; }
  if [ "${EMULATE_32BIT:-}" = 1 ] && kernel_runs_i386 "$top/build"; then
    # An interpreter that is not there: the kernel's exec fails (ENOENT), and no other handler is asked.
    refusal=$(binfmt_register refuses "$top/build/no-native-i386/$$") ||
      { echo "make test EMULATE_32BIT=1: cannot register an entry in this run's own binfmt_misc" >&2; exit 1; }
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo "make test EMULATE_32BIT=1: 32-bit Wine still runs natively with $refusal registered" >&2
      exit 1
    fi
    export LAUNCHER_NATIVE_32BIT_REFUSED=$refusal LAUNCHER_WINE_TEMPLATES=$top/build/wine-templates-emulated
  fi
  exec scripts/run-ctest.sh
fi

# Entries of an older design in the machine's binfmt_misc are named, with the command that removes
# each; they never choose the path. Where one makes the machine's own 32-bit programs fail, the run fails.
binfmt_leftovers "$top/build" >&2 || { echo "make test: remove it, then run make test again" >&2; exit 1; }

isolate=""
if [ "${EMULATE_32BIT:-}" = 1 ]; then
  if kernel_runs_i386 "$top/build"; then
    why=$(binfmt_isolation_missing) && missing=0 || missing=$?
    if [ "$missing" != 1 ]; then
      echo "make test EMULATE_32BIT=1: cannot refuse 32-bit programs to this run alone: $why" >&2
      exit 1
    fi
    echo "EMULATE_32BIT=1: this machine runs 32-bit programs natively; the tests run in a binfmt_misc of their own, which refuses them"
    isolate=refusing
  else
    echo "EMULATE_32BIT=1: this machine cannot run 32-bit programs natively; nothing to change"
  fi
fi
# Where 32-bit programs need qemu, its entries go in a binfmt_misc of the run's own too, where there is one.
if [ -z "$isolate" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  why=$(binfmt_isolation_missing) && missing=0 || missing=$?
  case $missing in
    1) isolate=yes ;;
    2) echo "make test: the kernel gives a run a binfmt_misc of its own for qemu's entries, but: $why" >&2; exit 1 ;;
  esac
fi
if [ "$isolate" = refusing ]; then
  preset=${LAUNCHER_WINE_PRESET:-win64-tests}  # as scripts/wine-test-preset.sh says in the namespace
else
  preset=$(scripts/wine-test-preset.sh)
fi
echo "Wine tests run on the $preset build"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
cmake --preset win32-same-publisher >/dev/null
cmake --build --preset win32-same-publisher
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset host -DLAUNCHER_SHIPPED_EXE="$top/build/win32/bin/Launcher.exe" \
  -DLAUNCHER_SAME_PUBLISHER_EXE="$top/build/win32-same-publisher/bin/Launcher-same-publisher.exe" \
  -DLAUNCHER_WINE_TEST_DIR="$top/build/$preset" -DLAUNCHER_FUZZ_DIR="$top/build/fuzz" >/dev/null
cmake --build --preset host
if [ -z "$isolate" ]; then
  exec scripts/run-ctest.sh
fi
# The release test's Debian root, made here: debootstrap makes device nodes, which a user namespace may not.
release=$(awk '$1 == "release" { print $2 }' release/toolchain.lock)
(. scripts/debian-root.sh && minbase_root "$release" >/dev/null) ||
  echo "make test: no Debian $release root could be made; the release test will say why" >&2
binfmt_isolate scripts/make-test.sh --in-own-binfmt
