#!/usr/bin/env bash
# The Windows build tested under wine on a virtual screen: the unit tests,
# skov-import.exe against the Linux skov-import on the examples, the window
# driven through the real common dialog, the installer installed and removed.
# Usage: scripts/windows-test.sh [--update-docs]
#   Needs build/release/src/app/skov-import (scripts/test.sh builds it first).
#   --update-docs copies the pictures of the window and the dialog into docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
update_docs=false
[ "${1:-}" = "--update-docs" ] && update_docs=true

build=${SKOV_WINDOWS_BUILD:-$root/build/windows}
linux_cli=${SKOV_LINUX_CLI:-$root/build/release/src/app/skov-import}
[ -x "$linux_cli" ] || { echo "no Linux skov-import at $linux_cli (run scripts/test.sh or build it first)" >&2; exit 1; }

step_start=
# Each step's time after it, from bash's clock.
step() {
  [ -n "$step_start" ] && awk -v a="$step_start" -v b="$EPOCHREALTIME" 'BEGIN { printf "   (%.1f s)\n", b - a }'
  step_start=$EPOCHREALTIME
  [ $# -gt 0 ] && echo "== windows: $*"
  return 0
}

step "build (mingw-w64)"
"$root/scripts/windows-build.sh" "$build"

scratch=$(mktemp -d /tmp/skov-windows-XXXXXX)
. "$root/scripts/wine-env.sh"
cleanup() {
  wine_stop
  rm -rf "$scratch"
}
trap cleanup EXIT
step "wine prefix and virtual screen in $scratch"
wine_start "$scratch"

step "unit tests under wine"
for t in strings os xls import dialog ui; do
  exe=$build/tests/$t/${t}_tests.exe
  [ -f "$exe" ] || continue
  start=$EPOCHREALTIME
  if ! wine "$exe" --gtest_brief=1 > "$scratch/$t.out" 2>&1; then
    cat "$scratch/$t.out"
    echo "$t tests failed under wine" >&2
    exit 1
  fi
  awk -v t="$t" -v a="$start" -v b="$EPOCHREALTIME" -v r="$(grep -E '^\[  PASSED  \]' "$scratch/$t.out")" \
    'BEGIN { printf "   %-8s %s (%.1f s)\n", t, r, b - a }'
done

step "skov-import.exe against skov-import on the examples"
# Linux runs in e2e/l/run, wine in e2e/run: as Z:\...\run the Windows root
# is as long as the Linux one, so the logs' print zones line up.
e2e=$scratch/e2e
linux_root=$e2e/l/run
wine_root=$e2e/run
windows_root=$(wine_path "$wine_root")
prepare() {
  rm -rf "$1"
  mkdir -p "$1/docs" "$1/imp/Kältetechnik"
  cp examples/SKOV_IMPORT.XLS "$1/docs/"
  cp examples/import/*.TXT "$1/imp/"
  cp examples/import/ANLAGE2.TXT "$1/imp/Kältetechnik/Lüftung.TXT"
}
run_both() {  # skov-import's arguments; IMP/... names a file in the import folder
  local linux_args=() wine_args=()
  for a in "$@"; do
    if [[ $a == IMP/* ]]; then
      linux_args+=("$linux_root/imp/${a#IMP/}")
      wine_args+=("$(wine_path "$wine_root/imp/${a#IMP/}")")
    else
      linux_args+=("$a")
      wine_args+=("$a")
    fi
  done
  set +e
  "$linux_cli" --default-folder "$linux_root/docs" "${linux_args[@]}" > /dev/null 2> "$linux_root/stderr.txt"
  echo "exit $?" >> "$linux_root/stderr.txt"
  wine "$build/src/app/skov-import.exe" --default-folder "$windows_root\\docs" "${wine_args[@]}" \
    > /dev/null 2> "$wine_root/stderr.txt"
  echo "exit $?" >> "$wine_root/stderr.txt"
  set -e
  python3 tests/windows/compare_runs.py "$linux_root" "$wine_root" "$linux_root" "$windows_root"
}
prepare "$linux_root"
prepare "$wine_root"
run_both --folder "IMP/ANLAGE1.TXT"
mkdir -p "$e2e/folder"
cp "$linux_root"/imp/*.XLS "$e2e/folder/"
prepare "$linux_root"
prepare "$wine_root"
run_both --single --separator ";" "IMP/Kältetechnik/Lüftung.TXT"
grep -q '^exit 0$' "$wine_root/stderr.txt"

step "Import.exe: the real common dialog, Importieren, the closing message"
# The drawings in C:\Projekte, the template in the Documents folder.
gui=$WINEPREFIX/drive_c/Projekte
shots=$scratch/pictures
mkdir -p "$gui" "$shots"
cp examples/import/*.TXT "$gui/"
cp examples/SKOV_IMPORT.XLS "$WINE_DOCUMENTS/"
pictures=$build/pictures
mkdir -p "$pictures"
if ! wine "$build/tests/windows/drive_import.exe" "$(wine_path "$build/src/app/Import.exe")" 'C:\Projekte\ANLAGE1.TXT' \
    "$(wine_path "$shots")"; then
  [ -f "$shots/failure.bmp" ] && convert "$shots/failure.bmp" "$pictures/failure.png" &&
    echo "the screen when it gave up: $pictures/failure.png" >&2
  exit 1
fi
cat "$shots/result.txt"
grep -qxF 'label: C:\Projekte\ANLAGE1.TXT' "$shots/result.txt"
grep -qxF "message: Log-Datei: C:\\users\\$(id -un)\\Documents\\IMPORT.LOG" "$shots/result.txt"
grep -qxF "3 gespeichert, 0 nicht gespeichert" "$shots/result.txt"
grep -qxF "exit: 0" "$shots/result.txt"
for f in "$e2e"/folder/*.XLS; do cmp "$f" "$gui/$(basename "$f")"; done
for p in window dialog message; do convert "$shots/$p.bmp" "$pictures/$p.png"; done
echo "   pictures in $pictures"
if $update_docs; then
  cp "$pictures/window.png" docs/window-windows.png
  cp "$pictures/dialog.png" docs/dialog-windows.png
fi

step "the package: zip and installer, installed and removed silently"
"$root/scripts/windows-package.sh" "$build" > "$scratch/package.log"
tail -n 3 "$scratch/package.log"
setup=$(ls "$build"/package/SKOV-Import-*-setup.exe)
wine "$setup" /S
programs="$WINEPREFIX/drive_c/Program Files/SKOV Import"
for f in Import.exe skov-import.exe LIESMICH.txt Uninstall.exe Beispiele/SKOV_IMPORT.XLS Beispiele/ANLAGE1.TXT; do
  [ -f "$programs/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/SKOV Import.lnk" ] ||
  { echo "no Start menu entry" >&2; exit 1; }
wine "$programs/skov-import.exe" --version
# What a user made there stays: a workbook imported next to an example.
wine "$programs/skov-import.exe" --single "C:\\Program Files\\SKOV Import\\Beispiele\\ANLAGE3.TXT" 2> /dev/null
[ -f "$programs/Beispiele/ANLAGE3.XLS" ]
wine "$programs/Uninstall.exe" /S
for _ in $(seq 100); do [ -e "$programs/Uninstall.exe" ] || break; sleep 0.2; done
[ ! -e "$programs/Import.exe" ] && [ ! -e "$programs/Uninstall.exe" ] || { echo "not uninstalled" >&2; exit 1; }
[ -f "$programs/Beispiele/ANLAGE3.XLS" ] || { echo "the uninstaller removed a user's file" >&2; exit 1; }
[ -f "$WINE_DOCUMENTS/SKOV_IMPORT.XLS" ] && [ -f "$WINE_DOCUMENTS/IMPORT.LOG" ] ||
  { echo "the uninstaller removed the user's template or log" >&2; exit 1; }
[ ! -e "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/SKOV Import.lnk" ]
step
echo "== windows: all passed"
