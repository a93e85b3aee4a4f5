#!/bin/sh
# make test's own machinery, each row against the scripts of SOURCE_DIRECTORY (so that a row can be run
# against an older tree's, to see it fail there):
# - the shipped test's template rows hold on make test EMULATE_32BIT=1's path too (its variables set);
# - a launcher-* entry that a run of another PID namespace left in the machine's binfmt_misc never makes
#   a machine that runs 32-bit programs take the emulating path, and is named with the command that
#   removes it (staged in a binfmt_misc instance of a user namespace of this test's own, never the
#   machine's; where the kernel has none, the row is skipped, saying so);
# - a /bin/sh (dash) test script that registered qemu-i386 removes its entry when SIGTERM ends it
#   (staged likewise, with a stand-in qemu);
# - make-test.sh --in-own-binfmt, run by hand outside binfmt_isolate's namespace, refuses (staged likewise);
# - the probe of the emulating path skips only for a missing feature, and shows any other fault;
# - a test tree that is missing fails the ctest run, naming it;
# - TERM to binfmt_isolate's caller lets the namespace's EXIT traps run, and leaves no process;
# - scripts/run-ctest.sh fails where a test its lists require did not run, or a list is missing.
#
# Usage: check_make_test.sh SOURCE_DIRECTORY WORK_DIRECTORY
# Exit status: 0 all passed (or skipped), 1 a row failed, 77 every row that needs a binfmt_misc of its
# own was skipped and none failed.
set -eu
source=$(readlink -f "$1")
mkdir -p "$2"
work=$(readlink -f "$2")
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
passed=0 failed=0 skipped=0
verdict() {  # name, then the problems found ("" for none), then the lines that show a pass
  if [ -z "$2" ]; then passed=$((passed + 1)); echo "ok: $1"; [ -z "${3:-}" ] || printf '%s\n' "$3" | sed 's/^/  saw: /'
  else failed=$((failed + 1)); echo "FAILED: $1"; printf '%s\n' "$2" | sed 's/^/  /'; fi
}
. "$source/scripts/binfmt-i386.sh"
# A user namespace whose binfmt_misc is its own: where this kernel gives none, the rows that need one skip.
own_binfmt=yes
unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc binfmt_misc $binfmt_dir" 2>/dev/null || own_binfmt=""
staged() {  # sh script: run in a user and mount namespace with a binfmt_misc of its own, as "the machine's"
  unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc binfmt_misc $binfmt_dir && $1"
}
i386_entry() {  # name, interpreter, flags: the registration line of an i386 entry such as a run makes
  printf '%s' ":$1:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$2:${3:-}"
}
natively=""
kernel_runs_i386 "$work" && natively=yes

# 1. The template rows with make test EMULATE_32BIT=1's variables set (they stop before any 32-bit program).
out=$(LAUNCHER_NATIVE_32BIT_REFUSED=$work/no-such-entry LAUNCHER_WINE_TEMPLATES=$work/run-templates \
  LAUNCHER_SHIPPED_TEMPLATE_ROWS_ONLY=1 "$source/tests/shipped/run_under_wine32.sh" /bin/true /bin/true "$work/shipped" 2>&1) &&
  status=0 || status=$?
problems=""
[ "$status" = 0 ] || problems="exit status $status"
[ "$(printf '%s\n' "$out" | grep -c '^ok: template')" = 5 ] || problems="$problems
$(printf '%s\n' "$out" | grep -v '^ok:')"
verdict "the shipped test's template rows under make test EMULATE_32BIT=1's variables" "$problems"

# 2. Another PID namespace's refusal entry (its run killed outright, say), in "the machine's" binfmt_misc.
name="a launcher-* refusal left by a run of another PID namespace neither chooses the path nor goes unsaid"
if [ -z "$own_binfmt" ]; then
  skipped=$((skipped + 1)); echo "SKIP: $name: no binfmt_misc of a user namespace's own here ($(uname -r))"
