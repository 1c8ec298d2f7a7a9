#!/usr/bin/python3
# Writes the xlwt_*.xls test templates: run with Debian's python3-xlwt.
import os
import sys

import xlwt

out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def bordered(bold=False, fmt=None, colour=None):
    st = xlwt.XFStyle()
    st.font.bold = bold
    b = xlwt.Borders()
    b.left = b.right = b.top = b.bottom = xlwt.Borders.THIN
    st.borders = b
    if fmt:
        st.num_format_str = fmt
    if colour is not None:
        p = xlwt.Pattern()
        p.pattern = xlwt.Pattern.SOLID_PATTERN
        p.pattern_fore_colour = colour
        st.pattern = p
    return st


def skov_template(path, sheets=5, hidden_extra=True):
    """A device-list template shaped like the real one: headings in rows 1-10,
    bordered data rows 11-28, a merged title block in rows 30-33."""
    wb = xlwt.Workbook(encoding="utf-8")
    head = bordered(bold=True, colour=22)
    cell = bordered()
    date = bordered(fmt="DD.MM.YYYY")
    num = bordered(fmt="0.00")
    title = bordered(bold=True)
    for s in range(1, sheets + 1):
        ws = wb.add_sheet("Blatt%d" % s)
        ws.set_portrait(False)
        ws.set_left_margin(0.4)
        ws.set_header_str(b"&LSKOV&RBlatt &P")
        ws.col(0).width = 800
        ws.col(1).width = 5000
        for c in range(4, 55):
            ws.col(c).width = 1200
        ws.write_merge(0, 1, 0, 20, "Geraeteliste Blatt %d" % s, title)
        for c in range(0, 56):
            ws.write(9, c, "Sp%d" % (c + 1) if c else "Nr", head)
        ws.row(9).height = 600
        for r in range(10, 28):
            for c in range(0, 56):
                if c == 4:
                    ws.write(r, c, None, date)
                elif c == 5:
                    ws.write(r, c, None, num)
                else:
                    ws.write(r, c, None, cell)
        ws.write_merge(29, 29, 0, 20, "Projekt", title)
        for r in range(30, 33):
            ws.write_merge(r, r, 21, 40, None, cell)
            ws.write_merge(r, r, 41, 53, None, cell)
        ws.write(29, 54, None, cell)
        ws.write(30, 54, None, cell)
        ws.write(32, 55, None, cell)
        ws.write(32, 54, "Blatt von", title)
    if hidden_extra:
        ws = wb.add_sheet("Hilfsblatt")
        ws.visibility = 1
        ws.write(0, 0, "versteckt")
        ws.write(1, 0, 42)
    wb.save(path)


def cell_kinds(path):
    """One sheet with every cell kind xlwt writes, each with its own format."""
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Zellen")
    styles = [bordered(fmt=f) for f in ("0.00", "DD.MM.YYYY", "@", "0%", "#,##0", "0.000")]
    ws.write(0, 0, "Text", styles[0])           # LABELSST
    ws.write(0, 1, 3.25, styles[1])             # NUMBER
    ws.write(0, 2, 7, styles[2])                # RK
    ws.write(0, 3, True, styles[3])             # BOOLERR
    ws.write(0, 4, None, styles[4])             # BLANK
    ws.write(0, 5, xlwt.Formula("B1*2"), styles[5])  # FORMULA
    for c in range(0, 8):                       # MULBLANK run of 8
        ws.write(1, c, None, styles[c % 6])
    ws.write(2, 0, "links", styles[0])
    ws.write(2, 5, "rechts", styles[1])
    row_style = bordered(fmt="0.0")
    ws.row(4).set_style(row_style)              # ROW with a default format
    ws.write(4, 0, "row styled")
    col_style = bordered(fmt="0.0000")
    ws.col(6).set_style(col_style)              # COLINFO with a format
    ws.write(5, 0, "x")
    wb.add_sheet("Leer")
    wb.save(path)


def long_sst(path):
    """An SST far beyond one record, with strings crossing record ends in
    both the 8-bit and the 16-bit form."""
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Lang")
    for i in range(400):
        if i % 3 == 0:
            s = ("Zeile %d " % i) * 9
        elif i % 3 == 1:
            s = ("\u00c4rger \u00fcber %d \u00df " % i) * 7
        else:
            s = ("\u0416\u20ac%d " % i) * 12
        ws.write(i, 0, s)
        ws.write(i, 1, i)
    wb.save(path)


def numbers_and_empty_sheets(path):
    """A template with no text at all (an empty string table): sheet 1 holds numbers, dates and
    bordered blanks, sheets 2-5 only their page setup and column widths (no cells)."""
    wb = xlwt.Workbook(encoding="utf-8")
    cell = bordered()
    num = bordered(fmt="0.00")
    date = bordered(fmt="DD.MM.YYYY")
    for s in range(1, 6):
        ws = wb.add_sheet("Blatt%d" % s)
        ws.set_portrait(False)
        ws.set_header_str(b"&LSKOV&RBlatt &P")
        ws.col(1).width = 5000
        for c in range(4, 55):
            ws.col(c).width = 1200
        if s > 1:
            continue
        for r in range(10, 28):
            ws.write(r, 0, r - 9, num)
            ws.write(r, 4, 45000 + r, date)
            for c in range(5, 56):
                ws.write(r, c, None, cell)
        ws.write_merge(30, 30, 21, 40, None, cell)
        ws.write(32, 55, 5, num)
    wb.save(path)


skov_template(os.path.join(out, "xlwt_template.xls"))
cell_kinds(os.path.join(out, "xlwt_cells.xls"))
long_sst(os.path.join(out, "xlwt_longsst.xls"))
numbers_and_empty_sheets(os.path.join(out, "xlwt_empty.xls"))
