#!/usr/bin/python3
"""The structural check itself: each rule catches its fault put into a sound file, and each template
fixture shows exactly the writer's quirks listed here."""
import os
import struct
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_structure as cs  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "xls")

# What each writer does against the documentation, as rule -> number of places. The outputs are
# judged against these: a quirk the template has is not filling's fault.
TEMPLATE_QUIRKS = {
    "lo_plain.xls": {"cfb.dir": 4},
    "lo_protected.xls": {"cfb.dir": 4},  # red siblings under red ones in the directory tree
    "lo_template.xls": {"cfb.dir": 4, "sst.extsst": 1},  # and its own EXTSST bucket size
    "gnumeric_template.xls": {"biff.nesting": 1, "dbcell.cells": 7, "row.missing": 5, "sst.count": 1},
    "gnumeric_biff7.xls": {"biff.nesting": 1, "dbcell.cells": 7, "row.missing": 5},  # the same in Excel 5.0/95
    "poi_excel95_uncalced.xls": {},  # Excel 95 itself: sheets' BOF 0x0600 under the globals' 0x0500
    "poi_excel95_cp1251.xls": {},
    "xlwt_cells.xls": {"sst.extsst": 1},  # no EXTSST at all
    "xlwt_longsst.xls": {"sst.extsst": 1},
    "xlwt_template.xls": {"sst.extsst": 1, "xf.colinfo": 265},  # COLINFO with style XF 15
    "xlwt_empty.xls": {"xf.colinfo": 260},
    # No ROW records, MERGEDCELLS amid the cells, SST records cut at 8208 bytes.
    "writeexcel_template.xls": {"row.missing": 6, "order.after": 5, "sst.fill": 2},
    "poi_1900DateWindowing.xls": {"cfb.fat": 1},  # a FAT sector marked as a chain's end
    # A stray substream, cells out of order and without ROW records or DIMENSIONS, and more.
    "poi_53984.xls": {"cfb.header": 1, "biff.boundsheet": 1, "cell.order": 1, "xf.colinfo": 8, "row.missing": 1,
                      "dimensions.missing": 1, "order.before": 1, "sst.count": 1},
}


def rules(problems):
    out = {}
    for rule, _, _ in problems:
        out[rule] = out.get(rule, 0) + 1
    return out


def stream_problems(stream):
    report = cs.Report()
    cs.check_stream(stream, report)
    return report.problems


def split_stream(stream):
    """[[(type, body)] per substream], the globals first."""
    report = cs.Report()
    return [[(t, bytearray(b)) for _, t, b in recs] for _, _, recs in cs.substreams(cs.read_records(stream, report),
                                                                                       report)]


def join_stream(subs, fix_offsets=True):
    """The stream of these records, BOUNDSHEET offsets pointing at the substreams again."""
    def flat(s):
        return b"".join(struct.pack("<HH", t, len(b)) + bytes(b) for t, b in s)
    if fix_offsets:
        pos = len(flat(subs[0]))
        bound = [b for t, b in subs[0] if t == cs.BOUNDSHEET]
        for body, sub in zip(bound, subs[1:]):
            struct.pack_into("<I", body, 0, pos)
            pos += len(flat(sub))
    return b"".join(flat(s) for s in subs)


def find(sub, rtype, n=0):
    return [i for i, (t, _) in enumerate(sub) if t == rtype][n]


def first_sheet_with_cells(subs):
    return next(k for k in range(1, len(subs)) if any(t == cs.LABELSST for t, _ in subs[k]))


# Record-level faults: each returns the substreams changed, and the rule that must catch it.
def oversized(subs):
    subs[0].insert(find(subs[0], cs.BOUNDSHEET), (0x00EF, bytearray(cs.MAX_RECORD_BODY + 1)))


def bad_boundsheet(subs):
    body = subs[0][find(subs[0], cs.BOUNDSHEET)][1]
    struct.pack_into("<I", body, 0, cs.u32(body, 0) + 4)


def no_eof(subs):
    subs[-1].pop()


def sst_gap(subs):
    """The SST's last string moved into a CONTINUE of its own, leaving the SST with room."""
    sst = subs[0][find(subs[0], cs.SST)][1]
    starts = []
    pos = 8
    for _ in range(cs.u32(sst, 4)):
        starts.append(pos)
        cch, flags = struct.unpack_from("<HB", sst, pos)
        pos += 3 + cch * (2 if flags & 1 else 1)
    k = find(subs[0], cs.SST)
    subs[0][k] = (cs.SST, sst[:starts[-1]])
    subs[0].insert(k + 1, (cs.CONTINUE, sst[starts[-1]:]))
    subs[0].pop(find(subs[0], cs.EXTSST))


