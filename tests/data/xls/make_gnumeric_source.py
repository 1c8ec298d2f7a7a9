#!/usr/bin/python3
"""Writes gnumeric_template.gnumeric, the gnumeric XML source of the gnumeric fixture."""
import sys
from xml.sax.saxutils import escape, quoteattr

BOX = ('<gnm:StyleBorder><gnm:Top Style="1" Color="0:0:0"/><gnm:Bottom Style="1" Color="0:0:0"/>'
       '<gnm:Left Style="1" Color="0:0:0"/><gnm:Right Style="1" Color="0:0:0"/></gnm:StyleBorder>')


def style(region, fmt="General", bold=False, box=False, size=10, back=None):
    c1, r1, c2, r2 = region
    shade = '1' if back else '0'
    return (f'<gnm:StyleRegion startCol="{c1}" startRow="{r1}" endCol="{c2}" endRow="{r2}">'
            f'<gnm:Style HAlign="GNM_HALIGN_GENERAL" VAlign="GNM_VALIGN_BOTTOM" WrapText="0" ShrinkToFit="0" '
            f'Rotation="0" Shade="{shade}" Indent="0" Locked="1" Hidden="0" Fore="0:0:0" '
            f'Back="{back or "FFFF:FFFF:FFFF"}" PatternColor="0:0:0" Format={quoteattr(fmt)}>'
            f'<gnm:Font Unit="{size}" Bold="{1 if bold else 0}" Italic="0" Underline="0" StrikeThrough="0" '
            f'Script="0">Arial</gnm:Font>{BOX if box else ""}</gnm:Style></gnm:StyleRegion>')


def cells_xml(cells):
    out = []
    for (r, c), v in sorted(cells.items()):
        if isinstance(v, bool):
            out.append(f'<gnm:Cell Row="{r}" Col="{c}" ValueType="20">{"TRUE" if v else "FALSE"}</gnm:Cell>')
        elif isinstance(v, (int, float)):
            out.append(f'<gnm:Cell Row="{r}" Col="{c}" ValueType="40">{v}</gnm:Cell>')
        elif v.startswith("="):
            out.append(f'<gnm:Cell Row="{r}" Col="{c}">{escape(v)}</gnm:Cell>')
        else:
            out.append(f'<gnm:Cell Row="{r}" Col="{c}" ValueType="60">{escape(v)}</gnm:Cell>')
    return "<gnm:Cells>" + "".join(out) + "</gnm:Cells>"


def sheet_xml(name, cells, styles, merges=(), cols="", rows="", hidden=False, objects=""):
    vis = {False: "GNM_SHEET_VISIBILITY_VISIBLE", True: "GNM_SHEET_VISIBILITY_HIDDEN",
           "very": "GNM_SHEET_VISIBILITY_VERY_HIDDEN"}[hidden]
    return (f'<gnm:Sheet DisplayFormulas="0" HideZero="0" HideGrid="0" HideColHeader="0" HideRowHeader="0" '
            f'DisplayOutlines="1" OutlineSymbolsBelow="1" OutlineSymbolsRight="1" Visibility="{vis}" GridColor="0:0:0">'
            f'<gnm:Name>{escape(name)}</gnm:Name><gnm:MaxCol>-1</gnm:MaxCol><gnm:MaxRow>-1</gnm:MaxRow><gnm:Zoom>1</gnm:Zoom>'
            '<gnm:PrintInformation><gnm:orientation>landscape</gnm:orientation><gnm:paper>iso_a4</gnm:paper></gnm:PrintInformation>'
            f'<gnm:Styles>{"".join(styles)}</gnm:Styles>{cols}{rows}'
            + ("<gnm:MergedRegions>" + "".join(f"<gnm:Merge>{m}</gnm:Merge>" for m in merges) + "</gnm:MergedRegions>"
               if merges else "")
            + objects + cells_xml(cells) + "</gnm:Sheet>")


