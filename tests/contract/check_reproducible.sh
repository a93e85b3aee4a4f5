#!/bin/sh
# Two clean builds from the same commit, in clones at different paths, must give the same bytes: no link
# timestamp and no build path may reach Launcher.exe, Launcher-same-publisher.exe, nor the check kit
# (make kit) that packs them with the test programs. The second clone makes its Launcher.exe in the tree
# with the same-publisher option on: the option must not change the default file by one byte.
# Usage: check_reproducible.sh SOURCE_REPOSITORY
set -eu
source=$1
work=$(mktemp -d)
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$source" rev-parse HEAD)

build() {  # clone, the preset whose Launcher.exe is compared
  git clone -q --no-checkout "$source" "$1"
  git -C "$1" checkout -q "$commit"
  for preset in win32 win32-same-publisher; do
    cmake --preset $preset -S "$1" >/dev/null
    cmake --build "$1/build/$preset" >/dev/null
  done
  cp "$1/build/$2/bin/Launcher.exe" "$1/build/Launcher.exe"
  "$1/kit/make-kit.sh" >/dev/null
}

first="$work/a"
second="$work/elsewhere/with a longer path/b"
build "$first" win32
build "$second" win32-same-publisher
echo "commit $commit"
failed=0
for file in build/Launcher.exe build/win32-same-publisher/bin/Launcher-same-publisher.exe build/kit/LauncherChecks.zip; do
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
