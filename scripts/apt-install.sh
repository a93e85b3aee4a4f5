#!/usr/bin/env bash
# apt-get update and install that survive a Debian mirror in the middle of a sync: one or more index
# files served with bytes that do not match the Release file (or a cache that kept an old copy). apt
# itself ignores such an index and goes on with every other, but exits 100. It then knows half a suite:
# that suite's amd64 packages at their new versions and its i386 ones at none (or an old cache's), so a
# multiarch pair (libfoo and libfoo:i386, which must be the same version) may not resolve. Left out for
# one install, the whole suite goes: both architectures then come from the suites apt read whole. What
# that cannot fix: a machine whose installed amd64 packages are already at the unreadable suite's
# versions, whose i386 twins only the unreadable index lists. Used by install-deps, make fresh, make lock,
# the locked release toolchain and the release test, on this machine and inside Debian roots (it needs
# bash and apt only).
#
# Run:    apt-install.sh PACKAGE...          update, then install
#         apt-install.sh --whole-indexes     update; status 1 where any index could not be read (for
#                                            what must not be written from half an archive: a lock)
#         apt-install.sh --download PACKAGE  apt-get download into the current directory
# Source: apt_update, apt_install PACKAGE..., apt_install_updated PACKAGE... (after an apt_update),
#         apt_download PACKAGE..., and the parsers below, which the tests feed apt's lines. Sourcing it
#         sets the shell's EXIT trap, which removes the helper's temporary files.
# Messages start with "$apt_who:" (the caller sets it; default apt-install); apt_going_on, where the
# caller sets it, ends the line that names an unreadable index. Exit status: 0 done; 1 apt failed, the
# cause said on the last line.

apt_who=${apt_who:-apt-install}
apt_retry_pause=${APT_RETRY_PAUSE:-15}
apt_unreadable=""  # what apt_update could not read: "suite|what|reason" a line
# apt's logs and the one-call preferences, gone on every exit: an interrupted run leaves nothing behind.
apt_tmp=$(mktemp -d)
trap 'rm -rf "$apt_tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# apt_unreadable_indexes: apt's output on standard input; prints each index it could not fetch, as
# "archive|suite|what|reason" (archive: as apt names its lists, deb.debian.org_debian-security; what:
# "i386 index", "Release file" or the file's path; reason: apt's words). apt names a file by its URL
# where the download failed, and by its place in the lists (store: or copy:) where the file came but
# did not match.
apt_unreadable_indexes() {
  sed -n -e 's|^[EW]: Failed to fetch [a-z+]*://\([^ ]*\)/dists/\([^ ]*\)  *\(.*\)$|url \1 \2 \3|p' \
    -e 's#^[EW]: Failed to fetch \(store\|copy\):[^ ]*/\([^/ ]*\)_dists_\([^ ]*\)  *\(.*\)$#list \2 \3 \4#p' |
    while read -r form archive path reason; do
      [ "$form" = url ] || path=${path//_//}
      local suite=${path%%/*} file=${path#*/} what
      case "$file" in
        InRelease | Release | Release.gpg) what="Release file" ;;
        */binary-*/*) what=${file#*/binary-} what="${what%%/*} index" ;;
        *) what=$file ;;
      esac
      echo "${archive//\//_}|$suite|$what|$reason"
    done | sort -t'|' -k1,3 -u  # one a suite and file: apt's reasons carry sizes, which differ by component
}

# apt_describe_unreadable "archive|suite|what|reason": the mirror's fault, in words.
apt_describe_unreadable() {
  local suite what reason
  IFS='|' read -r _ suite what reason <<<"$1"
  case "$reason" in
    *"unexpected size"* | *"Hash Sum mismatch"*)
      echo "the mirror's $suite $what does not match its Release file (mirror sync in progress?)" ;;
    *) echo "the mirror's $suite $what could not be read ($reason)" ;;
  esac
}

