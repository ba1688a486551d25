#!/usr/bin/env python3
"""Reports how soon files were scanned after they arrived.

usage: arrival_report.py EVENTS CALLS
EVENTS: the writer's log, "<ms> created|closed|renamed <Windows path>".
CALLS: the stub scanner's calls as stub_calls (scripts/lib/stub_log.sh)
       prints them, "<start ms> <end ms or -> <size> <command>".
A file has arrived when its writer closed it under its final name, or
renamed it to that name. Prints the time from that moment to the start of
its scan (p50, p99, max) and the scans per file, counting scans of the
temporary name of a renamed file too.
"""
import sys


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main(events_file, calls_file):
    arrived, temporary, last_closed = {}, {}, None
    for line in open(events_file, errors="replace"):
        ms, event, path = line.rstrip("\r\n").split(" ", 2)
        if event == "closed":
            arrived[path] = int(ms)
            last_closed = path
        elif event == "renamed":
            arrived.pop(last_closed, None)
            temporary[path] = last_closed
            arrived[path] = int(ms)
    starts, counts = {}, {}
    for line in open(calls_file, errors="replace"):
        start, end, _size, command = line.rstrip("\n").split(" ", 3)
        target = command[command.rfind('"', 0, len(command) - 1) + 1:-1]
        if end == "-":
            starts.setdefault(target, int(start))
        else:
            counts[target] = counts.get(target, 0) + 1
    scans = [counts.get(p, 0) + counts.get(temporary.get(p), 0) for p in arrived]
    renamed = len(temporary)
    print(f"{len(arrived)} files ({len(arrived) - renamed} closed, {renamed} renamed), "
          f"{sum(1 for p in arrived if p in starts)} scanned")
    groups = [("all", lambda p: True), ("closed", lambda p: p not in temporary),
              ("renamed", lambda p: p in temporary)]
    for label, member in groups:
        latencies = [starts[p] - ms for p, ms in arrived.items() if p in starts and member(p)]
        if latencies:
            print(f"{label:>8}: arrival to scanner start p50 {percentile(latencies, 0.5)} ms, "
                  f"p99 {percentile(latencies, 0.99)} ms, max {max(latencies)} ms")
    print(f"scans per file: min {min(scans)}, max {max(scans)}, "
          f"exactly one for {sum(1 for s in scans if s == 1)} of {len(scans)}")


if __name__ == "__main__":
    main(*sys.argv[1:3])