else
  foreign=launcher-refuses-i386-4026500001-4242-1
  out=$(staged "printf '%s' '$(i386_entry "$foreign" "$work/no-such-interpreter")' >$binfmt_dir/register &&
    echo preset=\$(env -u LAUNCHER_WINE_PRESET -u LAUNCHER_NATIVE_32BIT_REFUSED -u LAUNCHER_BINFMT_USERNS '$source/scripts/wine-test-preset.sh') &&
    { . '$source/scripts/binfmt-i386.sh'; unset LAUNCHER_BINFMT_USERNS; binfmt_leftovers '$work'; echo leftovers=\$?; } &&
    ls $binfmt_dir" 2>&1) || true
  problems=""
  expected=win64-tests
  [ -z "$natively" ] || expected=win32-tests
  printf '%s\n' "$out" | grep -qx "preset=$expected" ||
    problems="the path taken: $(printf '%s\n' "$out" | sed -n 's/^preset=//p'), expected the kernel's answer, $expected"
  printf '%s\n' "$out" | grep -qF "remove it with: echo -1 >$binfmt_dir/$foreign" ||
    problems="$problems
not named with the command that removes it"
  if [ -n "$natively" ]; then
    printf '%s\n' "$out" | grep -qx "leftovers=1" ||
      problems="$problems
32-bit Wine fails because of it, and make test's check did not fail: $(printf '%s\n' "$out" | grep '^leftovers=')"
  fi
  printf '%s\n' "$out" | grep -qx "$foreign" || problems="$problems
the entry was removed: its owner could not be proven gone"
  [ -z "$problems" ] || problems="$problems
$out"
  verdict "$name${natively:+ (this kernel runs 32-bit programs)}" "$problems"
fi

# 3. A /bin/sh script that registered qemu-i386 (ensure_wine32), ended by SIGTERM: its entry goes.
name="a /bin/sh test script that registered qemu-i386 removes its entry when SIGTERM ends it"
if [ -z "$own_binfmt" ]; then
  skipped=$((skipped + 1)); echo "SKIP: $name: no binfmt_misc of a user namespace's own here ($(uname -r))"
else
  stage=$work/dash-trap
  rm -rf "$stage"
  mkdir -p "$stage/tests/row" "$stage/bin"
  ln -s "$source/scripts" "$stage/scripts"
  ln -s "$source/tests/wine32" "$stage/tests/wine32"
  printf '#!/bin/sh\necho "qemu-i386 stand-in"\n' >"$stage/bin/qemu-i386"
  chmod +x "$stage/bin/qemu-i386"
  cat >"$stage/tests/row/registers.sh" <<'ROW'
#!/bin/sh
set -eu
. "$(dirname "$0")/../wine32/wine32.sh"
ensure_wine32 >/dev/null
echo "registered: $wine32_entry"
sleep 60 &
wait
ROW
  out=$(staged "printf '%s' '$(i386_entry launcher-refuses-i386-stand-in "$work/no-such-interpreter")' >$binfmt_dir/register &&
    PATH='$stage/bin':\$PATH; export PATH
    dash '$stage/tests/row/registers.sh' >'$stage/out' 2>&1 & row=\$!
    for _ in \$(seq 100); do grep -q registered '$stage/out' && break; sleep 0.1; done
    cat '$stage/out'; kill -TERM \$row; wait \$row; echo status=\$?
    ls $binfmt_dir" 2>&1) || true
  problems=""
  printf '%s\n' "$out" | grep -q '^registered: .*launcher-test-i386' || problems="no entry registered"
  printf '%s\n' "$out" | grep -qx 'status=143' || problems="$problems
not ended by SIGTERM with status 143"
  ! printf '%s\n' "$out" | grep -q '^launcher-test-i386' || problems="$problems
its entry is left: $(printf '%s\n' "$out" | grep '^launcher-test-i386')"
  [ -z "$problems" ] || problems="$problems
$out"
  verdict "$name" "$problems"
fi

# 3b. On a kernel without binfmt_misc instances of a namespace's own, qemu's entries are the machine's:
# a later run removes one only where its owner is proven gone (staged in an instance of our own here).
name="binfmt_prune removes, and binfmt_leftovers names removable, only entries whose owner is proven gone"
if [ -z "$own_binfmt" ]; then
  skipped=$((skipped + 1)); echo "SKIP: $name: no binfmt_misc of a user namespace's own here ($(uname -r))"
else
  sleep 60 &
  live=$!
  live_start=$(sed -n 's/^.*) //p' "/proc/$live/stat" | cut -d' ' -f20)
  gone=$(sh -c 'echo $$')
  ns=$binfmt_pidns
  # entry name | whether it must stay
  rows="launcher-test-i386-$ns-$gone-12345|gone
launcher-test-i386-$ns-$live-1|gone
launcher-test-i386-$ns-$live-$live_start|stays
launcher-test-i386-4026500002-$gone-12345|stays
launcher-test-i386-$ns-$gone|stays"
  register=$(printf '%s\n' "$rows" | while IFS='|' read -r entry _; do
    printf "printf '%%s' '%s' >%s/register && " "$(i386_entry "$entry" /bin/true)" "$binfmt_dir"; done)
  out=$(staged "$register . '$source/scripts/binfmt-i386.sh' && unset LAUNCHER_BINFMT_USERNS &&
    binfmt_leftovers '$work' && binfmt_prune && ls $binfmt_dir" 2>&1) || true
  kill "$live" 2>/dev/null || true
  problems="" seen=""
  while IFS='|' read -r entry fate; do
    if printf '%s\n' "$out" | grep -qx "$entry"; then
      [ "$fate" = stays ] || problems="$problems
$entry stayed: its owner is proven gone"
    else
      [ "$fate" = gone ] || problems="$problems
$entry was removed: its owner is not proven gone"
    fi
    said=$(printf '%s\n' "$out" | grep "^binfmt_misc holds $entry " || true)
    case $fate:$said in
      gone:*"remove it with: echo -1 >$binfmt_dir/$entry") ;;
      stays:*"may belong to a live run"*) case $said in *"remove it with"*) problems="$problems
