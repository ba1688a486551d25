#!/usr/bin/env bash
# Content changed in place is new content, whatever the file's age, and the
# scans of one file are spaced out while it goes on changing. Wine
# processes (only those take Windows share locks) do the writing and the
# reading:
# 1. app.exe, there before the monitor started, is replaced in place
#    (CREATE_ALWAYS, as copy /Y, installers and droppers do) with the EICAR
#    test file: it reaches the quarantine folder.
# 2. A file kept open and written in 22 parts of 100 bytes 3 s apart is
#    scanned at most 5 times, the last time whole, after its last part.
# 3. A read reported as a change (the file keeps its size and last-write
#    time): a file there before, never scanned, is scanned at its first
#    (nothing tells what a scan of it saw), and not at the next; nor is the
#    file of 2, whose last scan saw it whole.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
prepare_wine_monitor --list Downloads
mkdir -p "$c/source" "$c/ProgramData/Vendor/bin"
printf 'a clean program\r\n' >"$c/ProgramData/Vendor/bin/app.exe"
printf 'settings of a clean program\r\n' >"$c/ProgramData/Vendor/bin/settings.dat"
eicar_write "$c/source/eicar.bin"
head -c 2200 /dev/urandom >"$c/source/parts.bin"
events="$c/source/events.txt"
start_watching
# Wine watches a folder that was there before once a Wine process opened it.
wine_run 30 cmd /c dir /s /b 'C:\ProgramData\Vendor' >/dev/null 2>&1 || fail "Wine could not list C:\ProgramData\Vendor"
sleep 1
assert_eq 0 "$(stub_call_count)" "scans before anything was changed"

# --- 1. replaced in place ------------------------------------------------------
app='C:\ProgramData\Vendor\bin\app.exe'
slow_writer 30 'C:\source\eicar.bin' "$app" >/dev/null || fail "slow_writer could not replace $app"
within 15 test -f "$logs/Vault/app.exe" || fail "app.exe, replaced in place with the EICAR test file, did not reach the quarantine folder; scans:
$(finished_scans)"
within 5 grep -qF "found a threat in \"$app\"" "$logs/SuccessScanLogs.txt" ||
    fail "the detection of app.exe was not recorded"
echo "1. replaced in place with the EICAR test file: scanned $(scan_count "$app") time(s), quarantined"

# --- 2. written in 22 parts 3 s apart under one open -----------------------------
slow='C:\users\alice\Downloads\slow.exe'
new_folder users/alice/Downloads
slow_writer 120 --log 'C:\source\events.txt' --parts 22 --interval 3000 'C:\source\parts.bin' "$slow" >/dev/null ||
    fail "slow_writer $slow"
closed=$(awk '$2 == "closed" { print $1 }' "$events" | tr -d '\r')
[[ -n "$closed" ]] || fail "the writer logged no close of $slow"
# Its last scan comes within the settling and the longest quiet (30 s) of
# its last part; then nothing more for a while.
last=-1
for ((i = 0; i < 200; i++)); do
    count=$(scan_count "$slow")
    [[ "$count" == "$last" ]] && (( count > 0 && $(date +%s%3N) - closed > 35000 )) && break
    last=$count
    sleep 0.25
done
(( count >= 1 && count <= 5 )) || fail "$slow was scanned $count times; at most 5 were expected
$(scan_records_of "$slow")"
read -r start _ size _ < <(scan_records_of "$slow" | tail -n 1)
assert_eq 2200 "$size" "size of $slow at its last scan"
(( start >= closed )) || fail "the last scan of $slow came at $start, before its last part at $closed"
echo "2. written in 22 parts 3 s apart: $count scans, the last whole, $((start - closed)) ms after the last part"

# --- 3. read, not written ----------------------------------------------------------
# A read is reported where it sets the last-access time, as NTFS can: a
# change whose file keeps its size and last-write time. Wine reports no
# plain read, so after a Wine process has read the file, the host writes a
# byte over itself and puts the last-write time back: the same to the
# monitor.
settings='C:\ProgramData\Vendor\bin\settings.dat'
read_file() {
    wine_run 30 cmd /c type "$1" >/dev/null 2>&1 || fail "Wine could not read $1"
    python3 - "$(unix_path_of "$1")" <<'PY' || fail "could not touch $1 as a reported read"
import os, sys
path = sys.argv[1]
before = os.stat(path)
with open(path, "r+b") as f:
    first = f.read(1)
    f.seek(0)
    f.write(first)
os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
PY
}
scanned() { (( $(scan_count "$1") >= 1 )); }
read_file "$settings"
within 15 scanned "$settings" ||
    fail "a file never scanned was not scanned when read: the read was not reported, and this test proves nothing"
assert_eq 1 "$(scan_count "$settings")" "scans of $settings after its first read"
before=$(scan_count "$slow")
read_file "$settings"
read_file "$slow"
sleep 5
assert_eq 1 "$(scan_count "$settings")" "scans of $settings after it was read again"
assert_eq "$before" "$(scan_count "$slow")" "scans of $slow after it was read"
echo "3. a file never scanned was scanned when first read, and neither it nor $slow when read later"
stop_watching
echo "PASS rescan_e2e"
