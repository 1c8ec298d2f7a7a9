#!/usr/bin/python3
"""Writes the formula fixtures: templates shaped like SKOV_IMPORT.XLS whose formulas read the filled cells.

    make_formula_fixtures.py DIR        # lo_formulas.fods, gnumeric_formulas.gnumeric, xlwt_formulas.xls

then make_formula_fixtures.sh converts the first two with LibreOffice and gnumeric (xlwt writes its .xls itself,
with Debian's python3-xlwt). One list of formulas, in Excel's syntax, for all three writers: in and beside the fill
area, on several sheets, copied down rows (shared formulas where the writer makes them), through a defined name.
Each writer stores its own results; the template's values are not those of a fill, so every formula that depends on
a written cell shows a stale result until it is recalculated.
"""
import re
import sys
from xml.sax.saxutils import escape

SHEETS = 5

# (cell, formula) on Blatt1, beside the fill area and below it.
BLATT1 = [
    ("BD35", 'COUNTA(B11:B28)'),
    ("BD36", 'V31&" / "&V32'),
    ("BD37", 'VALUE(TRIM(BD33))'),
    ("BD38", 'SUM(E11:BB28)'),
    ("BD39", 'COUNTIF(B11:B28,"P*")'),
    ("BD40", 'IF(ISBLANK(B12),"leer",B12)'),
    ("BD41", 'SUMPRODUCT((B11:B28<>"")*1)'),
    ("BD42", 'INDEX(B11:B28,2)'),
    ("BD43", 'IF(ISERROR(MATCH("P2*",B11:B28,0)),0,MATCH("P2*",B11:B28,0))'),
    ("BD44", 'VLOOKUP("P1-Pumpe 1",B11:E28,4,FALSE)'),
    ("BD45", 'UPPER(LEFT(V31,3))&LEN(V32)'),
    ("BD46", 'BD35*2'),
    ("BD47", 'ROUND(AVERAGE(1,2,BD35),2)'),
    ("BD48", 'TEXT(BD35,"000")'),
    ("BD49", 'SUBSTITUTE(V31,"ü","ue")'),
    ("BD50", 'CONCATENATE(B11,"/",B12)'),
    ("BD51", 'COUNTBLANK(B11:B28)'),
    ("BD52", 'ROWS(B11:B28)+COLUMNS(B11:C28)'),
    ("BD53", 'MOD(BD35,3)+INT(-2.5)+ABS(-1)'),
    ("BD54", 'IF(AND(BD35>0,OR(BD35>100,BD35<100),NOT(BD35=0)),"ja","nein")'),
    ("BD55", 'IF(ISERROR(FIND("-",B11)),0,FIND("-",B11))+SEARCH("p",B11)'),
    ("BD56", 'MID(B11,2,3)&RIGHT(B11,2)&REPT("x",2)'),
    ("BD57", 'CHOOSE(2,"a",B11,"c")'),
    ("BD58", 'IF(ISNUMBER(E11),1,0)+IF(ISTEXT(E11),10,0)+IF(ISERROR(E11),100,0)'),
    ("BD59", 'MIN(BD35,7)+MAX(1,2)'),
    ("BD60", 'SUMIF(B11:B28,"P*",BF11:BF28)'),
    ("BD61", 'ROW()+COLUMN()'),
    ("BD62", 'LOWER(V32)'),
    ("BD63", 'COUNTA(Geraete)'),
    ("BD64", '1+1'),
    ("BD65", 'HLOOKUP(V31,V31:W32,2,FALSE)'),
    ("BD66", 'COUNT(E11:E28)'),
    ("BD67", 'IF(B11=B12,"gleich","ungleich")'),
    ("BD68", 'INDIRECT("B11")'),
    ("BD69", 'NOW()'),
    ("BD70", 'AP33&"-"&BC30&"-"&BC31'),
    ("BD71", 'ISBLANK(B28)'),
    ("BD72", 'B14&""'),
    ("BD73", 'IF(B11="","",1/0)'),
    ("BD74", 'E11+1'),
]
# Copied down the data rows: one formula per row, relative to it.
ROWS = [("BE", '{B}&"!"'), ("BF", 'IF({B}="","",ROW()-10)'), ("BG", 'COUNTA({E}:{BB})')]
# Later sheets: across sheets, and their own rows.
LATER = [
    ("A1", 'Blatt1!B11'),
    ("A2", 'COUNTA(Blatt1!B11:B28)+COUNTA(B12:B28)'),
    ("A3", 'Blatt1!BD35'),
    ("A4", 'Blatt1!BD36&"|"&V31'),
    ("BD35", 'COUNTA(B12:B28)'),
]
# The template's own values in the cells a fill writes: stale results everywhere.
OLD = {"B11": "alt", "B12": "alt2", "E11": 7, "V31": "xxx", "V32": "yyy", "BD33": " 5", "AP33": "ALT",
       "BC30": "Gewerk", "BC31": "Anlage"}


