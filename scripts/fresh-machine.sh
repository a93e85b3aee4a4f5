#!/usr/bin/env bash
# A newcomer's machine, on demand: a minbase root of a Debian release, made with debootstrap from the
# mirror apt already uses, with a clean clone of the current commit in it, where the README's two
# commands run as root. Prints each command's exit status and time; exits 0 only when both passed.
#
# Usage: fresh-machine.sh bookworm|trixie   (MIRROR=... names another Debian mirror; MID_SYNC=yes has
#        the root's apt read a local stand-in for a mirror caught mid-sync, scripts/mid-sync-mirror.py,
#        whose <release>-security i386 indexes are broken; MID_SYNC=SUITE breaks another suite's)
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
if [ -n "${MID_SYNC:-}" ]; then
  # The root's apt reads a mirror caught mid-sync: one suite's i386 indexes do not match its Release
  # file, as the security suite's did here for hours. Everything else passes on to the real archive.
  broken_suite=$MID_SYNC
  [ "$broken_suite" != yes ] || broken_suite=$release-security
  port_file=$(mktemp)
  upstream=$(echo "$mirror" | sed 's|^\([a-z]*://[^/]*\).*|\1|')
  /usr/bin/python3 scripts/mid-sync-mirror.py "$upstream" "$broken_suite" "$port_file" 2>"$root.mirror.log" &
  mirror_pid=$!
  trap 'kill $mirror_pid 2>/dev/null' EXIT
  for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
  local_mirror=http://127.0.0.1:$(cat "$port_file")
  printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
    "$local_mirror${mirror#$upstream}" "$release" "$local_mirror${mirror#$upstream}" "$release" \
    "$local_mirror/debian-security" "$release" >"$root/etc/apt/sources.list"
  echo "fresh: apt reads $local_mirror, which passes on to $upstream all but $broken_suite's i386 indexes (served without their last KiB)"
fi
mkdir -p "$archives/partial"
commit=$(git rev-parse HEAD)
git clone -q --no-local "$PWD" "$root/root/launcher"
git -C "$root/root/launcher" checkout -q "$commit"
echo "fresh: Debian $(cat "$root/etc/debian_version"), commit $commit, in $root"

status=0
# What the README asks for before its commands: make itself (and git, to clone), which minbase lacks,
# installed as install-deps installs, so that a mirror mid-sync does not end the run before it starts.
for step in "prerequisites|apt_who=fresh scripts/apt-install.sh make git" "make-demo|make demo" "make-test|make test"; do
  command=${step#*|}
  start=$(date +%s)
  log=$root/root/${step%%|*}.log
  set +e
  ROOT_BINDS="$archives:/var/cache/apt/archives" in_root "$root" "cd /root/launcher && $command" </dev/null >"$log" 2>&1
  result=$?
  set -e
  # What the project's apt helper said of the mirror, wherever in the log it stands, then the log's end.
  { grep -E "^[a-z-]+: (the mirror's|apt cannot resolve|apt could not)" "$log" || true; tail -n 3 "$log"; } |
    awk '!seen[$0]++ { print "  | " $0 }'
  echo "fresh: $command: exit status $result in $(($(date +%s) - start)) s (log: $log)"
  [ "$result" = 0 ] || { status=1; [ "${step%%|*}" = prerequisites ] && break; }
done
exit $status
