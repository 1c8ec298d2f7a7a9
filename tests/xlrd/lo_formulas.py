#!/usr/bin/python3
"""Formulas as LibreOffice reads them back: every cell not written keeps the template's formula text.

xlrd sees only a formula's cached value; LibreOffice decodes the formula itself, shared ones included.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import check_filled  # noqa: E402
except ImportError as e:
    print("skipped: %s (install python3-xlrd and python3-olefile)" % e)
    sys.exit(SKIP)
T = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"


def formulas(fods):
    """{(sheet name, row, col): formula text}, 0-based, of one flat-ODF document."""
    out = {}
    for table in ET.parse(fods).iter(T + "table"):
        name = table.get(T + "name")
        row = 0
        for tr in table.iter(T + "table-row"):
            rows = int(tr.get(T + "number-rows-repeated", "1"))
            col = 0
            for cell in tr:
                if cell.tag not in (T + "table-cell", T + "covered-table-cell"):
                    continue
                cols = int(cell.get(T + "number-columns-repeated", "1"))
                formula = cell.get(T + "formula")
                if formula:
                    for r in range(row, row + min(rows, 100)):
                        for c in range(col, col + min(cols, 100)):
                            out[(name, r, c)] = formula
                col += cols
            row += rows
    return out


def convert(soffice, paths, work):
    """Both files in one LibreOffice start, which is most of the time taken."""
    copies = []
    for i, path in enumerate(paths):
        copies.append(os.path.join(work, "book%d.xls" % i))
        shutil.copyfile(path, copies[-1])
    subprocess.run([soffice, "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless",
                    "--convert-to", "fods", "--outdir", work] + copies, check=True, capture_output=True, timeout=240)
    return [formulas(c[:-4] + ".fods") for c in copies]


def main(argv):
    if len(argv) != 4:
        print("usage: lo_formulas.py TEMPLATE OUTPUT CELLS", file=sys.stderr)
        return 2
    soffice = shutil.which("soffice")
    if not soffice:
        print("skipped: soffice not found (install libreoffice-calc-nogui)")
        return SKIP
    template, output, cells = argv[1:]
    if not os.path.exists(output):
        print("skipped: %s not made (its fill test failed or refused the writes)" % output)
        return SKIP
    work = tempfile.mkdtemp(prefix="skov-lo-")
    try:
        before, after = convert(soffice, [template, output], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    import xlrd
    names = xlrd.open_workbook(template, on_demand=True).sheet_names()
    written = {(names[s - 1], r - 1, c - 1) for s, r, c, _ in check_filled.read_cells_file(cells) if s <= len(names)}
    problems = []
    for key in sorted(set(before) | set(after)):
        if key in written:
            if key in after:
                problems.append("%s!R%dC%d: written, but still a formula %s" % (key[0], key[1] + 1, key[2] + 1,
                                                                               after[key]))
        elif before.get(key) != after.get(key):
            problems.append("%s!R%dC%d: template %s, output %s" % (key[0], key[1] + 1, key[2] + 1, before.get(key),
                                                                  after.get(key)))
    if problems:
        print("FAIL: formulas differ as LibreOffice reads them:")
        check_filled.report(problems)
        return 1
    print("%d formulas read back by LibreOffice, all as in the template" % len(after))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
