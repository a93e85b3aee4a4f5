# Sourced (POSIX sh) by whatever registers or weighs this project's binfmt_misc entries for i386 ELF
# files: tests/wine32/wine32.sh (qemu-i386, where the kernel cannot run 32-bit programs),
# scripts/make-test.sh (EMULATE_32BIT=1: an entry that makes a native kernel refuse them) and
# scripts/wine-test-preset.sh.
#
# binfmt_misc is asked before the kernel's own ELF loader, the newest entry first. Since Linux 6.7 each
# user namespace can mount a binfmt_misc instance of its own, whose entries apply to its processes only
# and go when the namespace ends: binfmt_isolate runs a command in one, and every entry of ours is made
# there wherever the kernel has them, so that nothing is written to the machine's binfmt_misc and no run,
# however it ends, leaves anything there. On an older kernel (or with user namespaces turned off) the
# qemu-i386 entry of a machine that cannot run 32-bit programs is the machine's, as before: named
# launcher-<what>-i386-<PID namespace>-<PID>-<start time> after the process that registered it, which
# removes it when it exits; a later run removes it only where its owner is proven gone (no such process
# in this PID namespace, or one that started at another time), leaves every other alone, and no entry
# ever decides which path a run takes: the kernel's probe does (kernel_runs_i386).
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_pidns=$(readlink /proc/self/ns/pid 2>/dev/null | tr -cd 0-9)

# _bf_started PID: the process's start time (clock ticks since boot; field 22 of its stat), or nothing.
_bf_started() {
  sed -n 's/^.*) //p' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20
}

# binfmt_private: whether $binfmt_dir is the binfmt_misc instance of this process's own user namespace,
# mounted by binfmt_isolate (not the machine's).
binfmt_private() {
  [ -n "${LAUNCHER_BINFMT_USERNS:-}" ] && [ "$LAUNCHER_BINFMT_USERNS" = "$(readlink /proc/self/ns/user 2>/dev/null)" ] &&
    [ -e "$binfmt_dir/register" ]
}

