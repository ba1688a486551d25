#!/usr/bin/env bash
# Files named like devices (CON.exe, nul, aux.exe, COM1.exe, lpt1, prn.exe),
# made by the literal \\?\ path as a dropper makes them, each holding the
# EICAR test string: the system's path rules would turn the plain path of
# each into a device (the console, the null device, a port that blocks a
# reader for good). The scanner must never be given such a path; each file
# must reach the quarantine folder all the same, by a form that opens it
# (under Wine each is its own short name, so by its folder).
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
start_wine_monitor

new_folder ProgramData/devnames
mkdir -p "$c/staging"
eicar_write "$c/staging/eicar.src"
names=(CON.exe nul aux.exe COM1.exe lpt1 prn.exe)
items=()
for name in "${names[@]}"; do
    items+=("\\\\?\\C:\\ProgramData\\devnames\\$name")
done
slow_writer 60 'C:\staging\eicar.src' "${items[@]}" >/dev/null ||
    fail "the writer could not make the files by their literal paths"
for name in "${names[@]}"; do
    [[ -f "$c/ProgramData/devnames/$name" || -f "$logs/Vault/$name" ]] || fail "Wine did not make $name"
done

# Each reaches the quarantine folder; a call that blocked on a device would
# keep the rest from it.
for ((i = 0; i < 400; i++)); do
    missing=0
    for name in "${names[@]}"; do
        [[ -f "$logs/Vault/$name" ]] || missing=1
    done
    ((missing == 0)) && break
    sleep 0.05
done
for name in "${names[@]}"; do
    [[ -f "$logs/Vault/$name" ]] || fail "$name did not reach the quarantine folder; calls:
$(stub_calls started | cut -d' ' -f4-)"
    [[ ! -e "$c/ProgramData/devnames/$name" ]] || fail "$name is still where it was made"
done
echo "all ${#names[@]} device-named files are in the quarantine folder"

# No path the scanner was given has a component the system would take for a
# device, and every call it started has ended.
bad=$(stub_calls started | python3 -c '
import re, sys
device = re.compile(r"^(con|prn|aux|nul|conin\$|conout\$|(com|lpt)[0-9\u00b9\u00b2\u00b3]) *([.:].*)?$", re.I)
for line in sys.stdin:
    path = line.rstrip("\n").rsplit(" \"", 1)[-1].rstrip("\"")
    if any(device.match(part) for part in re.split(r"[\\/]", path)):
        print(path)
')
assert_eq "" "$bad" "paths handed to the scanner that name a device"
assert_eq "$(stub_call_count started)" "$(stub_call_count finished)" "scanner calls that never ended"
(( $(stub_call_count finished) >= 1 )) || fail "the scanner was never called"
assert_eq 0 "$(scans_with_bad_arguments)" "calls whose narrow and Unicode arguments differ"
grep -q 'devnames\\[^"]*" cannot be named to the scanner exactly; its folder "C:\\ProgramData\\devnames" is scanned instead' \
    "$logs/ErrorFunctionLogs.txt" || fail "no folder scan of a device-named file was reported"
echo "no device path reached the scanner; every call ended"
stop_watching
echo "PASS device_names_e2e"