def worksheet(n, hidden=False):
    cells = {(0, 0): "Geräteliste Anlage %d (gnumeric)" % n}
    cells[(7, 1)] = "Gerät"
    for k in range(1, 51):
        cells[(7, 3 + k)] = "Feld %d" % k
        cells[(9, 3 + k)] = k
    cells[(7, 54)] = "Bemerkung"
    for r in range(10, 28):
        cells[(r, 0)] = "=ROW()-10"
        cells[(r, 56)] = r * 0.25
    cells[(10, 4)] = 2.5
    cells[(11, 5)] = 45366  # a date serial under a date format
    cells[(12, 6)] = "=E11*2"
    cells[(13, 7)] = True
    cells[(14, 8)] = "Text in der Vorlage"
    cells[(15, 1)] = "Pumpe-P%d" % n
    cells[(30, 21)] = "Projekt (Vorlage)"
    cells[(30, 41)] = "Info (Vorlage)"
    cells[(32, 41)] = "ZEICHNUNG"
    cells[(29, 54)] = "Gewerk"
    cells[(32, 54)] = "Blatt"
    cells[(32, 55)] = 1
    styles = [
        style((0, 0, 11, 0), bold=True, size=14),
        style((1, 7, 54, 9), bold=True, box=True, back="D9D9:D9D9:D9D9"),
        style((1, 10, 54, 27), box=True),
        style((4, 10, 4, 10), fmt="0.00", box=True),
        style((5, 11, 5, 11), fmt="dd.mm.yyyy", box=True),
        style((21, 29, 55, 32), bold=True, box=True),
    ]
    merges = ["A1:L1", "V31:AO31", "V32:AO32", "V33:AO33", "AP31:BB32", "AP33:BB33", "BC30:BD30", "BC31:BD32"]
    cols = ('<gnm:Cols DefaultSizePts="48"><gnm:ColInfo No="0" Unit="20"/><gnm:ColInfo No="1" Unit="120"/>'
            '<gnm:ColInfo No="2" Unit="12" Count="2"/><gnm:ColInfo No="4" Unit="30" Count="50"/>'
            '<gnm:ColInfo No="54" Unit="130"/></gnm:Cols>')
    rows = ('<gnm:Rows DefaultSizePts="12.75"><gnm:RowInfo No="7" Unit="30"/>'
            '<gnm:RowInfo No="29" Unit="20" Count="4"/></gnm:Rows>')
    return sheet_xml("Blatt%d" % n, cells, styles, merges, cols, rows, hidden=hidden)


CHART = """<gnm:Objects><gnm:SheetObjectGraph ObjectBound="A1:J20" ObjectOffset="0 0 0 0" ObjectAnchorType="16 16 16 16" Direction="17">
<GogObject type="GogGraph"><GogObject role="Chart" type="GogChart">
<GogObject role="Plot" type="GogBarColPlot"><property name="horizontal">FALSE</property>
<GogObject role="Series"><data>
<dimension id="0" type="GnmGODataVector">Blatt1!$A$11:$A$20</dimension>
<dimension id="1" type="GnmGODataVector">Blatt1!$BE$11:$BE$20</dimension>
</data></GogObject></GogObject>
<GogObject role="X-Axis" type="GogAxis"/><GogObject role="Y-Axis" type="GogAxis"/>
</GogObject></GogObject></gnm:SheetObjectGraph></gnm:Objects>"""


def main(outdir):
    hidden = {(r, 0): "Eintrag %d – Größe äöü" % r for r in range(40)}
    hidden.update({(r, 1): "Ключ %d" % r for r in range(40)})
    names = [("Blatt1", ""), ("Blatt2", ""), ("Diagramm", ' gnm:SheetType="object"'), ("Blatt3", ""),
             ("Blatt4", ""), ("Blatt5", ""), ("Hilfsdaten", "")]
    sheets = [worksheet(1), worksheet(2),
              sheet_xml("Diagramm", {}, [], objects=CHART).replace("<gnm:Sheet ", '<gnm:Sheet gnm:SheetType="object" ', 1),
              worksheet(3), worksheet(4, hidden=True), worksheet(5),  # a hidden sheet among the five: filling shows it
              sheet_xml("Hilfsdaten", hidden, [style((0, 0, 1, 39))], hidden="very")]
    doc = ('<?xml version="1.0" encoding="UTF-8"?>\n'
           '<gnm:Workbook xmlns:gnm="http://www.gnumeric.org/v10.dtd">'
           '<gnm:Version Epoch="1" Major="12" Minor="55" Full="1.12.55"/>'
           '<gnm:SheetNameIndex>'
           + "".join(f'<gnm:SheetName{attr} gnm:Cols="256" gnm:Rows="65536">{n}</gnm:SheetName>' for n, attr in names)
           + '</gnm:SheetNameIndex><gnm:Sheets>' + "".join(sheets) + '</gnm:Sheets></gnm:Workbook>\n')
    with open(outdir + "/gnumeric_template.gnumeric", "w", encoding="utf-8") as f:
        f.write(doc)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
