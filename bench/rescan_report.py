#!/usr/bin/env python3
"""New files in bursts beside files that keep changing, and what they cost.

usage: rescan_report.py bursts STAGING DIR SECONDS EVERY COUNT TIMES_FILE
       rescan_report.py latency TIMES_FILE CALLS_FILE MARK
       rescan_report.py scans CALLS_FILE PATTERN SECONDS FILES [UNTIL_MS]
bursts:  for SECONDS, every EVERY seconds, COUNT files fNNNNNN.exe written
         in STAGING and renamed into DIR, so that each arrives whole;
         records "<ms> <name>" for each.
latency: "<created> <seen> <p50> <p99> <max>": from each recorded file's
         arrival to the start of its first scan (the first column of
         CALLS_FILE, stub records naming MARK\\fNNNNNN.exe), in ms.
scans:   "<scans> <files> <per file an hour> <bytes read>" of the stub
         records whose path matches the regular expression PATTERN (and
         that started by UNTIL_MS, when given), over a run of SECONDS,
         among FILES files; the bytes are the sizes the scanner saw, which
         it reads whole.
"""
import os
import re
import sys
import time

from burst_report import arrival_times, percentile


def bursts(staging, directory, seconds, every, count, times_file):
    start = time.monotonic()
    n = 0
    with open(times_file, "w") as out:
        while time.monotonic() - start < seconds:
            for _ in range(count):
                name = f"f{n:06d}.exe"
                with open(os.path.join(staging, name), "wb") as f:
                    f.write(b"new file %d\r\n" % n)
                os.rename(os.path.join(staging, name), os.path.join(directory, name))
                out.write(f"{time.time_ns() // 1_000_000} {name}\n")
                n += 1
            out.flush()
            time.sleep(max(0.0, every - (time.monotonic() - start) % every))


def latency(times_file, calls_file, mark):
    created = arrival_times(times_file)
    pattern = re.compile(re.escape(mark) + r"[\\/](f\d{6}\.exe)\"")
    seen = {}
    for line in open(calls_file, errors="replace"):
        found = pattern.search(line)
        if found and found.group(1) in created and found.group(1) not in seen:
            seen[found.group(1)] = int(line.split()[0])
    waits = [seen[n] - created[n] for n in seen]
    if not waits:
        print(len(created), 0, "-", "-", "-")
        return
    print(len(created), len(seen), percentile(waits, 0.5), percentile(waits, 0.99), max(waits))


def scans(calls_file, pattern, seconds, files, until=None):
    expression = re.compile(pattern)
    count = 0
    read = 0
    for line in open(calls_file, errors="replace"):
        fields = line.split(maxsplit=3)
        if until is not None and fields and fields[0].isdigit() and int(fields[0]) > int(until):
            continue
        if len(fields) == 4 and fields[1] != "-" and expression.search(fields[3]):
            count += 1
            read += int(fields[2]) if fields[2].isdigit() else 0
    hours = float(seconds) / 3600
    print(count, files, f"{count / max(int(files), 1) / hours:.1f}", read)


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "bursts":
        bursts(arguments[0], arguments[1], float(arguments[2]), float(arguments[3]), int(arguments[4]), arguments[5])
    elif command == "latency":
        latency(*arguments[:3])
    else:
        scans(*arguments[:5])
