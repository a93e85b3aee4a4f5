#!/usr/bin/env bash
# scripts/apt-install.sh against apt's own words: a stand-in apt-get replays lines that the real one
# printed here, against a mirror mid-sync (bookworm-security's i386 index served with the wrong bytes)
# on a machine whose amd64 libraries are older than anything the mirror still has. One row a case:
# what each update and each install says, then the lines and exit status the helper must give.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
helper=$repo/scripts/apt-install.sh
work=$(mktemp -d)
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
trap 'rm -rf "$work"' EXIT

# apt's lines, as it printed them.
mid_sync='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
    - SHA256:5aa58ea44688978d17b28ffab762d89251fefc64aa2548ac43e228e5fd91d903
   Release file created at: Mon, 07 Dec 2026 23:22:40 +0000
E: Some index files failed to download. They have been ignored, or old ones used instead.'
# The same fault, named by the file's place in apt's lists: the index came whole but with other bytes.
mid_sync_store='E: Failed to fetch store:/var/lib/apt/lists/partial/deb.debian.org_debian-security_dists_bookworm-security_main_binary-i386_Packages.xz  Hash Sum mismatch
   Hashes of expected file:
    - SHA256:5aa58ea44688978d17b28ffab762d89251fefc64aa2548ac43e228e5fd91d903
   Hashes of received file:
    - SHA256:0c6a7d2c1e6f6e1b7c1bd6f0f4e94c1d5b1a2b1e5b8f3c0b2f1e0d9c8b7a6f5e
