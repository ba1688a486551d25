#!/usr/bin/env bash
# The monitored-folder list is never taken half-written. Another component
# rewrites it in place over and over (truncate, then three parts 40 ms
# apart, from a Wine process, since only those take Windows share locks)
# while 200 files arrive in Downloads: every one of them is scanned, since
# the monitor waits for the writer rather than testing a list that does not
# yet name Downloads. The writer is never refused for longer than the
# monitor's read.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
start_wine_monitor --list Downloads
new_folder users/alice/Downloads
mkdir -p "$c/staging"
# No part but the last holds the whole of "Downloads".
printf 'Other\r\nDownloads\r\n' >"$c/staging/list.src"

rewrites=60
items=()
for ((i = 0; i < rewrites; i++)); do items+=('C:\ProgramData\Pelorin\db\db6'); done
slow_writer 120 --parts 3 --interval 40 --stagger 150 'C:\staging\list.src' "${items[@]}" >"$c/staging/said.txt" &
writer=$!
sleep 1

python3 -c '
import os, sys, time
for batch in range(4):
    for i in range(50):
        open(os.path.join(sys.argv[1], "f%03d.exe" % (batch * 50 + i)), "wb").close()
    time.sleep(0.4)
' "$c/users/alice/Downloads"
kill -0 "$writer" 2>/dev/null || fail "the list was no longer being rewritten when the last file arrived"
wait "$writer" || fail "slow_writer failed: $(cat "$c/staging/said.txt")"
said=$(tr -d '\r' <"$c/staging/said.txt")
[[ "$said" =~ ^([0-9]+)\ opens,\ ([0-9]+)\ refused ]] || fail "slow_writer said: $said"
assert_eq "$rewrites" "$((BASH_REMATCH[1] - BASH_REMATCH[2]))" "rewrites of the list"

# How many of the 200 have not been scanned.
unscanned() {
    finished_scans | grep -oE 'C:\\users\\alice\\Downloads\\f[0-9]{3}\.exe' | sort -u | wc -l |
        awk '{ print 200 - $1 }'
}
within 30 test "$(unscanned)" -eq 0
assert_eq 0 "$(unscanned)" "files of Downloads not scanned while the list was rewritten"
grep -q 'Monitoring folder list' "$logs/ErrorWindowLogs.txt" 2>/dev/null && fail "list reported missing"
echo "200 of 200 files scanned while the list was rewritten in place $rewrites times; the writer's opens: $said"

# An empty line (a stray line break) admits nothing by itself.
printf 'Downloads\r\n\r\n' >"$logs/db/db6"
new_folder users/alice/Desktop
: >"$c/users/alice/Desktop/stray.exe"
: >"$c/users/alice/Downloads/sentinel.exe"
await_scan 'C:\users\alice\Downloads\sentinel.exe'
sleep 0.5
assert_eq 0 "$(scan_count 'C:\users\alice\Desktop\stray.exe')" "a file admitted by an empty line"
echo "an empty line in the list admits nothing"
stop_watching
echo "PASS listfile_e2e"
