#!/usr/bin/python3
"""Structural check of an .xls file from the published format documentation ([MS-CFB], [MS-XLS]).

Checks the compound file (header, DIFAT, FAT and mini FAT chains, the directory tree) and the BIFF8
Workbook stream (records, substream nesting, BOUNDSHEET offsets, the shared string table and EXTSST,
each worksheet's cell table: ROW, DBCELL, INDEX, DIMENSIONS, cell order, cell XFs, record order), or
the Book stream of Excel 5.0/95 with its own record layouts. The string table is held to the way Excel
writes it, stricter than the documentation: a record is continued only when the next piece no longer fits.

Every problem has a rule and a place. Checking an output against its template, a problem whose rule
and place the template shows too is inherited from the template and reported apart, not as a failure:
writers disagree with the documentation in places (no ROW records, no INDEX, style XFs in COLINFO),
and filling must not be blamed for that, only for what it adds.

    check_structure.py FILE [--template TEMPLATE] [--ignore RULE ...]
"""
import argparse
import struct
import sys

# [MS-CFB] 2.1: special sector numbers.
MAXREGSECT, DIFSECT, FATSECT, ENDOFCHAIN, FREESECT = 0xFFFFFFFA, 0xFFFFFFFC, 0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFF
NOSTREAM = 0xFFFFFFFF
CFB_SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
HEADER_DIFAT_ENTRIES = 109
DIR_ENTRY_SIZE = 128
MINI_STREAM_CUTOFF = 4096
STGTY_EMPTY, STGTY_STORAGE, STGTY_STREAM, STGTY_ROOT = 0, 1, 2, 5
RED, BLACK = 0, 1

# [MS-XLS] 2.3: record types.
BOF, EOF, CONTINUE = 0x0809, 0x000A, 0x003C
BOUNDSHEET, SST, EXTSST, XF = 0x0085, 0x00FC, 0x00FF, 0x00E0
INDEX, DBCELL, ROW, DIMENSIONS = 0x020B, 0x00D7, 0x0208, 0x0200
BLANK, MULBLANK, MULRK, NUMBER, RK, LABEL, LABELSST, BOOLERR, FORMULA, RSTRING = (
    0x0201, 0x00BE, 0x00BD, 0x0203, 0x027E, 0x0204, 0x00FD, 0x0205, 0x0006, 0x00D6)
STRING, SHRFMLA, ARRAY, TABLE = 0x0207, 0x04BC, 0x0221, 0x0236
DEFCOLWIDTH, COLINFO, WINDOW2, FILEPASS = 0x0055, 0x007D, 0x023E, 0x002F
USERSVIEWBEGIN, USERSVIEWEND = 0x01AA, 0x01AB
CELLS = {BLANK, MULBLANK, MULRK, NUMBER, RK, LABEL, LABELSST, BOOLERR, FORMULA, RSTRING}
CELL_TABLE = CELLS | {ROW, DBCELL, STRING, SHRFMLA, ARRAY, TABLE}
# Worksheet records the grammar puts before the cell table: calculation settings and the other
# worksheet globals, page setup, protection, columns, sorting and filtering, DIMENSIONS.
BEFORE_CELLS = {
    0x000D, 0x000C, 0x000F, 0x0011, 0x0010, 0x005F, 0x000E, 0x0081, 0x0080, 0x0225, 0x0082, 0x0097, 0x0098,
    0x002A, 0x002B, 0x001B, 0x001A, 0x0014, 0x0015, 0x0083, 0x0084, 0x0026, 0x0027, 0x0028, 0x0029,  # PAGESETUP
    0x004D, 0x00A1, 0x00E9,  # PLS, SETUP, BKHIM (HEADERFOOTER may also close the sheet: not listed)
    0x0012, 0x00DD, 0x0063, 0x0013,  # PROTECT, SCENPROTECT, OBJPROTECT, PASSWORD
    DEFCOLWIDTH, COLINFO, 0x00AE, 0x00AF,  # SCENMAN, SCENARIO
    0x0090, 0x009B, 0x009D, 0x009E,  # SORT, FILTERMODE, AUTOFILTERINFO, AUTOFILTER
    DIMENSIONS,
}
# Records the grammar puts after it: drawing objects, notes, the window, merged cells and later.
AFTER_CELLS = {
    0x00EC, 0x005D, 0x01B6, 0x001C,  # MSODRAWING, OBJ, TXO, NOTE
    WINDOW2, 0x0041, 0x001D, 0x00A0, USERSVIEWBEGIN, USERSVIEWEND,  # PANE, SELECTION, SCL
    0x00E5, 0x01B0, 0x01B1, 0x01B8, 0x01B2, 0x01BE, 0x0862, 0x0868,  # MERGECELLS, CF.., HLINK, DV.., SHEETEXT, FEAT
}
MAX_RECORD_BODY = 8224


class Layout:
    """What differs between BIFF8 (Workbook stream) and BIFF5/BIFF7 (Excel 5.0/95, Book stream)."""

    def __init__(self, version, max_body, dims, index_rows, index_defcolwidth, index_dbcells):
        self.version, self.max_body, self.dims = version, max_body, dims
        self.index_rows, self.index_defcolwidth, self.index_dbcells = index_rows, index_defcolwidth, index_dbcells


