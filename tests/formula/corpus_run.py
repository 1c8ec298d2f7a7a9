#!/usr/bin/python3
"""The LibreOffice check over a collection of .xls files (not in CI): each file filled with writes into cells its
formulas read (recalc_fill --precedents), then every output compared with lo_check.py.

    corpus_run.py RECALC_FILL WORKDIR DIR [DIR ...]
"""
import glob
import os
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    tool, work = argv[1], argv[2]
    os.makedirs(work, exist_ok=True)
    cases, failed = [], 0
    for folder in argv[3:]:
        for path in sorted(glob.glob(os.path.join(folder, "*.xls"))):
            base = os.path.join(work, os.path.basename(folder.rstrip("/")) + "-" + os.path.basename(path)[:-4])
            out, report = base + ".out.xls", base + ".report.tsv"
            try:
                r = subprocess.run([tool, path, out, "--precedents", "12", "--report", report],
                                   capture_output=True, text=True, timeout=120)
            except subprocess.TimeoutExpired:
                print("%s: timed out" % path)
                failed += 1
                continue
            if r.returncode != 0:
                if r.returncode != 3:  # 3: not a workbook this engine reads (encrypted, Excel 4, damaged)
                    print("%s: exit %d %s" % (path, r.returncode, r.stderr.strip()))
                    failed += 1
                continue
            with open(report, encoding="utf-8") as f:
                if not any(line.startswith(("evaluated", "deferred")) for line in f):
                    continue  # no due formula
            cases += [path, out, report]
    print("%d workbooks with due formulas, %d fills failed" % (len(cases) // 3, failed))
    return subprocess.run([sys.executable, os.path.join(HERE, "lo_check.py"), "--work", os.path.join(work, "lo"),
                           "--batch", "30"] + cases).returncode or (1 if failed else 0)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
