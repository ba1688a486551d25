#!/usr/bin/env python3
"""Checks that a log file is nothing but whole entries with known messages.

usage: check_log_entries.py FILE MESSAGE...
Each entry is CR LF, 75 hyphens, CR LF and a message; a torn or interleaved
entry leaves a piece that is not one of the given messages.
"""
import sys

SEPARATOR = b"\r\n" + b"-" * 75 + b"\r\n"


def main() -> int:
    path, allowed = sys.argv[1], {m.encode("latin-1") for m in sys.argv[2:]}
    data = open(path, "rb").read()
    if not data.startswith(SEPARATOR):
        print(f"{path}: does not start with an entry frame: {data[:90]!r}")
        return 1
    pieces = data.split(SEPARATOR)[1:]
    bad = [p for p in pieces if p not in allowed]
    if bad:
        print(f"{path}: {len(bad)} of {len(pieces)} entries are not whole: {bad[0][:120]!r}")
        return 1
    print(f"{path}: {len(pieces)} whole entries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