def col_number(letters):
    n = 0
    for ch in letters:
        n = n * 26 + ord(ch) - 64
    return n


def rc(a1):
    """(row, col) from 0 of an A1 address."""
    m = re.match(r"([A-Z]+)(\d+)$", a1)
    return int(m.group(2)) - 1, col_number(m.group(1)) - 1


def sheet_cells(n):
    """{(row, col): value or ('=', formula)} of sheet n (from 1), formulas in Excel's syntax."""
    cells = {}
    cells[rc("A1" if n > 1 else "B2")] = "Geräteliste Blatt %d" % n
    if n == 1:
        for a1, v in OLD.items():
            cells[rc(a1)] = v
        for a1, f in BLATT1:
            cells[rc(a1)] = ("=", f)
        for r in range(11, 29):
            for col, f in ROWS:
                cells[rc("%s%d" % (col, r))] = ("=", f.format(B="B%d" % r, E="E%d" % r, BB="BB%d" % r))
    else:
        cells[rc("B12")] = "alt"
        for a1, f in LATER:
            cells[rc(a1)] = ("=", f)
        for r in range(12, 29):
            cells[rc("BE%d" % r)] = ("=", 'B%d&"?"' % r)
    return cells


# ---- LibreOffice: flat ODF with OpenFormula ----------------------------------

REF = re.compile(r'"[^"]*"|(?:([A-Za-z][A-Za-z0-9]*)!)?(\$?[A-Z]{1,3}\$?\d+)(?::(\$?[A-Z]{1,3}\$?\d+))?|,')


def to_openformula(f):
    def sub(m):
        text = m.group(0)
        if text.startswith('"'):
            return text
        if text == ",":
            return ";"
        sheet, a, b = m.groups()
        first = ("$%s." % sheet if sheet else ".") + a
        return "[%s%s]" % (first, ":." + b if b else "")
    return REF.sub(sub, f)


def fods(path):
    def cell(v):
        if v is None:
            return '<table:table-cell/>'
        if isinstance(v, tuple):
            return '<table:table-cell table:formula="of:=%s"/>' % escape(to_openformula(v[1]), {'"': "&quot;"})
        if isinstance(v, (int, float)):
            return '<table:table-cell office:value-type="float" office:value="%s"/>' % v
        return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % escape(v)

    tables = []
    for n in range(1, SHEETS + 1):
        rows = {}
        for (r, c), v in sheet_cells(n).items():
            rows.setdefault(r, {})[c] = v
        out, prev = ['<table:table table:name="Blatt%d">' % n], -1
        for r in sorted(rows):
            if r - prev > 1:
                out.append('<table:table-row table:number-rows-repeated="%d"><table:table-cell/></table:table-row>'
                           % (r - prev - 1))
            xs, pc = [], -1
            for c in sorted(rows[r]):
                if c - pc > 1:
                    xs.append('<table:table-cell table:number-columns-repeated="%d"/>' % (c - pc - 1))
                xs.append(cell(rows[r][c]))
                pc = c
            out.append("<table:table-row>%s</table:table-row>" % "".join(xs))
            prev = r
        out.append("</table:table>")
        tables.append("".join(out))
    names = ('<table:named-expressions><table:named-range table:name="Geraete" table:base-cell-address="$Blatt1.$A$1"'
             ' table:cell-range-address="$Blatt1.$B$11:.$B$28"/></table:named-expressions>')
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<office:document '
                'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
                'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
                'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
                'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.2" '
                'office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body><office:spreadsheet>'
                + "".join(tables) + names + "</office:spreadsheet></office:body></office:document>\n")


