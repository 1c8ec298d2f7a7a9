#!/usr/bin/python3
"""Excel 5.0/95 fixtures as Excel itself writes them: the "Book" stream that Excel stored beside the
"Workbook" stream of an "Excel 97 & 5.0/95" file, alone in a compound file of its own, as a file saved
as Excel 5.0/95 holds it (globals' BOF 0x0500, every sheet's BOF 0x0600).

Usage: make_excel95_fixtures.py POI_TEST_DATA_SPREADSHEET_DIR  (writes next to this script)"""
import os
import struct
import sys

import olefile

FIXTURES = {  # fixture: the Apache POI test file whose Book stream it holds
    "poi_excel95_uncalced.xls": "UncalcedRecord.xls",
    "poi_excel95_cp1251.xls": "43251.xls",
}
SECTOR = 512
FREE, END, FAT_SECTOR, NO_STREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF


def dir_entry(name, kind, child, start, size):
    encoded = (name + "\0").encode("utf-16-le") if name else b""
    return (encoded.ljust(64, b"\0") + struct.pack("<HBB3I", len(encoded), kind, 1, NO_STREAM, NO_STREAM, child)
            + bytes(16 + 4 + 16) + struct.pack("<IQ", start, size))


def compound_file(book):
    """A version 3 compound file with the one stream "Book" in regular sectors."""
    assert len(book) >= 4096, "a shorter stream would belong in the mini stream"
    stream_sectors = -(-len(book) // SECTOR)
    fat_sectors = 1
    while fat_sectors * SECTOR // 4 < fat_sectors + 1 + stream_sectors:
        fat_sectors += 1
    dir_at, stream_at = fat_sectors, fat_sectors + 1
    fat = [FAT_SECTOR] * fat_sectors + [END] + [stream_at + i + 1 for i in range(stream_sectors - 1)] + [END]
    fat += [FREE] * (fat_sectors * SECTOR // 4 - len(fat))
    difat = list(range(fat_sectors)) + [FREE] * (109 - fat_sectors)
    header = (bytes.fromhex("D0CF11E0A1B11AE1") + bytes(16) + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + bytes(6)
              + struct.pack("<IIIIIIIII", 0, fat_sectors, dir_at, 0, 4096, END, 0, END, 0)
              + struct.pack("<109I", *difat))
    directory = (dir_entry("Root Entry", 5, 1, END, 0) + dir_entry("Book", 2, NO_STREAM, stream_at, len(book))
                 + dir_entry("", 0, NO_STREAM, 0, 0) * 2)
    return (header + struct.pack("<%dI" % len(fat), *fat) + directory
            + book.ljust(stream_sectors * SECTOR, b"\0"))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for fixture, source in FIXTURES.items():
        book = olefile.OleFileIO(os.path.join(sys.argv[1], source)).openstream("Book").read()
        with open(os.path.join(here, fixture), "wb") as f:
            f.write(compound_file(book))


if __name__ == "__main__":
    main()
