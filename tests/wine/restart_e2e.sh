#!/usr/bin/env bash
# A restart loses nothing. First a clean stop: a file is open for writing
# (a Wine process writing 30 parts of 100 bytes, 200 ms apart) when the
# service stops, and finished before it starts again; while no monitor
# runs, files are made in Downloads and in the program-data tree, and one
# is made and deleted. After the next start each remaining file is scanned
# once, whole, soon; the deleted one is never handed over. Then an unclean
# end: the monitor's process is killed outright in the middle of a burst of
# 1,000 files, with the scanner slowed, and a monitor is started again:
# every file is scanned at least once; how many twice is reported.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
# Each file a call is given takes the stub 10 ms: the burst takes ~10 s.
export PELMON_STUB_DELAY_MS=10 PELMON_STUB_SLOW='\burst\'
start_wine_monitor --list Downloads
new_folder users/alice/Downloads
new_folder ProgramData/Vendor
marks=("$logs/WatchMarkAppData.txt" "$logs/WatchMarkProfile.txt")
for mark in "${marks[@]}"; do
    within 10 test -s "$mark" || fail "no progress mark $mark after the start"
done

# --- a clean stop with a writer at work, and files made while stopped ----
head -c 3000 /dev/urandom >"$c/staging-open.src" 2>/dev/null || fail "source of open.exe"
slow_writer 60 --parts 30 --interval 200 'C:\staging-open.src' 'C:\ProgramData\Vendor\open.exe' >/dev/null &
writer=$!
within 10 test -e "$c/ProgramData/Vendor/open.exe" || fail "the writer did not start"
sleep 1
stop_watching
[[ -e "$c/ProgramData/Vendor/open.exe" ]] || fail "open.exe is gone"
(( $(stat -c %s "$c/ProgramData/Vendor/open.exe") < 3000 )) || fail "the writer ended before the stop"
clear_stub_calls

move_in "$c/users/alice/Downloads/made.exe" "made while no monitor ran"
move_in "$c/ProgramData/Vendor/new.dll" "a library"
printf 'written in place' >"$c/users/alice/Downloads/inplace.exe"
printf 'short-lived' >"$c/users/alice/Downloads/gone.exe"
sleep 0.2
rm -f "$c/users/alice/Downloads/gone.exe"
wait "$writer" || fail "the writer failed"
assert_eq 3000 "$(stat -c %s "$c/ProgramData/Vendor/open.exe")" "size of open.exe once written"

start=$(date +%s%N)
start_watching
expected=('C:\ProgramData\Vendor\open.exe' 'C:\ProgramData\Vendor\new.dll'
          'C:\users\alice\Downloads\made.exe' 'C:\users\alice\Downloads\inplace.exe')
scanned() {
    [[ -n "$(scan_records_of "$1")" ]]
}
for path in "${expected[@]}"; do
    within 20 scanned "$path" || fail "no scan of $path after the start; scans:
$(finished_scans)"
done
caught_ms=$(( ($(date +%s%N) - start) / 1000000 ))
sleep 2 # room for a second scan of any of them
for path in "${expected[@]}"; do
    assert_eq 1 "$(scan_count "$path")" "scans of $path after the start"
done
assert_eq 3000 "$(scan_records_of 'C:\ProgramData\Vendor\open.exe' | cut -d' ' -f3)" \
    "size of open.exe when it was scanned"
assert_eq "" "$(stub_calls started | grep -F 'gone.exe')" "calls that named the deleted file"
[[ -f "$logs/ErrorFunctionLogs.txt" ]] && grep -F 'progress mark' "$logs/ErrorFunctionLogs.txt" &&
    fail "a good mark was reported"
echo "clean stop: a file open at the stop and ${#expected[@]} files made while stopped scanned once each, whole," \
     "within ${caught_ms} ms of the start (announcement included); the deleted file never handed over"

# --- killed outright in the middle of a burst ------------------------------
new_folder ProgramData/burst
clear_stub_calls
python3 - "$c/ProgramData/burst" <<'PY'
import os, sys
for i in range(1000):
    with open(os.path.join(sys.argv[1], "b%04d.exe" % i), "wb") as f:
        f.write(b"burst file %d\n" % i)
PY
sleep 1
pid="$(monitor_process)" || fail "no monitor process to kill"
kill -9 "$pid"
wait "$MONITOR_PID" 2>/dev/null
before_kill=$(stub_calls finished | grep -cF '\burst\')
# The call the killed monitor had started runs on to its end.
burst_calls_running() {
    comm -23 <(scanner_calls started | grep -F '\burst\' | awk '$2 == "-" { print $1 }' | sort -u) \
        <(scanner_calls finished | grep -F '\burst\' | awk '{ print $1 }' | sort -u)
}
no_burst_call_running() {
    [[ -z "$(burst_calls_running)" ]]
}
within 30 no_burst_call_running || fail "the killed monitor's scanner call never ended"
ended=$(stub_calls finished | grep -cF '\burst\')
start=$(date +%s%N)
start_watchers
all_scanned() {
    [[ $(stub_calls finished | grep -F '\burst\' | awk '{ print $NF }' | sort -u | wc -l) -eq 1000 ]]
}
within 120 all_scanned || fail "after the restart only \
$(stub_calls finished | grep -F '\burst\' | awk '{ print $NF }' | sort -u | wc -l) of 1000 burst files were scanned"
all_ms=$(( ($(date +%s%N) - start) / 1000000 ))
sleep 2
twice=$(stub_calls finished | grep -F '\burst\' | awk '{ print $NF }' | sort | uniq -d | wc -l)
echo "killed outright 1 s after a burst of 1000 files: ${before_kill} scanned before the kill, ${ended} once the" \
     "call it left running ended; all 1000 scanned" \
     "within ${all_ms} ms of the restart; ${twice} of them twice"
stop_watching
echo "PASS restart_e2e"