binfmt_leftovers names $entry removable: $said" ;; esac ;;
      *) problems="$problems
binfmt_leftovers says of $entry (owner $fate): ${said:-nothing}" ;;
    esac
    seen="$seen
$said"
  done <<ROWS
$rows
ROWS
  [ -z "$problems" ] || problems="$problems
$out"
  verdict "$name" "$problems" "$(printf '%s\n' "$seen" | grep .)"
fi

# 3c. make-test.sh --in-own-binfmt run by hand, outside binfmt_isolate's namespace: it must refuse, or
# its refusal entry goes into "the machine's" binfmt_misc (staged) and stays there.
name="make-test.sh --in-own-binfmt refuses to run outside a binfmt_misc of its own"
if [ -z "$own_binfmt" ]; then
  skipped=$((skipped + 1)); echo "SKIP: $name: no binfmt_misc of a user namespace's own here ($(uname -r))"
else
  stage=$work/by-hand
  rm -rf "$stage"
  mkdir -p "$stage/no-tests"
  ln -s "$source/scripts" "$stage/scripts"
  out=$(staged "env -u LAUNCHER_BINFMT_USERNS EMULATE_32BIT=1 LAUNCHER_CTEST_DIR='$stage/no-tests' \
    bash '$stage/scripts/make-test.sh' --in-own-binfmt; echo status=\$?; ls $binfmt_dir" 2>&1) || true
  problems=""
  printf '%s\n' "$out" | grep -q 'status=[1-9]' || problems="it did not fail: $(printf '%s\n' "$out" | grep '^status=')"
  printf '%s\n' "$out" | grep -q 'not in a binfmt_misc of its own' || problems="$problems
no refusal said"
  ! printf '%s\n' "$out" | grep -q '^launcher-' || problems="$problems
left in the binfmt_misc it ran in: $(printf '%s\n' "$out" | grep '^launcher-')"
  [ -z "$problems" ] || problems="$problems
