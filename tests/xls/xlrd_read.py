#!/usr/bin/python3
# Reads .xls files with xlrd: dumps their cells as JSON, or checks a filled
# workbook against its template.
#
#   xlrd_read.py dump FILE
#   xlrd_read.py check TEMPLATE OUTPUT WRITTEN.json
#
# WRITTEN.json lists [sheet, row, col, text] (worksheet index from 0, row and
# column from 0). `check` exits 0 when every written cell is a text cell with
# exactly that text and the template's XF, and every other cell of every
# sheet has the template's type, value and XF, and the structural check finds
# nothing filling added; it prints each difference.
import json
import os
import sys

import xlrd

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "structure"))
import check_structure  # noqa: E402
import known_defects  # noqa: E402


def cells(book):
    out = []
    for sh in book.sheets():
        d = {}
        for r in range(sh.nrows):
            for c in range(sh.row_len(r)):
                cell = sh.cell(r, c)
                d[(r, c)] = (cell.ctype, cell.value, cell.xf_index)
        out.append((sh.name, sh.visibility, d, sorted(sh.merged_cells), dict(sh.colinfo_map and
                   {k: (v.width, v.xf_index) for k, v in sh.colinfo_map.items()})))
    return out


def dump(path):
    book = xlrd.open_workbook(path, formatting_info=True)
    res = []
    for name, vis, d, merged, cols in cells(book):
        res.append({"name": name, "visibility": vis,
                    "cells": [[r, c, t, v, x] for (r, c), (t, v, x) in sorted(d.items())]})
    print(json.dumps(res, ensure_ascii=False))


def check(template, output, written_path):
    with open(written_path, encoding="utf-8") as f:
        written = {(s, r, c): t for s, r, c, t in json.load(f)}
    a = cells(xlrd.open_workbook(template, formatting_info=True))
    b = cells(xlrd.open_workbook(output, formatting_info=True))
    bad = []
    if len(a) != len(b):
        bad.append("sheet count %d != %d" % (len(a), len(b)))
    for s, ((na, va, da, ma, ca), (nb, vb, db, mb, cb)) in enumerate(zip(a, b)):
        if (na, ma, ca) != (nb, mb, cb):
            bad.append("sheet %d: name, merged cells or columns differ" % s)
        for key in sorted(set(da) | set(db)):
            got = db.get(key, (xlrd.XL_CELL_EMPTY, "", None))
            old = da.get(key, (xlrd.XL_CELL_EMPTY, "", None))
            want_text = written.get((s, key[0], key[1]))
            if want_text is not None:
                ok = got[0] == xlrd.XL_CELL_TEXT and got[1] == want_text and (old[2] is None or got[2] == old[2])
                if not ok:
                    bad.append("sheet %d %r written %r: got %r (template %r)" % (s, key, want_text[:40], got, old))
            elif key not in da or key not in db:
                # Grid padding: a cell that exists on one side only must be empty.
                if (got if key not in da else old)[0] != xlrd.XL_CELL_EMPTY:
                    bad.append("sheet %d %r changed: %r -> %r" % (s, key, old, got))
            elif got != old:
                bad.append("sheet %d %r changed: %r -> %r" % (s, key, old, got))
    # Cells written where the template had no sheet entry must exist.
    for (s, r, c), t in written.items():
        if s < len(b) and (r, c) not in b[s][2]:
            bad.append("sheet %d (%d, %d) missing" % (s, r, c))
    # The structural check: what filling added to the template's own quirks.
    counted, _ = known_defects.split(check_structure.check(output, template)[0])
    bad += ["structure: [%s] %s" % (rule, message) for rule, _, message in counted]
    for line in bad[:50]:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    if sys.argv[1] == "dump":
        dump(sys.argv[2])
        sys.exit(0)
    sys.exit(check(sys.argv[2], sys.argv[3], sys.argv[4]))