# DIMENSIONS as (rwMic, rwMac, colMic, colMac); INDEX rows, DEFCOLWIDTH position and DBCELL list.
BIFF8 = Layout(0x0600, MAX_RECORD_BODY, "<IIHH", "<II", 12, 16)
BIFF5 = Layout(0x0500, 2080, "<HHHH", "<HH", 8, 12)
SHEET_KINDS = {0x0010: "worksheet", 0x0020: "chart", 0x0040: "macro sheet", 0x0100: "workspace"}
WORKBOOK_GLOBALS = 0x0005
ROWS_PER_BLOCK = 32
XF_STYLE_BIT = 0x0004  # fStyle in the third field of XF
CELL_NAMES = {BLANK: "BLANK", MULBLANK: "MULBLANK", MULRK: "MULRK", NUMBER: "NUMBER", RK: "RK", LABEL: "LABEL",
              LABELSST: "LABELSST", BOOLERR: "BOOLERR", FORMULA: "FORMULA", RSTRING: "RSTRING"}


class Report:
    def __init__(self):
        self.problems = []  # (rule, place, message)

    def add(self, rule, place, message):
        self.problems.append((rule, place, message))


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


# ---------------------------------------------------------------- compound file

def check_cfb(data, report):
    """The Workbook stream, or None when the container is too broken to read it."""
    R = report.add
    if len(data) < 512 or data[:8] != CFB_SIGNATURE:
        R("cfb.header", "", "no compound file signature")
        return None
    minor, major, byte_order, sector_shift, mini_shift = struct.unpack_from("<HHHHH", data, 24)
    n_dir_sectors, n_fat, first_dir, _, cutoff, first_minifat, n_minifat, first_difat, n_difat = \
        struct.unpack_from("<IIIIIIIII", data, 40)
    if byte_order != 0xFFFE or (major, sector_shift) not in ((3, 9), (4, 12)) or mini_shift != 6:
        R("cfb.header", "", "version %d, byte order 0x%04x, sector shift %d, mini sector shift %d"
          % (major, byte_order, sector_shift, mini_shift))
        return None
    if cutoff != MINI_STREAM_CUTOFF:
        R("cfb.header", "cutoff", "mini stream cutoff %d" % cutoff)
    if major == 3 and n_dir_sectors != 0:
        R("cfb.header", "dirsectors", "version 3 with %d directory sectors counted" % n_dir_sectors)
    ssz = 1 << sector_shift
    n_sectors = (len(data) - ssz + ssz - 1) // ssz
    if (len(data) - ssz) % ssz:
        R("cfb.header", "size", "file size %d is no whole number of %d-byte sectors" % (len(data), ssz))

    def sector(n):
        return data[ssz + n * ssz: ssz + (n + 1) * ssz]

    # DIFAT: 109 entries in the header, then a chain of DIFAT sectors each ending with the next one's number.
    fat_sectors = [e for e in struct.unpack_from("<109I", data, 76)]
    difat_sectors = []
    nxt = first_difat
    while nxt != ENDOFCHAIN and len(difat_sectors) <= n_difat:
        if nxt >= n_sectors:
            R("cfb.difat", "chain", "DIFAT sector %d lies beyond the file (%d sectors)" % (nxt, n_sectors))
            break
        difat_sectors.append(nxt)
        body = sector(nxt)
        entries = struct.unpack_from("<%dI" % (ssz // 4), body, 0)
        fat_sectors += entries[:-1]
        nxt = entries[-1]
    if first_difat in (ENDOFCHAIN, FREESECT) and n_difat == 0:
        pass
    elif len(difat_sectors) != n_difat:
        R("cfb.difat", "count", "header counts %d DIFAT sectors, the chain has %d" % (n_difat, len(difat_sectors)))
    used_fat = [e for e in fat_sectors if e != FREESECT]
    if fat_sectors[:len(used_fat)] != used_fat:
        R("cfb.difat", "gap", "free entries between FAT sector numbers in the DIFAT")
    if len(used_fat) != n_fat:
        R("cfb.difat", "count", "header counts %d FAT sectors, the DIFAT lists %d" % (n_fat, len(used_fat)))
    fat = []
    for s in used_fat:
        if s >= n_sectors:
            R("cfb.difat", "range", "FAT sector %d lies beyond the file" % s)
            return None
        fat += struct.unpack_from("<%dI" % (ssz // 4), sector(s), 0)
    if len(fat) < n_sectors:
        R("cfb.fat", "size", "the FAT covers %d sectors, the file has %d" % (len(fat), n_sectors))
        return None
    for s in used_fat:
        if fat[s] != FATSECT:
            R("cfb.fat", "fatsect", "FAT sector %d is marked 0x%08x, not FATSECT" % (s, fat[s]))
    for s in difat_sectors:
        if fat[s] != DIFSECT:
            R("cfb.fat", "difsect", "DIFAT sector %d is marked 0x%08x, not DIFSECT" % (s, fat[s]))
    for s in range(n_sectors, len(fat)):
        if fat[s] != FREESECT:
            R("cfb.fat", "beyond", "FAT entry %d beyond the end of the file is 0x%08x" % (s, fat[s]))
            break
    owner = {}
    for s in used_fat:
        owner[s] = "FAT"
    for s in difat_sectors:
        owner[s] = "DIFAT"

    def chain(start, what, table, limit, owners):
        out = []
        s = start
        while s != ENDOFCHAIN:
            if s > MAXREGSECT or s >= limit:
                R("cfb.chain", what, "%s: chain reaches 0x%08x (beyond %d)" % (what, s, limit))
                break
            if s in owners:
                R("cfb.chain", what, "%s: sector %d already belongs to %s" % (what, s, owners[s]))
                break
            owners[s] = what
            out.append(s)
            s = table[s] if s < len(table) else FREESECT
            if s == FREESECT:
                R("cfb.chain", what, "%s: chain runs into a free sector" % what)
                break
        return out

    dir_chain = chain(first_dir, "directory", fat, n_sectors, owner)
    directory = b"".join(sector(s) for s in dir_chain)
    if major == 4 and n_dir_sectors not in (0, len(dir_chain)):
        R("cfb.header", "dirsectors", "header counts %d directory sectors, the chain has %d"
          % (n_dir_sectors, len(dir_chain)))
    minifat_chain = [] if first_minifat == ENDOFCHAIN else chain(first_minifat, "mini FAT", fat, n_sectors, owner)
    if len(minifat_chain) != n_minifat:
        R("cfb.header", "minifat", "header counts %d mini FAT sectors, the chain has %d"
          % (n_minifat, len(minifat_chain)))
    minifat = []
    for s in minifat_chain:
        minifat += struct.unpack_from("<%dI" % (ssz // 4), sector(s), 0)

    entries = []
    for i in range(len(directory) // DIR_ENTRY_SIZE):
        e = directory[i * DIR_ENTRY_SIZE:(i + 1) * DIR_ENTRY_SIZE]
        name_len = u16(e, 64)
        kind, color = e[66], e[67]
        left, right, child = struct.unpack_from("<III", e, 68)
        start, size = u32(e, 116), struct.unpack_from("<Q", e, 120)[0]
        if major == 3:
            size &= 0xFFFFFFFF
        name = ""
        if kind != STGTY_EMPTY:
            if name_len < 2 or name_len > 64 or name_len % 2 or e[name_len - 2:name_len] != b"\0\0":
                R("cfb.dir", "entry %d" % i, "entry %d: name length %d" % (i, name_len))
            else:
                name = e[:name_len - 2].decode("utf-16-le", "replace")
        entries.append(dict(i=i, name=name, kind=kind, color=color, left=left, right=right, child=child,
                            start=start, size=size))
    if not entries or entries[0]["kind"] != STGTY_ROOT:
        R("cfb.dir", "root", "the first directory entry is no root storage")
        return None

    def key(name):  # [MS-CFB] 2.6.4: shorter names first, then by upper-case code units
        return (len(name), name.upper())

    seen = set()
    streams = {}

    def walk(node, path, lo, hi, parent_color, depth):
        """The sibling tree under one storage: in range, reached once, a binary search tree, no red-red."""
        if node == NOSTREAM:
            return
        if node >= len(entries) or entries[node]["kind"] == STGTY_EMPTY:
            R("cfb.dir", "link", "%s: link to entry %d, which is %s" % (path or "root", node,
                                                                        "beyond the directory" if node >= len(entries)
                                                                        else "empty"))
            return
        if node in seen:
            R("cfb.dir", "cycle", "entry %d reached twice" % node)
            return
        if depth > len(entries):
            return
        seen.add(node)
        e = entries[node]
        if e["color"] not in (RED, BLACK):
            R("cfb.dir", "color", "entry %d has colour %d" % (node, e["color"]))
        if e["color"] == RED and parent_color == RED:
            R("cfb.dir", "redred", "%s/%s: a red entry under a red one" % (path, e["name"]))
        k = key(e["name"])
        if (lo is not None and k <= lo) or (hi is not None and k >= hi):
            R("cfb.dir", "order", "%s/%s: out of order among its siblings" % (path, e["name"]))
        walk(e["left"], path, lo, k, e["color"], depth + 1)
        walk(e["right"], path, k, hi, e["color"], depth + 1)
        full = (path + "/" if path else "") + e["name"]
        if e["kind"] == STGTY_STORAGE:
            walk(e["child"], full, None, None, None, 0)
        elif e["kind"] == STGTY_STREAM:
            streams[full] = e
            if e["child"] != NOSTREAM:
                R("cfb.dir", "child", "stream %s has a child" % full)
        else:
            R("cfb.dir", "kind", "entry %d under a storage has type %d" % (node, e["kind"]))

    root = entries[0]
    seen.add(0)
    if root["left"] != NOSTREAM or root["right"] != NOSTREAM:
        R("cfb.dir", "root", "the root entry has siblings")
    walk(root["child"], "", None, None, None, 0)
    for e in entries[1:]:
        if e["kind"] != STGTY_EMPTY and e["i"] not in seen:
            R("cfb.dir", "orphan", "entry %d (%s) is not reachable from the root" % (e["i"], e["name"]))

    mini_chain = []
    if root["size"]:
        mini_chain = chain(root["start"], "mini stream", fat, n_sectors, owner)
    elif root["start"] not in (ENDOFCHAIN, FREESECT):
        R("cfb.dir", "root start", "an empty mini stream starts at sector %d" % root["start"])
    if len(mini_chain) != (root["size"] + ssz - 1) // ssz:
        R("cfb.chain", "mini stream", "mini stream of %d bytes in %d sectors" % (root["size"], len(mini_chain)))
    mini_data = b"".join(sector(s) for s in mini_chain)
    mini_owner = {}
    contents = {}
    for path, e in sorted(streams.items()):
        if e["size"] < MINI_STREAM_CUTOFF:
            if e["size"] == 0:
                contents[path] = b""
                continue
            ch = chain(e["start"], path, minifat, root["size"] // 64, mini_owner)
            if len(ch) != (e["size"] + 63) // 64:
                R("cfb.chain", path, "%s: %d bytes in %d mini sectors" % (path, e["size"], len(ch)))
            contents[path] = b"".join(mini_data[s * 64:(s + 1) * 64] for s in ch)[:e["size"]]
        else:
            ch = chain(e["start"], path, fat, n_sectors, owner)
            if len(ch) != (e["size"] + ssz - 1) // ssz:
                R("cfb.chain", path, "%s: %d bytes in %d sectors" % (path, e["size"], len(ch)))
            contents[path] = b"".join(sector(s) for s in ch)[:e["size"]]
    for s in range(n_sectors):
        if fat[s] != FREESECT and s not in owner:
            R("cfb.fat", "lost", "sector %d is in use (0x%08x) but belongs to no chain" % (s, fat[s]))
            break
    for name in ("Workbook", "Book"):
        if name in contents:
            return contents[name]
    R("cfb.dir", "workbook", "no Workbook stream")
    return None


# ---------------------------------------------------------------- workbook stream

def layout_of(stream):
    """BIFF5 when the first BOF says so, else BIFF8."""
    if len(stream) >= 6 and u16(stream, 0) == BOF and u16(stream, 4) == BIFF5.version:
        return BIFF5
    return BIFF8


def read_records(stream, report, layout=BIFF8):
    out = []
    pos = 0
    while pos + 4 <= len(stream):
        if out and out[-1][1] == EOF and not any(stream[pos:]):
            break  # zero padding after the last EOF
        rtype, size = struct.unpack_from("<HH", stream, pos)
        if size > layout.max_body:
            report.add("biff.size", "0x%04x" % rtype, "record 0x%04x at %d has %d bytes (at most %d)"
                       % (rtype, pos, size, layout.max_body))
        if pos + 4 + size > len(stream):
            report.add("biff.truncated", "", "record 0x%04x at %d runs past the stream end" % (rtype, pos))
            break
        out.append((pos, rtype, stream[pos + 4:pos + 4 + size]))
        pos += 4 + size
    return out


def substreams(records, report):
    """[(bof position, BOF type, [records at the top level of it])]; nested BOF..EOF (embedded charts) skipped.

    A BOF that a BOUNDSHEET points at starts a sheet substream whatever came before, so one missing EOF
    does not hide the sheets after it."""
    sheet_starts = set()
    for pos, rtype, body in records:
        if rtype == BOUNDSHEET and len(body) >= 4:
            sheet_starts.add(u32(body, 0))
        elif rtype == EOF:
            break
    subs = []
    depth = 0
    current = None
    for rec in records:
        pos, rtype, body = rec
        if rtype == BOF:
            if pos in sheet_starts and depth:
                report.add("biff.nesting", "eof %d" % len(subs), "substream %d lacks its EOF" % (len(subs) - 1))
                depth = 0
            depth += 1
            if depth == 1:
                current = (pos, u16(body, 2) if len(body) >= 4 else -1, [rec])
                subs.append(current)
            continue
        if depth == 0:
            report.add("biff.nesting", "outside", "record 0x%04x at %d lies outside every BOF..EOF" % (rtype, pos))
            continue
        if rtype == EOF:
            depth -= 1
            if depth == 0:
                current[2].append(rec)
            continue
        if depth == 1:
            current[2].append(rec)
    if depth:
        report.add("biff.nesting", "eof %d" % len(subs), "the last substream lacks its EOF")
    return subs


def check_bof(subs, report, layout=BIFF8):
    if not subs or subs[0][1] != WORKBOOK_GLOBALS:
        report.add("biff.nesting", "globals", "the stream does not start with the workbook globals")
    for n, (pos, kind, recs) in enumerate(subs):
        body = recs[0][2]
        # Excel 5.0/95 gives the sheets of its Book stream the BIFF8 number; the globals' decides.
        sheet_ok = n > 0 and layout is BIFF5 and len(body) >= 2 and u16(body, 0) == BIFF8.version
        if not sheet_ok and (len(body) < (16 if layout is BIFF8 else 8) or u16(body, 0) != layout.version):
            report.add("biff.bof", "substream %d" % n, "BOF at %d is not of version 0x%04x (%d bytes)"
                       % (pos, layout.version, len(body)))


def check_boundsheets(subs, report):
    globals_records = subs[0][2] if subs else []
    sheets = [(pos, kind) for pos, kind, _ in subs[1:]]
    starts = {pos: kind for pos, kind in sheets}
    bound = []
    for pos, rtype, body in globals_records:
        if rtype == BOUNDSHEET:
            bound.append((u32(body, 0), body[5]))
    for i, (offset, dt) in enumerate(bound):
        if offset not in starts:
            report.add("biff.boundsheet", "sheet %d" % i, "BOUNDSHEET %d points at %d, which is no substream's BOF"
                       % (i, offset))
    if [o for o, _ in bound] != [p for p, _ in sheets]:
        report.add("biff.boundsheet", "order", "BOUNDSHEETs %s, substreams start at %s" % (
            [o for o, _ in bound], [p for p, _ in sheets]))
    return bound


def read_xfs(globals_records):
    """For each XF: True when it is a style XF."""
    return [bool(u16(body, 4) & XF_STYLE_BIT) for _, rtype, body in globals_records if rtype == XF]


def check_sst(records, globals_records, label_refs, report):
    """Counts, the fill rule, string headers in one piece, EXTSST. Returns the number of unique strings."""
    R = report.add
    idx = [k for k, r in enumerate(records) if r[1] == SST]
    if not idx:
        if label_refs:
            R("sst.missing", "", "%d LABELSST cells but no SST" % len(label_refs))
        return 0
    if len(idx) > 1:
        R("sst.count", "records", "%d SST records" % len(idx))
    k = idx[0]
    parts = [(records[k][0], records[k][2])]
    k += 1
    while k < len(records) and records[k][1] == CONTINUE:
        parts.append((records[k][0], records[k][2]))
        k += 1
    ext = records[k] if k < len(records) and records[k][1] == EXTSST else None
    if ext is None and any(r[1] == EXTSST for r in records):
        R("sst.extsst", "place", "EXTSST does not follow the SST and its CONTINUE records")
    total, unique = struct.unpack_from("<II", parts[0][1], 0)
    # (position of each string, where it lies: (stream position, offset in its record incl. header))
    starts = []
    fill = []  # for each record but the last: (free bytes, what the next one begins with, bytes that needed)
    p, pos = 0, 8
    broken = False

    def next_record(need_what, need_bytes):
        """Moves on to the next CONTINUE; a string that starts there needed its header and one character."""
        nonlocal p, pos
        if p + 1 >= len(parts):
            return False
        following = parts[p + 1][1]
        if need_bytes is None and len(following) >= 3:
            cch, flags = struct.unpack_from("<HB", following, 0)
            header = 3 + (2 if flags & 8 else 0) + (4 if flags & 4 else 0)
            need_bytes = header + (0 if not cch else 2 if flags & 1 else 1)
        fill.append((MAX_RECORD_BODY - len(parts[p][1]), need_what, need_bytes or 0, p))
        p, pos = p + 1, 0
        return True

    for n in range(unique):
        body = parts[p][1]
        if pos == len(body):
            if not next_record("string", None):
                R("sst.strings", "end", "SST ends after %d of %d strings" % (n, unique))
                broken = True
                break
            body = parts[p][1]
        if pos + 3 > len(body):
            R("sst.header_split", "string %d" % n, "the header of string %d is split across records" % n)
            broken = True
            break
        cch, flags = struct.unpack_from("<HB", body, pos)
        header = 3 + (2 if flags & 8 else 0) + (4 if flags & 4 else 0)
        if pos + header > len(body):
            R("sst.header_split", "string %d" % n, "the header of string %d is split across records" % n)
            broken = True
            break
        if cch and pos + header == len(body):
            R("sst.header_split", "string %d" % n, "string %d: its header ends a record without a character" % n)
        starts.append((parts[p][0] + 4 + pos, pos + 4))
        runs = u16(body, pos + 3) if flags & 8 else 0
        ext_size = u32(body, pos + 3 + (2 if flags & 8 else 0)) if flags & 4 else 0
        pos += header
        wide = flags & 1
        left = cch
        while left:
            if pos == len(body):
                if not next_record("characters", 2 if wide else 1):
                    R("sst.strings", "end", "string %d runs past the SST" % n)
                    broken = True
                    break
                body = parts[p][1]
                wide = body[0] & 1
                pos = 1
            take = min(left, (len(body) - pos) // (2 if wide else 1))
            if take == 0:
                R("sst.strings", "string %d" % n, "string %d: half a character at a record end" % n)
                broken = True
                break
            pos += take * (2 if wide else 1)
            left -= take
        if broken:
            break
        for i in range(runs):
            if pos == len(body):
                if not next_record("formatting runs", 4):
                    broken = True
                    break
                body = parts[p][1]
            if pos + 4 > len(body):
                R("sst.strings", "string %d" % n, "string %d: a formatting run split across records" % n)
                broken = True
                break
            pos += 4
        if broken:
            break
        skip = ext_size
        while skip:
            if pos == len(body):
                if not next_record("extended data", 1):
                    broken = True
                    break
                body = parts[p][1]
            take = min(skip, len(body) - pos)
            pos += take
            skip -= take
        if broken:
            R("sst.strings", "end", "string %d runs past the SST" % n)
            break
    if not broken and (p != len(parts) - 1 or pos != len(parts[p][1])):
        R("sst.count", "unique", "SST counts %d unique strings, its records hold more" % unique)
    # Fill rule: a record is continued only when the next piece did not fit in it any more.
    for free, what, need, part in fill:
        if free >= need:
            R("sst.fill", "record %d" % part, "SST record %d is continued with %d bytes free, though the %s "
              "that follows needed %d" % (part, free, what, need))
    if total != len(label_refs):
        R("sst.count", "refs", "SST total %d, but %d LABELSST cells" % (total, len(label_refs)))
    bad = [i for i in label_refs if i >= unique]
    if bad:
        R("sst.ref", "", "LABELSST refers to string %d of %d" % (bad[0], unique))
    if ext is not None and not broken:
        body = ext[2]
        dsst = u16(body, 0)
        want = max(unique // 128 + 1, 8)
        buckets = [struct.unpack_from("<IH", body, 2 + 8 * i) for i in range((len(body) - 2) // 8)]
        if dsst != want:
            R("sst.extsst", "dsst %d/%d" % (dsst, unique),
              "EXTSST puts %d strings in a bucket, %d strings need %d" % (dsst, unique, want))
        if dsst and len(buckets) != -(-unique // dsst):
            R("sst.extsst", "buckets %d/%d" % (len(buckets), unique),
              "EXTSST has %d buckets of %d for %d strings" % (len(buckets), dsst, unique))
        for i, b in enumerate(buckets):
            s = i * dsst
            if s < len(starts) and tuple(b) != starts[s]:
                R("sst.extsst", "offsets %d" % unique, "EXTSST bucket %d points at %s, string %d lies at %s"
                  % (i, tuple(b), s, starts[s]))
                break
    elif ext is None and unique and any(r[1] == SST for r in records):
        R("sst.extsst", "missing", "no EXTSST after the SST")
    return unique


def cells_of(rtype, body):
    """[(row, col, xf)] of one cell record."""
    if rtype in (MULBLANK, MULRK):
        row, first = u16(body, 0), u16(body, 2)
        last = u16(body, len(body) - 2)
        step = 2 if rtype == MULBLANK else 6
        return [(row, first + i, u16(body, 4 + i * step)) for i in range(last - first + 1)]
    return [(u16(body, 0), u16(body, 2), u16(body, 4))]


def check_sheet(n, recs, xfs, report, label_refs, layout=BIFF8):
    """One worksheet's cell table, in the order the records stand."""
    R = report.add
    place = "sheet %d" % n
    by_pos = {pos: (rtype, body) for pos, rtype, body in recs}
    rows = {}  # row -> (colMic, colMac, xf or None, stream position)
    cells = []  # (row, col, xf, position, record name)
    first_cell_table = last_cell_table = None
    dims = None
    index = None
    blocks = []  # DBCELL positions
    block_rows = []  # ROW positions since the last DBCELL
    block_cells = {}  # row -> position of its first cell record since the last DBCELL
    block_ok = True
    last_key = None
    has_dbcell = any(r[1] == DBCELL for r in recs)
    text_formula = None  # the FORMULA whose text result its STRING record is still to follow
    for i, (pos, rtype, body) in enumerate(recs):
        # [MS-XLS] 2.4.127 FORMULA, 2.4.268 STRING: a text result stands in the STRING record right after the
        # formula (and its SHRFMLA, ARRAY or TABLE); no other record has one.
        if rtype == STRING:
            if text_formula is None:
                R("formula.string", "%s at %d" % (place, pos), "%s: STRING at %d follows no formula with a text "
                  "result" % (place, pos))
            text_formula = None
        elif text_formula is not None and rtype not in (SHRFMLA, ARRAY, TABLE):
            R("formula.string", "%s at %d" % (place, text_formula), "%s: FORMULA at %d has a text result but no "
              "STRING record" % (place, text_formula))
            text_formula = None
        if rtype == FORMULA and len(body) >= 14 and u16(body, 12) == 0xFFFF and body[6] == 0:
            text_formula = pos
        if rtype in CELL_TABLE:
            if first_cell_table is None:
                first_cell_table = i
            last_cell_table = i
        if rtype == DIMENSIONS:
            dims = struct.unpack_from(layout.dims, body, 0)
        elif rtype == INDEX:
            index = (pos, body)
        elif rtype == COLINFO:
            xf = u16(body, 6)
            if xf < len(xfs) and xfs[xf]:
                R("xf.colinfo", "%s cols %d" % (place, u16(body, 0)), "%s: COLINFO for columns %d-%d has style XF %d"
                  % (place, u16(body, 0) + 1, u16(body, 2) + 1, xf))
        elif rtype == ROW:
            row, mic, mac = struct.unpack_from("<HHH", body, 0)
            flags, ixfe = u16(body, 12), u16(body, 14) & 0x0FFF
            if row in rows:
                R("row.duplicate", "%s row %d" % (place, row), "%s: two ROW records for row %d" % (place, row + 1))
            rows[row] = (mic, mac, ixfe if flags & 0x80 else None, pos)
            if flags & 0x80 and ixfe < len(xfs) and xfs[ixfe]:
                R("xf.row", "%s row %d" % (place, row), "%s: row %d has style XF %d" % (place, row + 1, ixfe))
            if block_cells and has_dbcell:
                R("row.block", place, "%s: ROW for row %d after cells of its block" % (place, row + 1))
                block_ok = False
            block_rows.append((row, pos))
        elif rtype == DBCELL:
            blocks.append(pos)
            check_dbcell(place, pos, body, block_rows, block_cells, by_pos, block_ok, report)
            block_rows, block_cells, block_ok = [], {}, True
        elif rtype in CELLS:
            for row, col, xf in cells_of(rtype, body):
                cells.append((row, col, xf, pos, CELL_NAMES[rtype]))
                key = (row, col)
                if last_key is not None and key <= last_key:
                    R("cell.order", "%s" % place, "%s: %s at row %d col %d follows row %d col %d" % (
                        place, CELL_NAMES[rtype], row + 1, col + 1, last_key[0] + 1, last_key[1] + 1))
                last_key = key
                if xf >= len(xfs):
                    R("xf.cell", "%s" % place, "%s: cell row %d col %d has XF %d of %d" % (place, row + 1, col + 1,
                                                                                          xf, len(xfs)))
                elif xfs[xf]:
                    R("xf.cell", "%s xf %d" % (place, xf), "%s: cell row %d col %d has style XF %d"
                      % (place, row + 1, col + 1, xf))
            row = u16(body, 0)
            if row in rows and has_dbcell and all(r != row for r, _ in block_rows):
                R("row.block", place, "%s: cells of row %d outside the block of its ROW record" % (place, row + 1))
            block_cells.setdefault(row, pos)
            if rtype == LABELSST:
                label_refs.append(u32(body, 6))
    if block_rows or block_cells:
        if has_dbcell:
            R("dbcell.missing", place, "%s: the last row block has no DBCELL" % place)
    # Every row with cells has a ROW record that comes before them and spans them.
    cell_rows = {}
    for row, col, xf, pos, _ in cells:
        lo, hi, first = cell_rows.get(row, (col, col, pos))
        cell_rows[row] = (min(lo, col), max(hi, col), min(first, pos))
    missing = sorted(r for r in cell_rows if r not in rows)
    if missing:
        # A sheet without any ROW record is one writer's way; a sheet mixing both is not.
        kind = "all" if len(missing) == len(cell_rows) else "some"
        R("row.missing", "%s %s" % (place, kind), "%s: %s of %d rows with cells lack a ROW record (first: row %d)"
          % (place, len(missing), len(cell_rows), missing[0] + 1))
    for row, (lo, hi, first) in sorted(cell_rows.items()):
        if row not in rows:
            continue
        mic, mac, _, rpos = rows[row]
        if rpos > first:
            R("row.before", "%s row %d" % (place, row), "%s: ROW for row %d stands after its first cell"
              % (place, row + 1))
        if not (mic <= lo and mac >= hi + 1):
            R("row.span", "%s row %d" % (place, row), "%s: ROW for row %d spans columns %d-%d, its cells %d-%d"
              % (place, row + 1, mic + 1, mac, lo + 1, hi + 1))
    seen = set()
    for row, col, _, _, name in cells:
        if (row, col) in seen:
            R("cell.duplicate", place, "%s: two cells at row %d col %d" % (place, row + 1, col + 1))
        seen.add((row, col))
    if cells:
        r_lo, r_hi = min(c[0] for c in cells), max(c[0] for c in cells)
        c_lo, c_hi = min(c[1] for c in cells), max(c[1] for c in cells)
        if dims is None:
            R("dimensions.missing", place, "%s: no DIMENSIONS" % place)
        elif not (dims[0] <= r_lo and dims[1] >= r_hi + 1 and dims[2] <= c_lo and dims[3] >= c_hi + 1):
            R("dimensions.cover", place, "%s: DIMENSIONS rows %d-%d cols %d-%d, cells in rows %d-%d cols %d-%d" % (
                place, dims[0] + 1, dims[1], dims[2] + 1, dims[3], r_lo + 1, r_hi + 1, c_lo + 1, c_hi + 1))
    if dims is None and not cells:
        R("dimensions.missing", place, "%s: no DIMENSIONS" % place)
    if not any(r[1] == WINDOW2 for r in recs):
        R("window.missing", place, "%s: no WINDOW2" % place)
    # The cell table stands after page setup, protection, columns and DIMENSIONS, and before the window.
    if first_cell_table is not None:
        # A custom view (USERSVIEWBEGIN..USERSVIEWEND, after the window) repeats page setup records.
        in_view = set()
        inside = False
        for i, r in enumerate(recs):
            if r[1] == USERSVIEWBEGIN:
                inside = True
            if inside:
                in_view.add(i)
            if r[1] == USERSVIEWEND:
                inside = False
        late = [r for i, r in enumerate(recs) if i > first_cell_table and r[1] in BEFORE_CELLS and i not in in_view]
        if late:
            R("order.before", "%s 0x%04x" % (place, late[0][1]), "%s: record 0x%04x at %d follows the cell table's "
              "start" % (place, late[0][1], late[0][0]))
        early = [r for r in recs[:last_cell_table] if r[1] in AFTER_CELLS]
        if early:
            R("order.after", "%s 0x%04x" % (place, early[0][1]), "%s: record 0x%04x at %d precedes the cell table's "
              "end" % (place, early[0][1], early[0][0]))
    if index is not None:
        lead = [r[1] for r in recs[1:3]]
        if lead[:1] != [INDEX] and lead != [0x005E, INDEX]:  # UNCALCED may stand before it
            R("index.place", place, "%s: INDEX does not follow the BOF" % place)
        check_index(place, index, blocks, cell_rows, by_pos, report, layout)
    return cell_rows


def check_dbcell(place, pos, body, block_rows, block_cells, by_pos, block_ok, report):
    """dbRtrw points back at the block's first ROW; rgdb chains from the end of that ROW to each row's first cell."""
    R = report.add
    if len(block_rows) > ROWS_PER_BLOCK:
        R("dbcell.block", place, "%s: a row block of %d ROW records" % (place, len(block_rows)))
    if not block_rows:
        R("dbcell.block", place, "%s: DBCELL at %d closes a block without ROW records" % (place, pos))
        return
    back = u32(body, 0)
    if pos - back != block_rows[0][1]:
        R("dbcell.rows", place, "%s: DBCELL at %d points back to %d, the block's first ROW is at %d"
          % (place, pos, pos - back, block_rows[0][1]))
    offsets = [u16(body, 4 + 2 * i) for i in range((len(body) - 4) // 2)]
    if len(offsets) != len(block_rows):
        R("dbcell.cells", place, "%s: DBCELL at %d has %d offsets for %d rows" % (place, pos, len(offsets),
                                                                              len(block_rows)))
        return
    if not block_ok:
        return
    # A row without cells: the offset where its cells would stand, that is the next row's first cell
    # (or the DBCELL itself).
    firsts = []
    for k, (row, _) in enumerate(block_rows):
        if row in block_cells:
            firsts.append(block_cells[row])
        else:
            later = [block_cells[r] for r, _ in block_rows[k + 1:] if r in block_cells]
            firsts.append(later[0] if later else pos)
    base = block_rows[0][1] + 4 + 16
    for k, (row, _) in enumerate(block_rows):
        if base + offsets[k] != firsts[k]:
            kind = "cells" if row in block_cells else "empty"
            R("dbcell.%s" % kind, place, "%s: DBCELL at %d: row %d's first cell at %d, the offsets give %d"
              % (place, pos, row + 1, firsts[k], base + offsets[k]))
            return
        base = firsts[k]


def check_index(place, index, blocks, cell_rows, by_pos, report, layout=BIFF8):
    R = report.add
    pos, body = index
    rw_mic, rw_mac = struct.unpack_from(layout.index_rows, body, 4)
    ib_xf = u32(body, layout.index_defcolwidth)
    first = layout.index_dbcells
    dbcells = [u32(body, first + 4 * i) for i in range((len(body) - first) // 4)]
    if dbcells != blocks:
        R("index.dbcell", place, "%s: INDEX lists DBCELLs at %s, they stand at %s" % (place, dbcells[:6], blocks[:6]))
    if cell_rows:
        lo, hi = min(cell_rows), max(cell_rows)
        if not (rw_mic <= lo and rw_mac >= hi + 1):
            R("index.rows", place, "%s: INDEX rows %d-%d, cells in rows %d-%d" % (place, rw_mic + 1, rw_mac,
                                                                                 lo + 1, hi + 1))
    if ib_xf and by_pos.get(ib_xf, (None,))[0] != DEFCOLWIDTH:
        R("index.defcolwidth", place, "%s: INDEX points at %d for DEFCOLWIDTH" % (place, ib_xf))


def check_stream(stream, report):
    layout = layout_of(stream)
    records = read_records(stream, report, layout)
    subs = substreams(records, report)
    if records and records[-1][1] != EOF:
        report.add("biff.nesting", "end", "the stream does not end with EOF")
    check_bof(subs, report, layout)
    if not subs:
        return
    check_boundsheets(subs, report)
    if any(rtype == FILEPASS for _, rtype, _ in subs[0][2]):
        report.add("biff.encrypted", "", "the workbook is encrypted: record contents not checked")
        return
    label_refs = []
    try:
        xfs = read_xfs(subs[0][2])
        for n, (pos, kind, recs) in enumerate(subs[1:]):
            if kind == 0x0010:
                check_sheet(n, recs, xfs, report, label_refs, layout)
        if layout is BIFF8:
            check_sst(records, subs[0][2], label_refs, report)
        elif any(rtype in (SST, EXTSST) for _, rtype, _ in subs[0][2]) or label_refs:
            # Excel 5.0/95 knows no shared strings: its texts are LABEL cells.
            report.add("biff5.sst", "", "an Excel 5.0/95 workbook with SST, EXTSST or LABELSST records")
    except (struct.error, IndexError) as e:
        report.add("biff.short", "", "a record too short for its fields: %s" % e)


def check_file(path):
    """Every problem of one file as (rule, place, message)."""
    report = Report()
    with open(path, "rb") as f:
        data = f.read()
    stream = check_cfb(data, report)
    if stream is not None:
        check_stream(stream, report)
    return report.problems


def check(output, template=None, ignore=()):
    """(problems, inherited): the output's problems, and those its template shows as well."""
    found = [p for p in check_file(output) if not any(p[0].startswith(r) for r in ignore)]
    if template is None:
        return found, []
    known = {(rule, place) for rule, place, _ in check_file(template)}
    return [p for p in found if (p[0], p[1]) not in known], [p for p in found if (p[0], p[1]) in known]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file")
    parser.add_argument("--template")
    parser.add_argument("--ignore", action="append", default=[], help="a rule (or its prefix) not to count")
    args = parser.parse_args(argv)
    problems, inherited = check(args.file, args.template, args.ignore)
    for rule, _, message in inherited:
        print("inherited [%s] %s" % (rule, message))
    for rule, _, message in problems:
        print("FAIL [%s] %s" % (rule, message))
    print("%s: %d structural problems%s" % (args.file, len(problems),
                                           ", %d inherited from the template" % len(inherited) if inherited else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
