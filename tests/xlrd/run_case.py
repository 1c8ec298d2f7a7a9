#!/usr/bin/python3
"""One xlrd check: fills a fixture with fill_cells for a named case, then checks the output."""
import argparse
import os
import re
import subprocess
import sys

SKIP = 77
try:
    import xlrd  # noqa: F401
    import olefile  # noqa: F401
except ImportError as e:
    print("skipped: %s (install python3-xlrd and python3-olefile)" % e)
    sys.exit(SKIP)

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "structure"))
import check_filled  # noqa: E402
import dump_records  # noqa: E402
import dump_records  # noqa: E402
import check_structure  # noqa: E402
import known_defects  # noqa: E402

LONG = ("Langer Bemerkungstext mit Umlauten äöüß und Zahlen 0123456789, " * 6)[:330]
HUGE = "".join("Zeile %04d: Größe Ω Ж € — " % i for i in range(360))  # ~9000 characters, 16-bit
SPECIAL = [
    "ä ö ü ß Ä Ö Ü €", LONG, "007", "1-2", "=SUM(A1)", "TRUE", "1.5E3", "", "Αντλία θερμότητας / Насос №5",
    "  Leerzeichen  ", "Zeile1\nZeile2\tTab", "12.10.2024", "#N/A", "'007", "0", "-", "\U0001F600 außerhalb BMP",
    "\u00a0geschützt", HUGE, "ÿ Latin-1 ende", "Œ œ Š ‰ ™", "FALSCH", "=A1+1", "00042", "1,5", "3 %",
    "Steuer\x01\x07\x1b\x1f\x7fzeichen", "\x81\x8d\x8f\x90\x9d undefiniert in 1252",
]

COL_V, COL_AP, COL_BC, COL_BD = 22, 42, 55, 56
TITLE_CELLS = [(31, COL_V), (32, COL_V), (33, COL_V), (31, COL_AP), (33, COL_AP), (30, COL_BC), (31, COL_BC)]
ROW_COLUMNS = [2] + list(range(5, 55)) + [COL_BC]  # B, E..BB, BC


def import_fill(nsheets):
    """What a run over an 86-line import file writes: title blocks, every data row and column, sheet totals."""
    writes = []
    k = 0
    for sheet in range(1, 6):
        for i, (row, col) in enumerate(TITLE_CELLS):
            writes.append((sheet, row, col, SPECIAL[(sheet + i) % len(SPECIAL)] if i % 2 else "Projekt %d-%d" % (sheet, i)))
        first = 11 if sheet == 1 else 12
        for row in range(first, 29):
            for col in ROW_COLUMNS:
                k += 1
                if col == 2:
                    value = "P%d.%d-Pumpe Kühlkreis" % (sheet, row)
                elif k % 7 == 0:
                    value = SPECIAL[k % len(SPECIAL)]
                else:
                    value = "%d" % (k % 500) if k % 3 else "Wert %d/%d" % (row, col)
                writes.append((sheet, row, col, value))
    for sheet in range(1, 6):
        writes.append((sheet, 33, COL_BD, " 6"))
    return writes


def special_cells(nsheets):
    """The tricky strings into cells of every kind the templates hold, and into cells that do not exist."""
    targets = [
        (1, 11, 5), (1, 12, 6), (1, 13, 7), (1, 14, 8), (1, 15, 9), (1, 16, 10), (1, 17, 11), (1, 18, 12),
        (1, 19, 13), (1, 25, 52), (1, 18, COL_BC), (1, 20, 5), (1, 20, 30), (1, 20, 54), (1, 15, 2),
        (1, 31, COL_V), (1, 31, COL_AP), (1, 33, COL_BD), (1, 10, 5), (1, 8, 2),
        (1, 40, 2), (1, 5, 3), (1, 3, 60), (1, 200, 1), (1, 12, 57), (1, 13, 58), (1, 1, 1),
        (1, 21, 5), (1, 22, 6), (3, 21, 5), (3, 22, 6), (3, 11, 5), (3, 25, 52), (3, 33, COL_BD), (5, 28, COL_BC),
    ]
    writes = [(s, r, c, SPECIAL[i % len(SPECIAL)]) for i, (s, r, c) in enumerate(targets)]
    writes += [(2, 12, 5, v) for v in SPECIAL]  # one cell written many times: the last string stays
    writes.append((2, 12, 6, HUGE))
    writes.append((2, 12, 7, HUGE))  # the same new string twice
    if nsheets >= 6:  # a hidden sheet or a list sheet after the five
        writes += [(6, 1, 1, "verborgen überschrieben"), (6, 30, 2, LONG), (6, 500, 3, "neu")]
    return writes


