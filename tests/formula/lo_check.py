#!/usr/bin/python3
"""Formula results of filled workbooks against LibreOffice, which recalculates every formula on load.

For each case (template, output, report of recalc_fill) every formula cell of the output is read twice: its stored
result with xlrd (what a reader without a calculator shows) and LibreOffice's result after loading it. A difference
is a mismatch unless
  - the formula was deferred to the reader's recalculation (the report names it), or
  - it calls a volatile function and was not evaluated here (NOW: LibreOffice's clock differs from the writer's), or
  - nothing changed it: our result is the template's stored one and LibreOffice computes the same on the template as
    on the output (the template's writer and LibreOffice disagree already; not ours to judge), or
  - without --strict: LibreOffice already computes the template's formula otherwise than its writer stored it (Excel
    and LibreOffice differ on it: booleans in ranges, texts given directly to SUM, bool & text); counted apart.
A formula we did not evaluate whose LibreOffice result changed with the fill is a missed dependency.

    lo_check.py [--strict] [--work DIR] [--batch N] [--quiet] TEMPLATE OUTPUT REPORT [TEMPLATE OUTPUT REPORT ...]

Exit 0 when every case matches, 1 on a mismatch, 77 when soffice or xlrd is missing.
"""
import datetime
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
sys.dont_write_bytecode = True
try:
    import xlrd
except ImportError as e:
    print("skipped: %s (install python3-xlrd)" % e)
    sys.exit(SKIP)

T = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
O = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"
X = "{urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0}"
TX = "{urn:oasis:names:tc:opendocument:xmlns:text:1.0}"
MAX_REPEAT = 1000
# Functions LibreOffice computes anew at every load, whatever was written.
VOLATILE = re.compile(r"\b(NOW|TODAY|RAND|RANDBETWEEN|OFFSET|INDIRECT|CELL|INFO)\(")
NUMBER = re.compile(r"^\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?\s*$")
EXCEL_EPOCH = datetime.datetime(1899, 12, 30)


def cell_text(cell):
    return "\n".join("".join(p.itertext()) for p in cell.iter(TX + "p"))


def lo_value(cell):
    """('n', float) | ('s', str) | ('b', bool) | ('e', text) | ('s', '') for an empty result."""
    kind = cell.get(X + "value-type") or cell.get(O + "value-type")
    if kind == "error":
        return ("e", cell_text(cell))
    if kind in ("float", "percentage", "currency"):
        return ("n", float(cell.get(O + "value")))
    if kind == "boolean":
        return ("b", cell.get(O + "boolean-value") == "true")
    if kind == "date":
        d = cell.get(O + "date-value")
        fmt = "%Y-%m-%dT%H:%M:%S" if "T" in d else "%Y-%m-%d"
        delta = datetime.datetime.strptime(d.split(".")[0], fmt) - EXCEL_EPOCH
        return ("n", delta.days + delta.seconds / 86400.0)
    if kind == "time":
        m = re.match(r"-?PT(\d+)H(\d+)M([\d.]+)S", cell.get(O + "time-value"))
        return ("n", (int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3))) / 86400.0) if m else ("s", "")
    if kind == "string":
        v = cell.get(O + "string-value")
        return ("s", v if v is not None else cell_text(cell))
    return ("s", "")


ROW_GROUPS = {T + "table-row-group", T + "table-header-rows", T + "table-rows"}


def rows_of(element):
    """A sheet's rows in order, through row groups, not into the tables of charts and shapes."""
    for child in element:
        if child.tag == T + "table-row":
            yield child
        elif child.tag in ROW_GROUPS:
            yield from rows_of(child)


def formula_results(fods):
    """{(sheet name, row, col): (formula, value)} of one flat-ODF document, 0-based."""
    out = {}
    for table in ET.parse(fods).find(O + "body").find(O + "spreadsheet").findall(T + "table"):
        name = table.get(T + "name")
        row = 0
        for tr in rows_of(table):
            rows = int(tr.get(T + "number-rows-repeated", "1"))
            col = 0
            for cell in tr:
                if cell.tag not in (T + "table-cell", T + "covered-table-cell"):
                    continue
                cols = int(cell.get(T + "number-columns-repeated", "1"))
                formula = cell.get(T + "formula")
                if formula:
                    value = lo_value(cell)
                    for r in range(row, row + min(rows, MAX_REPEAT)):
                        for c in range(col, col + min(cols, MAX_REPEAT)):
                            out[(name, r, c)] = (formula, value)
                col += cols
            row += rows
    return out


def stored_results(path):
    """{(sheet name, row, col): value} of every cell as xlrd reads it (cached results for formulas)."""
    book = xlrd.open_workbook(path, formatting_info=False)
    out = {}
    for sheet in book.sheets():
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_NUMBER or cell.ctype == xlrd.XL_CELL_DATE:
                    v = ("n", float(cell.value))
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    v = ("b", bool(cell.value))
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    v = ("e", xlrd.error_text_from_code.get(cell.value, "#ERR"))
                elif cell.ctype == xlrd.XL_CELL_TEXT:
                    v = ("s", cell.value)
                else:
                    v = ("s", "")
                out[(sheet.name, r, c)] = v
    return out


def as_number(text):
    return float(text) if NUMBER.match(text) else None


