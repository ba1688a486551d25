#!/usr/bin/env python3
"""Creates a burst of files, then reports what a watcher made of them.

usage: burst_report.py create DIR N TIMES_FILE [EVERY] [UNREADABLE]
       burst_report.py report LABEL TIMES_FILE SEEN_FILE NAME_MARK
       burst_report.py ratio TIMES_FILE SEEN_FILE NAME_MARK ONE_CALL_MS
       burst_report.py span TIMES_FILE SEEN_FILE NAME_MARK
create: makes N empty files DIR/fNNNNNN.* as fast as it can: every EVERY-th
        (default: every one) is .exe, the others .tmp, which the monitor
        never scans. Records "<ms> <name>" for each .exe. UNREADABLE of the
        .exe files, spread evenly, are named fNNNNNN.unreadable.exe instead,
        for a scanner told to fail on that name, and are not recorded.
report: matches the names in SEEN_FILE (lines "<ms> ... <name or path
        containing NAME_MARK\\fNNNNNN.exe>") to the recorded ones and prints
        created, seen, lost and the latency from creation to the watcher's
        reaction (p50, p99, max).
span:   "<ms the first recorded file was made> <ms the last of them was seen>",
        the second from the second column of SEEN_FILE (a scan's end).
"""
import os
import re
import sys
import time


def create(directory, count, times_file, every=1, unreadable=0):
    spacing = count // every // unreadable if unreadable else 0
    lines = []
    for i in range(count):
        eligible = i % every == every - 1
        k = i // every  # among the eligible ones
        marked = eligible and spacing > 0 and k % spacing == spacing // 2 and k // spacing < unreadable
        name = f"f{i:06d}.{'unreadable.exe' if marked else 'exe' if eligible else 'tmp'}"
        open(os.path.join(directory, name), "wb").close()
        if eligible and not marked:
            lines.append(f"{time.time_ns() // 1_000_000} {name}\n")
    with open(times_file, "w") as out:
        out.writelines(lines)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def arrival_times(times_file):
    """The "<ms> <name>" lines of a times file, by name."""
    created = {}
    for line in open(times_file):
        ms, name = line.split()
        created[name] = int(ms)
    return created


def report(label, times_file, seen_file, mark):
    created = arrival_times(times_file)
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


def span(times_file, seen_file, mark):
    """When the first recorded file was made, and when the last of them was seen; None without figures."""
    created = [int(line.split()[0]) for line in open(times_file)]
    pattern = re.compile(re.escape(mark) + r"[\\/](f\d{6}\.exe)")
    ends = [int(line.split()[1]) for line in open(seen_file, errors="replace") if pattern.search(line)]
    return (min(created), max(ends)) if created and ends else None


def ratio(times_file, seen_file, mark, one_call_ms):
    """The last file's scan, from the first file's creation, against one call over all."""
    figures = span(times_file, seen_file, mark)
    if not figures:
        print("no figures for the ratio")
        return
    last = figures[1] - figures[0]
    print(f"last file scanned {last} ms after the first was made: {last / max(int(one_call_ms), 1):.2f} x one call")


if __name__ == "__main__":
    if sys.argv[1] == "ratio":
        ratio(*sys.argv[2:6])
    elif sys.argv[1] == "span":
        figures = span(*sys.argv[2:5])
        print(*(figures or ("-", "-")))
    elif sys.argv[1] == "create":
        create(sys.argv[2], int(sys.argv[3]), sys.argv[4], *(int(a) for a in sys.argv[5:7]))
    else:
        report(*sys.argv[2:6])
