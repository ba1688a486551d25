#!/usr/bin/env bash
# A scan that could not run is not a scan. The stub scanner answers as
# clamdscan does without its daemon (exit 2) for about 5 s while three new
# files arrive, one of them the EICAR test file; once it answers again,
# every one of them is scanned, exactly once successfully, the infected one
# ends in the quarantine folder with its detection recorded, and the outage
# is reported once when it began and once when it ended.
# Then the daemon goes away again, and the file whose tries the outage
# hangs on is deleted before the daemon is back: the next file to arrive,
# an infected one, carries the tries, and is scanned at its next try once
# the daemon answers again; the end of that outage is reported too.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
start_wine_monitor

new_folder ProgramData/outage
new_folder staging
stub_daemon down
outage_start=$(date +%s%3N)
move_in "$c/ProgramData/outage/a.exe" 'clean a'
sleep 0.3
move_in_eicar "$c/ProgramData/outage/eicar.com"
sleep 0.3
move_in "$c/ProgramData/outage/b.exe" 'clean b'
sleep 0.3
await_file_text "$logs/ErrorFunctionLogs.txt" 'new files wait and are tried again' 10
sleep $(( (5000 - ($(date +%s%3N) - outage_start)) / 1000 ))
stub_daemon up

# Every file that arrived during the outage is scanned once it is over:
# the clean ones where they are, the infected one moved to the vault.
await_scan 'C:\ProgramData\outage\a.exe'
await_scan 'C:\ProgramData\outage\b.exe'
within 10 test -f "$logs/Vault/eicar.com" || fail "the infected file did not reach the quarantine folder"
sleep 1 # room for a second scan of any of them
for name in a.exe b.exe eicar.com; do
    ok=$(scan_records_of 'C:\ProgramData\outage\'"$name" | awk '$3 != "nodaemon"' | wc -l)
    assert_eq 1 "$ok" "successful scans of $name"
done
tries=$(no_daemon_tries)
(( tries >= 1 && tries <= 6 )) || fail "$tries tries during a 5 s outage"
echo "all three files scanned once after the outage ($tries tries while it lasted)"

assert_eq 1 "$(grep -c 'new files wait and are tried again' "$logs/ErrorFunctionLogs.txt")" "outage entries"
assert_eq 1 "$(grep -c 'clamdscan scans again after' "$logs/ErrorFunctionLogs.txt")" "recovery entries"
grep -q 'clamdscan failed with exit status 2 for "C:\\ProgramData\\outage\\' "$logs/ErrorFunctionLogs.txt" ||
    fail "the outage entry names neither the exit status nor the file"
assert_eq 1 "$(grep -c 'found a threat in "C:\\ProgramData\\outage\\eicar.com"' "$logs/SuccessScanLogs.txt")" \
    "detection entries"
grep -qE '^PELMON: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC: .*moved it to the quarantine folder "C:\\ProgramData\\Pelorin\\Vault"' \
    "$logs/SuccessScanLogs.txt" || fail "the detection entry lacks its time or the vault"
echo "outage reported once at its start and once at its end; detection recorded"

stub_daemon down
move_in "$c/ProgramData/outage/gone.exe" 'gone'
for ((i = 0; i < 200; i++)); do
    [[ $(grep -c 'new files wait and are tried again' "$logs/ErrorFunctionLogs.txt") == 2 ]] && break
    sleep 0.05
done
tries=$(scan_records_of 'C:\ProgramData\outage\gone.exe' | awk '$3 == "nodaemon"' | wc -l)
(( tries >= 1 )) || fail "the second outage was reported with no failed call for gone.exe"
assert_eq 2 "$(grep -c 'new files wait and are tried again' "$logs/ErrorFunctionLogs.txt")" "outage entries"
rm "$c/ProgramData/outage/gone.exe"
# Its next try, 1 s after it failed, finds it gone: nothing waits then.
sleep 2
move_in_eicar "$c/ProgramData/outage/late.com"
for ((i = 0; i < 200; i++)); do
    [[ -n "$(scan_records_of 'C:\ProgramData\outage\late.com')" ]] && break
    sleep 0.05
done
assert_eq nodaemon "$(scan_records_of 'C:\ProgramData\outage\late.com' | awk '{ print $3 }' | head -n 1)" \
    "the first call for late.com while the daemon was away"
# Past the ping that follows the failed try: a daemon back before it would
# have late.com taken for a file that fails alone (a case of its own).
sleep 0.5
stub_daemon up
up_at=$(date +%s%3N)
within 10 test -f "$logs/Vault/late.com" || fail "late.com did not reach the quarantine folder within 10 s of the daemon's return"
echo "late.com carried the tries once gone.exe was deleted; it reached the vault" \
    "$(( $(date +%s%3N) - up_at )) ms after the daemon came back"
for ((i = 0; i < 100; i++)); do
    [[ $(grep -c 'clamdscan scans again after' "$logs/ErrorFunctionLogs.txt") == 2 ]] && break
    sleep 0.05
done
assert_eq 2 "$(grep -c 'clamdscan scans again after' "$logs/ErrorFunctionLogs.txt")" "recovery entries"
stop_watching
echo "PASS outage_e2e"