def split_header(subs):
    sst = subs[0][find(subs[0], cs.SST)][1]
    k = find(subs[0], cs.SST)
    subs[0][k] = (cs.SST, sst[:9])
    subs[0].insert(k + 1, (cs.CONTINUE, sst[9:]))
    subs[0].pop(find(subs[0], cs.EXTSST))


def unique_count(subs):
    body = subs[0][find(subs[0], cs.SST)][1]
    struct.pack_into("<I", body, 4, cs.u32(body, 4) - 1)


def extsst_bucket(subs):
    body = subs[0][find(subs[0], cs.EXTSST)][1]
    struct.pack_into("<H", body, 0, cs.u16(body, 0) + 1)


def sheet_fault(change):
    def fault(subs):
        change(subs[first_sheet_with_cells(subs)])
    fault.__name__ = change.__name__
    return fault


@sheet_fault
def row_missing(sheet):
    sheet.pop(find(sheet, cs.ROW))


@sheet_fault
def row_span(sheet):
    k = find(sheet, cs.LABELSST)
    row = cs.u16(sheet[k][1], 0)
    body = next(b for t, b in sheet if t == cs.ROW and cs.u16(b, 0) == row)
    struct.pack_into("<HH", body, 2, 0, 0)


@sheet_fault
def row_after(sheet):
    k = find(sheet, cs.LABELSST)
    row = cs.u16(sheet[k][1], 0)
    j = next(i for i, (t, b) in enumerate(sheet) if t == cs.ROW and cs.u16(b, 0) == row)
    sheet.insert(k + 1, sheet.pop(j))


@sheet_fault
def cells_swapped(sheet):
    """A cell one column to the right put before the first cell."""
    k = find(sheet, cs.LABELSST)
    body = bytearray(sheet[k][1])
    struct.pack_into("<H", body, 2, cs.u16(body, 2) + 1)
    sheet.insert(k, (cs.LABELSST, body))


@sheet_fault
def cell_twice(sheet):
    k = find(sheet, cs.LABELSST)
    sheet.insert(k + 1, (sheet[k][0], bytearray(sheet[k][1])))


@sheet_fault
def dimensions_short(sheet):
    body = sheet[find(sheet, cs.DIMENSIONS)][1]
    struct.pack_into("<I", body, 4, cs.u32(body, 0))  # no row at all


@sheet_fault
def page_setup_after_cells(sheet):
    sheet.insert(find(sheet, cs.LABELSST), sheet.pop(find(sheet, 0x00A1)))


@sheet_fault
def window_before_cells(sheet):
    sheet.insert(find(sheet, cs.ROW), sheet.pop(find(sheet, cs.WINDOW2)))


@sheet_fault
def style_xf_cell(sheet):
    struct.pack_into("<H", sheet[find(sheet, cs.LABELSST)][1], 4, 0)


def text_formula(label_sst):
    """A FORMULA in the LABELSST's cell whose result is a text (=1 as its tokens)."""
    row, col, xf = struct.unpack_from("<HHH", label_sst, 0)
    return bytearray(struct.pack("<HHH", row, col, xf) + bytes.fromhex("000000000000FFFF") +
                     struct.pack("<HIH", 0, 0, 3) + bytes.fromhex("1E0100"))


@sheet_fault
def string_missing(sheet):
    k = find(sheet, cs.LABELSST)
    sheet[k] = (cs.FORMULA, text_formula(sheet[k][1]))


@sheet_fault
def string_orphan(sheet):
    sheet.insert(find(sheet, cs.LABELSST) + 1, (cs.STRING, bytearray(b"\x01\x00\x00x")))


RECORD_FAULTS = [
    (oversized, "biff.size"), (bad_boundsheet, "biff.boundsheet"), (no_eof, "biff.nesting"),
    (sst_gap, "sst.fill"), (split_header, "sst.header_split"), (unique_count, "sst.count"),
    (extsst_bucket, "sst.extsst"), (row_missing, "row.missing"), (row_span, "row.span"), (row_after, "row.before"),
    (cells_swapped, "cell.order"), (cell_twice, "cell.duplicate"), (dimensions_short, "dimensions.cover"),
    (page_setup_after_cells, "order.before"), (window_before_cells, "order.after"), (style_xf_cell, "xf.cell"),
    (string_missing, "formula.string"), (string_orphan, "formula.string"),
]


# Excel 5.0/95 faults, on the gnumeric BIFF7 fixture: its own record limit and 16-bit row fields.
def biff5_oversized(subs):
    subs[0].insert(find(subs[0], cs.BOUNDSHEET), (0x00EF, bytearray(cs.BIFF5.max_body + 1)))


