#!/bin/sh
# Rebuilds examples/SKOV_IMPORT.XLS from examples/SKOV_IMPORT.fods (needs LibreOffice).
# With --regenerate the .fods is first written anew by template/make_fods.py.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--regenerate" ]; then
  python3 "$here/template/make_fods.py" "$here/SKOV_IMPORT.fods"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
soffice -env:UserInstallation="file://$work/profile" --headless \
  --convert-to 'xls:MS Excel 97' --outdir "$work" "$here/SKOV_IMPORT.fods" >/dev/null
# LibreOffice names the output after the source, in lower case extension.
mv "$work/SKOV_IMPORT.xls" "$here/SKOV_IMPORT.XLS"
echo "$here/SKOV_IMPORT.XLS"