def same(a, b):
    """Equal as results: numbers to 1e-9 relative, booleans as 1/0 where one side lost its type, any two errors."""
    if a is None or b is None:
        return a is b
    ka, va = a
    kb, vb = b
    if ka == "e" or kb == "e":
        return ka == kb
    if ka == "b" and kb == "n" or ka == "n" and kb == "b":
        return float(va) == float(vb)
    if ka != kb:
        return False
    if ka == "n":
        return va == vb or abs(va - vb) <= 1e-11 * max(1.0, abs(va), abs(vb))
    if ka == "s" and va != vb:
        x, y = as_number(va), as_number(vb)
        return x is not None and y is not None and abs(x - y) <= 1e-12 * max(1.0, abs(x), abs(y))
    return va == vb


def read_report(path):
    evaluated, deferred = set(), {}
    if path and os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                parts = line.rstrip("\n").split("\t")
                if parts[0] == "evaluated":
                    evaluated.add((parts[1], int(parts[2]), int(parts[3])))
                elif parts[0] == "deferred":
                    deferred[(parts[1], int(parts[2]), int(parts[3]))] = parts[4]
    return evaluated, deferred


def convert(soffice, paths, work):
    """Every file to flat ODF in one LibreOffice start (most of the time taken); {path: fods or None}."""
    copies = {}
    for i, path in enumerate(paths):
        copy = os.path.join(work, "f%05d.xls" % i)
        shutil.copyfile(path, copy)
        copies[path] = copy
    subprocess.run([soffice, "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless",
                    "--convert-to", "fods", "--outdir", work] + list(copies.values()),
                   capture_output=True, timeout=600 + 10 * len(paths))
    out = {}
    for path, copy in copies.items():
        fods = copy[:-4] + ".fods"
        out[path] = fods if os.path.exists(fods) else None
    return out


def check_case(template, output, report, fods, problems, counts, strict):
    evaluated, deferred = read_report(report)
    lo_out = formula_results(fods[output])
    lo_tmpl = formula_results(fods[template]) if fods.get(template) else {}
    ours = stored_results(output)
    tmpl = stored_results(template)
    name = os.path.basename(output)
    for key, (formula, lo) in sorted(lo_out.items()):
        counts["formulas"] += 1
        mine = ours.get(key)
        if key in deferred:
            counts["deferred"] += 1
            continue
        if key not in evaluated and VOLATILE.search(formula):
            counts["volatile"] += 1
            continue
        if key in evaluated:
            counts["evaluated"] += 1
        if same(mine, lo):
            continue
        before = lo_tmpl.get(key, (None, None))[1]
        if key not in evaluated and same(mine, tmpl.get(key)) and same(before, lo):
            counts["template disagrees"] += 1
            continue
        if not strict and key in tmpl and before is not None and not same(tmpl[key], before):
            counts["LibreOffice differs from the template's writer"] += 1
            continue
        kind = "mismatch" if key in evaluated else "missed"
        counts[kind] += 1
        problems.append("%s %s!%s%d %s: ours %r, LibreOffice %r (template: stored %r, LibreOffice %r)" % (
            name, key[0], xlrd.colname(key[2]), key[1] + 1, kind, mine, lo, tmpl.get(key), before))


def main(argv):
    args = argv[1:]
    work = None
    batch = 40
    quiet = False
    strict = False
    while args and args[0].startswith("--"):
        if args[0] == "--strict":
            strict, args = True, args[1:]
            continue
        if args[0] == "--work":
            work, args = args[1], args[2:]
        elif args[0] == "--batch":
            batch, args = int(args[1]), args[2:]
        elif args[0] == "--quiet":
            quiet, args = True, args[1:]
        else:
            print(__doc__, file=sys.stderr)
            return 2
    if not args or len(args) % 3:
        print(__doc__, file=sys.stderr)
        return 2
    soffice = shutil.which("soffice")
    if not soffice:
        print("skipped: soffice not found (install libreoffice-calc-nogui)")
        return SKIP
    cases = [tuple(args[i:i + 3]) for i in range(0, len(args), 3)]
    own = work is None
    work = work or tempfile.mkdtemp(prefix="skov-lo-check-")
    problems = []
    counts = {k: 0 for k in ("formulas", "evaluated", "deferred", "volatile", "template disagrees",
                             "LibreOffice differs from the template's writer", "mismatch", "missed")}
    try:
        for start in range(0, len(cases), batch):
            chunk = cases[start:start + batch]
            sub = os.path.join(work, "b%04d" % (start // batch))
            os.makedirs(sub, exist_ok=True)
            fods = convert(soffice, sorted({p for t, o, _ in chunk for p in (t, o)}), sub)
            for template, output, report in chunk:
                if not fods.get(output):
                    problems.append("%s: LibreOffice did not read it" % output)
                    counts["mismatch"] += 1
                    continue
                check_case(template, output, report, fods, problems, counts, strict)
            if own:
                shutil.rmtree(sub, ignore_errors=True)
    finally:
        if own:
            shutil.rmtree(work, ignore_errors=True)
    for p in problems if not quiet else problems[:50]:
        print(p)
    print("; ".join("%s %d" % kv for kv in counts.items()))
    return 1 if counts["mismatch"] or counts["missed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
