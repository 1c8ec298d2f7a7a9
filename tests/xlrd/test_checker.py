#!/usr/bin/python3
"""The checker itself: a template matches itself, and a write that did not happen is caught."""
import os
import sys

try:
    import xlrd  # noqa: F401
    import olefile  # noqa: F401
except ImportError as e:
    print("skipped: %s" % e)
    sys.exit(77)

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_filled  # noqa: E402


def main(paths):
    failures = 0
    for path in paths:
        cases = [
            ("unchanged", [], True, 0),
            ("missing write", [(1, 11, 5, "geschrieben")], False, 1),
            ("write to no sheet", [(99, 1, 1, "x")], False, 1),
        ]
        for name, writes, identical, want_problems in cases:
            problems = check_filled.check(path, path, writes, identical=identical)
            if (len(problems) > 0) != (want_problems > 0):
                failures += 1
                print("FAIL %s, %s: %d problems" % (os.path.basename(path), name, len(problems)))
                check_filled.report(problems, 5)
    # Two different templates must never pass for each other.
    if len(paths) > 1 and not check_filled.check(paths[0], paths[1], []):
        failures += 1
        print("FAIL: %s passes for %s" % (paths[1], paths[0]))
    # The cell file keeps every character.
    tricky = [(1, 2, 3, "a\tb\nc\\d\r"), (5, 28, 55, ""), (1, 1, 1, "\\t literal")]
    tmp = os.path.join(os.environ.get("TMPDIR", "/tmp"), "skov_checker_cells.tsv")
    check_filled.write_cells_file(tmp, tricky)
    if check_filled.read_cells_file(tmp) != tricky:
        failures += 1
        print("FAIL: cell file round trip")
    os.remove(tmp)
    print("checker: %d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
