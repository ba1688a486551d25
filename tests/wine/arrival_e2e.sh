#!/usr/bin/env bash
# Files are scanned once they have arrived, whole. Wine processes (only
# those take Windows share locks) write them: a browser-style download
# written in parts under a temporary name and then renamed; a placeholder
# scanned empty that the finished download is renamed over; a file held
# open and written for 3 s; a file written in parts by separate opens, with
# pauses longer than the monitor waits for quiet; and, with a build whose
# first-scan limit is 5 s, a file written for longer than that. The last
# scan of each sees it whole (the stub scanner records the size it saw).
# Writers that reopen their files thousands of times while the monitor
# looks at them are never refused an open.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
start_wine_monitor --list Downloads
mkdir -p "$c/source"
head -c 100000 /dev/urandom >"$c/source/payload.bin"
full=100000
events="$c/source/events.txt"
downloads='C:\users\alice\Downloads'

# Runs the writer with the options given on the items in `items`; prints
# what it says of its opens.
write() {
    slow_writer 120 --log 'C:\source\events.txt' "$@" 'C:\source\payload.bin' "${items[@]}" || fail "slow_writer $*"
}

# When the writer logged EVENT for PATH (ms).
event_time() {
    WANT="$2" awk -v event="$1" '$2 == event && substr($0, index($0, $3)) == ENVIRON["WANT"] { print $1 }' "$events" | tr -d '\r'
}

# Waits until PATH has been quiet (no new scan) for 2 s after its writer
# logged EVENT, then fails unless its last scan started after EVENT and saw
# it whole; with ONCE, unless that was its only scan. Prints its scans.
expect_last_scan_whole_after() {
    local path="$1" event="$2" once="${3:-}" at start size count last=-1 i
    at=$(event_time "$event" "$path")
    [[ -n "$at" ]] || fail "the writer logged no '$event' for $path"
    for ((i = 0; i < 150; i++)); do
        count=$(scan_count "$path")
        if [[ "$count" == "$last" ]] && (( count > 0 && $(date +%s%3N) - at > 2000 )); then
            break
        fi
        last=$count
        sleep 0.2
    done
    (( count > 0 )) || fail "no scan of $path"
    [[ -z "$once" ]] || assert_eq 1 "$count" "scans of $path"
    read -r start _ size _ < <(scan_records_of "$path" | tail -n 1)
    assert_eq "$full" "$size" "size of $path at its last scan"
    (( start >= at )) || fail "the last scan of $path came at $start, before it was $event at $at"
    echo "$count scan(s), the last whole, $((start - at)) ms after it was $event"
}

new_folder users/alice/Downloads

# --- browser-style download --------------------------------------------------
items=("$downloads\\Unconfirmed 4242.crdownload>$downloads\\setup.exe")
write --parts 2 --interval 1000 >/dev/null
report=$(expect_last_scan_whole_after "$downloads\\setup.exe" renamed once) || exit 1
echo "download renamed into place: $report"
# Wine cannot tell the monitor that the browser still holds the temporary
# file, so a pause of a second may have it scanned part-written; once it is
# renamed away it is not scanned again.
renamed=$(event_time renamed "$downloads\\setup.exe")
while read -r start _; do
    (( start < renamed )) || fail "the temporary name was scanned at $start, after it was renamed away at $renamed"
done < <(scan_records_of "$downloads\\Unconfirmed 4242.crdownload" started)

# --- an empty placeholder, then the finished download renamed over it -------
: >"$c/users/alice/Downloads/tool-setup.exe"
await_scan "$downloads\\tool-setup.exe"
items=("$downloads\\Unconfirmed 77.crdownload>$downloads\\tool-setup.exe")
write --parts 2 --interval 300 --replace >/dev/null
renamed=$(event_time renamed "$downloads\\tool-setup.exe")
for ((i = 0; i < 100; i++)); do
    (( $(scan_count "$downloads\\tool-setup.exe") >= 2 )) && break
    sleep 0.05
done
sleep 1
mapfile -t placeholder < <(scan_records_of "$downloads\\tool-setup.exe")
assert_eq 2 "${#placeholder[@]}" "scans of tool-setup.exe (the placeholder, then the download)"
read -r first _ first_size _ <<<"${placeholder[0]}"
read -r second _ second_size _ <<<"${placeholder[1]}"
assert_eq 0 "$first_size" "size of the placeholder when scanned"
assert_eq "$full" "$second_size" "size of tool-setup.exe when scanned after the rename"
(( second >= renamed )) || fail "the second scan came before the rename"
echo "placeholder scanned empty, then again at $second_size bytes $((second - renamed)) ms after the rename over it"

# --- a file held open and written for 3 s under its final name ---------------
items=("$downloads\\tool.exe")
write --parts 6 --interval 600 >/dev/null
report=$(expect_last_scan_whole_after "$downloads\\tool.exe" closed) || exit 1
echo "held open and written for 3 s: $report"

# --- a file written in parts by separate opens, a second apart ---------------
items=("$downloads\\resumed.exe")
write --parts 4 --interval 1000 --reopen >/dev/null
report=$(expect_last_scan_whole_after "$downloads\\resumed.exe" closed) || exit 1
echo "written in 4 parts by separate opens a second apart: $report"

# --- writers that reopen their files many times while the monitor looks ------
items=()
for ((i = 0; i < 8; i++)); do
    items+=("$downloads\\append$i.exe")
done
said=$(write --parts 2500 --reopen) || exit 1
[[ "$said" =~ ^([0-9]+)\ opens,\ ([0-9]+)\ refused ]] || fail "slow_writer said: $said"
opens=${BASH_REMATCH[1]} refused=${BASH_REMATCH[2]}
# The monitor looked at them while they were written: it had them set aside
# (each is scanned after), for several of its looks' intervals.
report=$(expect_last_scan_whole_after "$downloads\\append7.exe" closed) || exit 1
took=$(( $(event_time closed "$downloads\\append0.exe") - $(event_time created "$downloads\\append0.exe") ))
(( took >= 1000 )) || fail "the writers were done in $took ms, too soon for the monitor to look at them much"
assert_eq 0 "$refused" "opens refused with a sharing violation, of $opens"
echo "8 writers reopened their files $opens times in $took ms while the monitor watched: none refused"
stop_watching

# --- a writer that never stops, with the build whose first-scan limit is 5 s -
# A new monitor watches only folders it has seen made (or listed), so the
# file goes to a new one.
PELMON_EXE="$PELMON_WIN_BIN_DIR/pelmon_quick.exe"
start_watching
new_folder users/bob/Downloads
items=('C:\users\bob\Downloads\long.exe')
write --parts 40 --interval 200 >/dev/null
closed=$(event_time closed "${items[0]}")
report=$(expect_last_scan_whole_after "${items[0]}" closed) || exit 1
read -r early _ early_size _ < <(scan_records_of "${items[0]}" | head -n 1)
(( early < closed && early_size < full )) ||
    fail "long.exe was not scanned while it was written (first scan at $early with $early_size bytes; closed at $closed)"
echo "written for 8 s: scanned at the 5 s limit with $early_size bytes, then $report"
stop_watching
echo "PASS arrival_e2e"