# apt_origin ARCHIVE SUITE: the Origin of that archive's suite as apt read it (apt-cache policy), for a
# pin that leaves out this archive's suite and no other archive's of the same name; empty if unknown.
apt_origin() {
  apt-cache policy 2>/dev/null | awk -v archive="$1" -v suite="$2" '
    $1 ~ /^-?[0-9]+$/ && $2 ~ /:\/\// { url = $2; sub(/^[a-z+]*:\/\//, "", url); sub(/\/$/, "", url); gsub(/\//, "_", url)
                                       s = $3; sub(/\/.*/, "", s); here = (url == archive && s == suite); next }
    here && $1 == "release" { n = split(substr($0, index($0, "release") + 8), f, ","); for (i = 1; i <= n; i++)
                                if (f[i] ~ /^o=/) { print substr(f[i], 3); exit } }'
}

# apt_unknown_packages: apt-get install's output on standard input; prints each package apt has no
# version of in any index it read: a name misspelt, or an architecture dpkg does not have.
apt_unknown_packages() {
  sed -n -e 's/^E: Unable to locate package \(.*\)$/\1/p' -e "s/^E: Package '\([^']*\)' has no installation candidate$/\1/p" |
    sort -u
}

# apt_say_unknown PACKAGE...: names them, and for PACKAGE:ARCH an architecture dpkg here lacks.
apt_say_unknown() {
  local package arch named=() advice=""
  local arches=" $(dpkg --print-architecture 2>/dev/null) $(dpkg --print-foreign-architectures 2>/dev/null | paste -sd' ' -) "
  for package in "$@"; do
    arch=${package##*:}
    if [ "$arch" != "$package" ] && [[ $arches != *" $arch "* ]]; then
      named+=("$package (this machine has no $arch architecture: dpkg --add-architecture $arch, then apt-get update)")
    else
      named+=("$package") advice=": check the name"
    fi
  done
  local list
  list=$(printf '%s, ' "${named[@]}")
  echo "$apt_who: no index apt read has a package ${list%, }$advice" >&2
}

# apt_cannot_resolve: apt-get install's output on standard input; true where apt could not work out what
# to install (as opposed to failing to download or unpack it).
apt_cannot_resolve() {
  grep -q -E "^E: (Unable to correct problems|Unmet dependencies|Error, pkgProblemResolver|Version '[^']*' for '[^']*' was not found)"
}

# apt_update: apt-get update with apt's own retries, then once more after a pause. An index that stays
# unreadable is named on one line and left in apt_unreadable; returns 1 only where apt read nothing
# usable (an error other than failed index files).
apt_update() {
  local log=$apt_tmp/update.log attempt
  for attempt in 1 2; do
    if apt-get -o Acquire::Retries=3 update -qq >"$log" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$log"; then
      apt_unreadable=""
      return 0
    fi
    [ "$attempt" = 2 ] || sleep "$apt_retry_pause"
  done
  apt_unreadable=$(apt_unreadable_indexes <"$log")
  if [ -z "$apt_unreadable" ] ||
     awk '/^E: / && !/^E: (Failed to fetch|Some index files failed to download)/ { other = 1 } END { exit !other }' "$log"; then
    cat "$log" >&2
    echo "$apt_who: apt-get update failed: $({ grep '^E:' "$log" || tail -n 1 "$log"; } | tail -n 1)" >&2
    return 1
  fi
  local line
  while IFS= read -r line; do
    echo "$apt_who: $(apt_describe_unreadable "$line"); ${apt_going_on:-installing from what apt could read}" >&2
  done <<<"$apt_unreadable"
}

# apt_install PACKAGE...: apt_update, then apt-get install. Where the install cannot be resolved without
# an index apt could not read, it is tried once more with that index's suite left out, through a pin for
# that one call: the machine's sources stay as they are.
apt_install() {
  apt_update || return 1
  apt_install_updated "$@"
}

# apt_install_updated PACKAGE...: the same, after an apt_update of this run.
apt_install_updated() {
  export DEBIAN_FRONTEND=noninteractive
  local log=$apt_tmp/install.log
  if apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; then
    return 0
  fi
  # A package no index names is no mirror's fault: leaving a suite out cannot make it appear.
  local unknown
  unknown=$(apt_unknown_packages <"$log")
  if [ -n "$unknown" ]; then
    cat "$log" >&2
    mapfile -t unknown <<<"$unknown"
    apt_say_unknown "${unknown[@]}"
    return 1
  fi
  local suites
  suites=$(cut -d'|' -f2 <<<"$apt_unreadable" | sort -u | paste -sd' ' -)
  if [ -n "$suites" ] && apt_cannot_resolve <"$log"; then
    echo "$apt_who: apt cannot resolve the install without what it could not read; installing once more with $suites left out (apt-get upgrade brings their updates once the mirror is whole again)" >&2
    local preferences=$apt_tmp/preferences suite
    rm -rf "$preferences" && mkdir "$preferences"
    cp /etc/apt/preferences.d/* "$preferences/" 2>/dev/null || true
    # Each pin names the archive's origin as well as the suite: a third-party archive's broken
    # dists/bookworm must not leave out Debian's bookworm.
    local archive origin match
    while IFS='|' read -r archive suite _; do
      origin=$(apt_origin "$archive" "$suite")
      match=${origin:+o=$origin,}
      printf 'Package: *\nPin: release %sn=%s\nPin-Priority: -1\n\nPackage: *\nPin: release %sa=%s\nPin-Priority: -1\n\n' \
        "$match" "$suite" "$match" "$suite" >>"$preferences/zz-left-out-while-mirror-syncs.pref"
    done < <(cut -d'|' -f1,2 <<<"$apt_unreadable" | sort -u)
    if apt-get -o Dir::Etc::PreferencesParts="$preferences" install -y -qq --no-install-recommends "$@" >"$log" 2>&1; then
      return 0
    fi
    cat "$log" >&2
    # The second try's own failure, said as the first's would be: a download or lock error is that.
    if apt_cannot_resolve <"$log"; then
      local names="${@%%=*}"  # the packages, without the versions a lock gives
      echo "$apt_who: apt could not install $names: $(apt_describe_unreadable "$(head -n 1 <<<"$apt_unreadable")"), and the install resolves neither without it nor with $suites left out; run again later, or name another mirror in apt's sources" >&2
    else
      echo "$apt_who: apt-get install with $suites left out failed: $({ grep '^E:' "$log" || tail -n 1 "$log"; } | tail -n 1)" >&2
    fi
    return 1
  fi
  cat "$log" >&2
  echo "$apt_who: apt-get install failed: $({ grep '^E:' "$log" || tail -n 1 "$log"; } | tail -n 1)" >&2
  return 1
}

# apt_download PACKAGE...: apt-get download into the current directory, as root where apt's sandbox
# user could not write there. Where the lists here cannot name it (never updated, or older than the
# mirror), once more after an apt_update; its last line says why where it still cannot.
apt_download() {
  local log=$apt_tmp/download.log first
  apt-get -o APT::Sandbox::User=root download "$@" >"$log" 2>&1 && return 0
  first=$({ grep '^E:' "$log" || tail -n 1 "$log"; } | tail -n 1)
  # The last line names the download's own error, whatever the update's was.
  if ! apt_going_on=${apt_going_on:-downloading from what apt could read} apt_update; then
    echo "$apt_who: apt-get download $* failed: $first (and the update that might have let it failed too)" >&2
    return 1
  fi
  apt-get -o APT::Sandbox::User=root download "$@" >"$log" 2>&1 && return 0
  echo "$apt_who: apt-get download $* failed: $({ grep '^E:' "$log" || tail -n 1 "$log"; } | tail -n 1)" >&2
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  case "${1:-}" in
    --whole-indexes)
      apt_going_on=${apt_going_on:-stopping: what follows needs every index whole}
      apt_update && [ -z "$apt_unreadable" ] ;;
    --download) shift; apt_download "$@" ;;
    *) apt_install "$@" ;;
  esac
fi
