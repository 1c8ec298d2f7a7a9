#!/usr/bin/python3
"""The formula fixtures filled as the import fills them, each output held to LibreOffice's results (lo_check.py
--strict) and to the structural check, with one LibreOffice start for all of them.

    fixture_check.py RECALC_FILL WORKDIR TEMPLATE [TEMPLATE ...]
"""
import os
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77


def device_rows(count):
    """(sheet, row) of the data lines: rows 11-28 on sheet 1, 12-28 on the later ones."""
    out, sheet, row = [], 1, 11
    for _ in range(count):
        out.append((sheet, row))
        row += 1
        if row > 28:
            sheet, row = sheet + 1, 12
    return out


def import_fill(devices):
    """The cells an import of `devices` lines writes: device and fields per row, the title block and the
    sheet total per sheet (every value a text, as the import writes it)."""
    writes = []
    rows = device_rows(devices)
    for i, (sheet, row) in enumerate(rows, 1):
        writes.append((sheet, row, 2, "P%d-Pumpe %d" % (i, i) if i % 3 else "L%d-Luefter" % i))
        for field in range(1, 6):
            writes.append((sheet, row, 4 + field, ["%d" % (i * field), "x", "", "2,5", " 7 "][field - 1]))
        writes.append((sheet, row, 55, "Bem. %d" % i))
    sheets = rows[-1][0]
    for sheet in range(1, sheets + 1):
        writes += [(sheet, 31, 22, "Projekt Müller"), (sheet, 32, 22, "Bauteil Süd"), (sheet, 33, 22, "Teil 3"),
                   (sheet, 31, 42, "Info"), (sheet, 33, 42, "ZEICHNUNG-7"), (sheet, 30, 55, "HLK"),
                   (sheet, 31, 55, "Anlage 1"), (sheet, 33, 56, " %d" % (sheets + 1))]
    return writes


CASES = {"drei": 3, "zwei_blaetter": 20}


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    tool, work, templates = argv[1], argv[2], argv[3:]
    os.makedirs(work, exist_ok=True)
    args, failed = [], 0
    for template in templates:
        for case, devices in sorted(CASES.items()):
            base = os.path.join(work, "%s.%s" % (os.path.basename(template)[:-4], case))
            with open(base + ".tsv", "w", encoding="utf-8") as f:
                for sheet, row, col, value in import_fill(devices):
                    f.write("%d\t%d\t%d\t%s\n" % (sheet, row, col, value))
            r = subprocess.run([tool, template, base + ".xls", "--cells", base + ".tsv", "--report",
                                base + ".report.tsv"], capture_output=True, text=True)
            print(r.stdout.strip() or r.stderr.strip())
            if r.returncode:
                failed += 1
                continue
            s = subprocess.run([sys.executable, os.path.join(HERE, "..", "structure", "check_structure.py"),
                                base + ".xls", "--template", template], capture_output=True, text=True)
            if s.returncode:
                failed += 1
                print("structure: %s\n%s" % (base + ".xls", s.stdout + s.stderr))
            args += [template, base + ".xls", base + ".report.tsv"]
    r = subprocess.run([sys.executable, os.path.join(HERE, "lo_check.py"), "--strict"] + args)
    if r.returncode == SKIP and not failed:
        return SKIP
    return 1 if failed or r.returncode not in (0, SKIP) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