def biff5_sst(subs):
    subs[0].insert(find(subs[0], cs.EOF), (cs.SST, bytearray(struct.pack("<II", 0, 0))))


def biff5_dimensions(subs):
    body = subs[1][find(subs[1], cs.DIMENSIONS)][1]
    struct.pack_into("<H", body, 2, cs.u16(body, 0))  # no row at all


def biff5_index_rows(subs):
    body = subs[1][find(subs[1], cs.INDEX)][1]
    struct.pack_into("<H", body, 6, 1)


BIFF5_FAULTS = [(biff5_oversized, "biff.size"), (biff5_sst, "biff5.sst"), (biff5_dimensions, "dimensions.cover"),
                (biff5_index_rows, "index.rows")]


# Container faults, on the file's bytes.
def header_fields(data):
    return struct.unpack_from("<IIIIIIIII", data, 40)


def fat_entry_offset(data, sector):
    """Where the FAT entry of a sector lies in the file (the FAT sectors listed in the header)."""
    ssz = 1 << cs.u16(data, 30)
    fat_sector = cs.u32(data, 76 + 4 * (sector // (ssz // 4)))
    return ssz + fat_sector * ssz + 4 * (sector % (ssz // 4))


def directory_loop(data):
    first_dir = header_fields(data)[2]
    struct.pack_into("<I", data, fat_entry_offset(data, first_dir), first_dir)


def fat_count(data):
    struct.pack_into("<I", data, 44, cs.u32(data, 44) + 1)


def sibling_loop(data):
    ssz = 1 << cs.u16(data, 30)
    root = ssz + header_fields(data)[2] * ssz
    child = cs.u32(data, root + 76)
    struct.pack_into("<I", data, root + child * cs.DIR_ENTRY_SIZE + 68, child)


def sibling_order(data):
    """Names changed so that the left sibling of the root's child sorts after it."""
    ssz = 1 << cs.u16(data, 30)
    base = ssz + header_fields(data)[2] * ssz
    child = cs.u32(data, base + 76)
    left = cs.u32(data, base + child * cs.DIR_ENTRY_SIZE + 68)
    if left == cs.NOSTREAM:
        left = cs.u32(data, base + child * cs.DIR_ENTRY_SIZE + 72)
    entry = base + left * cs.DIR_ENTRY_SIZE
    name = "Z" * 30
    data[entry:entry + 64] = name.encode("utf-16-le") + b"\0\0" + bytes(2)
    struct.pack_into("<H", data, entry + 64, 62)


CFB_FAULTS = [(directory_loop, "cfb.chain"), (fat_count, "cfb.difat"), (sibling_loop, "cfb.dir"),
              (sibling_order, "cfb.dir")]


def main():
    failures = 0
    for name, want in sorted(TEMPLATE_QUIRKS.items()):
        got = rules(cs.check_file(os.path.join(DATA, name)))
        if got != want:
            failures += 1
            print("FAIL %s: quirks %s, listed %s" % (name, got, want))
    path = os.path.join(DATA, "lo_plain.xls")
    with open(path, "rb") as f:
        data = f.read()
    report = cs.Report()
    stream = cs.check_cfb(data, report)
    base = rules(stream_problems(stream))
    if base:
        failures += 1
        print("FAIL: the sound stream shows %s" % base)
    for fault, rule in RECORD_FAULTS:
        subs = split_stream(stream)
        fault(subs)
        got = rules(stream_problems(join_stream(subs, fix_offsets=fault is not bad_boundsheet)))
        if rule not in got:
            failures += 1
            print("FAIL %s: not caught as %s (found %s)" % (fault.__name__, rule, got))
    with open(os.path.join(DATA, "gnumeric_biff7.xls"), "rb") as f:
        biff7 = cs.check_cfb(f.read(), cs.Report())
    base = rules(stream_problems(biff7))
    for fault, rule in BIFF5_FAULTS:
        subs = split_stream(biff7)
        fault(subs)
        got = rules(stream_problems(join_stream(subs)))
        if got.get(rule, 0) <= base.get(rule, 0):
            failures += 1
            print("FAIL %s: not caught as %s (found %s)" % (fault.__name__, rule, got))
    base = rules(cs.check_file(path))
    for fault, rule in CFB_FAULTS:
        broken = bytearray(data)
        fault(broken)
        report = cs.Report()
        cs.check_cfb(bytes(broken), report)
        got = rules(report.problems)
        if got.get(rule, 0) <= base.get(rule, 0):
            failures += 1
            print("FAIL %s: not caught as %s (found %s)" % (fault.__name__, rule, got))
    total = len(TEMPLATE_QUIRKS) + len(RECORD_FAULTS) + len(BIFF5_FAULTS) + len(CFB_FAULTS)
    print("%d passed, %d failed" % (total - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