def shared_anchor(nsheets):
    """Cells that anchor filled-down formulas (A11:A28, AZ20:AZ28 in the LibreOffice template)."""
    return [(1, 11, 1, "Anker"), (1, 20, 52, "Anker AZ"), (3, 11, 1, "Anker 3")]


def save_refused(fill, template, workdir):
    """Saving over the template under any of its names, or where no file can go: 1004, nothing left behind."""
    import shutil
    folder = os.path.join(workdir, "save_refused." + os.path.basename(template))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "sub", "dir.xls"))
    bound = os.path.join(folder, "SKOV_IMPORT.XLS")
    shutil.copyfile(template, bound)
    os.symlink("SKOV_IMPORT.XLS", os.path.join(folder, "link.xls"))
    os.link(bound, os.path.join(folder, "hard.xls"))
    before = sorted(os.listdir(folder)), open(bound, "rb").read()
    targets = [bound, os.path.join(folder, "sub", "..", "SKOV_IMPORT.XLS"), os.path.join(folder, ".", "SKOV_IMPORT.XLS"),
               os.path.join(folder, "link.xls"), os.path.join(folder, "hard.xls"),
               os.path.join(folder, "missing", "out.xls"), os.path.join(folder, "sub", "dir.xls"), folder]
    failures = 0
    for target in targets:
        proc = subprocess.run([fill, bound, target, "1", "1", "1", "geschrieben"], capture_output=True, text=True,
                              timeout=60)
        text = (proc.stdout + proc.stderr).strip()
        if proc.returncode != 1 or "error 1004 while saving" not in text:
            failures += 1
            print("FAIL: saving to %s: exit %d, %s" % (target, proc.returncode, text))
    after = sorted(os.listdir(folder)), open(bound, "rb").read()
    if after[0] != before[0]:
        failures += 1
        print("FAIL: the folder changed: %s, now %s" % (before[0], after[0]))
    if after[1] != before[1]:
        failures += 1
        print("FAIL: the template was written")
    if os.listdir(os.path.join(folder, "sub")) != ["dir.xls"]:
        failures += 1
        print("FAIL: files left in %s: %s" % (os.path.join(folder, "sub"), os.listdir(os.path.join(folder, "sub"))))
    print("%d refused saves checked, %d failures" % (len(targets), failures))
    return 1 if failures else 0


def code_page_fill(nsheets):
    """The import fill with texts an Excel 5.0/95 file can hold: Windows-1252, at most 255 bytes."""
    def fits(value):
        try:
            return len(value.encode("cp1252")) <= 255
        except UnicodeEncodeError:
            return False
    return [(s, r, c, v if fits(v) else "ersetzt %d/%d" % (r, c)) for s, r, c, v in import_fill(nsheets)]


