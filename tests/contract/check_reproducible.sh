#!/bin/sh
# Two clean builds from the same commit, in clones at different paths, must give the same bytes: no link
# timestamp and no build path may reach Launcher.exe, nor the check kit (make kit) that packs it with the
# test programs.
# Usage: check_reproducible.sh SOURCE_REPOSITORY
set -eu
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$source" rev-parse HEAD)

build() {
  git clone -q --no-checkout "$source" "$1"
  git -C "$1" checkout -q "$commit"
  cmake --preset win32 -S "$1" >/dev/null
  cmake --build "$1/build/win32" --target Launcher >/dev/null
  "$1/kit/make-kit.sh" >/dev/null
}

first="$work/a"
second="$work/elsewhere/with a longer path/b"
build "$first"
build "$second"
echo "commit $commit"
failed=0
for file in build/win32/bin/Launcher.exe build/kit/LauncherChecks.zip; do
  a=$(sha256sum "$first/$file" | cut -d' ' -f1)
  b=$(sha256sum "$second/$file" | cut -d' ' -f1)
  echo "$file: $a, then $b"
  if [ "$a" != "$b" ]; then
    echo "the two builds of $file differ:"
    cmp -l "$first/$file" "$second/$file" | head -n 20
    failed=1
  fi
done
exit "$failed"
