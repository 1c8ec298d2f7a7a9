#!/usr/bin/env python3
"""Compares what skov-import left in a folder on Linux with what skov-import.exe left under wine.

compare_runs.py LINUX_DIR WINDOWS_DIR LINUX_ROOT WINDOWS_ROOT

Both folders must hold the same files. Workbooks (.XLS) must be byte-identical;
every other file (log, list, standard error) equal once the Windows root path is
written as the Linux one and every backslash as a slash. The two roots are of one
length, so the log's print zones line up. Standard error (stderr.txt) ends its
lines with CR LF on Windows. Exit status 1 names each difference.
"""
import os
import sys

IGNORED = {".skov-import.lock"}


def files(top):
    found = {}
    for folder, _, names in os.walk(top):
        for name in names:
            if name not in IGNORED:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, top)] = path
    return found


def normalised(data, windows_root, linux_root):
    for encoding in ("cp1252", "utf-8"):
        data = data.replace(windows_root.encode(encoding), linux_root.encode(encoding))
    return data.replace(b"\\", b"/")


def main(linux_dir, windows_dir, linux_root, windows_root):
    if len(linux_root) != len(windows_root):
        print(f"roots of different lengths: {linux_root} {windows_root}")
        return 1
    linux, windows = files(linux_dir), files(windows_dir)
    faults = []
    for name in sorted(set(linux) ^ set(windows)):
        faults.append(f"only {'on Linux' if name in linux else 'under wine'}: {name}")
    for name in sorted(set(linux) & set(windows)):
        with open(linux[name], "rb") as a, open(windows[name], "rb") as b:
            mine, theirs = a.read(), b.read()
        if not name.upper().endswith(".XLS"):
            theirs = normalised(theirs, windows_root, linux_root)
        if name == "stderr.txt":
            theirs = theirs.replace(b"\r\n", b"\n")
        if mine != theirs:
            lines = zip(mine.split(b"\n"), theirs.split(b"\n"))
            first = next(((m, t) for m, t in lines if m != t), (b"(length)", b"(length)"))
            faults.append(f"differs: {name}\n  Linux: {first[0]!r}\n  wine:  {first[1]!r}")
    for fault in faults:
        print(fault)
    print(f"{len(set(linux) & set(windows))} files compared, {len(faults)} differences")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
