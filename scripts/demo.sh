#!/usr/bin/env bash
# The launcher's main job, under Wine in a scratch prefix: record an installation directory in the
# registry, put a sample installer there, run the launcher, and show what it started.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/wine-target.sh "$PWD/build/demo/prefix" running
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target Launcher FakeInstaller >/dev/null
sample=build/$preset/bin/FakeInstaller.exe
rm -rf build/demo
mkdir -p build/demo
. scripts/wine-prefix.sh
new_wine_prefix "$WINEPREFIX" "$PWD/build/wine-templates"

install_dir='C:\Program Files\Vantorq\SnDriver\'
unix_dir="$WINEPREFIX/drive_c/Program Files/Vantorq/SnDriver"
mkdir -p "$unix_dir"
cp "$sample" "$unix_dir/SentrelInstaller.exe"
"$loader" reg add 'HKLM\Software\Vantorq Technologies\SnDriverInstaller' /v InstallDirectory /t REG_SZ \
  /d "$install_dir" /f "$view" >/dev/null
echo "setting:   HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller\\InstallDirectory = $install_dir"

# The sample installer writes down how it was started; it reads where from the environment it inherits.
export LAUNCHER_TEST_RECORD='C:\launcher-demo-record.txt'
record="$WINEPREFIX/drive_c/launcher-demo-record.txt"

run() {
  rm -f "$record"
  set +e
  # Wine shows what a program sends to OutputDebugString, with no debugger attached, on its seh channel.
  WINEDEBUG=-all,warn+seh "$loader" "$launcher" "$@" 2>build/demo/stderr
  status=$?
  set -e
  for _ in $(seq 100); do [ -f "$record" ] && break; sleep 0.1; done
  sed -n 's/.*OutputDebugStringA "\(.*\)\\n"$/debugger:  \1/p' build/demo/stderr | sed 's/\\\\/\\/g'
}

# The outcomes the README promises; the demo exits 1 when either is not what it showed.
wrong=0
echo "running:   Launcher.exe --these /arguments are-ignored"
run --these /arguments are-ignored
echo "launcher exit status: $status"
if [ -f "$record" ]; then
  iconv -f UTF-16LE -t UTF-8 "$record" | sed -e 's/^program=/started:   /' -e 's/^directory=/directory: /' \
    -e 's/^commandline=/command:   /' -e 's/^arguments=$/arguments: (none)/' -e 's/^arguments=/arguments: /' \
    -e 's/^show=/show:      /' -e '/^pid=/d' \
    -e 's/show:      1$/show:      1 (SW_SHOWNORMAL)/'
  program=$(iconv -f UTF-16LE -t UTF-8 "$record" | tr -d '\r' | sed -n 's/^program=//p')
  directory=$(iconv -f UTF-16LE -t UTF-8 "$record" | tr -d '\r' | sed -n 's/^directory=//p')
  [ "$status" = 0 ] && [ "$program" = 'C:\Program Files\Vantorq\SnDriver\SentrelInstaller.exe' ] &&
    [ "$directory" = 'C:\Program Files\Vantorq\SnDriver' ] ||
    { echo "wrong:     expected exit status 0 and ${install_dir}SentrelInstaller.exe started in ${install_dir%\\}"; wrong=1; }
else
  echo "started:   nothing, which is wrong"
  wrong=1
fi

echo
echo "running:   Launcher.exe, with the installer removed"
rm -f "$unix_dir/SentrelInstaller.exe"
run
echo "launcher exit status: $status"
if [ -f "$record" ]; then
  echo "started:   something, which is wrong"
  wrong=1
else
  echo "started:   nothing"
  [ "$status" = 0 ] || { echo "wrong:     expected exit status 0"; wrong=1; }
fi
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit "$wrong"
