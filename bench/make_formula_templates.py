#!/usr/bin/python3
"""Writes the bench templates of the formula case (LibreOffice converts them to .xls):
formulas_200.fods, 5 sheets with 40 formulas each that read the filled cells (200 due formulas per fill) as a
device list has them: two per data row (a running number, the device with its remark) and six totals below the
rows; formulas_0.fods, the same sheets with constants where those formulas stand; and formulas_wide.fods, 200
formulas that each read a whole row of fields or the whole list (COUNTA(E12:BB12), SUM(E11:BB28)), the costly kind.

    make_formula_templates.py DIR && soffice --headless --convert-to xls --outdir DIR DIR/formulas_*.fods
"""
import sys
from xml.sax.saxutils import escape


def formulas(n, wide=False):
    """{(row, col) from 0: OpenFormula} of sheet n: per data row two, below the rows the totals."""
    out = {}
    for r in range(12, 29):
        if wide:
            out[(r - 1, 56)] = 'COUNTA([.E%d:.BB%d])' % (r, r)
            out[(r - 1, 57)] = 'SUM([.E%d:.BB%d])' % (r, r)
        else:
            out[(r - 1, 56)] = 'IF([.B%d]="";"";ROW()-11)' % r
            out[(r - 1, 57)] = '[.B%d]&" / "&[.BC%d]' % (r, r)
    totals = ['COUNTA([.B11:.B28])', '[.V31]&" / "&[.AP33]', 'VALUE(TRIM([.BD33]))', 'COUNTIF([.B11:.B28];"P*")',
              'SUM([.E11:.BB28])' if wide else 'SUM([.BD35];[.BD37])', 'IF([.B28]="";"leer";[.B28])']
    if n > 1:
        totals[-1] = '[$Blatt1.BD35]+[.BD35]'
    for k, f in enumerate(totals):
        out[(34 + k, 55)] = f
    return out


def document(with_formulas, wide=False):
    tables = []
    for n in range(1, 6):
        rows = {}
        for (r, c), f in formulas(n, wide).items():
            rows.setdefault(r, {})[c] = f
        rows.setdefault(10, {})[1] = None
        xml, prev = ['<table:table table:name="Blatt%d">' % n], -1
        for r in sorted(rows):
            if r - prev > 1:
                xml.append('<table:table-row table:number-rows-repeated="%d"><table:table-cell/></table:table-row>'
                           % (r - prev - 1))
            cells, pc = [], -1
            for c in sorted(rows[r]):
                if c - pc > 1:
                    cells.append('<table:table-cell table:number-columns-repeated="%d"/>' % (c - pc - 1))
                f = rows[r][c]
                if f is None:
                    cells.append('<table:table-cell office:value-type="string"><text:p>alt</text:p></table:table-cell>')
                elif with_formulas:
                    cells.append('<table:table-cell table:formula="of:=%s"/>' % escape(f, {'"': "&quot;"}))
                else:
                    cells.append('<table:table-cell office:value-type="float" office:value="0"/>')
                pc = c
            xml.append("<table:table-row>%s</table:table-row>" % "".join(cells))
            prev = r
        xml.append("</table:table>")
        tables.append("".join(xml))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<office:document '
            'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
            'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.2" '
            'office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body><office:spreadsheet>'
            + "".join(tables) + "</office:spreadsheet></office:body></office:document>\n")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, with_formulas, wide in (("formulas_200", True, False), ("formulas_0", False, False),
                                      ("formulas_wide", True, True)):
        with open("%s/%s.fods" % (out, name), "w", encoding="utf-8") as f:
            f.write(document(with_formulas, wide))
