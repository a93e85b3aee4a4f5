# Sourced (POSIX sh) by everything that makes a Wine prefix of its own: the Wine tests' runner, the kit's,
# the installers' and the shipped file's tests, the demo and the bench.
#
# new_wine_prefix PREFIX TEMPLATES [LOADER]: PREFIX made anew as a copy of a template that wineboot made
# once, in TEMPLATES, for a loader (LOADER, else WINELOADER, else the 32-bit one) and WINEARCH. wineboot writes 1.3 GB
# a prefix, 1.2 GB of it the DLL folders (system32, syswow64, winsxs); the copy's DLL folders are hard
# links to the template's, so that a prefix costs some 50 MB and a test run's tree stays small. Wine
# rewrites those folders only when it updates a prefix to another Wine version, which a copy of this
# version's template never needs; every other file is copied, as Wine and the tests rewrite some of them
# in place (the registry, win.ini). The template is made under a lock: tests that run at once share it.
new_wine_prefix() {
  _wp_loader=${3:-${WINELOADER:-/usr/lib/wine/wine}}
  _wp_template=$2/${WINEARCH:-default}-${_wp_loader##*/}
  mkdir -p "$2"
  (
    flock 8
    if [ ! -f "$_wp_template/system.reg" ]; then
      rm -rf "$_wp_template"
      WINEPREFIX=$_wp_template "$_wp_loader" wineboot --init </dev/null >/dev/null 2>&1 8>&- || true
      WINEPREFIX=$_wp_template /usr/lib/wine/wineserver -w 8>&- || true
    fi
  ) 8>"$_wp_template.lock"
  [ -f "$_wp_template/system.reg" ] || { echo "new_wine_prefix: wineboot made no prefix in $_wp_template" >&2; return 1; }
  rm -rf "$1"
  mkdir -p "$1"
  tar -C "$_wp_template" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
    --exclude=./drive_c/windows/winsxs -cf - . | tar -C "$1" -xf -
  for _wp_folder in system32 syswow64 winsxs; do
    [ ! -d "$_wp_template/drive_c/windows/$_wp_folder" ] ||
      cp -al "$_wp_template/drive_c/windows/$_wp_folder" "$1/drive_c/windows/"
  done
}
