# Sourced (POSIX sh) by whatever registers or weighs this project's binfmt_misc entries for i386 ELF
# files: tests/wine32/wine32.sh (qemu-i386, where the kernel cannot run 32-bit programs),
# scripts/make-test.sh (EMULATE_32BIT=1: an entry that makes a native kernel refuse them) and
# scripts/wine-test-preset.sh.
#
# binfmt_misc is machine-wide and asked before the kernel's own ELF loader, the newest entry first. Each
# entry of ours is named launcher-<what>-i386-<PID namespace>-<PID> after the process that registered
# it, which removes it when it exits. A process killed outright (a ctest timeout) cannot, so an entry
# whose process is gone is removed by the next run in the same PID namespace; one from another namespace
# (a make fresh root's) cannot be weighed from here and is left alone.
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_pidns=$(readlink /proc/self/ns/pid 2>/dev/null | tr -cd 0-9)

# binfmt_prune: removes this namespace's entries of ours whose process is gone (as root; otherwise
# they stay, and count as live).
binfmt_prune() {
  for _bf_entry in "$binfmt_dir"/launcher-*-i386-*; do
    [ -f "$_bf_entry" ] || continue
    _bf_owner=${_bf_entry##*-i386-}
    case $_bf_owner in *-*) ;; *) _bf_owner=$binfmt_pidns-$_bf_owner ;; esac  # named before namespaces were
    [ "${_bf_owner%-*}" = "$binfmt_pidns" ] || continue
    kill -0 "${_bf_owner##*-}" 2>/dev/null || echo -1 >"$_bf_entry" 2>/dev/null || true
  done
}

# binfmt_ours_live: whether an entry of ours is registered (after binfmt_prune: a live one, or one that
# cannot be weighed).
binfmt_ours_live() {
  for _bf_entry in "$binfmt_dir"/launcher-*-i386-*; do
    [ -f "$_bf_entry" ] && return 0
  done
  return 1
}

# binfmt_register WHAT INTERPRETER [FLAGS]: registers launcher-WHAT-i386-<ns>-<this shell's PID> for i386
# ELF executables and shared objects, and prints its path.
binfmt_register() {
  [ -e "$binfmt_dir/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || true
  _bf_name=launcher-$1-i386-$binfmt_pidns-$$
  printf '%s' ":$_bf_name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$2:${3:-}" \
    >"$binfmt_dir/register" || return 1
  echo "$binfmt_dir/$_bf_name"
}
