#!/usr/bin/env bash
# A newcomer's machine, on demand: a minbase root of a Debian release, made with debootstrap from the
# mirror apt already uses, with a clean clone of the current commit in it, where the README's two
# commands run as root. Prints each command's exit status and time; exits 0 only when both passed.
#
# Usage: fresh-machine.sh bookworm|trixie   (MIRROR=... names another Debian mirror; MID_SYNC=yes has
#        the root's apt read a local stand-in for a mirror caught mid-sync, scripts/mid-sync-mirror.py,
#        whose <release>-security i386 indexes are broken; MID_SYNC=SUITE breaks another suite's)
# The minbase root is made once and kept in build/debian/; each run starts from a copy of it in
# build/fresh/<release>, so that every run is a first run, and the copy goes when the run ends, however
# it ends; its logs are kept in build/fresh/<release>-logs. Downloaded packages are kept beside it, so
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
logs=$PWD/build/fresh/$release-logs
stand_ins=""
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
trap '[ -z "$stand_ins" ] || { kill $(cat "$stand_ins"/*.pid 2>/dev/null) 2>/dev/null; rm -rf "$stand_ins"; }; rm -rf "$root"' EXIT
new_root "$release" "$root" || exit 2
rm -rf "$logs" && mkdir -p "$logs"
if [ -n "${MID_SYNC:-}" ]; then
  # The root's apt reads a mirror caught mid-sync: one suite's i386 indexes do not match its Release
  # file, as the security suite's did here for hours. Everything else passes on to the real archives,
  # the ones the sources here name (one stand-in per host: the security archive may have its own).
  broken_suite=$MID_SYNC
  [ "$broken_suite" != yes ] || broken_suite=$release-security
  stand_ins=$(mktemp -d)
  # local_archive URL: URL as served through a stand-in for its host, which must answer before use.
  local_archive() {
    local host path n
    host=$(echo "$1" | sed 's|^\([a-z]*://[^/]*\).*|\1|') path=${1#"$host"}
    n=$(echo "$host" | sha256sum | cut -c1-12)
    if [ ! -f "$stand_ins/$n.pid" ]; then
      /usr/bin/python3 scripts/mid-sync-mirror.py "$host" "$broken_suite" "$stand_ins/$n.port" >/dev/null 2>>"$root.mirror.log" &
      echo $! >"$stand_ins/$n.pid"
      for _ in $(seq 100); do [ -s "$stand_ins/$n.port" ] && break; sleep 0.1; done
      [ -s "$stand_ins/$n.port" ] || { echo "fresh: the mid-sync stand-in for $host did not start (log: $root.mirror.log)" >&2; exit 2; }
      echo "fresh: apt reads $host through http://127.0.0.1:$(cat "$stand_ins/$n.port"), which passes on all but $broken_suite's i386 indexes (served without their last KiB)" >&2
    fi
    echo "http://127.0.0.1:$(cat "$stand_ins/$n.port")$path"
  }
  local_mirror=$(local_archive "$mirror")
  local_security=$(local_archive "$security")
  # A stand-in that listens but cannot reach its archive would give apt errors that name nothing.
  for archive in "$local_mirror/dists/$release/Release" "$local_security/dists/$release-security/Release"; do
    /usr/bin/python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=60).read(1)' "$archive" 2>/dev/null ||
      { echo "fresh: the mid-sync stand-in does not answer for $archive (log: $root.mirror.log)" >&2; exit 2; }
  done
  printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
    "$local_mirror" "$release" "$local_mirror" "$release" "$local_security" "$release" >"$root/etc/apt/sources.list"
fi
mkdir -p "$archives/partial"
commit=$(git rev-parse HEAD)
git clone -q --no-local "$PWD" "$root/root/launcher"
git -C "$root/root/launcher" checkout -q "$commit"
echo "fresh: Debian $(cat "$root/etc/debian_version"), commit $commit, in $root"

status=0
# What the README asks a newcomer to type before its commands, with the root's own apt-get: make itself
# (and git, to clone), which minbase lacks. Mid-sync apt-get update exits 100 having read all else, and
# the README says to run the install anyway: its status is said, not obeyed.
prerequisites='apt-get update; echo "apt-get update: exit status $?"; apt-get install -y make git'
for step in "prerequisites|$prerequisites" "make-demo|make demo" "make-test|make test"; do
  command=${step#*|}
  start=$(date +%s)
  log=$logs/${step%%|*}.log
  set +e
  ROOT_BINDS="$archives:/var/cache/apt/archives" in_root "$root" "cd /root/launcher && $command" </dev/null >"$log" 2>&1
  result=$?
  set -e
  # What apt and the project's apt helper said of the mirror, wherever in the log it stands, then the
  # log's end.
  { grep -E "^([a-z-]+: (the mirror's|apt cannot resolve|apt could not)|apt-get update: exit|E: Failed to fetch)" "$log" || true; tail -n 3 "$log"; } |
    awk '!seen[$0]++ { print "  | " $0 }'
  echo "fresh: $command: exit status $result in $(($(date +%s) - start)) s (log: $log)"
  [ "$result" = 0 ] || { status=1; [ "${step%%|*}" = prerequisites ] && break; }
done
exit $status
