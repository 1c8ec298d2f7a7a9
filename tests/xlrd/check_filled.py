#!/usr/bin/python3
"""Checks a filled workbook against its template with an independent reader (xlrd, olefile)."""
import argparse
import os
import struct
import sys

import olefile
import xlrd

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dump_records  # noqa: E402

# Records that filling may rewrite; every other record of every substream must
# come through byte for byte, in order.
CHANGEABLE = {
    0x0201, 0x00BE, 0x00BD, 0x0203, 0x027E, 0x0204, 0x00FD, 0x0205, 0x0006, 0x0207,  # cells
    0x0208, 0x00D7, 0x020B, 0x0200,  # ROW, DBCELL, INDEX, DIMENSIONS
    0x00FC, 0x00FF, 0x0085,  # SST, EXTSST, BOUNDSHEET (offsets)
    0x01C1,  # RECALCID: its build number 0 when formulas are left to Excel's recalculation
}
SHARED = {0x04BC, 0x0221, 0x0236}  # SHRFMLA, ARRAY, TABLE: only when an anchor was written
WINDOWS = {0x003D, 0x023E}  # WINDOW1, WINDOW2: only when sheets were activated, checked on their own


def escape_value(value):
    return value.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def unescape_value(text):
    out, i = [], 0
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            i += 1
            ch = {"t": "\t", "n": "\n", "r": "\r"}.get(text[i], text[i])
        out.append(ch)
        i += 1
    return "".join(out)


def write_cells_file(path, writes):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for sheet, row, col, value in writes:
            f.write("%d\t%d\t%d\t%s\n" % (sheet, row, col, escape_value(value)))


def read_cells_file(path):
    writes = []
    with open(path, encoding="utf-8", newline="\n") as f:
        for line in f:
            line = line.rstrip("\n")
            if line:
                sheet, row, col, value = line.split("\t", 3)
                writes.append((int(sheet), int(row), int(col), unescape_value(value)))
    return writes


def logical_records(sub_records):
    """Records with their CONTINUE records joined on, as (type, bytes)."""
    out = []
    for _, rtype, body in sub_records:
        if rtype == 0x003C and out:
            out[-1] = (out[-1][0], out[-1][1] + body)
        else:
            out.append((rtype, bytes(body)))
    return out


def cell_repr(cell):
    return "%s %r" % (xlrd.sheet.ctype_text.get(cell.ctype, cell.ctype), cell.value)


def addr(sheet, row, col):
    return "%s!%s%d" % (sheet.name, dump_records.col_name(col), row + 1)


