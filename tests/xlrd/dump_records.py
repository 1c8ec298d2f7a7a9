#!/usr/bin/python3
"""Lists the BIFF8 records of an .xls Workbook stream, and offers them to check_filled.py."""
import struct
import sys

import olefile

NAMES = {
    0x0809: "BOF", 0x000A: "EOF", 0x003C: "CONTINUE", 0x00FC: "SST", 0x00FF: "EXTSST",
    0x0085: "BOUNDSHEET", 0x0200: "DIMENSIONS", 0x0208: "ROW", 0x00D7: "DBCELL",
    0x020B: "INDEX", 0x0201: "BLANK", 0x00BE: "MULBLANK", 0x00BD: "MULRK", 0x0203: "NUMBER",
    0x027E: "RK", 0x0204: "LABEL", 0x00FD: "LABELSST", 0x0205: "BOOLERR", 0x0006: "FORMULA",
    0x0207: "STRING", 0x04BC: "SHRFMLA", 0x0221: "ARRAY", 0x0236: "TABLE", 0x00E5: "MERGEDCELLS",
    0x007D: "COLINFO", 0x0225: "DEFAULTROWHEIGHT", 0x0055: "DEFCOLWIDTH", 0x003D: "WINDOW1",
    0x023E: "WINDOW2", 0x001D: "SELECTION", 0x0041: "PANE", 0x00E0: "XF", 0x0031: "FONT",
    0x041E: "FORMAT", 0x0293: "STYLE", 0x0092: "PALETTE", 0x00A1: "SETUP", 0x0014: "HEADER",
    0x0015: "FOOTER", 0x0018: "NAME", 0x0017: "EXTERNSHEET", 0x01AE: "SUPBOOK", 0x002F: "FILEPASS",
    0x0022: "DATEMODE", 0x00EC: "MSODRAWING", 0x00EB: "MSODRAWINGGROUP", 0x005D: "OBJ",
    0x1002: "CHART", 0x1003: "SERIES", 0x0042: "CODEPAGE", 0x0862: "SHEETEXT", 0x0867: "FEATHEADR",
    0x0867 + 1: "FEAT", 0x01B6: "TXO", 0x00EF: "SXEXT?", 0x001C: "NOTE", 0x0099: "STANDARDWIDTH",
}

CELL_TYPES = {0x0201, 0x0203, 0x027E, 0x0204, 0x00FD, 0x0205, 0x0006}


def read_workbook(path):
    """The Workbook stream's bytes, or the Book stream's of an Excel 5.0/95 file."""
    with olefile.OleFileIO(path) as ole:
        return ole.openstream("Workbook" if ole.exists("Workbook") else "Book").read()


def biff5_codec(data):
    """For an Excel 5.0/95 stream, the Python codec of its CODEPAGE record (Windows-1252 without one);
    None for BIFF8. Code page 1200 (UTF-16) in a byte string is Windows-1252, as the engine writes it."""
    if len(data) < 6 or struct.unpack_from("<H", data, 4)[0] != 0x0500:
        return None
    for _, rtype, body in records(data):
        if rtype == 0x0042:
            page = struct.unpack_from("<H", body, 0)[0]
            names = {0x8000: "mac_roman", 10000: "mac_roman", 0x8001: "cp1252", 1200: "cp1252"}
            return names.get(page, "cp%d" % page)
        if rtype == 0x000A:
            break
    return "cp1252"


def records(data):
    """(offset, type, body) for every record, CONTINUE records left as they are."""
    pos = 0
    out = []
    while pos + 4 <= len(data):
        rtype, size = struct.unpack_from("<HH", data, pos)
        out.append((pos, rtype, data[pos + 4:pos + 4 + size]))
        pos += 4 + size
    return out


def substreams(data):
    """The globals and each sheet substream: [(bof_offset, bof_type, [records])]."""
    subs = []
    current = None
    for rec in records(data):
        if rec[1] == 0x0809:
            current = (rec[0], struct.unpack_from("<H", rec[2], 2)[0], [])
            subs.append(current)
        if current is not None:
            current[2].append(rec)
    return subs


def boundsheets(data):
    """(name, stream offset, visibility, sheet type) of each BOUNDSHEET, in tab order."""
    out = []
    for _, rtype, body in records(data):
        if rtype == 0x0085:
            offset, vis, kind, nchars, flags = struct.unpack_from("<IBBBB", body, 0)
            raw = body[8:]
            name = raw[:nchars * 2].decode("utf-16-le") if flags & 1 else raw[:nchars].decode("latin-1")
            out.append((name, offset, vis, kind))
        if rtype == 0x000A:
            break
    return out


def formula_problems(sheet_records):
    """Formula cells whose shared/array formula reference (PtgExp) no longer resolves."""
    problems = []
    anchors = {}
    formulas = []
    last_formula = None
    for _, rtype, body in sheet_records:
        if rtype == 0x0006:
            row, col = struct.unpack_from("<HH", body, 0)
            last_formula = (row, col)
            cce = struct.unpack_from("<H", body, 20)[0]
            if cce == 5 and body[22] == 0x01:
                formulas.append((row, col, struct.unpack_from("<HH", body, 23)))
        elif rtype in (0x04BC, 0x0221, 0x0236):
            r1, r2, c1, c2 = struct.unpack_from("<HHBB", body, 0)
            anchors[(r1, c1)] = (r1, r2, c1, c2, last_formula)
        elif rtype in CELL_TYPES or rtype in (0x00BE, 0x00BD):
            last_formula = None
    for row, col, (arow, acol) in formulas:
        anchor = anchors.get((arow, acol))
        if anchor is None:
            problems.append("formula at (%d,%d) refers to (%d,%d), which anchors nothing" % (row, col, arow, acol))
        elif not (anchor[0] <= row <= anchor[1] and anchor[2] <= col <= anchor[3]):
            problems.append("formula at (%d,%d) lies outside the range anchored at (%d,%d)" % (row, col, arow, acol))
        elif anchor[4] != (arow, acol):
            problems.append("the shared formula at (%d,%d) does not follow its anchor's formula cell" % (arow, acol))
    return problems