# ---- gnumeric XML -------------------------------------------------------------

def gnumeric(path):
    sheets = []
    for n in range(1, SHEETS + 1):
        cells = []
        for (r, c), v in sorted(sheet_cells(n).items()):
            if isinstance(v, tuple):
                cells.append('<gnm:Cell Row="%d" Col="%d">=%s</gnm:Cell>' % (r, c, escape(v[1])))
            elif isinstance(v, (int, float)):
                cells.append('<gnm:Cell Row="%d" Col="%d" ValueType="40">%s</gnm:Cell>' % (r, c, v))
            else:
                cells.append('<gnm:Cell Row="%d" Col="%d" ValueType="60">%s</gnm:Cell>' % (r, c, escape(v)))
        sheets.append('<gnm:Sheet><gnm:Name>Blatt%d</gnm:Name><gnm:MaxCol>-1</gnm:MaxCol><gnm:MaxRow>-1</gnm:MaxRow>'
                      '<gnm:Cells>%s</gnm:Cells></gnm:Sheet>' % (n, "".join(cells)))
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<gnm:Workbook xmlns:gnm="http://www.gnumeric.org/v10.dtd">'
                '<gnm:Names><gnm:Name><gnm:name>Geraete</gnm:name><gnm:value>Blatt1!$B$11:$B$28</gnm:value>'
                '<gnm:position>A1</gnm:position></gnm:Name></gnm:Names>'
                '<gnm:SheetNameIndex>%s</gnm:SheetNameIndex><gnm:Sheets>%s</gnm:Sheets></gnm:Workbook>\n'
                % ("".join("<gnm:SheetName>Blatt%d</gnm:SheetName>" % n for n in range(1, SHEETS + 1)),
                   "".join(sheets)))


# ---- xlwt: no defined names, no SUMPRODUCT array operands ---------------------

XLWT_SKIPPED = {"COUNTA(Geraete)", 'SUMPRODUCT((B11:B28<>"")*1)'}
# Debian's xlwt 1.3 fails on IF and CHOOSE under Python 3 (their jump tokens).
XLWT_BROKEN = re.compile(r"(?<![A-Z])(IF|CHOOSE)\(")


def xlwt_book(path):
    import xlwt
    wb = xlwt.Workbook(encoding="utf-8")
    for n in range(1, SHEETS + 1):
        ws = wb.add_sheet("Blatt%d" % n)
        for (r, c), v in sorted(sheet_cells(n).items()):
            if isinstance(v, tuple):
                if v[1] not in XLWT_SKIPPED and not XLWT_BROKEN.search(v[1]):
                    ws.write(r, c, xlwt.Formula(v[1]))
            else:
                ws.write(r, c, v)
    wb.save(path)


def main(argv):
    out = argv[1] if len(argv) > 1 else "."
    fods(out + "/lo_formulas.fods")
    gnumeric(out + "/gnumeric_formulas.gnumeric")
    try:
        xlwt_book(out + "/xlwt_formulas.xls")
    except ImportError:
        print("python3-xlwt missing: xlwt_formulas.xls not made", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
