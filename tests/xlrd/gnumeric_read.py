#!/usr/bin/python3
"""gnumeric reads a filled workbook back: every written cell shows exactly the text written.

    gnumeric_read.py OUTPUT.xls CELLS.tsv

ssconvert exports each sheet (chart sheets too) as CSV; the written cells are compared there, an
Excel 5.0/95 output's in its code page ('?' for a character it lacks)."""
import csv
import os
import shutil
import subprocess
import sys
import tempfile

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
        proc = subprocess.run([ssconvert, "-S", "-T", "Gnumeric_stf:stf_csv", output, os.path.join(work, "s.%n.csv")],
                              capture_output=True, text=True, timeout=240)
        sheets = {}
        for tab in tabs:
            path = os.path.join(work, "s.%d.csv" % tab)
            if not os.path.exists(path):
                print("FAIL: gnumeric did not read %s (exit %d): %s" % (output, proc.returncode, proc.stderr[-400:]))
                return 1
            with open(path, encoding="utf-8", newline="") as f:
                sheets[tab] = list(csv.reader(f))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    last = {}
    for sheet, row, col, value in check_filled.read_cells_file(cells):
        last[(sheet, row, col)] = value.encode(codec, "replace").decode(codec) if codec else value
    problems = []
    for (sheet, row, col), want in sorted(last.items()):
        if sheet > len(tabs):
            continue
        rows = sheets[tabs[sheet - 1]]
        got = rows[row - 1][col - 1] if row <= len(rows) and col <= len(rows[row - 1]) else ""
        if got != want.replace("\r\n", "\n").replace("\r", "\n"):
            problems.append("sheet %d row %d col %d: written %r, gnumeric shows %r" % (sheet, row, col, want[:50],
                                                                                      got[:50]))
    for p in problems[:20]:
        print("FAIL: " + p)
    print("%s: %d written cells read back by gnumeric, %d differ" % (output, len(last), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
