#!/usr/bin/env bash
# The whole job under Wine: real service, real files, the stub scanner.
# Folders are created after the monitor has started, since Wine only
# watches subfolders that it has seen being created or enumerated.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"

# --- scanner found on the search path --------------------------------------
start_wine_monitor --list Downloads

new_folder users/alice/Downloads
: >"$c/users/alice/Downloads/setup.exe"
await_scan 'C:\users\alice\Downloads\setup.exe'
echo "road of one event: exact command line"

new_folder ProgramData/App1
: >"$c/ProgramData/App1/tool.exe"
await_scan 'C:\ProgramData\App1\tool.exe'
echo "program-data tree scanned without a list"

new_folder users/alice/Desktop
: >"$c/users/alice/Downloads/photo.jpg"
: >"$c/users/alice/Desktop/x.exe"
: >"$c/users/alice/Downloads/sentinel1.exe"
await_scan 'C:\users\alice\Downloads\sentinel1.exe'
assert_eq 0 "$(scan_count 'C:\users\alice\Downloads\photo.jpg')" "excluded extension scanned"
assert_eq 0 "$(scan_count 'C:\users\alice\Desktop\x.exe')" "unlisted folder scanned"
echo "excluded extension and unlisted folder passed over"

rm "$c/users/alice/Downloads/setup.exe"
: >"$c/users/alice/Downloads/setup.exe"
: >"$c/users/alice/Downloads/sentinel2.exe"
await_scan 'C:\users\alice\Downloads\sentinel2.exe'
assert_eq 1 "$(scan_count 'C:\users\alice\Downloads\setup.exe')" "re-created name scanned again"
echo "recent-name cache stops a re-created name"

new_folder users/Downloads
new_folder ProgramData/Downloads
: >"$c/users/Downloads/same.exe"
: >"$c/ProgramData/Downloads/same.exe"
await_scan 'C:\users\Downloads\same.exe'
await_scan 'C:\ProgramData\Downloads\same.exe'
echo "same relative name scanned once in each tree"

: >"$c/users/alice/Downloads/a%OS%b !PATH! & (1).exe"
await_scan 'C:\users\alice\Downloads\a%OS%b !PATH! & (1).exe'
echo "%OS%, !PATH!, blanks, & and parentheses reach the scanner unchanged"

# Hostile names: each arrives whole (written aside, then moved in) with a
# size of its own, by which its scan is found, since a name that the ANSI
# code page cannot hold is handed over by its short path.
new_folder staging
new_folder 'ProgramData/Pelorin＼Vault'
hostile=(
  "users/alice/Downloads/x＂ --log=＂C：＼pwned.txt＂ ＂y.exe"
  "ProgramData/Pelorin＼Vault/evil.exe"
  "users/alice/Downloads/отчёт.exe"
  "users/alice/Downloads/中文 zero​width.exe"
)
for i in "${!hostile[@]}"; do
  head -c $((1001 + i)) /dev/zero | move_in "$c/${hostile[$i]}"
done
for i in "${!hostile[@]}"; do
  for ((t = 0; t < 200; t++)); do
    [[ -n "$(finished_scans_of_size $((1001 + i)))" ]] && break
    sleep 0.05
  done
  [[ -n "$(finished_scans_of_size $((1001 + i)))" ]] || fail "no scan of ${hostile[$i]}"
done
extra=$(finished_scans | grep -cvE '^clamdscan\.exe --move="C:\\ProgramData\\Pelorin\\Vault" "[^"]*"$')
assert_eq 0 "$extra" "scanner calls with other arguments"
assert_eq 0 "$(scans_with_bad_arguments)" "calls whose narrow and Unicode views differ"
[[ -e "$c/pwned.txt" ]] && fail "a name added an option to the scanner"
echo "hostile names scanned by a path that opens them; no call carries another argument"

# A burst: while one call runs the rest gather, and go many a call.
new_folder ProgramData/burst
python3 -c '
import os, sys
for i in range(200):
    open(os.path.join(sys.argv[1], "b%03d.exe" % i), "wb").close()
' "$c/ProgramData/burst"
for ((i = 0; i < 200; i++)); do
    burst+=("$(printf 'C:\\ProgramData\\burst\\b%03d.exe' "$i")")
done
for path in "${burst[@]}"; do await_scan "$path"; done
sleep 0.5 # room for a second scan of any of them
for path in "${burst[@]}"; do assert_eq 1 "$(scan_count "$path")" "scans of $path"; done
several=$(calls_of_several_files)
(( several >= 1 )) || fail "a burst of 200 went to the scanner a file a call"
echo "a burst of 200 files scanned once each, in calls of several files ($several such calls)"

grep -q 'Monitoring folder list' "$logs/ErrorWindowLogs.txt" 2>/dev/null && fail "list reported missing"
stop_watching

# --- the watcher waits for each call; a stop does not ----------------------
export PELMON_STUB_DELAY_MS=400
start_watching
new_folder users/bob/Downloads
: >"$c/users/bob/Downloads/one.exe"
await_scan_start 'C:\users\bob\Downloads\one.exe'
: >"$c/users/bob/Downloads/two.exe"
await_scan 'C:\users\bob\Downloads\two.exe'
read -r s1 e1 _ < <(scan_records_of 'C:\users\bob\Downloads\one.exe')
read -r s2 e2 _ < <(scan_records_of 'C:\users\bob\Downloads\two.exe')
(( s2 >= e1 )) || fail "second call started at $s2 before the first ended at $e1"
echo "one scanner call at a time per watcher ($((e1 - s1)) ms, then the next)"

export PELMON_STUB_DELAY_MS=3000
stop_watching
start_watching
new_folder users/dave/Downloads
: >"$c/users/dave/Downloads/slow.exe"
await_scan_start 'C:\users\dave\Downloads\slow.exe'
svcctl --no-wait stop "$SERVICE_NAME" >/dev/null
await_monitor_exit 10
assert_eq 0 "$MONITOR_STATUS" "exit status when stopped during a scan"
(( MONITOR_EXIT_MS <= 1500 )) || fail "stop during a scan took ${MONITOR_EXIT_MS} ms"
assert_eq 0 "$(scan_count 'C:\users\dave\Downloads\slow.exe')" "scan finished before the monitor ended"
await_service_state 1
await_scan 'C:\users\dave\Downloads\slow.exe'
echo "stop during a slow scan: exit 0 after ${MONITOR_EXIT_MS} ms; the scanner ran on to its end"
unset PELMON_STUB_DELAY_MS

# --- scanner found in the current directory --------------------------------
unset WINEPATH
install_stub_scanner 'C:\cwd'
cd "$c/cwd" || fail "cd"
start_watching
new_folder users/erin/Downloads
: >"$c/users/erin/Downloads/here.exe"
await_scan 'C:\users\erin\Downloads\here.exe'
stop_watching
echo "scanner found in the current directory"
echo "PASS scan_e2e"
