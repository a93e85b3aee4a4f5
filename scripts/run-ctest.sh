#!/usr/bin/env bash
# make test's last step: ctest over every layer, with the size of the build tree said just before
# ctest's summary, once every test has run, so that the run still ends with that summary.
# Exit status: ctest's.
set -uo pipefail
cd "$(dirname "$0")/.."
# --no-tests=error: a tree whose tests went missing (no CTestTestfile) fails the run instead of vanishing.
ctest --test-dir build/host --output-on-failure --no-tests=error -j 2 | while IFS= read -r line; do
  if [[ $line =~ ^[0-9]+%\ tests\ passed ]]; then
    echo "$(du -sh --exclude=fresh build | cut -f1) in build/ once every test had run (make fresh's roots apart)${LAUNCHER_TEST_STARTED:+; make test took $(($(date +%s) - LAUNCHER_TEST_STARTED)) s}"
  fi
  printf '%s\n' "$line"
done
exit "${PIPESTATUS[0]}"
