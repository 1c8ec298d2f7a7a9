#!/usr/bin/env python3
"""Writes the example template SKOV_IMPORT.fods (flat ODF): five device-list sheets."""
import sys
from xml.sax.saxutils import escape

LAST_COL = 56  # BD
LAST_ROW = 33


def col(name):
    n = 0
    for ch in name:
        n = n * 26 + ord(ch) - 64
    return n


def sheet(number):
    """(row, col) -> (text, style, colspan, rowspan)."""
    g = {}

    def put(addr_from, text, style, addr_to=None):
        r0, c0 = split(addr_from)
        r1, c1 = split(addr_to) if addr_to else (r0, c0)
        g[(r0, c0)] = (text, style, c1 - c0 + 1, r1 - r0 + 1)
        for r in range(r0, r1 + 1):
            for c in range(c0, c1 + 1):
                if (r, c) != (r0, c0):
                    g[(r, c)] = None  # covered by a merge

    put("B2", "SKOV Import DDC \u2013 Ger\u00e4teliste", "title", "AJ2")
    put("B4", "Datenpunkte je Ger\u00e4t, \u00fcbernommen aus der Zeichnung", "plain", "AJ4")
    put("AP4", "Blatt %d" % number, "bold", "BA4")
    put("E9", "Datenpunkte", "head", "BB9")
    put("B10", "Ger\u00e4t", "head")
    for n in range(1, 51):
        g[(10, 4 + n)] = (str(n), "head", 1, 1)
    put("BC10", "Bemerkung", "head")
    put("BD10", "", "head")
    for r in range(11, 29):
        for c in [2] + list(range(5, 56)):
            g[(r, c)] = ("", "grid", 1, 1)
    # Title block: values at V31 V32 V33 AP31 AP33 BC30 BC31 BD33.
    put("B30", "SKOV Import DDC", "logo", "P33")
    put("Q30", "Schriftfeld", "head", "BA30")
    for r, label in ((31, "Projekt"), (32, ""), (33, "")):
        put("Q%d" % r, label, "label", "U%d" % r)
        put("V%d" % r, "", "value", "AJ%d" % r)
    put("AK31", "Information", "label", "AO31")
    put("AP31", "", "value", "BA31")
    put("AK32", "", "label", "BA32")
    put("AK33", "Zeichnung", "label", "AO33")
    put("AP33", "", "value", "BA33")
    put("BB30", "Gewerk", "label")
    put("BC30", "", "value")
    put("BB31", "Anlage", "label")
    put("BC31", "", "value")
    put("BB32", "", "label", "BD32")
    put("BB33", "", "label")
    put("BC33", "Bl\u00e4tter gesamt", "label")
    put("BD33", "", "value")
    put("BD30", "", "label", "BD31")
    return g


def split(addr):
    i = next(i for i, ch in enumerate(addr) if ch.isdigit())
    return int(addr[i:]), col(addr[:i])


BORDER = 'fo:border="0.5pt solid #000000"'
STYLES = {
    "title": 'style:text-properties fo:font-size="14pt" fo:font-weight="bold"',
    "logo": 'style:text-properties fo:font-size="16pt" fo:font-weight="bold" fo:color="#0000ff"',
    "bold": 'style:text-properties fo:font-weight="bold"',
    "plain": None,
    "head": 'style:text-properties fo:font-weight="bold"',
    "label": 'style:text-properties fo:font-size="8pt"',
    "grid": None,
    "value": 'style:text-properties fo:font-weight="bold"',
}
BORDERED = {"head", "label", "grid", "value", "logo"}
CENTRED = {"head", "logo"}


def styles_xml():
    out = []
    widths = {1: "0.4cm", 2: "4.5cm", 3: "0.2cm", 4: "0.2cm", 55: "4.5cm", 56: "1.2cm"}
    for c in range(1, LAST_COL + 1):
        out.append('<style:style style:name="co%d" style:family="table-column">'
                   '<style:table-column-properties style:column-width="%s"/></style:style>'
                   % (c, widths.get(c, "0.55cm")))
    out.append('<style:style style:name="ro" style:family="table-row">'
               '<style:table-row-properties style:row-height="0.5cm"/></style:style>')
    for name, text in STYLES.items():
        cell = []
        if name in BORDERED:
            cell.append(BORDER)
        if name in CENTRED:
            cell.append('style:vertical-align="middle"')
        out.append('<style:style style:name="%s" style:family="table-cell">' % name)
        if cell:
            out.append('<style:table-cell-properties %s/>' % " ".join(cell))
        if name in CENTRED:
            out.append('<style:paragraph-properties fo:text-align="center"/>')
        if text:
            out.append('<%s/>' % text)
        out.append('</style:style>')
    return "\n".join(out)


def table_xml(number):
    g = sheet(number)
    out = ['<table:table table:name="Blatt%d">' % number]
    for c in range(1, LAST_COL + 1):
        out.append('<table:table-column table:style-name="co%d"/>' % c)
    for r in range(1, LAST_ROW + 1):
        out.append('<table:table-row table:style-name="ro">')
        for c in range(1, LAST_COL + 1):
            cell = g.get((r, c), ("", "plain", 1, 1))
            if cell is None:
                out.append('<table:covered-table-cell/>')
                continue
            text, style, cs, rs = cell
            attrs = ' table:style-name="%s"' % style
            if cs > 1 or rs > 1:
                attrs += ' table:number-columns-spanned="%d" table:number-rows-spanned="%d"' % (cs, rs)
            if text:
                out.append('<table:table-cell%s office:value-type="string"><text:p>%s</text:p></table:table-cell>'
                           % (attrs, escape(text)))
            else:
                out.append('<table:table-cell%s/>' % attrs)
        out.append('</table:table-row>')
    out.append('</table:table>')
    return "\n".join(out)


def main(path):
    doc = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"'
           ' xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"'
           ' xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"'
           ' xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"'
           ' xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"'
           ' office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">',
           '<office:automatic-styles>', styles_xml(),
           # A3 landscape, one page per sheet: how a device list is printed.
           '<style:page-layout style:name="pm1"><style:page-layout-properties'
           ' fo:page-width="42cm" fo:page-height="29.7cm" style:print-orientation="landscape"'
           ' fo:margin-top="1cm" fo:margin-bottom="1cm" fo:margin-left="1cm" fo:margin-right="1cm"'
           ' style:scale-to-pages="1"/></style:page-layout>',
           '</office:automatic-styles>',
           '<office:master-styles><style:master-page style:name="Default" style:page-layout-name="pm1"/>'
           '</office:master-styles>',
           '<office:body><office:spreadsheet>']
    for n in range(1, 6):
        doc.append(table_xml(n))
    doc.append('</office:spreadsheet></office:body></office:document>')
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(doc) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "SKOV_IMPORT.fods")
