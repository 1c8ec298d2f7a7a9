#!/usr/bin/env bash
# Builds the Windows package on Linux, in build/windows/package:
#   SKOV-Import-<version>-win64.zip   the programs, LIESMICH.txt and the examples, to unpack anywhere
#   SKOV-Import-<version>-setup.exe   the same as an installer (NSIS, 64-bit, Start menu entry, uninstaller)
# Usage: scripts/windows-package.sh [BUILD_DIR]   (default build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows}
"$root/scripts/deps.sh"
"$root/scripts/windows-build.sh" "$build"

version=$(sed -n 's/^project(skov_import VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
quad=$version
while [ "$(printf '%s' "$quad" | tr -cd . | wc -c)" -lt 3 ]; do quad=$quad.0; done
name=SKOV-Import-$version
out=$build/package
stage=$out/$name
rm -rf "$out"
mkdir -p "$stage/Beispiele"

# The programs without their debug information; only Windows' own DLLs needed.
for exe in Import.exe skov-import.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$exe" "$build/src/app/$exe"
  if x86_64-w64-mingw32-objdump -p "$stage/$exe" | grep -i 'DLL Name' | grep -viE \
      'kernel32|user32|gdi32|shell32|comdlg32|comctl32|ole32|bcrypt|advapi32|msvcrt|api-ms-win'; then
    echo "$exe needs a DLL Windows does not bring" >&2
    exit 1
  fi
done
cp "$root/examples/SKOV_IMPORT.XLS" "$root"/examples/import/*.TXT "$stage/Beispiele/"
# Notepad shows a text with CR LF and a byte order mark everywhere alike.
printf '\xEF\xBB\xBF' > "$stage/LIESMICH.txt"
sed 's/$/\r/' "$root/packaging/windows/LIESMICH.txt" >> "$stage/LIESMICH.txt"

(cd "$out" && rm -f "$name-win64.zip" && zip -qr -X "$name-win64.zip" "$name")

# The installer takes the same files; files.nsh lists them for it and its uninstaller.
nsis=$out/nsis
mkdir -p "$nsis"
cp "$root/packaging/windows/skov-import.ico" "$nsis/"
{
  echo '!macro InstallFiles'
  (cd "$stage" && find . -type d | sort) | while read -r d; do
    dir=${d#.}; dir=${dir//\//\\}
    echo "  SetOutPath \"\$INSTDIR$dir\""
    (cd "$stage/$d" && find . -maxdepth 1 -type f | sort) | while read -r f; do
      echo "  File \"$stage${d#.}/${f#./}\""
    done
  done
  echo '!macroend'
  echo '!macro RemoveFiles'
  (cd "$stage" && find . -type f | sort) | while read -r f; do
    f=${f#./}; echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
  done
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
    d=${d#./}; echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""
  done
  echo '!macroend'
} > "$nsis/files.nsh"
makensis -V2 -DVERSION="$version" -DVERSION_QUAD="$quad" -DSTAGE="$nsis" -DOUTFILE="$out/$name-setup.exe" \
  "$root/packaging/windows/installer.nsi"
rm -rf "$nsis"

echo "Windows package in $out:"
(cd "$out" && ls -l "$name-win64.zip" "$name-setup.exe" | awk '{print "  " $9 "  " $5 " bytes"}')