# binfmt_isolation_missing: whether binfmt_isolate can give a run a binfmt_misc instance of its own here,
# tried as it does it (IDs mapped from outside, /proc anew, a PID namespace, the instance mounted and seen
# as its own). Returns 1 where it works. Where it cannot, for want of what the kernel or the machine must
# give (no user namespace can be made, or a kernel older than 6.7), prints why on one line and returns 0.
# Where it should work and does not (not root, or binfmt_isolate fails), prints why, with the error, and
# returns 2: that is a fault to show, never a reason to skip.
binfmt_isolation_missing() {
  _bf_err=""
  if ! command -v unshare >/dev/null || [ "$(cat /proc/sys/user/max_user_namespaces 2>/dev/null)" = 0 ] ||
     ! _bf_err=$(unshare --user true 2>&1); then
    echo "no user namespace can be made here (turned off: sysctl user.max_user_namespaces, kernel.unprivileged_userns_clone or a container's policy; or this runs in a chroot, where the kernel makes none), so no binfmt_misc of its own can be had${_bf_err:+: $(printf '%s' "$_bf_err" | tr '\n' ' ')}"
    return 0
  fi
  _bf_release=$(uname -r)
  _bf_minor=${_bf_release#*.}
  case ${_bf_release%%.*}.${_bf_minor%%[!0-9]*} in
    [1-5].*|6.[0-6]) echo "this kernel ($_bf_release) gives a user namespace no binfmt_misc instance of its own (Linux 6.7 and later do)"; return 0 ;;
  esac
  if [ "$(id -u)" != 0 ]; then
    echo "a binfmt_misc of its own needs root (a user namespace whose IDs are the machine's); run as root"
    return 2
  fi
  # In a subshell: binfmt_isolate sets and clears traps of its own.
  if ! _bf_err=$( (binfmt_isolate sh -c '[ "$LAUNCHER_BINFMT_USERNS" = "$(readlink /proc/self/ns/user)" ] && [ -e '"$binfmt_dir"'/register ] ||
      { echo "no binfmt_misc of its own in the namespace" >&2; exit 1; }') 2>&1 ); then
    echo "binfmt_isolate fails on this kernel ($_bf_release), which gives a user namespace a binfmt_misc of its own: $(printf '%s' "${_bf_err:-no message}" | tr '\n' ' ')"
    return 2
  fi
  return 1
}

# binfmt_isolate COMMAND...: runs COMMAND in a user, mount and PID namespace of its own, every user and
# group ID mapped to itself (apt's _apt, a root's files: the machine's IDs), /proc mounted anew and a
# binfmt_misc instance of its own on $binfmt_dir. Returns COMMAND's status. Needs root (the maps are
# written from outside). Everything in the namespace is killed when it ends: when COMMAND ends, or when
# this shell is killed (even with SIGKILL). When this shell gets TERM, HUP or INT, every process of the
# namespace gets TERM first, and up to 10 s to run its EXIT trap (work folders, wineservers), before
# the rest is killed; this shell then exits 143, 129 or 130.
binfmt_isolate() {
  _bf_fifo=$(mktemp -u "${TMPDIR:-/tmp}/launcher-userns.XXXXXX") && mkfifo -m 600 "$_bf_fifo" || return 1
  _bf_outer=$(readlink /proc/self/ns/user)
  # The namespace's first process: COMMAND runs as its child, since the kernel delivers no signal to a
  # PID namespace's init that it does not catch. Told TERM from outside, it passes TERM to every process
  # of the namespace (orphaned tests included, whose ctest is gone) and waits until none is left.
  _bf_init='exec 3<&0
    "$@" <&3 3<&- &
    _child=$!
    exec 3<&-
    _drain() {
      kill -TERM -1 2>/dev/null
      while :; do
        _left=""
        for _p in /proc/[0-9]*; do
          [ "$_p" != /proc/1 ] && read -r _stat 2>/dev/null <"$_p/stat" || continue
          _state=${_stat##*) }
          [ "${_state%% *}" = Z ] || { _left=yes; break; }
        done
        [ -n "$_left" ] || exit 143
        sleep 0.1
      done
    }
    trap _drain TERM HUP INT
    _status=0
    wait "$_child" || _status=$?
    exit "$_status"'
  # setpriv: SIGKILL to unshare when this shell dies; --kill-child: SIGKILL to the namespace's first
  # process when unshare dies, and with it to every process of the namespace.
  setpriv --pdeathsig KILL unshare --user --mount --pid --fork --kill-child --propagation private -- sh -c '
    _init=$1
    shift
    read _go <"$0" && [ "$_go" = mapped ] || { echo "binfmt_isolate: the user namespace got no ID map" >&2; exit 1; }
    mount -t proc proc /proc && mount -t binfmt_misc binfmt_misc '"$binfmt_dir"' || exit 1
    # SIGKILL to this first process, and so to the whole namespace, when unshare dies (set here, once
    # the namespace is made: the --kill-child of unshare does not hold past it).
    LAUNCHER_BINFMT_USERNS=$(readlink /proc/self/ns/user) && export LAUNCHER_BINFMT_USERNS &&
      exec setpriv --pdeathsig KILL sh -c "$_init" binfmt-isolate "$@"' \
    "$_bf_fifo" "$_bf_init" "$@" &
  _bf_unshare=$!
  trap '_bf_forward 143' TERM
  trap '_bf_forward 129' HUP
  trap '_bf_forward 130' INT
  _bf_tries=0
  while [ "$(readlink "/proc/$_bf_unshare/ns/user" 2>/dev/null)" = "$_bf_outer" ] && [ "$_bf_tries" -lt 400 ]; do
    _bf_tries=$((_bf_tries + 1))
    sleep 0.05
  done
  _bf_go=failed
  if [ "$(readlink "/proc/$_bf_unshare/ns/user" 2>/dev/null || echo "$_bf_outer")" != "$_bf_outer" ] &&
     echo '0 0 4294967295' >"/proc/$_bf_unshare/uid_map" && echo '0 0 4294967295' >"/proc/$_bf_unshare/gid_map"; then
    _bf_go=mapped
  fi
  if kill -0 "$_bf_unshare" 2>/dev/null; then
    echo "$_bf_go" >"$_bf_fifo" &  # the namespace's reader may be gone: never wait for it here
    _bf_writer=$!
  fi
  _bf_status=0
  wait "$_bf_unshare" || _bf_status=$?
  kill "${_bf_writer:-}" 2>/dev/null || true
  rm -f "$_bf_fifo"
  trap - TERM HUP INT
  return "$_bf_status"
}

# _bf_owner_gone NAME: whether the process that registered entry NAME is proven gone: of this PID
# namespace, and no such process, or one that started at another time (a reused PID). An entry of
# another namespace, or named without its start time (an older design's), is never proven so.
_bf_owner_gone() {
  _bf_owner=${1##*-i386-}  # <ns>-<pid>-<start time>; older names: <ns>-<pid>, <pid>
  case $_bf_owner in
    *-*-*) ;;
    *) return 1 ;;  # named without its start time: a live PID proves nothing
  esac
  [ "${_bf_owner%%-*}" = "$binfmt_pidns" ] || return 1
  _bf_pid=${_bf_owner#*-}
  _bf_pid=${_bf_pid%-*}
  [ "$(_bf_started "$_bf_pid")" != "${_bf_owner##*-}" ]
}

# _bf_forward STATUS: binfmt_isolate's answer to a signal: TERM to the namespace's first process, up to
# 10 s for the namespace to end, then SIGKILL to what is left; exits STATUS.
_bf_forward() {
  _bf_first=""
  read -r _bf_first _ 2>/dev/null <"/proc/$_bf_unshare/task/$_bf_unshare/children" ||
    _bf_first=$(pgrep -P "$_bf_unshare" 2>/dev/null | head -n 1) || true
  [ -z "$_bf_first" ] || kill -TERM "$_bf_first" 2>/dev/null || true
  _bf_tries=0
  while [ "$_bf_tries" -lt 100 ] && read -r _bf_stat 2>/dev/null <"/proc/$_bf_unshare/stat"; do
    _bf_stat=${_bf_stat##*) }
    [ "${_bf_stat%% *}" != Z ] || break
    _bf_tries=$((_bf_tries + 1))
    sleep 0.1
  done
  kill -KILL "$_bf_unshare" 2>/dev/null || true
  rm -f "$_bf_fifo"
  exit "$1"
}

# binfmt_prune: removes the machine-wide entries of ours (older kernels) whose registering process is
# proven gone (_bf_owner_gone). Every other entry is left alone: another namespace's, a live run's, an
# unweighable one.
binfmt_prune() {
  binfmt_private && return 0
  for _bf_entry in "$binfmt_dir"/launcher-*-i386-*; do
    [ -f "$_bf_entry" ] || continue
    ! _bf_owner_gone "${_bf_entry##*/}" || echo -1 >"$_bf_entry" 2>/dev/null || true
  done
}

# binfmt_leftovers: names each launcher-* entry in the machine's binfmt_misc (never in a run's own): an
# older design's refusal, or a qemu entry whose owner is proven gone, with the one command that removes
# it; any other as possibly a live run's, left alone. None changes the path a run takes. Returns 1 where
# the machine's own 32-bit programs fail (the kernel runs them, 32-bit Wine does not) while such an entry
# is there; the caller fails then, saying so.
binfmt_leftovers() {
  binfmt_private && return 0
  # Where this mount namespace has the machine's binfmt_misc unmounted, its entries still act: they are
  # read through a mount of a throwaway mount namespace (as root).
  _bf_list='for _bf_e in '"$binfmt_dir"'/launcher-*; do [ -f "$_bf_e" ] && echo "${_bf_e##*/} $(sed -n "s/^interpreter //p" "$_bf_e")"; done; true'
  _bf_remove="echo -1 >$binfmt_dir/"
  if [ -e "$binfmt_dir/register" ]; then
    _bf_found=$(sh -c "$_bf_list")
  elif [ "$(id -u)" = 0 ]; then
    _bf_found=$(unshare --mount sh -c "mount -t binfmt_misc binfmt_misc $binfmt_dir 2>/dev/null || exit 0; $_bf_list" 2>/dev/null || true)
    _bf_remove="unshare --mount sh -c 'mount -t binfmt_misc binfmt_misc $binfmt_dir && echo -1 >$binfmt_dir/"
  else
    return 0
  fi
  [ -n "$_bf_found" ] || return 0
  printf '%s\n' "$_bf_found" | while read -r _bf_name _bf_interpreter; do
    case $_bf_remove in
      *\'*) _bf_command="$_bf_remove$_bf_name'" ;;
      *) _bf_command="$_bf_remove$_bf_name" ;;
    esac
    # No run of this design registers a refusal in the machine's binfmt_misc; a qemu entry may be a live
    # run's (older kernels), and is named removable only where its owner is proven gone.
    case $_bf_name in
      launcher-refuses-*) echo "binfmt_misc holds $_bf_name ($_bf_interpreter), left by an older design's make test EMULATE_32BIT=1; remove it with: $_bf_command" ;;
      *) if _bf_owner_gone "$_bf_name"; then
           echo "binfmt_misc holds $_bf_name ($_bf_interpreter), left by a run of make test that is gone; remove it with: $_bf_command"
         else
           echo "binfmt_misc holds $_bf_name ($_bf_interpreter), which may belong to a live run (its owner is not proven gone: another PID namespace's, still running, or named without its start time); left alone"
         fi ;;
    esac
  done
  if kernel_runs_i386 "${1:-${TMPDIR:-/tmp}}" && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this kernel runs 32-bit programs, but 32-bit Wine fails here: an entry above refuses them machine-wide"
    return 1
  fi
  return 0
}

# binfmt_qemu_i386: prints the qemu that an enabled entry for i386 ELF files names, whoever registered
# it (a run of ours, another's, a package's): where there is one, 32-bit programs run through it.
binfmt_qemu_i386() {
  for _bf_entry in "$binfmt_dir"/*; do
    [ -f "$_bf_entry" ] && grep -qsx enabled "$_bf_entry" && grep -qs '^magic 7f454c46010101' "$_bf_entry" &&
      sed -n 's/^interpreter \(.*qemu-i386.*\)/\1/p' "$_bf_entry" | grep . && return 0
  done
  return 1
}

# kernel_runs_i386 DIRECTORY: whether the kernel itself runs 32-bit x86 programs, whatever binfmt_misc
# holds. The probe, written to DIRECTORY, is a 96-byte i386 program that exits 42; one padding byte of
# its ELF header is set, which the kernel's loader ignores and the mask of every i386 entry (ours,
# qemu-user-binfmt's) refuses, so that no emulator is asked to run it.
kernel_runs_i386() {
  _bf_probe=$1/i386-probe.$$
  mkdir -p "$1" || return 1
  printf '\177\105\114\106\001\001\001\000\000\114\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' \
    >"$_bf_probe" && chmod +x "$_bf_probe" || { rm -f "$_bf_probe"; return 1; }
  _bf_status=0
  "$_bf_probe" 2>/dev/null || _bf_status=$?
  rm -f "$_bf_probe"
  [ "$_bf_status" = 42 ]
}

# binfmt_register WHAT INTERPRETER [FLAGS]: registers launcher-WHAT-i386-<ns>-<this shell's PID>-<its start
# time> for i386 ELF executables and shared objects, and prints its path. In a run's own binfmt_misc
# where there is one (binfmt_isolate); the machine's is mounted only outside one.
binfmt_register() {
  binfmt_private || [ -e "$binfmt_dir/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || true
  _bf_name=launcher-$1-i386-$binfmt_pidns-$$-$(_bf_started $$)
  printf '%s' ":$_bf_name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$2:${3:-}" \
    >"$binfmt_dir/register" || return 1
  echo "$binfmt_dir/$_bf_name"
}
