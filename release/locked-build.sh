#!/usr/bin/env bash
# Builds a commit's Launcher.exe and Launcher-same-publisher.exe with the release toolchain that release/toolchain.lock names, in a
# minimal root of its Debian release with exactly those versions, never with the host's compiler: the
# bytes of a release (make sign) and of the reference a release is compared against (make verify).
#
# Usage: locked-build.sh COMMIT OUTPUT_DIRECTORY
#   Writes OUTPUT_DIRECTORY/Launcher.exe, Launcher-same-publisher.exe and OUTPUT_DIRECTORY/environment (the release and the locked
#   versions, one "package version" a line), and prints the environment. A directory that holds all
#   three already is kept: the build is reproducible. LOCK names another lock file; MIRROR another archive;
#   DEBIAN_ROOTS where the roots are kept (default build/).
# Exit status: 0 built; 1 the environment cannot be made or the build failed, the reason on the last
# line of standard output (never "another build": no build was compared).
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse --verify "$1^{commit}")
out=$2
lock=${LOCK:-release/toolchain.lock}
cannot() { echo "cannot make the locked build environment: $*"; exit 1; }
[ -f "$lock" ] || cannot "no lock file $lock"
release=$(awk '$1 == "release" { print $2 }' "$lock")
mapfile -t locked < <(awk '!/^#/ && NF == 2 && $1 != "release" { print $1 "=" $2 }' "$lock")
[ -n "$release" ] && [ ${#locked[@]} -gt 0 ] || cannot "$lock names no release or no packages"
environment=$(echo "release $release"; printf '%s\n' "${locked[@]}" | tr '=' ' ')
describe() { echo "environment: Debian $release, from $lock:"; sed 's/^/  /' "$out/environment"; }
if [ -f "$out/Launcher.exe" ] && [ -f "$out/Launcher-same-publisher.exe" ] &&
   [ "$(cat "$out/environment" 2>/dev/null)" = "$environment" ]; then
  describe
  exit 0
fi

[ "$(id -u)" = 0 ] || cannot "it needs root (debootstrap, and chroot to build in it)"
. scripts/debian-root.sh
# One environment per lock, kept: only a change to the lock makes another. One locked build at a time
# on these roots (the release test runs two), and an environment that was not completed goes on exit.
root=$roots/release-env/$release-$(sha256sum "$lock" | cut -c1-16)
mkdir -p "${root%/*}"
exec 9>"${root%/*}/.lock"
flock 9
trap '[ -f "$root/.locked-toolchain" ] || rm -rf "$root"; rm -rf "$root/src"' EXIT
# Its own mark, not the minbase root's .complete that the copy brings along: an install that failed or
# was cut off leaves a root without it, to be made again.
if [ ! -f "$root/.locked-toolchain" ]; then
  new_root "$release" "$root" 2>"$root.why" || cannot "$(tail -n 1 "$root.why")"
  # The sources this environment's apt reads, said first, and kept for the builds that reuse it.
  sources=$(grep '^Debian .* root: apt reads' "$root.why" || true)
  echo "$sources"
  log=$root.log
  if ! root_apt "$root" locked-build "${locked[@]}" </dev/null >"$log" 2>&1; then
    # The helper's own line where it said why (an index the mirror serves mid-sync, a package no index
    # has); a snapshot only for a locked version missing from indexes read whole.
    said=$(sed -n 's/^locked-build: //p' "$log" | tail -n 1)
    missing=$(sed -n "s/^E: Version '\([^']*\)' for '\([^']*\)' was not found$/\2 \1/p" "$log" | paste -sd, - | sed 's/,/, /g')
    if [ -n "$missing" ] && ! grep -q "^locked-build: the mirror's" "$log"; then
      cannot "$mirror does not have $missing in its whole indexes (a snapshot archive of a date when the lock was current serves them, and its security archive is taken from there too: MIRROR=https://snapshot.debian.org/archive/debian/<yyyymmddThhmmssZ>/)"
    fi
    [ -z "$said" ] || cannot "$said (log: $log)"
    cannot "apt-get could not install the locked versions from $mirror: $({ grep '^E:' "$log" || cat "$log"; } | tail -n 1) (log: $log)"
  fi
  in_root "$root" "apt-get clean" </dev/null >>"$log" 2>&1
  echo "${sources/apt reads/apt read}, when this environment was made" >"$root/.locked-toolchain"
else
  cat "$root/.locked-toolchain"
fi

# A clean clone of the commit, built in the environment.
rm -rf "$root/src"
git clone -q --no-checkout --no-local . "$root/src"
git -C "$root/src" checkout -q "$commit"
# The tree with the same-publisher option on builds both files; its Launcher.exe is the default's bytes.
in_root "$root" "cd /src && cmake --preset win32-same-publisher >/dev/null &&
  cmake --build --preset win32-same-publisher --target Launcher Launcher-same-publisher >/dev/null" \
  </dev/null >"$root.build.log" 2>&1 || cannot "the build failed in it (log: $root.build.log)"
mkdir -p "$out"
rm -f "$out/Launcher.exe" "$out/Launcher-same-publisher.exe"
echo "$environment" >"$out/environment"
for program in Launcher-same-publisher Launcher; do
  cp "$root/src/build/win32-same-publisher/bin/$program.exe" "$out/$program.exe.partial"
  mv "$out/$program.exe.partial" "$out/$program.exe"
done
describe
