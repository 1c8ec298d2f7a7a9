#!/bin/sh
# Regenerates the gnumeric fixture gnumeric_template.xls from its gnumeric XML source.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
/usr/bin/python3 "$here/make_gnumeric_source.py" "$here"
# ssconvert reports a chart-axis assertion on stderr; the chart sheet is written all the same.
ssconvert "$here/gnumeric_template.gnumeric" "$here/gnumeric_template.xls" -T Gnumeric_Excel:excel_biff8 2>/dev/null
ls -l "$here"/gnumeric_*.xls
