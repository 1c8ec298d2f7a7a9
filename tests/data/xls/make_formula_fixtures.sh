#!/bin/sh
# Regenerates the formula fixtures: lo_formulas.xls (LibreOffice), gnumeric_formulas.xls (BIFF8) and
# gnumeric_formulas_biff7.xls (Excel 95) from their sources, and xlwt_formulas.xls (needs python3-xlwt).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
profile=$(mktemp -d /tmp/lo-profile.XXXXXX)
out=$(mktemp -d /tmp/lo-out.XXXXXX)
trap 'rm -rf "$profile" "$out"' EXIT
/usr/bin/python3 "$here/make_formula_fixtures.py" "$here"
soffice -env:UserInstallation=file://"$profile" --headless --convert-to xls:"MS Excel 97" --outdir "$out" \
  "$here/lo_formulas.fods" >/dev/null
cp "$out/lo_formulas.xls" "$here/"
ssconvert "$here/gnumeric_formulas.gnumeric" "$here/gnumeric_formulas.xls" -T Gnumeric_Excel:excel_biff8 2>/dev/null
ssconvert "$here/gnumeric_formulas.gnumeric" "$here/gnumeric_formulas_biff7.xls" -T Gnumeric_Excel:excel_biff7 2>/dev/null
ls -l "$here"/*_formulas*.xls
