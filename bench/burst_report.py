#!/usr/bin/env python3
"""Creates a burst of files, then reports what a watcher made of them.

usage: burst_report.py create DIR N TIMES_FILE [EVERY]
       burst_report.py report LABEL TIMES_FILE SEEN_FILE NAME_MARK
       burst_report.py ratio TIMES_FILE SEEN_FILE NAME_MARK ONE_CALL_MS
create: makes N empty files DIR/fNNNNNN.* as fast as it can: every EVERY-th
        (default: every one) is .exe, the others .tmp, which the monitor
        never scans. Records "<ms> <name>" for each .exe.
report: matches the names in SEEN_FILE (lines "<ms> ... <name or path
        containing NAME_MARK\\fNNNNNN.exe>") to the recorded ones and prints
        created, seen, lost and the latency from creation to the watcher's
        reaction (p50, p99, max).
"""
import os
import re
import sys
import time


def create(directory, count, times_file, every=1):
    lines = []
    for i in range(count):
        eligible = i % every == every - 1
        name = f"f{i:06d}.{'exe' if eligible else 'tmp'}"
        open(os.path.join(directory, name), "wb").close()
        if eligible:
            lines.append(f"{time.time_ns() // 1_000_000} {name}\n")
    with open(times_file, "w") as out:
        out.writelines(lines)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def report(label, times_file, seen_file, mark):
    created = {}
    for line in open(times_file):
        ms, name = line.split()
        created[name] = int(ms)
    pattern = re.compile(re.escape(mark) + r"[\\/](f\d{6}\.exe)")
    seen = {}
    if os.path.exists(seen_file):
        for line in open(seen_file, errors="replace"):
            found = pattern.search(line)
            if found and found.group(1) not in seen:
                seen[found.group(1)] = int(line.split()[0])
    latencies = [seen[n] - created[n] for n in seen if n in created]
    lost = len(created) - len([n for n in created if n in seen])
    if latencies:
        figures = (f"p50 {percentile(latencies, 0.50)} ms, p99 {percentile(latencies, 0.99)} ms, "
                   f"max {max(latencies)} ms")
    else:
        figures = "no latency figures"
    print(f"{label:<34} created {len(created):6d}  seen {len(seen):6d}  lost {lost:6d}  {figures}")


def ratio(times_file, seen_file, mark, one_call_ms):
    """The last file's scan, from the first file's creation, against one call over all."""
    created = [int(line.split()[0]) for line in open(times_file)]
    pattern = re.compile(re.escape(mark) + r"[\\/](f\d{6}\.exe)")
    ends = [int(line.split()[1]) for line in open(seen_file, errors="replace") if pattern.search(line)]
    if not created or not ends:
        print("no figures for the ratio")
        return
    last = max(ends) - min(created)
    print(f"last file scanned {last} ms after the first was made: {last / max(int(one_call_ms), 1):.2f} x one call")


if __name__ == "__main__":
    if sys.argv[1] == "ratio":
        ratio(*sys.argv[2:6])
    elif sys.argv[1] == "create":
        create(sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    else:
        report(*sys.argv[2:6])
