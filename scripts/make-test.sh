#!/usr/bin/env bash
# make test: every layer built (the Wine tests' build, the same-publisher build, the fuzz targets, the
# host tests that tie them together), then one ctest run over all of them.
#
# EMULATE_32BIT=1 takes the path of a machine whose kernel cannot run 32-bit programs, on one that can:
# for the whole run, an i386 binfmt_misc entry whose interpreter does not exist makes every 32-bit exec
# fail, as it fails there, until a test registers qemu-i386 in front of it (tests/wine32/wine32.sh; the
# newest entry is asked first). So the Wine tables run on the x86_64 twin, the shipped file and the NSIS
# installer run through qemu, and Wine's templates are made in the same order, without 32-bit DLLs
# until a test that runs 32-bit programs needs them. Its templates are kept apart from the native path's
# (build/wine-templates-emulated), so that neither path starts from what the other made. Where 32-bit
# programs cannot run anyway, the switch changes nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
if [ "${EMULATE_32BIT:-}" = 1 ]; then
  . scripts/binfmt-i386.sh
  binfmt_prune
  if kernel_runs_i386 "$top/build"; then
    binfmt_drop test  # a killed run's qemu entry: none of ours is needed where the kernel runs them
    # An interpreter that is not there: the kernel's exec fails (ENOENT), and no other handler is asked.
    refusal=$(binfmt_register refuses "$top/build/no-native-i386/$$") ||
      { echo "make test EMULATE_32BIT=1: cannot register a binfmt_misc entry (needs root)" >&2; exit 1; }
    trap 'echo -1 >"$refusal"' EXIT
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo "make test EMULATE_32BIT=1: 32-bit Wine still runs natively with $refusal registered" >&2
      exit 1
    fi
    echo "EMULATE_32BIT=1: this machine runs 32-bit programs natively; for this run it refuses them ($refusal)"
    export LAUNCHER_NATIVE_32BIT_REFUSED=$refusal
  else
    echo "EMULATE_32BIT=1: this machine cannot run 32-bit programs natively; nothing to change"
  fi
fi
preset=$(scripts/wine-test-preset.sh)
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
scripts/run-ctest.sh
