#!/usr/bin/env bash
# make test's last step: ctest over every layer, with the size of the build tree said just before
# ctest's summary, once every test has run, so that the run still ends with that summary.
# Every tree the host tree pulls in is required by name: each lists the names (or name prefixes) of the
# tests it registers in required-tests.txt, and a name of which no test ran fails the run, saying so
# (ctest alone passes a run whose subdirs() folder is missing, or whose tree registered nothing).
# Exit status: ctest's, or 1 where a required test did not run or a list of them is missing.
# LAUNCHER_CTEST_DIR: another host tree than build/host (the tests of this script).
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${LAUNCHER_CTEST_DIR:-build/host}
ran=$(mktemp)
trap 'rm -f "$ran"' EXIT
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
# --no-tests=error: a tree whose tests went missing (no CTestTestfile) fails the run instead of vanishing.
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j 2 "$@" | while IFS= read -r line; do
  if [[ $line =~ ^[0-9]+%\ tests\ passed ]]; then
    missing="" lists=""
    # The host tree always writes its list (empty where it pulls in no tree): without it, nothing is checked.
    [ -f "$dir/required-trees.txt" ] || lists=" $dir/required-trees.txt"
    while IFS= read -r tree; do
      [ -n "$tree" ] || continue
      [ -f "$tree/required-tests.txt" ] || { lists="$lists $tree/required-tests.txt"; continue; }
      while IFS= read -r name; do
        [ -z "$name" ] || grep -qF -- " $name" "$ran" || missing="$missing $name"
      done <"$tree/required-tests.txt"
    done < <(cat "$dir/required-trees.txt" 2>/dev/null)
    [ -z "$lists" ] || echo "REQUIRED TESTS UNCHECKED: these lists of required tests are missing:$lists" | tee -a "$ran.missing"
    [ -z "$missing" ] || echo "REQUIRED TESTS MISSING: no test of these names ran:$missing" | tee -a "$ran.missing"
    [ -n "${LAUNCHER_CTEST_DIR:-}" ] ||
      echo "$(du -sh --exclude=fresh build | cut -f1) in build/ once every test had run (make fresh's roots apart)${LAUNCHER_TEST_STARTED:+; make test took $(($(date +%s) - LAUNCHER_TEST_STARTED)) s}"
  fi
  [[ ! $line =~ ^\ *[0-9]+/[0-9]+\ Test\ +#[0-9]+:\ ([^ ]+) ]] || echo " ${BASH_REMATCH[1]}" >>"$ran"
  printf '%s\n' "$line"
done
status=${PIPESTATUS[0]}
if [ -f "$ran.missing" ]; then rm -f "$ran.missing"; [ "$status" != 0 ] || status=1; fi
exit "$status"
