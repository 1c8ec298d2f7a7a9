#!/usr/bin/python3
"""Every .xls of the given folders as SKOV_IMPORT.XLS, filled from the example drawings by skov-import;
each output re-read by xlrd, Apache POI, LibreOffice and gnumeric wherever that reader reads the template.

Not part of CI: it needs public collections of real-world files (e.g. Apache POI's test-data/spreadsheet
and xlrd's tests/samples). Usage:

  bench/corpus_run.py --skov build/src/app/skov-import [--before OLD_SKOV_IMPORT]
                      [--readers xlrd,poi,lo,gnumeric] [--poi-classpath CP] DIR...

--poi-classpath: PoiCheck's class folder and the POI jars (the build's tests/xlrd/poi and
/usr/share/java/{poi,commons-collections4,commons-math3,commons-codec}.jar). --before runs an earlier
build on the same templates and counts the outputs that differ byte for byte. Prints one line per
template and the totals; exits 1 when a reader refuses an output whose template it reads."""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DRAWINGS = sorted(glob.glob(os.path.join(ROOT, "examples", "import", "*.TXT")))


def flavour(path):
    """'biff5-excel' (sheets' BOF 0x0600 under the globals' 0x0500), 'biff5', 'biff8', 'other' or ''."""
    try:
        import olefile
        ole = olefile.OleFileIO(path)
        names = [n[0] for n in ole.listdir() if len(n) == 1]
    except Exception:  # noqa: BLE001 - not a compound file
        return ""
    if "Workbook" in names:
        return "biff8"
    if "Book" not in names:
        return "other"
    s = ole.openstream("Book").read()
    versions, pos = [], 0
    while pos + 8 <= len(s):
        rtype, size = struct.unpack_from("<HH", s, pos)
        if rtype == 0x0809:
            versions.append(struct.unpack_from("<H", s, pos + 4)[0])
        pos += 4 + size
    if not versions or versions[0] != 0x0500:
        return "other"
    return "biff5-excel" if 0x0600 in versions[1:] else "biff5"