def sst_strings(data):
    """The shared strings as (text, stored as 16-bit, stream position, offset in its record), and EXTSST."""
    recs = records(data)
    start = next((k for k, r in enumerate(recs) if r[1] == 0x00FC), None)
    if start is None:
        return [], None
    parts = [recs[start]]
    k = start + 1
    while k < len(recs) and recs[k][1] == 0x003C:
        parts.append(recs[k])
        k += 1
    extsst = None
    if k < len(recs) and recs[k][1] == 0x00FF:
        body = recs[k][2]
        dsst = struct.unpack_from("<H", body, 0)[0]
        extsst = (dsst, [struct.unpack_from("<IH", body, 2 + 8 * i) for i in range((len(body) - 2) // 8)])
    unique = struct.unpack_from("<I", parts[0][2], 4)[0]
    p, pos = 0, 8
    out = []
    for _ in range(unique):
        if pos == len(parts[p][2]):
            p, pos = p + 1, 0
        body = parts[p][2]
        where = (parts[p][0] + 4 + pos, pos + 4)
        nchars, flags = struct.unpack_from("<HB", body, pos)
        pos += 3
        runs = ext = 0
        if flags & 8:
            runs = struct.unpack_from("<H", body, pos)[0]
            pos += 2
        if flags & 4:
            ext = struct.unpack_from("<I", body, pos)[0]
            pos += 4
        wide, any_wide, chunks, left = flags & 1, flags & 1, [], nchars
        while left:
            if pos == len(body):
                p, pos = p + 1, 0
                body = parts[p][2]
                wide = body[0] & 1
                any_wide |= wide
                pos = 1
            take = min(left, (len(body) - pos) // (2 if wide else 1))
            raw = body[pos:pos + take * (2 if wide else 1)]
            chunks.append(raw.decode("utf-16-le") if wide else raw.decode("latin-1"))
            pos += len(raw)
            left -= take
        skip = 4 * runs + ext
        while skip:  # formatting runs and extended data may cross into the next record too
            if pos == len(body):
                p, pos = p + 1, 0
                body = parts[p][2]
            take = min(skip, len(body) - pos)
            pos += take
            skip -= take
        out.append(("".join(chunks), bool(any_wide), where[0], where[1]))
    return out, extsst


def col_name(col):
    name = ""
    col += 1
    while col:
        col, rem = divmod(col - 1, 26)
        name = chr(65 + rem) + name
    return name


def describe(rtype, body):
    if rtype in CELL_TYPES and len(body) >= 6:
        row, col, xf = struct.unpack_from("<HHH", body, 0)
        text = "%s%d xf=%d" % (col_name(col), row + 1, xf)
        if rtype == 0x00FD:
            text += " sst=%d" % struct.unpack_from("<I", body, 6)[0]
        if rtype == 0x0006:
            text += " cce=%d tok0=%02x" % (struct.unpack_from("<H", body, 20)[0], body[22] if len(body) > 22 else 0)
        return text
    if rtype in (0x00BE, 0x00BD):
        row, col = struct.unpack_from("<HH", body, 0)
        last = struct.unpack_from("<H", body, len(body) - 2)[0]
        return "row %d %s..%s" % (row + 1, col_name(col), col_name(last))
    if rtype in (0x04BC, 0x0221):
        r1, r2, c1, c2 = struct.unpack_from("<HHBB", body, 0)
        return "%s%d:%s%d" % (col_name(c1), r1 + 1, col_name(c2), r2 + 1)
    if rtype == 0x00FC:
        return "total=%d unique=%d" % struct.unpack_from("<II", body, 0)
    if rtype == 0x0809:
        return "type=0x%04x" % struct.unpack_from("<H", body, 2)[0]
    if rtype == 0x0085:
        offset, vis, kind = struct.unpack_from("<IBB", body, 0)
        return "offset=%d vis=%d type=%d" % (offset, vis, kind)
    if rtype == 0x00E5:
        return "%d ranges" % struct.unpack_from("<H", body, 0)[0]
    return ""


def main(argv):
    if len(argv) < 2:
        print("usage: dump_records.py FILE.xls [--summary]", file=sys.stderr)
        return 2
    data = read_workbook(argv[1])
    if "--summary" in argv:
        counts = {}
        for _, rtype, _ in records(data):
            counts[rtype] = counts.get(rtype, 0) + 1
        for rtype, n in sorted(counts.items(), key=lambda kv: -kv[1]):
            print("%-12s 0x%04x %5d" % (NAMES.get(rtype, "?"), rtype, n))
        for sub in substreams(data):
            for p in formula_problems(sub[2]):
                print("problem:", p)
        return 0
    for offset, rtype, body in records(data):
        print("%8d %-12s 0x%04x %5d %s" % (offset, NAMES.get(rtype, "?"), rtype, len(body), describe(rtype, body)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
