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

# binfmt_ours WHAT: whether an entry of ours of that kind (test: qemu-i386; refuses: EMULATE_32BIT's)
# is registered (after binfmt_prune: a live one, or one that cannot be weighed).
binfmt_ours() {
  for _bf_entry in "$binfmt_dir"/launcher-"$1"-i386-*; do
    [ -f "$_bf_entry" ] && return 0
  done
  return 1
}

# binfmt_drop WHAT: removes every entry of ours of that kind, whoever registered it (as root).
binfmt_drop() {
  for _bf_entry in "$binfmt_dir"/launcher-"$1"-i386-*; do
    [ ! -f "$_bf_entry" ] || echo -1 >"$_bf_entry" 2>/dev/null || true
  done
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

# binfmt_register WHAT INTERPRETER [FLAGS]: registers launcher-WHAT-i386-<ns>-<this shell's PID> for i386
# ELF executables and shared objects, and prints its path.
binfmt_register() {
  [ -e "$binfmt_dir/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || true
  _bf_name=launcher-$1-i386-$binfmt_pidns-$$
  printf '%s' ":$_bf_name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$2:${3:-}" \
    >"$binfmt_dir/register" || return 1
  echo "$binfmt_dir/$_bf_name"
}
