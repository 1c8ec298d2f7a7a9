#!/usr/bin/env python3
# Lists a compound file as olefile sees it, failing on any defect it notices.
# Exit 77 when olefile is not installed, so the caller can skip.
import sys
import zlib

try:
    import olefile
except ImportError:
    sys.exit(77)

ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
kinds = {olefile.STGTY_ROOT: "R", olefile.STGTY_STORAGE: "D", olefile.STGTY_STREAM: "S"}
lines = []
# Every entry reachable from the root, with its metadata.
for entry in ole.direntries:
    if entry is None or entry.entry_type not in kinds:
        continue
    lines.append("E %s %s [%s] %08x %016x %016x" % (kinds[entry.entry_type], entry.name, entry.clsid,
                                                  entry.dwUserFlags, entry.createTime, entry.modifyTime))
# Streams by path, with size and CRC-32 of the bytes olefile reads.
for path in ole.listdir(streams=True, storages=False):
    data = ole.openstream(path).read()
    lines.append("P %s %d %08x" % ("/".join(path), len(data), zlib.crc32(data) & 0xFFFFFFFF))
sys.stdout.buffer.write(("\n".join(sorted(lines)) + "\n").encode("utf-8"))
