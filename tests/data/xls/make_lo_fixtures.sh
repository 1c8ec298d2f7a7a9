#!/bin/sh
# Regenerates the LibreOffice fixtures lo_*.xls from their flat-ODF sources.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
profile=$(mktemp -d /tmp/lo-profile.XXXXXX)
out=$(mktemp -d /tmp/lo-out.XXXXXX)
trap 'rm -rf "$profile" "$out"' EXIT
/usr/bin/python3 "$here/make_lo_fods.py" "$here"
for src in "$here"/lo_*.fods; do
  soffice -env:UserInstallation=file://"$profile" --headless \
    --convert-to xls:"MS Excel 97" --outdir "$out" "$src" >/dev/null
  cp "$out/$(basename "$src" .fods).xls" "$here/"
done
ls -l "$here"/lo_*.xls
