#!/usr/bin/python3
"""gnumeric reads a filled workbook back: every written cell shows exactly the text written.

    gnumeric_read.py OUTPUT.xls CELLS.tsv

ssconvert saves the workbook in gnumeric's own format; the written cells are compared there, an
Excel 5.0/95 output's in its code page ('?' for a character it lacks)."""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import check_filled  # noqa: E402
    import dump_records  # noqa: E402
except ImportError as e:
    print("skipped: %s (install python3-xlrd and python3-olefile)" % e)
    sys.exit(SKIP)


def worksheet_tabs(data):
    """Tab positions of the worksheets, in order (BOUNDSHEET sheet type 0)."""
    kinds = []
    for _, rtype, body in dump_records.records(data):
        if rtype == 0x0085:
            kinds.append(body[5])
        elif rtype == 0x000A:
            break
    return [i for i, kind in enumerate(kinds) if kind == 0]


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    output, cells = argv[1], argv[2]
    ssconvert = shutil.which("ssconvert")
    if not ssconvert:
        print("skipped: no ssconvert (install gnumeric)")
        return SKIP
    if not os.path.exists(output):
        print("FAIL: no output %s" % output)
        return 1
    data = dump_records.read_workbook(output)
    codec = dump_records.biff5_codec(data)
    tabs = worksheet_tabs(data)
    work = tempfile.mkdtemp(prefix="gnumeric_read_")
    try:
        # gnumeric's own file format names every cell's row and column; a CSV export starts at
        # the first used column, which says nothing about where a cell is.
        saved = os.path.join(work, "out.gnumeric")
        proc = subprocess.run([ssconvert, "-T", "Gnumeric_XmlIO:sax", output, saved],
                              capture_output=True, text=True, timeout=240)
        if not os.path.exists(saved):
            print("FAIL: gnumeric did not read %s (exit %d): %s" % (output, proc.returncode, proc.stderr[-400:]))
            return 1
        with gzip.open(saved) if open(saved, "rb").read(2) == b"\x1f\x8b" else open(saved, "rb") as f:
            root = ET.parse(f).getroot()
        ns = {"gnm": "http://www.gnumeric.org/v10.dtd"}
        all_sheets = root.findall("gnm:Sheets/gnm:Sheet", ns)
        sheets = {}
        for tab in tabs:
            if tab >= len(all_sheets):
                print("FAIL: gnumeric shows %d sheets of %s, not sheet %d" % (len(all_sheets), output, tab + 1))
                return 1
            sheets[tab] = {(int(c.get("Row")), int(c.get("Col"))): c.text or ""
                           for c in all_sheets[tab].findall("gnm:Cells/gnm:Cell", ns)}
    finally:
        shutil.rmtree(work, ignore_errors=True)
    last = {}
    for sheet, row, col, value in check_filled.read_cells_file(cells):
        last[(sheet, row, col)] = value.encode(codec, "replace").decode(codec) if codec else value
    problems = []
    for (sheet, row, col), want in sorted(last.items()):
        if sheet > len(tabs):
            continue
        got = sheets[tabs[sheet - 1]].get((row - 1, col - 1), "")
        # gnumeric drops control characters other than line ends and tabs as it reads (with a warning).
        want = re.sub("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]", "", want.replace("\r\n", "\n").replace("\r", "\n"))
        if got != want:
            problems.append("sheet %d row %d col %d: written %r, gnumeric shows %r" % (sheet, row, col, want[:50],
                                                                                      got[:50]))
    for p in problems[:20]:
        print("FAIL: " + p)
    print("%s: %d written cells read back by gnumeric, %d differ" % (output, len(last), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
