#!/usr/bin/python3
"""Writes the flat-ODF sources of the LibreOffice template fixtures (lo_*.fods)."""
import base64
import random
import struct
import sys
import zlib
from xml.sax.saxutils import escape

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
      'xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" '
      'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:dc="http://purl.org/dc/elements/1.1/" '
      'office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet"')

BORDER = 'fo:border="0.74pt solid #000000"'

STYLES = f"""
 <office:styles>
  <style:default-style style:family="table-cell">
   <style:text-properties style:font-name="Arial" fo:font-size="10pt"/>
  </style:default-style>
 </office:styles>
 <office:automatic-styles>
  <number:number-style style:name="N2"><number:number number:decimal-places="2" number:min-decimal-places="2" number:min-integer-digits="1"/></number:number-style>
  <number:date-style style:name="D1"><number:day number:style="long"/><number:text>.</number:text><number:month number:style="long"/><number:text>.</number:text><number:year number:style="long"/></number:date-style>
  <style:style style:name="co_a" style:family="table-column"><style:table-column-properties style:column-width="0.8cm"/></style:style>
  <style:style style:name="co_b" style:family="table-column"><style:table-column-properties style:column-width="4.5cm"/></style:style>
  <style:style style:name="co_n" style:family="table-column"><style:table-column-properties style:column-width="0.5cm"/></style:style>
  <style:style style:name="co_f" style:family="table-column"><style:table-column-properties style:column-width="1.1cm"/></style:style>
  <style:style style:name="co_bc" style:family="table-column"><style:table-column-properties style:column-width="5cm"/></style:style>
  <style:style style:name="ro_std" style:family="table-row"><style:table-row-properties style:row-height="0.45cm" style:use-optimal-row-height="false"/></style:style>
  <style:style style:name="ro_head" style:family="table-row"><style:table-row-properties style:row-height="1.2cm" style:use-optimal-row-height="false"/></style:style>
  <style:style style:name="ro_title" style:family="table-row"><style:table-row-properties style:row-height="0.7cm" style:use-optimal-row-height="false"/></style:style>
  <style:style style:name="ta1" style:family="table" style:master-page-name="Quer"><style:table-properties table:display="true"/></style:style>
  <style:style style:name="ta_hidden" style:family="table" style:master-page-name="Quer"><style:table-properties table:display="false"/></style:style>
  <style:style style:name="ce_big" style:family="table-cell"><style:text-properties fo:font-size="16pt" fo:font-weight="bold"/></style:style>
  <style:style style:name="ce_head" style:family="table-cell"><style:table-cell-properties {BORDER} fo:background-color="#d9d9d9" fo:wrap-option="wrap"/><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="ce_box" style:family="table-cell"><style:table-cell-properties {BORDER}/></style:style>
  <style:style style:name="ce_num" style:family="table-cell" style:data-style-name="N2"><style:table-cell-properties {BORDER}/></style:style>
  <style:style style:name="ce_date" style:family="table-cell" style:data-style-name="D1"><style:table-cell-properties {BORDER}/></style:style>
  <style:style style:name="ce_title" style:family="table-cell"><style:table-cell-properties {BORDER} style:vertical-align="middle"/><style:text-properties fo:font-size="12pt" fo:font-weight="bold"/></style:style>
  <style:style style:name="ce_label" style:family="table-cell"><style:table-cell-properties {BORDER}/><style:text-properties fo:font-size="8pt" fo:font-style="italic"/></style:style>
  <style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold" fo:color="#c00000"/></style:style>
  <style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>
  <style:style style:name="gr1" style:family="graphic"><style:graphic-properties draw:stroke="none" draw:fill="none"/></style:style>
  <style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="29.7cm" fo:page-height="21cm" style:print-orientation="landscape" fo:margin-top="1cm" fo:margin-bottom="1cm" fo:margin-left="1.5cm" fo:margin-right="1cm"/></style:page-layout>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Quer" style:page-layout-name="pm1"/>
 </office:master-styles>
"""

LAST_COL = 58  # columns A..BF (1-based 58 = BF)


def col_index(name):
    n = 0
    for ch in name:
        n = n * 26 + ord(ch) - 64
    return n


