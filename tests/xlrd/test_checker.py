#!/usr/bin/python3
"""The checker itself: a template matches itself, and a write that did not happen is caught."""
import os
import sys

try:
    import xlrd  # noqa: F401
    import olefile  # noqa: F401
except ImportError as e:
    print("skipped: %s" % e)
    sys.exit(77)

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_filled  # noqa: E402


def mutated(path, mutate):
    """A copy of the fixture whose Workbook stream has one record changed in place."""
    import shutil
    import struct
    import tempfile
    import dump_records
    data = bytearray(dump_records.read_workbook(path))
    records = dump_records.records(bytes(data))
    if not any(r[1] == mutate.record for r in records):
        return None  # the fixture has no such record
    mutate(data, records, struct)
    fd, copy = tempfile.mkstemp(suffix=".xls")
    os.close(fd)
    shutil.copyfile(path, copy)
    with olefile.OleFileIO(copy, write_mode=True) as ole:
        ole.write_stream("Workbook", bytes(data))
    return copy


def first_of(records, rtype):
    return next(r for r in records if r[1] == rtype)


def bump_xf(data, records, struct):
    offset = first_of(records, 0x00FD)[0] + 4 + 4
    struct.pack_into("<H", data, offset, struct.unpack_from("<H", data, offset)[0] + 1)


def flip_setup(data, records, struct):
    data[first_of(records, 0x00A1)[0] + 4] ^= 0x01


def shrink_merge(data, records, struct):
    offset = first_of(records, 0x00E5)[0] + 4 + 2 + 2  # first range, its last row
    struct.pack_into("<H", data, offset, struct.unpack_from("<H", data, offset)[0] + 1)


def shift_extsst(data, records, struct):
    offset = first_of(records, 0x00FF)[0] + 4 + 2  # first bucket's stream position
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + 1)


bump_xf.record, flip_setup.record, shrink_merge.record, shift_extsst.record = 0x00FD, 0x00A1, 0x00E5, 0x00FF
MUTATIONS = [("cell XF", bump_xf), ("page setup", flip_setup), ("merged range", shrink_merge),
             ("EXTSST position", shift_extsst)]


def existing_text_cell(path):
    """(sheet, row, col, text) of the first text cell: writing what is there already must pass."""
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            if sheet.cell(r, c).ctype == xlrd.XL_CELL_TEXT:
                return (1, r + 1, c + 1, sheet.cell(r, c).value)
    return None


def main(paths):
    failures = 0
    for path in paths:
        for name, mutate in MUTATIONS:
            copy = mutated(path, mutate)
            if copy is None:
                continue
            try:
                if not check_filled.check(path, copy, []):
                    failures += 1
                    print("FAIL %s: a changed %s is not caught" % (os.path.basename(path), name))
            finally:
                os.remove(copy)
        same = existing_text_cell(path)
        if same and check_filled.check(path, path, [same]):
            failures += 1
            print("FAIL %s: a write of the string already there is reported" % os.path.basename(path))
    for path in paths:
        cases = [
            ("unchanged", [], True, 0),
            ("missing write", [(1, 11, 5, "geschrieben")], False, 1),
            ("write to no sheet", [(99, 1, 1, "x")], False, 1),
        ]
        for name, writes, identical, want_problems in cases:
            problems = check_filled.check(path, path, writes, identical=identical)
            if (len(problems) > 0) != (want_problems > 0):
                failures += 1
                print("FAIL %s, %s: %d problems" % (os.path.basename(path), name, len(problems)))
                check_filled.report(problems, 5)
    # Two different templates must never pass for each other.
    if len(paths) > 1 and not check_filled.check(paths[0], paths[1], []):
        failures += 1
        print("FAIL: %s passes for %s" % (paths[1], paths[0]))
    # The cell file keeps every character.
    tricky = [(1, 2, 3, "a\tb\nc\\d\r"), (5, 28, 55, ""), (1, 1, 1, "\\t literal")]
    tmp = os.path.join(os.environ.get("TMPDIR", "/tmp"), "skov_checker_cells.tsv")
    check_filled.write_cells_file(tmp, tricky)
    if check_filled.read_cells_file(tmp) != tricky:
        failures += 1
        print("FAIL: cell file round trip")
    os.remove(tmp)
    print("checker: %d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
