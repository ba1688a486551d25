#!/usr/bin/env bash
# The quarantine folder is the monitor's to keep: clamdscan (the stub, like
# it) fails every scan while the folder its --move names is not a folder.
# 1. Missing when the monitor starts: it is made, and that is reported.
# 2. Removed while the monitor runs: the scan of an infected file fails,
#    the folder is made again, and the file reaches it, its detection
#    recorded; no outage, no file blamed.
# 3. A plain file in its place: an infected file that arrives stays where
#    it is; the folder is named once as the cause, the file never.
# 4. The plain file removed: at the next try the folder is made again, the
#    waiting file reaches it, and the end of the outage is reported.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
prepare_wine_monitor --no-vault
errors="$logs/ErrorFunctionLogs.txt"
vault_entry='the quarantine folder "C:\ProgramData\Pelorin\Vault" was missing; it was made again.'

entries() { # how many entries of ErrorFunctionLogs.txt contain TEXT
    grep -cF -- "$1" "$errors" 2>/dev/null
}
entries_are() { [[ $(entries "$2") == "$1" ]]; }
# An infected file arrives in the monitored folder by a rename.
drop_eicar() {
    move_in_eicar "$c/ProgramData/kept/$1"
}

[[ ! -e "$logs/Vault" ]] || fail "the quarantine folder exists before the monitor starts"
start_watching
within 10 test -d "$logs/Vault" || fail "the monitor did not make the missing quarantine folder"
within 5 entries_are 1 "$vault_entry" || fail "the folder made at start was reported $(entries "$vault_entry") times"
echo "1. the missing quarantine folder was made at start and reported"

new_folder ProgramData/kept
new_folder staging
rm -r "$logs/Vault"
drop_eicar one.com
within 10 test -f "$logs/Vault/one.com" || fail "one.com did not reach the quarantine folder"
within 5 grep -qF 'found a threat in "C:\ProgramData\kept\one.com"' "$logs/SuccessScanLogs.txt" ||
    fail "the detection of one.com was not recorded"
assert_eq 2 "$(entries "$vault_entry")" "entries of the quarantine folder made again"
(( $(stub_calls finished | grep -cF 'kept\one.com') >= 2 )) ||
    fail "one.com reached the vault without a failed scan first: the folder was never missing to the scanner"
assert_eq 0 "$(entries 'for "C:\ProgramData\kept\one.com"')" "entries blaming one.com"
echo "2. the quarantine folder removed while running was made again; one.com reached it"

rm -r "$logs/Vault"
printf 'not a folder' >"$logs/Vault"
drop_eicar two.com
await_scan 'C:\ProgramData\kept\two.com'
within 10 grep -qF 'quarantine folder "C:\ProgramData\Pelorin\Vault" is not a folder' "$errors" ||
    fail "a plain file in the quarantine folder's place was not reported"
# Room for the tries 1, 3 and 7 s after the failure.
sleep 8
[[ -f "$c/ProgramData/kept/two.com" && -f "$logs/Vault" ]] ||
    fail "two.com left its place, or the plain file was moved, while the folder was not one"
assert_eq 1 "$(entries 'is not a folder, and clamdscan fails every scan without it')" \
    "entries naming the quarantine folder"
assert_eq 0 "$(entries '"C:\ProgramData\kept\two.com"')" "entries naming two.com"
assert_eq 0 "$(entries 'clamdscan scans again after')" "entries of an outage's end"
echo "3. with a plain file in its place, two.com waits; the folder named once, two.com never"

rm "$logs/Vault"
gone_at=$(date +%s%3N)
# The next try comes 15 s after the failure, about 7 s from here.
within 25 test -f "$logs/Vault/two.com" || fail "two.com did not reach the quarantine folder once it could"
echo "4. two.com reached the quarantine folder $(( $(date +%s%3N) - gone_at )) ms after the plain file was removed"
within 5 entries_are 1 'clamdscan scans again after' || fail "the end of the outage was not reported"
stop_watching
echo "PASS vault_e2e"
