#!/usr/bin/env bash
# A newcomer's machine, on demand: a minbase root of a Debian release, made with debootstrap from the
# mirror apt already uses, with a clean clone of the current commit in it, where the README's two
# commands run as root. Prints each command's exit status and time; exits 0 only when both passed.
#
# Usage: fresh-machine.sh bookworm|trixie   (MIRROR=... names another Debian mirror)
# The minbase root is made once and kept in build/fresh/<release>-minbase; each run starts from a copy
# of it, so that every run is a first run. Downloaded packages are kept beside it, so that a rerun
# does not fetch them again. Everything runs in a mount and PID namespace of its own: the mounts and
# every process in the root go away with it, also when the run is interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."
release=${1:-}
case "$release" in
  bookworm | trixie) ;;
  *) echo "usage: make fresh DEBIAN=bookworm|trixie" >&2; exit 2 ;;
esac
[ "$(id -u)" = 0 ] || { echo "fresh: debootstrap and chroot need root" >&2; exit 2; }

# The mirror and security archive that apt here uses (deb822 or one-line sources), unless MIRROR names one.
uris=$(sed -n -e 's/^URIs: *//p' -e 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null || true)
mirror=${MIRROR:-$(echo "$uris" | grep -v -- '-security' | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(echo "$uris" | grep -- '-security' | head -n 1)
security=${security:-http://deb.debian.org/debian-security}

base=$PWD/build/fresh/$release-minbase
root=$PWD/build/fresh/$release
archives=$PWD/build/fresh/$release-archives
if [ ! -f "$base/.complete" ]; then
  command -v debootstrap >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }
  echo "fresh: making a minbase root of $release from $mirror"
  rm -rf "$base"
  mkdir -p "${base%/*}"
  debootstrap --variant=minbase "$release" "$base" "$mirror" >"$base.log" 2>&1 ||
    { tail -n 20 "$base.log"; echo "fresh: debootstrap failed (log: $base.log)" >&2; exit 1; }
  # What an installed system's apt has: the release, its updates and its security archive.
  cat >"$base/etc/apt/sources.list" <<EOF
deb $mirror $release main
deb $mirror $release-updates main
deb $security $release-security main
EOF
  touch "$base/.complete"
fi

rm -rf "$root"
cp -a "$base" "$root"
mkdir -p "$archives/partial"
cp /etc/resolv.conf "$root/etc/resolv.conf"
commit=$(git rev-parse HEAD)
git clone -q --no-local "$PWD" "$root/root/launcher"
git -C "$root/root/launcher" checkout -q "$commit"
echo "fresh: Debian $(cat "$root/etc/debian_version"), commit $commit, in $root"

# The part that runs in the namespaces: mount what a booted machine has, then the README's commands.
inside=$(cat <<'EOF'
set -u
root=$1 archives=$2
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --rbind /dev "$root/dev"
mount --bind "$archives" "$root/var/cache/apt/archives"
status=0
# What the README asks for before its commands: make itself (and git, to clone), which minbase lacks.
for command in "apt-get update && apt-get install -y make git" "make demo" "make test"; do
  start=$(date +%s)
  log=$root/root/$(echo "${command%% &&*}" | tr ' ' '-').log
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    TERM=dumb DEBIAN_FRONTEND=noninteractive /bin/sh -c "cd /root/launcher && $command" </dev/null >"$log" 2>&1
  result=$?
  tail -n 3 "$log" | sed 's/^/  | /'
  echo "fresh: $command: exit status $result in $(( $(date +%s) - start )) s (log: $log)"
  [ "$result" = 0 ] || { status=1; [ "$command" != "${command#apt-get}" ] && break; }
done
exit $status
EOF
)
unshare --mount --propagation private --pid --fork --kill-child bash -c "$inside" fresh "$root" "$archives"
