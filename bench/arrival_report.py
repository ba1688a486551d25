#!/usr/bin/env python3
"""Reports how soon and how often files were scanned after their last write.

usage: arrival_report.py EVENTS CALLS SIZE GROUP=TEXT...
EVENTS: the writers' log, "<ms> created|closed|renamed <Windows path>".
CALLS: the stub scanner's calls as stub_calls (scripts/lib/stub_log.sh)
       prints them, "<start ms> <end ms or -> <size> <command>".
SIZE: the size of every file once written.
GROUP: the files whose final names start with GROUP followed by digits,
       described by TEXT.
A file's last write is its writer's close after the last part, or its
rename to its final name. For each group it prints the time from that
moment to the start of the file's last scan (p50, p99, max), the scans per
file, counting scans of a renamed file's temporary name, and how many last
scans saw the whole file.
"""
import re
import sys


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main(events_file, calls_file, size, groups):
    done, temporary, last_closed = {}, {}, None
    for line in open(events_file, errors="replace"):
        ms, event, path = line.rstrip("\r\n").split(" ", 2)
        if event == "closed":
            done[path] = int(ms)
            last_closed = path
        elif event == "renamed":
            done.pop(last_closed, None)
            temporary[path] = last_closed
            done[path] = int(ms)
    scans = {}
    for line in open(calls_file, errors="replace"):
        start, end, seen, command = line.rstrip("\n").split(" ", 3)
        if end == "-":
            continue
        target = command[command.rfind('"', 0, len(command) - 1) + 1:-1]
        scans.setdefault(target, []).append((int(start), seen))
    for group in groups:
        key, text = group.split("=", 1)
        files = [p for p in done if re.match(re.escape(key) + r"\d+\.", p.rsplit("\\", 1)[-1])]
        latencies, counts, whole = [], [], 0
        for path in files:
            own = sorted(scans.get(path, []))
            counts.append(len(own) + len(scans.get(temporary.get(path), [])))
            if own:
                latencies.append(own[-1][0] - done[path])
                whole += own[-1][1] == str(size)
        print(f"{key}: {len(files)} files {text}")
        if not files:
            continue
        if latencies:
            print(f"  last write to last scan: p50 {percentile(latencies, 0.5)} ms, "
                  f"p99 {percentile(latencies, 0.99)} ms, max {max(latencies)} ms")
        print(f"  scans per file: {sum(counts) / len(counts):.2f} on average, max {max(counts)}; "
              f"the last scan saw the whole file for {whole} of {len(files)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:])
