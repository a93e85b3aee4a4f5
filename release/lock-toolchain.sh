#!/usr/bin/env bash
# make lock [DEBIAN=release]: writes release/toolchain.lock anew with the versions the mirror now has of
# the packages it names, for its release or for DEBIAN (to move the lock to a newer Debian). What it
# writes is a change like any other: review it and commit it. It writes only from whole indexes: where
# the mirror cannot serve one (mid-sync, a stale cache), it names it and leaves the lock as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
lock=release/toolchain.lock
release=${1:-$(awk '$1 == "release" { print $2 }' "$lock")}
packages=$(awk '!/^#/ && NF == 2 && $1 != "release" { print $1 }' "$lock")
. scripts/debian-root.sh
root=$PWD/build/debian/$release-lock
trap 'rm -rf "$root"' EXIT
new_root "$release" "$root"
# apt-cache's candidate: the version apt would install now, from the release, its updates or security.
# Half a suite read would give older candidates for some packages and name them as current.
apt_going_on="$lock is left as it was: a lock is written only from whole indexes" \
  root_apt "$root" lock --whole-indexes </dev/null >/dev/null || exit 1
versions=$(in_root "$root" "for p in $(echo $packages); do
  printf '%s %s\n' \$p \"\$(apt-cache policy \$p | sed -n 's/^ *Candidate: //p')\"; done")
if echo "$versions" | awk 'NF < 2 || $2 == "(none)" { bad = 1 } END { exit !bad }'; then
  echo "lock: Debian $release lacks: $(echo "$versions" | awk 'NF < 2 || $2 == "(none)" { printf "%s ", $1 }')" >&2
  exit 1
fi
{
  sed -n '/^#/p' "$lock"
  echo "release $release"
  echo "$versions"
} >"$lock.new"
mv "$lock.new" "$lock"
git --no-pager diff --stat -- "$lock" || true
echo "lock: $lock now names Debian $release's current versions; review and commit it"