class Checker:
    def __init__(self):
        self.problems = []

    def fail(self, message):
        self.problems.append(message)

    def same(self, what, a, b):
        if a != b:
            self.fail("%s: template %r, output %r" % (what, a, b))

    def streams(self, template, output, identical):
        with olefile.OleFileIO(template) as a, olefile.OleFileIO(output) as b:
            names_a = sorted("/".join(p) for p in a.listdir(streams=True, storages=True))
            names_b = sorted("/".join(p) for p in b.listdir(streams=True, storages=True))
            self.same("compound file entries", names_a, names_b)
            for path in [[]] + a.listdir(streams=True, storages=True):
                name = "/".join(path) or "root"
                if path and "/".join(path) not in names_b:
                    continue
                meta_a = (a.getclsid(path) if path else a.root.clsid, a.getctime(path) if path else a.root.getctime(),
                          a.getmtime(path) if path else a.root.getmtime())
                meta_b = (b.getclsid(path) if path else b.root.clsid, b.getctime(path) if path else b.root.getctime(),
                          b.getmtime(path) if path else b.root.getmtime())
                self.same("%s: CLSID, creation and modification time" % name, meta_a, meta_b)
            for path in a.listdir(streams=True, storages=False):
                name = "/".join(path)
                if name.lower() in ("workbook", "book") and not identical:  # writers vary the case
                    continue
                if name in names_b and a.openstream(path).read() != b.openstream(path).read():
                    self.fail("stream %s differs" % name)

    def records(self, template_data, output_data, written_cells, like_import=False):
        subs_a = dump_records.substreams(template_data)
        subs_b = dump_records.substreams(output_data)
        self.same("number of substreams", len(subs_a), len(subs_b))
        worksheet_of = {}
        for _, offset, _, kind in dump_records.boundsheets(template_data):
            if kind == 0:
                worksheet_of[offset] = len(worksheet_of) + 1
        for i, (sa, sb) in enumerate(zip(subs_a, subs_b)):
            ignored = CHANGEABLE | (WINDOWS if like_import else set())
            # A shared or array formula may be rebuilt or dropped once one of its cells was written.
            cells = written_cells.get(worksheet_of.get(sa[0]), {})
            for r1, r2, c1, c2 in shared_ranges(sa[2]):
                if any(r1 <= r <= r2 and c1 <= c <= c2 for r, c in cells):
                    ignored |= SHARED
            keep_a = [r for r in logical_records(sa[2]) if r[0] not in ignored]
            keep_b = [r for r in logical_records(sb[2]) if r[0] not in ignored]
            if keep_a != keep_b:
                for j, (ra, rb) in enumerate(zip(keep_a, keep_b)):
                    if ra != rb:
                        self.fail("substream %d: kept record %d differs: template %s (0x%04x, %d bytes), output %s "
                                  "(0x%04x, %d bytes)" % (i, j, dump_records.NAMES.get(ra[0], "?"), ra[0], len(ra[1]),
                                                          dump_records.NAMES.get(rb[0], "?"), rb[0], len(rb[1])))
                        break
                else:
                    self.fail("substream %d: %d kept records in the template, %d in the output"
                              % (i, len(keep_a), len(keep_b)))
            known = set(dump_records.formula_problems(sa[2]))  # a template's own are not filling's
            for p in dump_records.formula_problems(sb[2]):
                if p not in known:
                    self.fail("substream %d: %s" % (i, p))
        tabs_a = [(n, v, k) for n, _, v, k in dump_records.boundsheets(template_data)]
        tabs_b = [(n, v, k) for n, _, v, k in dump_records.boundsheets(output_data)]
        if like_import:  # every worksheet the run changed to is shown, sheet 1 included
            reached = set(written_cells) | {1}
            worksheet_no = 0
            for i, (n, v, k) in enumerate(tabs_a):
                worksheet_no += k == 0
                if k == 0 and worksheet_no in reached:
                    tabs_a[i] = (n, 0, k)
        self.same("sheet tabs (name, visibility, type)", tabs_a, tabs_b)
        # Each BOUNDSHEET must point at its own substream's BOF.
        bofs = {s[0] for s in subs_b}
        for name, offset, _, _ in dump_records.boundsheets(output_data):
            if offset not in bofs:
                self.fail("sheet %s: stream offset %d is no BOF" % (name, offset))

    def windows(self, data_a, data_b):
        """After an import run: window 1 shown, worksheet 1 the active and only selected tab."""
        def window1(data):
            for _, rtype, body in dump_records.records(data):
                if rtype == 0x003D:
                    return body
            return None
        wa, wb = window1(data_a), window1(data_b)
        if wa is None or wb is None:
            self.fail("WINDOW1 missing (template %s, output %s)" % (wa is not None, wb is not None))
            return
        tabs = dump_records.boundsheets(data_b)
        first = next(i for i, t in enumerate(tabs) if t[3] == 0)
        grbit, itab_cur, _, ctab_sel = struct.unpack_from("<HHHH", wb, 8)
        if grbit & 1:
            self.fail("window 1 is still hidden")
        self.same("active tab (WINDOW1)", first, itab_cur)
        self.same("selected tabs (WINDOW1)", 1, ctab_sel)
        self.same("window 1 position, size and other flags", (wa[:8], struct.unpack_from("<H", wa, 8)[0] & ~1, wa[16:]),
                  (wb[:8], grbit & ~1, wb[16:]))
        subs_a = dump_records.substreams(data_a)[1:]
        subs_b = dump_records.substreams(data_b)[1:]
        by_offset = {t[1]: (i, t) for i, t in enumerate(tabs)}
        for sa, sb in zip(subs_a, subs_b):
            tab = by_offset.get(sb[0])
            if tab is None or tab[1][3] != 0:
                continue
            w2a = [body for _, rtype, body in sa[2] if rtype == 0x023E]
            w2b = [body for _, rtype, body in sb[2] if rtype == 0x023E]
            if not w2a and not w2b:
                continue  # a sheet without a window of its own
            if len(w2a) != len(w2b) or not w2b:
                self.fail("%s: WINDOW2 records %d in the template, %d in the output" % (tab[1][0], len(w2a), len(w2b)))
                continue
            flags = struct.unpack_from("<H", w2b[0], 0)[0]
            active = tab[0] == first
            if bool(flags & 0x0200) != active or bool(flags & 0x0400) != active:
                self.fail("%s: selected/active flags 0x%04x, expected %s" % (tab[1][0], flags & 0x0600,
                                                                            "both" if active else "neither"))
            self.same("%s: other WINDOW2 fields" % tab[1][0],
                      (struct.unpack_from("<H", w2a[0], 0)[0] & ~0x0600, w2a[0][2:]), (flags & ~0x0600, w2b[0][2:]))

    def sst(self, data_a, data_b):
        """Template strings kept in place, new ones appended in the shortest form, counts and EXTSST sound."""
        strs_a, ext_a = dump_records.sst_strings(data_a)
        strs_b, ext_b = dump_records.sst_strings(data_b)
        if [x[:2] for x in strs_b[:len(strs_a)]] != [x[:2] for x in strs_a]:
            self.fail("the template's shared strings are not kept as the first %d of the output's" % len(strs_a))
        for text, wide, _, _ in strs_b[len(strs_a):]:
            units = text.encode("utf-16-le")
            if wide and all(units[i + 1] == 0 for i in range(0, len(units), 2)):
                self.fail("new string %r stored as 16-bit though every character fits in 8" % text[:40])

        def totals(data):
            recs = dump_records.records(data)
            sst = next((body for _, rtype, body in recs if rtype == 0x00FC), None)
            return (struct.unpack_from("<I", sst, 0)[0] if sst else 0), sum(1 for r in recs if r[1] == 0x00FD)
        (total_a, cells_a), (total_b, cells_b) = totals(data_a), totals(data_b)
        # Writers disagree on what the total counts (gnumeric counts unique strings), so only its change is checked.
        if total_b - total_a != cells_b - cells_a:
            self.fail("SST total changed by %d, but the LABELSST cells by %d" % (total_b - total_a, cells_b - cells_a))
        if ext_a is not None and ext_b is None:
            self.fail("EXTSST lost")
        if ext_b is not None:
            dsst, entries = ext_b
            if dsst < 1 or len(entries) != -(-len(strs_b) // dsst):
                self.fail("EXTSST: %d buckets of %d for %d strings" % (len(entries), dsst, len(strs_b)))
            for i, entry in enumerate(entries):
                k = i * max(dsst, 1)
                if k < len(strs_b) and tuple(entry) != strs_b[k][2:]:
                    self.fail("EXTSST bucket %d points at %s, string %d lies at %s" % (i, tuple(entry), k,
                                                                                  strs_b[k][2:]))
                    break

    def book(self, a, b):
        self.same("sheet names", a.sheet_names(), b.sheet_names())
        self.same("number of FORMAT records", len(a.format_map), len(b.format_map))
        self.same("number of XF records", len(a.xf_list), len(b.xf_list))
        self.same("number of FONT records", len(a.font_list), len(b.font_list))
        self.same("XF formats and fonts", [(x.format_key, x.font_index, x.parent_style_index) for x in a.xf_list],
                  [(x.format_key, x.font_index, x.parent_style_index) for x in b.xf_list])
        self.same("date mode", a.datemode, b.datemode)

    def sheet(self, sa, sb, written, shown=False, formulas=frozenset()):
        self.same("%s: visibility" % sa.name, 0 if shown else sa.visibility, sb.visibility)
        self.same("%s: merged cells" % sa.name, sorted(sa.merged_cells), sorted(sb.merged_cells))
        cols_a = {c: (i.width, i.hidden, i.xf_index, i.outline_level) for c, i in sa.colinfo_map.items()}
        cols_b = {c: (i.width, i.hidden, i.xf_index, i.outline_level) for c, i in sb.colinfo_map.items()}
        self.same("%s: column info" % sa.name, cols_a, cols_b)
        self.same("%s: default column width" % sa.name, (sa.defcolwidth, sa.standardwidth),
                  (sb.defcolwidth, sb.standardwidth))
        notes_a = {k: (n.text, n.author) for k, n in getattr(sa, "cell_note_map", {}).items()}
        notes_b = {k: (n.text, n.author) for k, n in getattr(sb, "cell_note_map", {}).items()}
        self.same("%s: comments (written cells keep theirs)" % sa.name, notes_a, notes_b)
        runs_a = {k: v for k, v in sa.rich_text_runlist_map.items() if k not in written}
        runs_b = {k: v for k, v in sb.rich_text_runlist_map.items() if k not in written}
        self.same("%s: formatting runs of the cells not written" % sa.name, runs_a, runs_b)
        for k in written:
            if k in sb.rich_text_runlist_map:
                self.fail("%s: written cell has formatting runs %r" % (addr(sa, *k), sb.rich_text_runlist_map[k]))
        for r, ia in sa.rowinfo_map.items():
            ib = sb.rowinfo_map.get(r)
            if ib is None:
                self.fail("%s: row %d lost its ROW record" % (sa.name, r + 1))
                continue
            fields = ("height", "has_default_height", "hidden", "outline_level", "has_default_xf_index")
            va = tuple(getattr(ia, f) for f in fields) + ((ia.xf_index,) if ia.has_default_xf_index else ())
            vb = tuple(getattr(ib, f) for f in fields) + ((ib.xf_index,) if ib.has_default_xf_index else ())
            self.same("%s: row %d (height, default, hidden, outline, xf)" % (sa.name, r + 1), va, vb)
        # Without DEFAULTROWHEIGHT a row is 255 twips high (12.75 pt), the standard height.
        default_height = sb.default_row_height if sb.default_row_height is not None else 255
        for r, ib in sb.rowinfo_map.items():
            if r not in sa.rowinfo_map and (ib.hidden or not ib.has_default_height and ib.height != default_height):
                self.fail("%s: new row %d is hidden or has a height of its own" % (sa.name, r + 1))
        for (r, c), want in sorted(written.items()):
            ca = cell_at(sa, r, c)
            cb = cell_at(sb, r, c)
            if cb is None or cb.ctype != xlrd.XL_CELL_TEXT or cb.value != want:
                self.fail("%s: written %r, output holds %s" % (addr(sa, r, c), want[:60],
                                                                cell_repr(cb)[:80] if cb else "nothing"))
                continue
            want_xf = ca.xf_index if ca is not None else default_xf(sa, r, c)
            if cb.xf_index != want_xf:
                self.fail("%s: written cell has XF %d, expected %d (%s)" % (
                    addr(sa, r, c), cb.xf_index, want_xf, "template cell" if ca is not None else "new cell"))
        for r in range(max(sa.nrows, sb.nrows)):
            for c in range(max(sa.ncols, sb.ncols)):
                if (r, c) in written:
                    continue
                ca = cell_at(sa, r, c)
                cb = cell_at(sb, r, c)
                if (ca is None) != (cb is None):
                    self.fail("%s: template %s, output %s" % (addr(sa, r, c), cell_repr(ca) if ca else "no cell",
                                                              cell_repr(cb) if cb else "no cell"))
                elif ca is not None and (r, c) in formulas and ca.xf_index == cb.xf_index:
                    continue  # a formula's result is recalculated; lo_check.py judges it
                elif ca is not None and (ca.ctype != cb.ctype or not same_value(ca.value, cb.value) or ca.xf_index != cb.xf_index):
                    self.fail("%s: template %s XF %d, output %s XF %d" % (addr(sa, r, c), cell_repr(ca)[:80],
                                                                          ca.xf_index, cell_repr(cb)[:80], cb.xf_index))


def same_value(a, b):
    """Equal values; a NaN number (a broken cell) equals a NaN."""
    return a == b or (isinstance(a, float) and isinstance(b, float) and a != a and b != b)


def cell_at(sheet, row, col):
    """The cell there, or None when the sheet has no record for it."""
    if row >= sheet.nrows or col >= sheet.ncols:
        return None
    cell = sheet.cell(row, col)
    return None if cell.ctype == xlrd.XL_CELL_EMPTY else cell


def shared_ranges(sub_records):
    """(first row, last row, first col, last col), 0-based, of the shared and array formulas."""
    return [struct.unpack_from("<HHBB", body, 0) for _, rtype, body in sub_records if rtype in SHARED]


def default_xf(sheet, row, col):
    """The XF a new cell takes: the row's default, else the column's, when that is a cell XF; else
    the first cell XF (one added after the others when there is none; 15 when there are no XFs)."""
    xfs = sheet.book.xf_list
    given = None
    info = sheet.rowinfo_map.get(row)
    if info is not None and info.has_default_xf_index:
        given = info.xf_index
    elif sheet.colinfo_map.get(col) is not None:
        given = sheet.colinfo_map[col].xf_index
    if not xfs:
        return 15 if given is None else given
    if given is not None and given < len(xfs) and not xfs[given].is_style:
        return given
    return next((i for i, xf in enumerate(xfs) if not xf.is_style), len(xfs))


def formula_cells(data):
    """{worksheet number from 1: {(row, col)}} of the FORMULA records, 0-based."""
    worksheet_of = {}
    for _, offset, _, kind in dump_records.boundsheets(data):
        if kind == 0:
            worksheet_of[offset] = len(worksheet_of) + 1
    out = {}
    for sub in dump_records.substreams(data):
        if sub[0] in worksheet_of:
            out[worksheet_of[sub[0]]] = {struct.unpack_from("<HH", body, 0) for _, rtype, body in sub[2]
                                         if rtype == 0x0006 and len(body) >= 4}
    return out


def check(template, output, writes, identical=False, like_import=False):
    """The list of problems found; empty when the output is sound."""
    data_a = dump_records.read_workbook(template)
    data_b = dump_records.read_workbook(output)
    # An Excel 5.0/95 cell holds its text in the code page, '?' for a character it lacks.
    codec = dump_records.biff5_codec(data_a)
    by_sheet = {}
    for sheet, row, col, value in writes:
        if codec:
            value = value.encode(codec, "replace").decode(codec)
        by_sheet.setdefault(sheet, {})[(row - 1, col - 1)] = value
    checker = Checker()
    checker.streams(template, output, identical)
    checker.records(data_a, data_b, by_sheet, like_import)
    checker.sst(data_a, data_b)
    if like_import:
        checker.windows(data_a, data_b)
    a = xlrd.open_workbook(template, formatting_info=True)
    b = xlrd.open_workbook(output, formatting_info=True)
    checker.book(a, b)
    for n in by_sheet:
        if not 1 <= n <= a.nsheets:
            checker.fail("write to sheet %d, but the template has %d worksheets" % (n, a.nsheets))
    formulas = formula_cells(data_a)
    for i in range(min(a.nsheets, b.nsheets)):
        checker.sheet(a.sheet_by_index(i), b.sheet_by_index(i), by_sheet.get(i + 1, {}),
                      shown=like_import and (i == 0 or i + 1 in by_sheet), formulas=formulas.get(i + 1, frozenset()))
    return checker.problems


def report(problems, limit=40):
    for p in problems[:limit]:
        print("  " + p)
    if len(problems) > limit:
        print("  ... and %d more" % (len(problems) - limit))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("template")
    parser.add_argument("output")
    parser.add_argument("cells", help="the cell file given to fill_cells (sheet, row, col, value per line)")
    parser.add_argument("--identical", action="store_true", help="the Workbook stream must be unchanged too")
    parser.add_argument("--like-import", action="store_true", help="fill_cells ran with --like-import")
    args = parser.parse_args()
    problems = check(args.template, args.output, read_cells_file(args.cells), args.identical, args.like_import)
    if problems:
        print("%s does not match %s:" % (args.output, args.template))
        report(problems)
        return 1
    print("%s: ok" % args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
