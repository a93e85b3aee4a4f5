#!/usr/bin/env bash
# A newcomer's machine, on demand: a minbase root of a Debian release, made with debootstrap from the
# mirror apt already uses, with a clean clone of the current commit in it, where the README's two
# commands run as root. Prints each command's exit status and time; exits 0 only when both passed.
#
# Usage: fresh-machine.sh bookworm|trixie   (MIRROR=... names another Debian mirror)
# The minbase root is made once and kept in build/debian/; each run starts from a copy of it in
# build/fresh/<release>, so that every run is a first run. Downloaded packages are kept beside it, so
# that a rerun does not fetch them again. The mounts and every process in the root go away with the
# run, also when it is interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."
release=${1:-}
case "$release" in
  bookworm | trixie) ;;
  *) echo "usage: make fresh DEBIAN=bookworm|trixie" >&2; exit 2 ;;
esac
. scripts/debian-root.sh
root=$PWD/build/fresh/$release
archives=$PWD/build/fresh/$release-archives
new_root "$release" "$root" || exit 2
mkdir -p "$archives/partial"
commit=$(git rev-parse HEAD)
git clone -q --no-local "$PWD" "$root/root/launcher"
git -C "$root/root/launcher" checkout -q "$commit"
echo "fresh: Debian $(cat "$root/etc/debian_version"), commit $commit, in $root"

status=0
# What the README asks for before its commands: make itself (and git, to clone), which minbase lacks.
for command in "apt-get update && apt-get install -y make git" "make demo" "make test"; do
  start=$(date +%s)
  log=$root/root/$(echo "${command%% &&*}" | tr ' ' '-').log
  set +e
  ROOT_BINDS="$archives:/var/cache/apt/archives" in_root "$root" "cd /root/launcher && $command" </dev/null >"$log" 2>&1
  result=$?
  set -e
  tail -n 3 "$log" | sed 's/^/  | /'
  echo "fresh: $command: exit status $result in $(($(date +%s) - start)) s (log: $log)"
  [ "$result" = 0 ] || { status=1; [ "$command" != "${command#apt-get}" ] && break; }
done
exit $status