def cell(value=None, style=None, span=1, rows=1):
    """One table cell; value is str, float/int, bool, ('date', iso) or ('f', formula, cached)."""
    attrs = []
    if style:
        attrs.append(f'table:style-name="{style}"')
    if span > 1:
        attrs.append(f'table:number-columns-spanned="{span}"')
    if rows > 1:
        attrs.append(f'table:number-rows-spanned="{rows}"')
    body = ""
    if isinstance(value, bool):
        attrs.append(f'office:value-type="boolean" office:boolean-value="{"true" if value else "false"}"')
        body = f"<text:p>{'WAHR' if value else 'FALSCH'}</text:p>"
    elif isinstance(value, (int, float)):
        attrs.append(f'office:value-type="float" office:value="{value}"')
        body = f"<text:p>{value}</text:p>"
    elif isinstance(value, tuple) and value[0] == "date":
        attrs.append(f'office:value-type="date" office:date-value="{value[1]}"')
        body = f"<text:p>{value[1]}</text:p>"
    elif isinstance(value, tuple) and value[0] == "f":
        attrs.append(f'table:formula="of:={escape(value[1], {chr(34): "&quot;"})}"')
        cached = value[2]
        if isinstance(cached, str):
            attrs.append('office:value-type="string"')
            body = f"<text:p>{escape(cached)}</text:p>"
        else:
            attrs.append(f'office:value-type="float" office:value="{cached}"')
            body = f"<text:p>{cached}</text:p>"
    elif isinstance(value, str):
        attrs.append('office:value-type="string"')
        body = f"<text:p>{escape(value)}</text:p>"
    return f"<table:table-cell {' '.join(attrs)}>{body}</table:table-cell>"


