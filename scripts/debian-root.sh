# Sourced by the scripts that need a minimal Debian root of their own (make fresh, the release's locked
# toolchain): the mirror apt here uses, a minbase root of a release made once with debootstrap and
# kept, and a way to run commands in a copy of it.
root_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Where the kept roots and the packages they downloaded live: DEBIAN_ROOTS, or build/ here. The release
# test points it at the tree it was built in, so that its clone reuses that tree's roots.
roots=${DEBIAN_ROOTS:-$PWD/build}
root_archives=$roots/debian/archives

# Sets mirror and security: the Debian archive and its security archive, and mirror_origin, which says
# where they came from: MIRROR, where it names another archive (a snapshot that still serves old
# versions, a mirror that is whole while another syncs), or else apt's sources here (deb822 or one-line).
# Sources that name no security archive (a local mirror, some minimal installs) give the root Debian's
# own, and security_origin says so. APT_SOURCES names other source files to read (the tests' own).
# Callers run under set -e and pipefail: a grep that finds nothing must not end them.
uris=$(sed -n -e 's/^URIs: *//p' -e 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' \
  ${APT_SOURCES:-/etc/apt/sources.list.d/*.sources /etc/apt/sources.list} 2>/dev/null || true)
mirror_origin="MIRROR="
[ -n "${MIRROR:-}" ] || mirror_origin="apt's sources here"
mirror=${MIRROR:-$(echo "$uris" | { grep -v -- '-security' || true; } | head -n 1)}
[ -n "$mirror" ] || mirror_origin="Debian's own: apt's sources here name none"
mirror=${mirror:-http://deb.debian.org/debian}
security=$(echo "$uris" | { grep -- '-security' || true; } | head -n 1)
security_origin="as apt's sources here name it"
[ -n "$security" ] || security_origin="Debian's own: apt's sources here name none"
security=${security:-http://deb.debian.org/debian-security}
# A snapshot of Debian serves the Release files as they were, with the Valid-Until date they had (the
# -updates and security suites carry one), which apt then refuses as expired; and the security updates
# of that date are on snapshot too.
sources_options=""
case "$mirror" in
  *://snapshot.debian.org/archive/debian/*)
    sources_options="[check-valid-until=no] "
    snapshot_date=${mirror#*://snapshot.debian.org/archive/debian/}
    security=${mirror%%/archive/debian/*}/archive/debian-security/${snapshot_date%%/*}/
    security_origin="snapshot's, of the same date as MIRROR=" ;;
esac

# minbase_root RELEASE: prints the path of a minbase root of RELEASE (build/debian/RELEASE-minbase, made
# on first use), whose apt has the release, its updates and its security archive, as an installed
# system's does. Its sources are written anew at every use from the mirror and security archive above,
# and a line says which: a cached root follows MIRROR= and apt's sources here as a new one would.
# Returns 1, having said why, where it cannot be made.
minbase_root() {
  local base=$roots/debian/$1-minbase
  if [ ! -f "$base/.complete" ]; then
    if [ "$(id -u)" != 0 ]; then
      echo "a Debian root needs root (debootstrap and chroot); run as root" >&2
      return 1
    fi
    command -v debootstrap >/dev/null || apt_who=debian-root "$root_scripts/apt-install.sh" debootstrap >&2 ||
      { echo "no debootstrap, and apt-get cannot install it" >&2; return 1; }
    echo "making a minbase root of Debian $1 from $mirror, security updates from $security ($security_origin)" >&2
    rm -rf "$base"
    mkdir -p "${base%/*}"
    if ! debootstrap --variant=minbase "$1" "$base" "$mirror" >"$base.log" 2>&1; then
      echo "debootstrap could not make a root of Debian $1 from $mirror: $(tail -n 1 "$base.log") (log: $base.log)" >&2
      rm -rf "$base"
      return 1
    fi
    touch "$base/.complete"
  fi
  printf 'deb %s%s %s main\ndeb %s%s %s-updates main\ndeb %s%s %s-security main\n' "$sources_options" "$mirror" "$1" \
    "$sources_options" "$mirror" "$1" "$sources_options" "$security" "$1" >"$base/etc/apt/sources.list"
  echo "Debian $1 root: apt reads $mirror (from $mirror_origin), security updates from $security ($security_origin)" >&2
  echo "$base"
}

# new_root RELEASE ROOT: makes ROOT a copy of RELEASE's minbase root, with this machine's resolver and
# the trust anchors its network needs (an egress proxy's own CA, say), as every machine on that network
# has them (ca-certificates takes them in when it is installed there). Returns 1, having said why, where
# the minbase root cannot be made or copied (a full disk, say).
new_root() {
  local base
  base=$(minbase_root "$1") || return 1
  # Called from `||`, where set -e does not act: every step is checked here.
  # Its /dev is left empty: in_root mounts the machine's there, and a user namespace (make test
  # EMULATE_32BIT=1's) may not make the device nodes that debootstrap put in the minbase root's.
  if ! { rm -rf "$2" && mkdir -p "$2/dev" &&
         find "$base" -mindepth 1 -maxdepth 1 ! -name dev -exec cp -a -t "$2/" {} + &&
         cp /etc/resolv.conf "$2/etc/resolv.conf" &&
         mkdir -p "$2/usr/local/share/ca-certificates"; }; then
    echo "could not copy the minbase root of Debian $1 to $2" >&2
    return 1
  fi
  cp -r /usr/local/share/ca-certificates/. "$2/usr/local/share/ca-certificates/" 2>/dev/null || true
}

# root_apt ROOT WHO [--whole-indexes] [PACKAGE...]: the project's apt helper (update,
# install, and their tolerance of a mirror mid-sync) run in ROOT, its lines starting "WHO:" (and ending
# with apt_going_on where it names an unreadable index and the caller set that). The packages it
# downloads are kept in the roots' archive cache, for the next root that needs them.
root_apt() {
  local root=$1 who=$2
  shift 2
  cp "$root_scripts/apt-install.sh" "$root/tmp/apt-install.sh" && mkdir -p "$root_archives/partial" || return 1
  ROOT_BINDS="$root_archives:/var/cache/apt/archives${ROOT_BINDS:+
$ROOT_BINDS}" in_root "$root" "apt_who=$who apt_going_on=$(printf '%q' "${apt_going_on:-}") bash /tmp/apt-install.sh $(printf '%q ' "$@")"
}

# in_root ROOT COMMAND: runs the shell COMMAND as root in ROOT, with a clean environment, in a mount and
# PID namespace of its own, so that its mounts and processes go when it ends, however it ends. Extra
# bind mounts: ROOT_BINDS, "host-directory:directory-in-root", one a line (a path may hold a space).
in_root() {
  local binds=${ROOT_BINDS:-}
  # Private mounts, so that none reaches the namespace outside. Inside another such root, / is no mount
  # point and cannot be made private; its mounts are private already.
  unshare --mount --propagation unchanged --pid --fork --kill-child bash -c '
    root=$1 command=$2
    mount --make-rprivate / 2>/dev/null || true
    # In a user namespace (make test EMULATE_32BIT=1) sysfs cannot be mounted anew: the machine'"'"'s is bound.
    mount -t proc proc "$root/proc" && { mount -t sysfs sys "$root/sys" 2>/dev/null || mount --rbind /sys "$root/sys"; } &&
      mount --rbind /dev "$root/dev" || exit 1
    # The kernel'"'"'s binfmt_misc entries apply in the root too: show them there, as on the host.
    mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc" 2>/dev/null || true
    while IFS= read -r bind; do
      [ -z "$bind" ] || { mkdir -p "$root/${bind#*:}" && mount --bind "${bind%%:*}" "$root/${bind#*:}"; } || exit 1
    done <<<"$3"
    exec chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb DEBIAN_FRONTEND=noninteractive \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -c "$command"
  ' in_root "$1" "$2" "$binds"
}