$out"
  verdict "$name" "$problems" "$(printf '%s\n' "$out" | grep -e 'not in a binfmt_misc' -e '^status=')"
fi

# 3d. The probe that decides whether the emulating path runs: a missing feature (user namespaces off, a
# kernel before 6.7) is its one line, status 0; any other fault of binfmt_isolate is status 2, its
# error shown (stand-ins on PATH play each machine).
name="binfmt_isolation_missing tells a missing feature from a fault of binfmt_isolate"
stubs=$work/probe-stubs
mkdir -p "$stubs/old-kernel" "$stubs/no-userns" "$stubs/fault"
printf '#!/bin/sh\necho 6.1.0-28-amd64\n' >"$stubs/old-kernel/uname"
printf '#!/bin/sh\necho "unshare: unshare failed: No space left on device" >&2; exit 1\n' >"$stubs/no-userns/unshare"
printf '#!/bin/sh\necho "setpriv stand-in: the probe reached binfmt_isolate" >&2; exit 1\n' >"$stubs/fault/setpriv"
chmod +x "$stubs"/*/*
out=""
for machine in old-kernel no-userns fault real; do
  out="$out
$machine: $(PATH=$stubs/$machine:$PATH; . "$source/scripts/binfmt-i386.sh"; unset LAUNCHER_BINFMT_USERNS
    why=$(binfmt_isolation_missing 2>&1) && st=0 || st=$?; echo "$why status=$st")"
done
problems=""
expect() { printf '%s\n' "$out" | grep -q "^$1: .*$2.* status=$3\$" || problems="$problems
$1: expected status $3 and \"$2\""; }
expect no-userns "no user namespace can be made" 0
# In a chroot (a make fresh root) the kernel makes no user namespace at all: every machine's answer is
# that line, so a stand-in kernel or setpriv is never reached, and only the real answer can be checked.
if printf '%s\n' "$out" | grep -q "^real: no user namespace can be made.* status=0\$"; then
  echo "note: $name: no user namespace can be made here, so the old-kernel and fault stand-ins cannot be reached"
elif [ "$(id -u)" = 0 ]; then
  expect old-kernel "this kernel (6.1.0-28-amd64)" 0
  expect fault "setpriv stand-in: the probe reached binfmt_isolate" 2
  if [ -n "$own_binfmt" ]; then expect real "" 1; else expect real "" 0; fi
else
  expect old-kernel "this kernel (6.1.0-28-amd64)" 0
  expect fault "needs root" 2
fi
[ -z "$problems" ] || problems="$problems
$out"
verdict "$name" "$problems" "$(printf '%s\n' "$out" | grep .)"

# 3e. TERM to binfmt_isolate's caller: each process of the namespace runs its EXIT trap (an orphan's
# too, as a test's is once ctest is gone) before the namespace ends, and none of it is left.
name="TERM to binfmt_isolate's caller runs the namespace's EXIT traps and leaves no process"
why=$(binfmt_isolation_missing) && st=0 || st=$?
if [ "$st" != 1 ]; then
  skipped=$((skipped + 1)); echo "SKIP: $name: $why"
else
  stage=$work/isolate-term
  rm -rf "$stage"
  mkdir -p "$stage"
  cat >"$stage/inner.sh" <<'ROW'
#!/bin/sh
trap 'exit 143' TERM
trap 'sleep 1; echo "trap ran: inner.sh" >>"${0%/*}/traps"' EXIT
sh -c 'trap "exit 143" TERM; trap "sleep 1; echo \"trap ran: orphan\" >>$0/traps" EXIT; sleep 300 & wait' "${0%/*}" &
echo started >"${0%/*}/started"
sleep 300 & wait
ROW
  sh -c ". '$source/scripts/binfmt-i386.sh'; binfmt_isolate sh '$stage/inner.sh'" & caller=$!
  for _ in $(seq 100); do [ -f "$stage/started" ] && break; sleep 0.1; done
  sleep 0.5
  ours=$(grep -lF "$stage" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3 | tr '\n' ' ')
  kill -TERM "$caller"; wait "$caller" && status=0 || status=$?
  left=""
  for _ in $(seq 30); do
    left=$(for p in $ours; do [ "$(cut -d' ' -f3 "/proc/$p/stat" 2>/dev/null || echo Z)" = Z ] || echo "$p"; done)
    [ -n "$left" ] || break
    sleep 0.1
  done
  problems=""
  [ "$status" = 143 ] || problems="the caller exited $status, not 143"
  for who in inner.sh orphan; do
    grep -qx "trap ran: $who" "$stage/traps" 2>/dev/null || problems="$problems
the EXIT trap of $who did not run"
  done
  [ -z "$left" ] || problems="$problems
left running: $(ps -o pid,args -p "$(echo $left | tr ' ' ,)")"
  verdict "$name" "$problems" "$(cat "$stage/traps" 2>/dev/null; echo "caller status=$status; the namespace's processes ($ours) all gone")"
fi

# 4. The host tree pulls in a Wine tables' tree and a fuzz tree that are not there.
cmake -S "$source" -B "$work/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SAME_PUBLISHER_ONLY=ON \
  -DLAUNCHER_WINE_TEST_DIR="$work/missing-wine-tests" -DLAUNCHER_FUZZ_DIR="$work/missing-fuzz" >"$work/host.log" 2>&1 ||
  { cat "$work/host.log"; exit 1; }
out=$(ctest --test-dir "$work/host" --output-on-failure --no-tests=error -R '^(required|wine|fuzz)\.' 2>&1) && status=0 || status=$?
problems=""
[ "$status" != 0 ] || problems="ctest passed (status 0)"
printf '%s\n' "$out" | grep -q "$work/missing-wine-tests" || problems="$problems
the missing Wine tables' tree is not named"
printf '%s\n' "$out" | grep -q "$work/missing-fuzz" || problems="$problems
the missing fuzz tree is not named"
[ -z "$problems" ] || problems="$problems
$out"
verdict "a missing test tree fails the ctest run, named" "$problems"

# 5. scripts/run-ctest.sh's check by name: a listed test that never ran, and a list that is missing.
tree=$work/required
rm -rf "$tree"
mkdir -p "$tree/layer"
printf 'add_test(row.Runs "/bin/true")\n' >"$tree/CTestTestfile.cmake"
printf '%s\n' "$tree/layer" >"$tree/required-trees.txt"
printf 'row.Runs\nrow.Never\n' >"$tree/layer/required-tests.txt"
out=$(LAUNCHER_CTEST_DIR=$tree "$source/scripts/run-ctest.sh" 2>&1) && status=0 || status=$?
problems=""
[ "$status" != 0 ] || problems="run-ctest.sh passed (status 0)"
seen=$(printf '%s\n' "$out" | grep 'REQUIRED TESTS MISSING' || true)
case $seen in *' row.Never'*) ;; *) problems="$problems
row.Never, which never ran, is not named" ;; esac
case $seen in *' row.Runs'*) problems="$problems
row.Runs, which ran, is named" ;; esac
rm "$tree/required-trees.txt"
out2=$(LAUNCHER_CTEST_DIR=$tree "$source/scripts/run-ctest.sh" 2>&1) && status2=0 || status2=$?
[ "$status2" != 0 ] || problems="$problems
with no required-trees.txt, run-ctest.sh passed (status 0)"
seen2=$(printf '%s\n' "$out2" | grep -F "$tree/required-trees.txt" || true)
[ -n "$seen2" ] || problems="$problems
the missing required-trees.txt is not named"
[ -z "$problems" ] || problems="$problems
$out
$out2"
verdict "run-ctest.sh fails where a required test did not run, or its list is missing" "$problems" "$seen status=$status
$seen2 status=$status2"

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] || exit 1
[ "$skipped" = 0 ] || [ "$passed" -gt 2 ] || exit 77