E: Some index files failed to download. They have been ignored, or old ones used instead.'
# bookworm-updates mid-sync, for the locked toolchain, which installs from it.
mid_sync_updates=${mid_sync//debian-security\/dists\/bookworm-security/debian\/dists\/bookworm-updates}
# Another component's index of the same suite, with its own sizes (Debian 12's non-free-firmware).
mid_sync_firmware=${mid_sync//main\/binary-i386/non-free-firmware\/binary-i386}
mid_sync_firmware=${mid_sync_firmware//374820 != 376004/9144 != 9180}
unreachable='W: Failed to fetch http://deb.debian.org/debian/dists/trixie/InRelease  Could not connect to deb.debian.org:80 (203.0.113.80), connection timed out
W: Some index files failed to download. They have been ignored, or old ones used instead.'
no_release="E: The repository 'http://deb.debian.org/debian bookworm-backport Release' does not have a Release file."
held_broken='The following packages have unmet dependencies:
 libcurl4:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed
 libxml2:i386 : Depends: liblzma5:i386 (>= 5.1.1alpha+20120614) but it is not going to be installed
                Depends: zlib1g:i386 (>= 1:1.2.3.3) but it is not going to be installed
E: Unable to correct problems, you have held broken packages.'
resolver_breaks='E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.'
no_version="E: Version '3.0.22-1~deb12u2' for 'libssl3' was not found"
download_failed='E: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine32_8.0~repack-4_i386.deb  Connection failed [IP: 203.0.113.80 80]
E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?'

# The stand-in: each call takes the next "status|output" of its kind from the row, logs its arguments
# and, where a call sets preferences, the pins it was given.
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
kind=install; for a in "$@"; do case "$a" in update | download) kind=$a ;; esac; done
n=$(($(cat "$ROW/$kind.count" 2>/dev/null || echo 0) + 1)); echo "$n" >"$ROW/$kind.count"
echo "$kind $*" >>"$ROW/calls"
for a in "$@"; do case "$a" in Dir::Etc::PreferencesParts=*) cat "${a#*=}"/*.pref >>"$ROW/pins" ;; esac; done
[ -f "$ROW/$kind.$n" ] || { echo "stand-in apt-get: no answer for $kind call $n" >&2; exit 99; }
cat "$ROW/$kind.$n.out"; exit "$(cat "$ROW/$kind.$n")"
EOF
# apt-cache policy: a package's candidate, or (no package) the archives apt read, as apt prints them.
cat >"$work/bin/apt-cache" <<'EOF'
#!/bin/sh
[ $# = 1 ] || { echo "  Candidate: 9.9-1"; exit 0; }
for suite in bookworm bookworm-updates bookworm-security; do
  archive=http://deb.debian.org/debian; [ $suite = bookworm-security ] && archive=$archive-security
  printf ' 500 %s %s/main amd64 Packages\n     release o=Debian,n=%s,c=main,b=amd64\n     origin deb.debian.org\n' $archive $suite $suite
done
printf ' 500 http://apt.example.org/vendor bookworm/main amd64 Packages\n     release o=Example Vendor,n=bookworm,c=main\n'
EOF
# dpkg's architectures: amd64, and i386 unless the row says it has none.
printf '#!/bin/sh\ncase "$1" in --print-architecture) echo amd64 ;; *) [ -f "$ROW/no-i386" ] || echo i386 ;; esac\n' >"$work/bin/dpkg"
# root, for locked-build.sh, whose root is a folder here.
mkdir "$work/root"
printf '#!/bin/sh\necho 0\n' >"$work/root/id"
chmod +x "$work/bin/apt-get" "$work/bin/apt-cache" "$work/bin/dpkg" "$work/root/id"

# make lock as it is, in a copy of the tree whose Debian root is a plain folder: the real root_apt and
# sources, no debootstrap, no chroot (its /tmp is the folder's).
tree=$work/tree
mkdir -p "$tree/release" "$tree/scripts"
cp "$repo/release/lock-toolchain.sh" "$repo/release/locked-build.sh" "$repo/release/toolchain.lock" "$tree/release/"
cp "$helper" "$tree/scripts/"
cat >"$tree/scripts/debian-root.sh" <<EOF
. "$repo/scripts/debian-root.sh"
root_scripts=$tree/scripts
new_root() { mkdir -p "\$2/tmp"; }
in_root() { (cd "\$1" && eval "\${2//\/tmp\//\$1/tmp/}"); }
EOF
git -C "$tree" init -q && git -C "$tree" -c user.name=t -c user.email=t@example.org commit -q --allow-empty -m tree

failures=0 rows=0
# row NAME MODE EXPECTED_STATUS EXPECTED_LINES -- ANSWERS: each answer "update|install|download STATUS
# OUTPUT". MODE: install, download, lock (make lock, whose lock file must then be as it was) or build
# (locked-build.sh, its last line, which make sign and make verify print).
# EXPECTED_LINES: the helper's own lines (those starting "apt-install:" or "lock:"), in order, one a
# line; a line of its output matches when it contains the expected text. Every mode must leave its
# temporary folder empty.
row() {
  local name=$1 mode=$2 want_status=$3 want_lines=$4
  shift 5
  rows=$((rows + 1))
  export ROW=$work/row$rows
  mkdir -p "$ROW"
  local kind status output n
  while [ $# -gt 0 ]; do
    kind=$1 status=$2 output=$3
    shift 3
    n=$(($(ls "$ROW" | grep -c "^$kind\.[0-9]*$") + 1))
    echo "$status" >"$ROW/$kind.$n"
    printf '%s\n' "$output" >"$ROW/$kind.$n.out"
  done
  local got got_status command
  case "$mode" in
    install) command=("$helper" wine wine32:i386) ;;
    download) command=("$helper" --download osslsigncode/bookworm) ;;
    lock) command=("$tree/release/lock-toolchain.sh") ;;
    build) command=(bash -c 'PATH=$0:$PATH "$1" HEAD "$2" | tail -n 1 >&2; exit "${PIPESTATUS[0]}"' "$work/root" "$tree/release/locked-build.sh" "$ROW/out") ;;
  esac
  mkdir "$ROW/tmp"
  [ -z "${NO_I386:-}" ] || touch "$ROW/no-i386"
  got=$(cd "$ROW" && PATH=$work/bin:$PATH APT_RETRY_PAUSE=0 TMPDIR=$ROW/tmp "${command[@]}" 2>&1 >/dev/null)
  got_status=$?
  local own
  own=$(grep -E '^(apt-install|lock|locked-build|cannot make the locked build environment):' <<<"$got")
  local ok=1 want i=0
  [ "$got_status" = "$want_status" ] || ok=0
  [ -z "$(ls -A "$ROW/tmp")" ] || { ok=0; got+=$'\n'"left in the temporary folder: $(ls -A "$ROW/tmp")"; }
  if [ "$mode" = lock ] && ! cmp -s "$tree/release/toolchain.lock" "$repo/release/toolchain.lock"; then
    ok=0 got+=$'\n'"the lock was changed: $(diff "$repo/release/toolchain.lock" "$tree/release/toolchain.lock")"
    cp "$repo/release/toolchain.lock" "$tree/release/toolchain.lock"
  fi
  [ "$(grep -c . <<<"$own")" = "$(grep -c . <<<"$want_lines")" ] || ok=0
  while IFS= read -r want; do
    [ -n "$want" ] || continue
    i=$((i + 1))
    grep -qF -- "$want" <<<"$(sed -n "${i}p" <<<"$own")" || ok=0
  done <<<"$want_lines"
  if [ -n "${WANT_PIN:-}" ] && [ "$(grep '^Pin:' "$ROW/pins" 2>/dev/null | sort -u | paste -sd' ' -)" != "$WANT_PIN" ]; then ok=0; fi
  if [ -n "${WANT_CALLS:-}" ] && [ "$(cut -d' ' -f1 "$ROW/calls" | paste -sd' ' -)" != "$WANT_CALLS" ]; then ok=0; fi
  if [ "$ok" = 1 ]; then
    echo "ok: $name"
  else
    failures=$((failures + 1))
    echo "FAILED: $name: exit status $got_status (want $want_status); calls: $(cut -d' ' -f1 "$ROW/calls" | paste -sd' ' -)"
    echo "  want lines:"; sed 's/^/    /' <<<"$want_lines"
    echo "  got:"; sed 's/^/    /' <<<"$got"
    echo "  pins:"; sed 's/^/    /' "$ROW/pins" 2>/dev/null
  fi
  unset WANT_PIN WANT_CALLS NO_I386
}

WANT_CALLS="update install" \
row "a whole mirror: one update, one install, not a word" install 0 "" -- \
  update 0 "" install 0 ""

WANT_CALLS="update update install" \
row "an index wrong once, right on the retry: not a word" install 0 "" -- \
  update 100 "$mid_sync" update 0 "" install 0 ""

WANT_CALLS="update update install" \
row "mid-sync, and the install resolves from what apt read: the index named, nothing left out" install 0 \
  "the mirror's bookworm-security i386 index does not match its Release file (mirror sync in progress?); installing from what apt could read" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 0 ""

debian_security='Pin: release o=Debian,a=bookworm-security Pin: release o=Debian,n=bookworm-security'
WANT_PIN=$debian_security WANT_CALLS="update update install install" \
row "mid-sync, held broken packages: once more with the suite left out" install 0 \
  "the mirror's bookworm-security i386 index does not match its Release file
installing once more with bookworm-security left out (apt-get upgrade brings their updates" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "$held_broken" install 0 ""

WANT_PIN=$debian_security \
row "mid-sync, the resolver's breaks: once more with the suite left out" install 0 \
  "bookworm-security i386 index does not match
bookworm-security left out" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "$resolver_breaks" install 0 ""

row "mid-sync, the index named by its place in apt's lists (store:): named, and the install goes on" install 0 \
  "the mirror's bookworm-security i386 index does not match its Release file (mirror sync in progress?); installing from what apt could read" -- \
  update 100 "$mid_sync_store" update 100 "$mid_sync_store" install 0 ""

# A third-party archive's own dists/bookworm mid-sync: Debian's bookworm stays.
WANT_PIN='Pin: release o=Example Vendor,a=bookworm Pin: release o=Example Vendor,n=bookworm' \
row "a third-party archive's bookworm mid-sync: the pin names its origin, not Debian's" install 0 \
  "the mirror's bookworm i386 index does not match
bookworm left out" -- \
  update 100 "${mid_sync//deb.debian.org\/debian-security\/dists\/bookworm-security/apt.example.org/vendor/dists/bookworm}" \
  update 100 "${mid_sync//deb.debian.org\/debian-security\/dists\/bookworm-security/apt.example.org/vendor/dists/bookworm}" \
  install 100 "$held_broken" install 0 ""

WANT_CALLS="update update install" \
row "mid-sync, a package no index has: named, no second install, the mirror not blamed" install 1 \
  "bookworm-security i386 index does not match
no index apt read has a package wnie: check the name" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "E: Unable to locate package wnie"

NO_I386=yes \
row "an i386 package where dpkg has no i386: the architecture named" install 1 \
  "no index apt read has a package wine32:i386 (this machine has no i386 architecture: dpkg --add-architecture i386, then apt-get update)" -- \
  update 0 "" install 100 "E: Package 'wine32:i386' has no installation candidate"

# locked-build.sh's last line is what make sign and make verify print.
row "the locked toolchain, bookworm-updates mid-sync: the helper's line, no snapshot" build 1 \
  "cannot make the locked build environment: apt could not install g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime gcc-mingw-w64-base binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common libgmp10 libmpfr6 libmpc3 libisl23 cmake cmake-data ninja-build: the mirror's bookworm-updates i386 index does not match its Release file (mirror sync in progress?), and the install resolves neither" -- \
  update 100 "$mid_sync_updates" update 100 "$mid_sync_updates" install 100 "$no_version" install 100 "$no_version"

row "the locked toolchain, a version absent from whole indexes: a snapshot, with its security archive" build 1 \
  "does not have libssl3 3.0.22-1~deb12u2 in its whole indexes (a snapshot archive of a date when the lock was current serves them, and its security archive is taken from there too: MIRROR=https://snapshot.debian.org/archive/debian/" -- \
  update 0 "" install 100 "$no_version"

WANT_PIN=$debian_security \
row "mid-sync, a locked version apt cannot find, nor without the suite: one clear line, status 1" install 1 \
  "bookworm-security i386 index does not match
bookworm-security left out
apt could not install wine wine32:i386: the mirror's bookworm-security i386 index does not match its Release file (mirror sync in progress?), and the install resolves neither without it nor with bookworm-security left out; run again later, or name another mirror" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "$no_version" install 100 "$no_version"

row "mid-sync, then the retry without the suite fails to download: that error, not 'resolves neither'" install 1 \
  "bookworm-security i386 index does not match
bookworm-security left out
apt-get install with bookworm-security left out failed: E: Unable to fetch some archives" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "$held_broken" install 100 "$download_failed"

# Two components of one suite unreadable (Debian 12's main and non-free-firmware): one sentence.
row "mid-sync in two components of one suite: the suite's index named once" install 0 \
  "the mirror's bookworm-security i386 index does not match its Release file (mirror sync in progress?); installing from what apt could read" -- \
  update 100 "$mid_sync" update 100 "$mid_sync
$mid_sync_firmware" install 0 ""

WANT_CALLS="update update install" \
row "mid-sync, then a download that fails: apt's own error, no second install" install 1 \
  "bookworm-security i386 index does not match
apt-get install failed: E: Unable to fetch some archives" -- \
  update 100 "$mid_sync" update 100 "$mid_sync" install 100 "$download_failed"

WANT_CALLS="update update" \
row "an update that fails for another reason: its error, no install" install 1 \
  "apt-get update failed: E: The repository 'http://deb.debian.org/debian bookworm-backport Release' does not have a Release file." -- \
  update 100 "$no_release" update 100 "$no_release"

WANT_CALLS="update update" \
row "make lock mid-sync: the index named, the lock left as it was" lock 1 \
  "lock: the mirror's bookworm-security i386 index does not match its Release file (mirror sync in progress?); release/toolchain.lock is left as it was: a lock is written only from whole indexes" -- \
  update 100 "$mid_sync" update 100 "$mid_sync"

WANT_CALLS="update update" \
row "make lock, an archive unreachable: named, the lock left as it was" lock 1 \
  "the mirror's trixie Release file could not be read (Could not connect to deb.debian.org:80 (203.0.113.80), connection timed out); release/toolchain.lock is left as it was" -- \
  update 0 "$unreachable" update 0 "$unreachable"

WANT_CALLS="download update download" \
row "a download the lists cannot name: an update, then apt's own error" download 1 \
  "apt-get download osslsigncode/bookworm failed: E: Can't find a source to download version" -- \
  download 100 "E: Can't find a source to download version '2.5-4' of 'osslsigncode:amd64'" update 0 "" \
  download 100 "E: Can't find a source to download version '2.5-4' of 'osslsigncode:amd64'"

# A cached root follows the mirror it is used with, and says so. A snapshot's Release files carry the
# Valid-Until they had (expired now), and its security updates of that date are on snapshot too.
# MIRROR | a line the root's sources must hold | another | what the root's line says
mkdir -p "$tree/build/debian/bookworm-minbase/etc/apt"
touch "$tree/build/debian/bookworm-minbase/.complete"
snapshot=https://snapshot.debian.org/archive
while IFS='|' read -r name given line other says; do
  rows=$((rows + 1))
  sources=$tree/build/debian/bookworm-minbase/etc/apt/sources.list
  said=$(cd "$tree" && MIRROR=$given bash -c '. scripts/debian-root.sh && minbase_root bookworm' 2>&1 >/dev/null)
  if grep -qxF "$line" "$sources" && grep -qxF "$other" "$sources" && grep -qF "$says" <<<"$said"; then
    echo "ok: $name"
  else
    failures=$((failures + 1))
    echo "FAILED: $name: said: $said; sources:"
    sed 's/^/    /' "$sources" 2>/dev/null
  fi
done <<EOF
a cached root used with another MIRROR= reads it|http://mirror.example/debian|deb http://mirror.example/debian bookworm main|deb http://mirror.example/debian bookworm-updates main|apt reads http://mirror.example/debian (from MIRROR=)
a snapshot whose -updates Release file has expired: taken, security from the same snapshot|$snapshot/debian/20240110T000000Z/|deb [check-valid-until=no] $snapshot/debian/20240110T000000Z/ bookworm-updates main|deb [check-valid-until=no] $snapshot/debian-security/20240110T000000Z/ bookworm-security main|security updates from $snapshot/debian-security/20240110T000000Z/
EOF

echo "$((rows - failures)) passed, $failures failed"
[ "$failures" = 0 ]
