#!/bin/sh
# Runs skov-import on the example import files: run_demo.sh BUILD_DIR [SCRATCH_DIR]
# The template goes into SCRATCH_DIR/standard (the default folder), the import
# files into SCRATCH_DIR/import; the log and the filled workbooks stay there.
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SCRATCH_DIR]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
scratch=${2:-$build/demo}
tool="$build/src/app/skov-import"
if [ ! -x "$tool" ]; then
  echo "$tool not found: build the project first" >&2
  exit 2
fi
rm -rf "$scratch"
mkdir -p "$scratch/standard" "$scratch/import"
cp "$here/SKOV_IMPORT.XLS" "$scratch/standard/"
cp "$here"/import/*.TXT "$scratch/import/"

set +e
"$tool" --default-folder "$scratch/standard" "$scratch/import/ANLAGE1.TXT"
status=$?
set -e

echo
echo "skov-import exit status: $status"
echo "Log:        $scratch/standard/IMPORT.LOG"
echo "File list:  $scratch/standard/IMPORT.LST"
for xls in "$scratch"/import/*.XLS; do
  [ -e "$xls" ] && echo "Workbook:   $xls"
done
exit "$status"
