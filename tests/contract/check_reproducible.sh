#!/bin/sh
# Two clean builds of Launcher.exe from the same commit, in clones at different paths, must give the
# same bytes: no link timestamp and no build path may reach the file.
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
  sha256sum "$1/build/win32/bin/Launcher.exe" | cut -d' ' -f1
}

first=$(build "$work/a")
second=$(build "$work/elsewhere/with a longer path/b")
echo "commit $commit"
echo "first build:  $first"
echo "second build: $second"
if [ "$first" != "$second" ]; then
  echo "the two builds differ:"
  cmp -l "$work/a/build/win32/bin/Launcher.exe" \
    "$work/elsewhere/with a longer path/b/build/win32/bin/Launcher.exe" | head -n 20
  exit 1
fi