def fill(skov, template, work):
    """skov-import in folder mode over the drawings: (outputs saved, 'Grund:'/'Laufzeitfehler' lines)."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "in"))
    shutil.copy(template, os.path.join(work, "SKOV_IMPORT.XLS"))
    for d in DRAWINGS:
        shutil.copy(d, os.path.join(work, "in"))
    first = os.path.join(work, "in", os.path.basename(DRAWINGS[0]))
    subprocess.run([skov, "--default-folder", work, "--folder", first], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    outputs = sorted(glob.glob(os.path.join(work, "in", "*.XLS")))
    try:
        with open(os.path.join(work, "IMPORT.LOG"), encoding="cp1252", errors="replace") as f:
            log = f.read()
    except OSError:
        log = ""
    return outputs, sorted({l.strip() for l in log.splitlines() if "Grund:" in l or "Laufzeitfehler" in l})


def xlrd_reads(path):
    try:
        import xlrd
        book = xlrd.open_workbook(path, formatting_info=True)
        for sheet in book.sheets():
            for r in range(sheet.nrows):
                sheet.row_values(r)
        return True, ""
    except Exception as e:  # noqa: BLE001 - any refusal counts
        return False, "%s: %s" % (type(e).__name__, str(e)[:120])


def poi_reads(paths, classpath, java):
    """{path: (ok, why)}: PoiCheck over all files in one JVM."""
    verdict = {p: (False, "no verdict") for p in paths}
    for k in range(0, len(paths), 100):
        chunk = paths[k:k + 100]
        r = subprocess.run([java, "-cp", classpath, "PoiCheck"] + chunk, capture_output=True, text=True, timeout=1800)
        for line in r.stdout.splitlines():
            for p in chunk:
                if line.startswith(p + ": "):
                    rest = line[len(p) + 2:]
                    verdict[p] = (rest.startswith("ok"), "" if rest.startswith("ok") else rest[:160])
    return verdict


def lo_reads(paths, work):
    """{path: (ok, why)}: LibreOffice converts each to CSV; one soffice run for all, the misses once more alone."""
    inbox, outdir = os.path.join(work, "lo-in"), os.path.join(work, "lo-out")
    for d in (inbox, outdir):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    names = {}
    for i, p in enumerate(paths):
        name = "f%04d.xls" % i
        shutil.copy(p, os.path.join(inbox, name))
        names[p] = name
    profile = "-env:UserInstallation=file://" + os.path.join(work, "lo-profile")
    batch = [os.path.join(inbox, n) for n in names.values()]
    for k in range(0, len(batch), 50):
        try:
            subprocess.run(["soffice", profile, "--headless", "--convert-to", "csv", "--outdir", outdir] + batch[k:k + 50],
                           capture_output=True, timeout=1800)
        except subprocess.TimeoutExpired:
            pass
    verdict = {}
    for p, n in names.items():
        csv = os.path.join(outdir, n[:-4] + ".csv")
        if not os.path.exists(csv):
            try:
                subprocess.run(["soffice", profile, "--headless", "--convert-to", "csv", "--outdir", outdir,
                                os.path.join(inbox, n)], capture_output=True, timeout=300)
            except subprocess.TimeoutExpired:
                pass
        verdict[p] = (os.path.exists(csv), "" if os.path.exists(csv) else "no CSV")
    return verdict


def gnumeric_reads(path, work):
    target = os.path.join(work, "gnumeric.csv")
    if os.path.exists(target):
        os.remove(target)
    try:
        r = subprocess.run(["ssconvert", path, target], capture_output=True, text=True, timeout=300)
    except subprocess.TimeoutExpired:
        return False, "timeout"
    return os.path.exists(target), "" if os.path.exists(target) else (r.stderr or "").strip()[-160:]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--skov", required=True)
    ap.add_argument("--before")
    ap.add_argument("--readers", default="xlrd,poi,lo,gnumeric")
    ap.add_argument("--poi-classpath", default="")
    ap.add_argument("--java", default="java")
    ap.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "skov-corpus-run"))
    ap.add_argument("dirs", nargs="+")
    a = ap.parse_args()
    readers = [r for r in a.readers.split(",") if r and (r != "poi" or a.poi_classpath)]
    templates = sorted(p for d in a.dirs for p in glob.glob(os.path.join(d, "*"))
                       if p.lower().endswith(".xls") and os.path.isfile(p))
    kept = os.path.join(a.work, "outputs")
    shutil.rmtree(kept, ignore_errors=True)
    os.makedirs(kept)

    rows, totals, reasons = [], {"templates": len(templates), "filled": 0, "not filled": 0, "differ": 0}, {}
    for fl in ("biff5-excel", "biff5"):
        totals[fl] = totals[fl + " filled"] = 0
    for i, t in enumerate(templates):
        fl = flavour(t)
        outputs, why = fill(a.skov, t, os.path.join(a.work, "run"))
        row = {"template": t, "flavour": fl, "outputs": len(outputs), "why": why, "output": None, "refused": []}
        if outputs:
            row["output"] = os.path.join(kept, "%04d.xls" % i)
            shutil.copy(outputs[0], row["output"])
            totals["filled"] += 1
        else:
            totals["not filled"] += 1
            reason = why[-1] if why else "(no reason logged)"
            reasons[reason] = reasons.get(reason, 0) + 1
        if fl in ("biff5-excel", "biff5"):
            totals[fl] += 1
            totals[fl + " filled"] += bool(outputs)
        if a.before and outputs:
            old, _ = fill(a.before, t, os.path.join(a.work, "before"))
            if [open(p, "rb").read() for p in outputs] != [open(p, "rb").read() for p in old]:
                totals["differ"] += 1
                row["differs"] = True
        rows.append(row)

    filled = [r for r in rows if r["output"]]
    for reader in readers:
        paths = [r["template"] for r in filled] + [r["output"] for r in filled]
        if reader == "xlrd":
            verdict = {p: xlrd_reads(p) for p in paths}
        elif reader == "poi":
            verdict = poi_reads(paths, a.poi_classpath, a.java)
        elif reader == "lo":
            verdict = lo_reads(paths, a.work)
        else:
            verdict = {p: gnumeric_reads(p, a.work) for p in paths}
        totals[reader + " reads template"] = sum(verdict[r["template"]][0] for r in filled)
        totals[reader + " refuses output"] = 0
        for r in filled:
            if verdict[r["template"]][0] and not verdict[r["output"]][0]:
                r["refused"].append("%s (%s)" % (reader, verdict[r["output"]][1]))
                totals[reader + " refuses output"] += 1
    totals["outputs refused"] = sum(bool(r["refused"]) for r in rows)

    for r in rows:
        line = "%-58s %-11s " % (os.path.basename(r["template"])[:58], r["flavour"] or "-")
        line += ("filled %d/%d" % (r["outputs"], len(DRAWINGS))) if r["outputs"] else "not filled"
        if r["why"] and r["outputs"] < len(DRAWINGS):
            line += "  " + r["why"][-1]
        if r.get("differs"):
            line += "  DIFFERS from --before"
        if r["refused"]:
            line += "  REFUSED BY " + ", ".join(r["refused"])
        print(line)
    print()
    for k, v in totals.items():
        print("%-24s %d" % (k, v))
    print("why templates were not filled:")
    for reason, n in sorted(reasons.items(), key=lambda x: -x[1]):
        print("  %4d  %s" % (n, reason))
    return 1 if totals["outputs refused"] else 0


if __name__ == "__main__":
    sys.exit(main())