def sst_boundary(template):
    """New strings that bring the string table to the next multiple of 128, where the EXTSST bucket
    size steps up (at least 1024 strings in the template give a bucket size above the minimum 8)."""
    unique = len(dump_records.sst_strings(dump_records.read_workbook(template))[0])
    count = 128 - unique % 128
    return [(1, 40 + i // 50, 2 + i % 50, "Grenze %04d" % i) for i in range(count)]


CASES = {
    "import_fill": import_fill,
    "special_cells": special_cells,
    "shared_anchor": shared_anchor,
    "import_run": import_fill,  # the same cells with the sheet changes of a real run
    "roundtrip": lambda n: [],
    "sst_boundary": None,
    "code_page_fill": code_page_fill,
    "no_such_sheet": lambda n: [(1, 11, 5, "vorher"), (n + 1, 11, 5, "zu weit")],
    "save_refused": None,
}


def run_fill(fill, template, output, cells_path, like_import):
    if os.path.exists(output):
        os.remove(output)
    command = [fill, template, output, "--cells", cells_path] + (["--like-import"] if like_import else [])
    proc = subprocess.run(command, capture_output=True, text=True, timeout=120)
    return proc.returncode, (proc.stdout + proc.stderr).strip()


def structure_problems(template, output):
    """The structural problems filling added (not inherited from the template) and the known ones."""
    problems, inherited = check_structure.check(output, template)
    counted, known = known_defects.split(problems)
    print("structure: %d problems inherited from the template, %d known engine defects (%s), %d new"
          % (len(inherited), len(known), ", ".join(sorted({p[0] for p in known})) or "-", len(counted)))
    return counted, known


def poi_problems(java, classpath, template, output, known):
    """Apache POI opens the output, reads every cell, saves and rereads it; empty when it could.

    A template POI itself refuses (gnumeric's chart sheet) says nothing about the output."""
    if not java or not classpath:
        print("poi: not available, skipped")
        return []
    proc = subprocess.run([java, "-cp", classpath, "PoiCheck", template, output], capture_output=True, text=True,
                          timeout=180)
    lines = (proc.stdout + proc.stderr).strip().splitlines()
    verdict = {path: "" for path in (template, output)}
    for line in lines:
        for path in verdict:
            if line.startswith(path + ": "):
                verdict[path] = line[len(path) + 2:]
    if not verdict[template].startswith("ok"):
        print("poi: the template is refused too (%s), output not judged" % verdict[template])
        return []
    if verdict[output].startswith("ok"):
        print("poi: " + verdict[output])
        return []
    for rule, message in known_defects.POI_REFUSAL_OF.items():
        if message in verdict[output] and any(p[0] == rule for p in known):
            print("poi: refused, explained by the known defect %s: %s" % (rule, verdict[output]))
            return []
    return ["POI: " + (verdict[output] or "\n".join(lines[-8:]))]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--fill", required=True, help="the fill_cells program")
    parser.add_argument("--template", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--java", default="", help="java, to run the POI checker")
    parser.add_argument("--poi-classpath", default="", help="PoiCheck's class folder and the POI jars")
    args = parser.parse_args()

    os.makedirs(args.workdir, exist_ok=True)
    if args.case == "save_refused":
        return save_refused(args.fill, args.template, args.workdir)
    stem = "%s.%s" % (os.path.splitext(os.path.basename(args.template))[0], args.case)
    output = os.path.join(args.workdir, stem + ".xls")
    cells_path = os.path.join(args.workdir, stem + ".tsv")
    nsheets = xlrd.open_workbook(args.template, on_demand=True).nsheets
    writes = sst_boundary(args.template) if args.case == "sst_boundary" else CASES[args.case](nsheets)
    if args.case != "no_such_sheet":
        writes = [w for w in writes if w[0] <= nsheets]  # small fixtures: the sheets they have
    codec = dump_records.biff5_codec(dump_records.read_workbook(args.template))
    if codec:
        # Excel 5.0/95 cells hold 255 bytes at most; longer texts are refused (a test of the engine's own).
        writes = [w for w in writes if len(w[3].encode(codec, "replace")) <= 255]
    check_filled.write_cells_file(cells_path, writes)
    like_import = args.case == "import_run"
    code, text = run_fill(args.fill, args.template, output, cells_path, like_import)
    print(text)

    if args.case == "no_such_sheet":
        if code == 1 and re.search(r"error 9 while writing sheet %d " % (nsheets + 1), text):
            return 0
        print("FAIL: writing worksheet %d of %d should fail with error 9" % (nsheets + 1, nsheets))
        return 1
    if args.case == "shared_anchor" and code == 1:
        # Refusing is allowed, but only as 1004 on the write, and without an output file.
        if re.search(r"error 1004 while writing", text) and not os.path.exists(output):
            print("the host refused to write a shared formula's anchor (allowed)")
            return 0
        print("FAIL: a refused anchor write must be error 1004 and leave no output")
        return 1
    if code != 0:
        print("FAIL: fill_cells exited with %d" % code)
        return 1
    problems = check_filled.check(args.template, output, writes, identical=args.case == "roundtrip",
                                  like_import=like_import)
    counted, known = structure_problems(args.template, output)
    problems += ["structure: [%s] %s" % (rule, message) for rule, _, message in counted]
    problems += poi_problems(args.java, args.poi_classpath, args.template, output, known)
    if problems:
        print("FAIL: %s does not match %s (%d problems):" % (output, args.template, len(problems)))
        check_filled.report(problems)
        return 1
    print("%s: %d writes checked, ok" % (output, len(writes)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
