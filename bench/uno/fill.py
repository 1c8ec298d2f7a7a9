#!/usr/bin/python3
"""The comparison fill done by LibreOffice headless through UNO.

fill.py TEMPLATE OUTDIR IMPORTFILE... : starts soffice once, then per file
loads the template, writes the same cells as strings, stores it as
"MS Excel 97". Prints "name nanoseconds" per file.
"""
import os
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def fields(line):
    out = []
    for f in line.split(";"):
        if not f:
            break
        out.append(f[1:-1] if len(f) >= 2 else "")
    return out


TITLE = [("PROJEKT1", 31, 22), ("PROJEKT2", 32, 22), ("PROJEKT3", 33, 22), ("INFO1", 31, 42),
         ("DWGNME", 33, 42), ("GEWERK1", 30, 55), ("ANLAGE1", 31, 55)]


def put(sheet, row, col, value):
    sheet.getCellByPosition(col - 1, row - 1).setString(value)


def title(sheet, index, d, drawing):
    for key, row, col in TITLE:
        if key in index:
            put(sheet, row, col, drawing if key == "DWGNME" else d[index[key]])


def fill(desktop, template_url, path, out_path):
    with open(path, "rb") as f:
        lines = f.read().decode("cp1252").replace("\r\n", "\r").split("\r")
    if lines and lines[-1] == "":
        lines.pop()
    index = {name.upper(): k for k, name in enumerate(fields(lines[0]))}
    data = [fields(line) for line in lines[1:]]
    drawing = data[0][index["ZNAME"]]
    numbered = [index.get(str(n)) for n in range(1, 51)]
    # The numbered fields of this corpus are 1..k without gaps: one range write per row.
    width = 0
    while width < 50 and numbered[width] is not None:
        width += 1

    doc = desktop.loadComponentFromURL(template_url, "_blank", 0, (prop("Hidden", True),))
    sheets = doc.Sheets
    sheet_no, row = 1, 11
    sheet = sheets.getByIndex(0)
    title(sheet, index, data[0], drawing)
    for i, d in enumerate(data):
        if width:
            rng = sheet.getCellRangeByPosition(4, row - 1, 4 + width - 1, row - 1)
            rng.setDataArray((tuple(d[numbered[n]] if numbered[n] < len(d) else "" for n in range(width)),))
        for n in range(width, 50):
            if numbered[n] is not None and numbered[n] < len(d):
                put(sheet, row, 5 + n, d[numbered[n]])
        if "GERBEZ" in index:
            g = d[index["GERAET"]] if "GERAET" in index else ""
            put(sheet, row, 2, g + "-" + d[index["GERBEZ"]])
        if "GERBEM" in index:
            put(sheet, row, 55, d[index["GERBEM"]])
        if row == 28:
            if i + 1 == len(data) or sheet_no == 5:
                break
            sheet_no += 1
            row = 12
            sheet = sheets.getByIndex(sheet_no - 1)
            title(sheet, index, data[i + 1], drawing)  # as skov-import: the sheet's first line
        else:
            row += 1
    for k in range(1, sheet_no + 1):
        put(sheets.getByIndex(k - 1), 33, 56, " %d" % (sheet_no + 1))
    doc.storeToURL(uno.systemPathToFileUrl(out_path), (prop("FilterName", "MS Excel 97"),))
    doc.close(True)


def main(argv):
    if len(argv) < 4:
        print("usage: fill.py TEMPLATE OUTDIR IMPORTFILE...", file=sys.stderr)
        return 2
    template, outdir, inputs = os.path.abspath(argv[1]), argv[2], argv[3:]
    profile = tempfile.mkdtemp(prefix="skov-bench-lo-")
    pipe = "skovbench%d" % os.getpid()
    office = subprocess.Popen(["soffice", "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
                               "--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
                               "--accept=pipe,name=%s;urp;" % pipe],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(600):
        try:
            ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
            break
        except Exception:
            time.sleep(0.1)
    else:
        office.kill()
        print("soffice did not answer", file=sys.stderr)
        return 1
    desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
    template_url = uno.systemPathToFileUrl(template)
    try:
        for path in inputs:
            name = os.path.basename(path)
            t0 = time.perf_counter_ns()
            fill(desktop, template_url, path, os.path.join(os.path.abspath(outdir), name[:-4] + ".XLS"))
            print(name, time.perf_counter_ns() - t0, flush=True)
    finally:
        try:
            desktop.terminate()
        except Exception:
            pass
        try:
            office.wait(timeout=60)
        except subprocess.TimeoutExpired:
            office.kill()
            office.wait()
        subprocess.run(["rm", "-rf", profile])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