def logo_png(width=96, height=48):
    """A noisy little logo: it barely compresses, so the drawing group needs CONTINUE records."""
    rnd = random.Random(3)
    raw = b"".join(b"\0" + bytes(rnd.randrange(256) if (x + y) % 7 else 40 for x in range(width * 3))
                   for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def logo_cell(sheet):
    """A cell carrying the logo picture, anchored to it as a user's template would have it."""
    data = base64.b64encode(logo_png()).decode("ascii")
    return ('<table:table-cell><draw:frame draw:z-index="0" draw:name="Logo" draw:style-name="gr1" '
            f'svg:width="3cm" svg:height="1.5cm" svg:x="0.1cm" svg:y="0.1cm" table:end-cell-address="{sheet}.Q2" '
            'table:end-x="0.5cm" table:end-y="0.2cm"><draw:image><office:binary-data>' + data
            + '</office:binary-data></draw:image></draw:frame></table:table-cell>')


def rich_cell(parts, style="ce_box", note=None):
    """A string cell whose text has formatting runs: parts are (text, text style or None)."""
    body = "".join(escape(t) if st is None else f'<text:span text:style-name="{st}">{escape(t)}</text:span>'
                   for t, st in parts)
    annotation = ""
    if note:
        annotation = (f'<office:annotation><dc:creator>Vorlage</dc:creator><dc:date>2024-01-02T03:04:05</dc:date>'
                      f'<text:p>{escape(note)}</text:p></office:annotation>')
    return (f'<table:table-cell table:style-name="{style}" office:value-type="string">{annotation}'
            f'<text:p>{body}</text:p></table:table-cell>')


def noted_cell(note, style="ce_box"):
    """An empty cell carrying only a comment."""
    return (f'<table:table-cell table:style-name="{style}"><office:annotation><dc:creator>Vorlage</dc:creator>'
            f'<dc:date>2024-01-02T03:04:05</dc:date><text:p>{escape(note)}</text:p></office:annotation></table:table-cell>')


def covered(n):
    return "<table:covered-table-cell/>" * n if n == 1 else f'<table:covered-table-cell table:number-columns-repeated="{n}"/>'


def row_xml(cells, style="ro_std"):
    """cells: {col (1-based): xml}, spanned cells already followed by their covered cells."""
    out = [f'<table:table-row table:style-name="{style}">']
    col = 1
    pending, count = None, 0
    for c in sorted(cells):
        xml, width = cells[c]
        if c > col or xml != pending or width != 1:
            if pending is not None:
                out.append(repeated(pending, count))
                pending = None
            if c > col:
                out.append(f'<table:table-cell table:number-columns-repeated="{c - col}"/>')
        if width == 1:
            if pending == xml:
                count += 1
            else:
                pending, count = xml, 1
        else:
            out.append(xml)
        col = c + width
    if pending is not None:
        out.append(repeated(pending, count))
    out.append("</table:table-row>")
    return "".join(out)


def repeated(xml, count):
    """Runs of equal cells as one repeated cell, as LibreOffice itself saves them."""
    if count == 1:
        return xml
    return xml.replace("<table:table-cell ", f'<table:table-cell table:number-columns-repeated="{count}" ', 1)


def put(cells, col, value=None, style=None, span=1, rows=1):
    xml = cell(value, style, span, rows) + (covered(span - 1) if span > 1 else "")
    cells[col] = (xml, span)


def covered_row(cells, col, span, style=None):
    """A row inside a vertical merge: the covered cells of the merge."""
    cells[col] = (covered(span), span)


def columns_xml():
    parts = ['<table:table-column table:style-name="co_a"/>', '<table:table-column table:style-name="co_b"/>',
             '<table:table-column table:style-name="co_n" table:number-columns-repeated="2"/>',
             '<table:table-column table:style-name="co_f" table:number-columns-repeated="50"/>',
             '<table:table-column table:style-name="co_bc"/>',
             '<table:table-column table:style-name="co_f" table:number-columns-repeated="3"/>']
    return "".join(parts)


def worksheet(n, rich):
    rows = []
    c = {}
    put(c, 1, "Geräteliste – Anlage %d" % n, "ce_big", span=12)
    if n == 1 or rich:
        c[13] = (logo_cell("Blatt%d" % n), 1)
    rows.append(row_xml(c, "ro_head"))
    c = {}
    put(c, 2, "Erstellt mit LibreOffice; Spalten 1–50 = Felder der Importdatei")
    rows.append(row_xml(c))
    rows.append('<table:table-row table:style-name="ro_std" table:number-rows-repeated="5"><table:table-cell/></table:table-row>')
    # Rows 8-10: headings.
    c = {}
    put(c, 2, "Gerät", "ce_head")
    for k in range(1, 51):
        put(c, 4 + k, "Feld %d" % k, "ce_head")
    put(c, 55, "Bemerkung", "ce_head")
    rows.append(row_xml(c, "ro_head"))
    c = {}
    put(c, 2, "Bezeichnung", "ce_head")
    for k in range(1, 51):
        put(c, 4 + k, ["m³/h", "°C", "%", "bar", "kW"][k % 5], "ce_head")
    put(c, 55, "Text", "ce_head")
    rows.append(row_xml(c))
    c = {}
    put(c, 1, "Nr", "ce_head")
    put(c, 2, 0, "ce_head")
    for k in range(1, 51):
        put(c, 4 + k, k, "ce_head")
    put(c, 55, 55, "ce_head")
    rows.append(row_xml(c))
    # Rows 11-28: data rows with boxes; some cells hold values that filling overwrites.
    for r in range(11, 29):
        c = {}
        put(c, 1, ("f", "ROW()-10", r - 10), "ce_box")
        put(c, 2, None, "ce_box")
        for k in range(1, 51):
            put(c, 4 + k, None, "ce_box")
        put(c, 55, None, "ce_box")
        put(c, 57, r * 1.5)
        put(c, 58, r % 2 == 0)
        if n == 1 or rich:
            if r == 11:
                put(c, 5, 3.14159, "ce_num")
            if r == 12:
                put(c, 6, ("date", "2024-03-15"), "ce_date")
            if r == 13:
                put(c, 7, ("f", "[.E11]*2", 6.28318), "ce_num")
            if r == 14:
                put(c, 8, True, "ce_box")
            if r == 15:
                put(c, 9, "alter Text", "ce_box")
                put(c, 2, "Pumpe-P1", "ce_box")
            if r == 16:
                put(c, 10, "Ölpumpe " * 40, "ce_box")
            if r == 17:
                put(c, 11, ("f", "\"Summe \"&[.E11]", "Summe 3.14159"), "ce_box")
            if r == 18:
                put(c, 12, 42, "ce_box")
                put(c, 55, 7.25, "ce_num")
            if r >= 20:
                put(c, 52, ("f", "[.AY%d]+1" % r, 1), "ce_box")  # AZ20:AZ28 filled down
                put(c, 51, 0 if r > 20 else ("f", "1-1", 0), "ce_box")
            if r == 19:
                put(c, 13, ("f", "1/0", 0), "ce_box")
            if r == 21:  # rich text, overwritten in E, kept in BD
                c[5] = (rich_cell([("Rich ", None), ("fett", "T1"), (" Text", "T2")]), 1)
                c[56] = (rich_cell([("bleibt ", None), ("so", "T1")], style=None), 1)
            if r == 22:  # comments on a cell that is overwritten and on one that is not
                c[6] = (noted_cell("Kommentar auf einem Zielfeld"), 1)
                c[56] = (rich_cell([("mit Kommentar", None)], style=None, note="Kommentar bleibt – äöü"), 1)
        rows.append(row_xml(c))
    rows.append('<table:table-row table:style-name="ro_std"><table:table-cell/></table:table-row>')
    # Rows 30-33: the title block with merged areas.
    v, ap, bc, bd = col_index("V"), col_index("AP"), col_index("BC"), col_index("BD")
    c = {}
    put(c, 2, "Projekt", "ce_label")
    put(c, v, "Projekt", "ce_label", span=ap - v)
    put(c, ap, "Info / Zeichnung", "ce_label", span=bc - ap)
    put(c, bc, "Gewerk alt", "ce_title", span=2)
    rows.append(row_xml(c, "ro_title"))
    c = {}
    put(c, v, "Projektzeile 1 (Vorlage)", "ce_title", span=ap - v)
    put(c, ap, 12345, "ce_title", span=bc - ap, rows=2)
    put(c, bc, "Anlage alt", "ce_title", span=2, rows=2)
    rows.append(row_xml(c, "ro_title"))
    c = {}
    put(c, v, None, "ce_title", span=ap - v)
    covered_row(c, ap, bc - ap)
    covered_row(c, bc, 2)
    rows.append(row_xml(c, "ro_title"))
    c = {}
    put(c, v, ("f", "\"Projekt \"&[.AP31]", "Projekt 12345"), "ce_title", span=ap - v)
    put(c, ap, "ZEICHNUNG.DWG", "ce_title", span=bc - ap)
    put(c, bc, "Blatt", "ce_label")
    put(c, bd, 1, "ce_title")
    rows.append(row_xml(c, "ro_title"))
    c = {}
    put(c, 2, "Vorlage SKOV_IMPORT – unveränderlicher Fuß")
    rows.append(row_xml(c))
    rows.append('<table:table-row table:style-name="ro_std" table:number-rows-repeated="5"><table:table-cell/></table:table-row>')
    # Row 40 formatted as a whole: new cells there take the row's format.
    rows.append('<table:table-row table:style-name="ro_std" table:default-cell-style-name="ce_box">'
                '<table:table-cell table:style-name="ce_box" table:number-columns-repeated="16384"/></table:table-row>')
    return (f'<table:table table:name="Blatt{n}" table:style-name="ta1" '
            f'table:print-ranges="Blatt{n}.A1:Blatt{n}.BD34">' + columns_xml()
            + "".join(rows) + "</table:table>")


def word_list():
    """Enough distinct strings for several CONTINUE records, some 16-bit, some crossing a boundary."""
    words = []
    greek = "Αντλία θερμότητας"
    cyr = "Насос отопления"
    for i in range(420):
        kind = i % 6
        if kind == 0:
            words.append("Datenpunkt %04d Lüftung Größe" % i)
        elif kind == 1:
            words.append("%s %d" % (greek, i))
        elif kind == 2:
            words.append("%s №%d" % (cyr, i))
        elif kind == 3:
            words.append(("Langer Text %d " % i) * 12)
        elif kind == 4:
            words.append("Ventil %d € Straße" % i)
        else:
            words.append(("Mischtext %d äöü ΑΒΓ " % i) * 8)
    return words


def hidden_sheet():
    rows = []
    words = word_list()
    for i in range(0, len(words), 3):
        c = {}
        for j, w in enumerate(words[i:i + 3]):
            put(c, 1 + j, w)
        put(c, 5, i)
        if i % 9 == 0:  # long rich strings, so that formatting runs meet the CONTINUE boundaries
            c[6] = (rich_cell([("Formatiert %d " % i, None), ("Größe " * 30, "T1"), ("Ωμέγα " * 10, "T2"),
                               (" Ende", None)], style=None), 1)
        rows.append(row_xml(c))
    return '<table:table table:name="Listen" table:style-name="ta_hidden">' + "".join(rows) + "</table:table>"


def document(sheets):
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {NS}>{STYLES}'
            '<office:body><office:spreadsheet>' + "".join(sheets)
            + '</office:spreadsheet></office:body></office:document>\n')


def main(outdir):
    # The realistic template: five worksheets, then a hidden one holding a long string table.
    with open(outdir + "/lo_template.fods", "w", encoding="utf-8") as f:
        f.write(document([worksheet(n, n == 3) for n in range(1, 6)] + [hidden_sheet()]))
    # The plain one: five bare worksheets, so every written cell is new.
    bare = ['<table:table table:name="T%d" table:style-name="ta1"><table:table-row>'
            '<table:table-cell office:value-type="string"><text:p>Vorlage %d</text:p></table:table-cell>'
            '</table:table-row></table:table>' % (n, n) for n in range(1, 6)]
    with open(outdir + "/lo_plain.fods", "w", encoding="utf-8") as f:
        f.write(document(bare))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
