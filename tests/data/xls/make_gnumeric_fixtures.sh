#!/bin/sh
# Regenerates the gnumeric fixtures from their gnumeric XML source: gnumeric_template.xls
# (Excel 97-2003, BIFF8) and gnumeric_biff7.xls (Excel 95, BIFF7: a Book stream, no string table).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
/usr/bin/python3 "$here/make_gnumeric_source.py" "$here"
# ssconvert reports a chart-axis assertion on stderr; the chart sheet is written all the same.
ssconvert "$here/gnumeric_template.gnumeric" "$here/gnumeric_template.xls" -T Gnumeric_Excel:excel_biff8 2>/dev/null
ssconvert "$here/gnumeric_template.gnumeric" "$here/gnumeric_biff7.xls" -T Gnumeric_Excel:excel_biff7 2>/dev/null
ls -l "$here"/gnumeric_*.xls
