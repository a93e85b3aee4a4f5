# Sourced (POSIX sh) by everything that makes a Wine prefix of its own: the Wine tests' runner, the kit's,
# the installers' and the shipped file's tests, the demo and the bench.
#
# new_wine_prefix PREFIX TEMPLATES [LOADER] [32bit]: PREFIX made anew as a copy of a template that
# wineboot made once, in the folder TEMPLATES (whatever the run: make test EMULATE_32BIT=1 gives its
# callers another folder through LAUNCHER_WINE_TEMPLATES, see wine_templates), for a loader (LOADER, else WINELOADER, else the 32-bit one), WINEARCH
# and the installed Wine. wineboot writes 1.3 GB a prefix, 1.2 GB of it the DLL folders (system32,
# syswow64, winsxs); the copy's DLL folders are hard links to the template's, so that a prefix costs some
# 50 MB and a test run's tree stays small. Every other file is copied, as Wine and the tests rewrite some
# of them in place (the registry, win.ini). "32bit": the copy will run 32-bit programs in a 64-bit prefix,
# so its syswow64 must hold Wine's 32-bit DLLs.
#
# What keeps the shared DLLs whole:
# - A template is keyed by Wine's version and wine.inf's time as well as the architecture and loader.
#   Wine updates a prefix whose .update-timestamp differs from wine.inf's time, and it rewrites the DLLs
#   in place (same inodes, so through every hard link); a template of another Wine is never used, and
#   every copy's .update-timestamp says "disable", so that no copy ever updates itself.
# - A template is made whole or not at all: under a new name, checked, marked, then renamed. A wineboot
#   cut off half way leaves only the new name, which the next maker removes.
# - A 64-bit template made while 32-bit programs could not run (an emulating machine before qemu-i386 is
#   registered) has an empty syswow64; a copy that will run 32-bit programs gets a template made anew.
# The template is checked and made under an exclusive lock and copied under a shared one: tests that run
# at once share it, and a template being replaced is never half copied.
#
# wine_prefix_current PREFIX [LOADER]: whether PREFIX is a copy of the template this Wine would use now.

# The key of a template: architecture, loader, Wine's version and the time of wine.inf, which is what
# Wine compares to decide that a prefix needs updating.
_wp_key() {
  _wp_version=$(/usr/lib/wine/wine64 --version 2>/dev/null || "$1" --version 2>/dev/null || echo unknown)
  _wp_inf=$(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null || echo none)
  printf '%s-%s-%s-%s' "${WINEARCH:-default}" "${1##*/}" "$_wp_version" "$_wp_inf" | tr -c 'A-Za-z0-9.~+-' _
}

# _wp_whole DIRECTORY KEY [32bit]: DIRECTORY is a whole prefix made for KEY (with 32-bit DLLs if asked).
_wp_whole() {
  [ "$(cat "$1/.launcher-template" 2>/dev/null)" = "$2" ] && [ -f "$1/system.reg" ] &&
    [ -f "$1/drive_c/windows/system32/kernel32.dll" ] &&
    { [ "${3:-}" != 32bit ] || [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; }
}

# _wp_make TEMPLATE LOADER KEY [32bit]: the template made anew, under its new name first.
_wp_make() {
  _wp_new=$1.new
  rm -rf "$_wp_new"
  _wp_status=0
  WINEPREFIX=$_wp_new "$2" wineboot --init </dev/null >"$_wp_new.log" 2>&1 8>&- || _wp_status=$?
  WINEPREFIX=$_wp_new /usr/lib/wine/wineserver -w 8>&- || true
  printf '%s\n' "$3" >"$_wp_new/.launcher-template" 2>/dev/null || true
  if [ "$_wp_status" != 0 ] || ! _wp_whole "$_wp_new" "$3" "${4:-}"; then
    echo "new_wine_prefix: wineboot (status $_wp_status) made no whole prefix for $3${4:+ with 32-bit DLLs}: $(tail -n 2 "$_wp_new.log" | tr '\n' ' ')" >&2
    rm -rf "$_wp_new" "$_wp_new.log"
    return 1
  fi
  rm -rf "$1" "$_wp_new.log"
  mv "$_wp_new" "$1"
}

new_wine_prefix() {
  _wp_loader=${3:-${WINELOADER:-/usr/lib/wine/wine}}
  _wp_id=$(_wp_key "$_wp_loader")
  _wp_template=$2/$_wp_id
  mkdir -p "$2"
  (
    flock 8
    # Another Wine's templates of this architecture and loader, half-made ones, and the unversioned
    # templates of older trees go; copies made from them keep their DLLs through their own links.
    _wp_kind=$2/${WINEARCH:-default}-${_wp_loader##*/}
    for _wp_other in "$_wp_kind" "$_wp_kind.lock" "$_wp_kind-"*; do
      [ "$_wp_other" = "$_wp_template" ] || rm -rf "$_wp_other"
    done
    _wp_whole "$_wp_template" "$_wp_id" "${4:-}" || _wp_make "$_wp_template" "$_wp_loader" "$_wp_id" "${4:-}"
  ) 8>"$2/.lock" || return 1
  # A prefix made before (a stale one of wine-run.sh's) may still have its server.
  [ ! -f "$1/system.reg" ] || { WINEPREFIX=$1 /usr/lib/wine/wineserver -k 2>/dev/null; WINEPREFIX=$1 /usr/lib/wine/wineserver -w; } || true
  rm -rf "$1"
  mkdir -p "$1"
  (
    flock -s 8
    # Both tars' statuses (sh has no pipefail): a copy whose reading side failed is no copy.
    _wp_read=$(mktemp) || exit 1
    { tar -C "$_wp_template" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
        --exclude=./drive_c/windows/winsxs -cf - . || echo "$?" >"$_wp_read"; } | tar -C "$1" -xf - &&
      [ ! -s "$_wp_read" ] || { rm -f "$_wp_read"; exit 1; }
    rm -f "$_wp_read"
    for _wp_folder in system32 syswow64 winsxs; do
      [ ! -d "$_wp_template/drive_c/windows/$_wp_folder" ] ||
        cp -al "$_wp_template/drive_c/windows/$_wp_folder" "$1/drive_c/windows/" || exit 1
    done
  ) 8>"$2/.lock" && _wp_whole "$1" "$_wp_id" "${4:-}" ||
    { echo "new_wine_prefix: could not copy $_wp_template to $1" >&2; return 1; }
  echo disable >"$1/.update-timestamp"
}

# wine_templates SOURCE_DIRECTORY: the folder of the run's templates: LAUNCHER_WINE_TEMPLATES where set
# (make test EMULATE_32BIT=1 keeps its templates apart, in build/wine-templates-emulated), else
# SOURCE_DIRECTORY/build/wine-templates.
wine_templates() {
  echo "${LAUNCHER_WINE_TEMPLATES:-$1/build/wine-templates}"
}

wine_prefix_current() {
  _wp_whole "$1" "$(_wp_key "${2:-${WINELOADER:-/usr/lib/wine/wine}}")"
}
