#!/usr/bin/env bash
# Files are scanned once they have arrived, whole. A Wine process (only
# those take Windows share locks) writes them: a browser-style download
# written in parts under a temporary name and then renamed; a placeholder
# scanned empty that the finished download is renamed over; and a file held
# open and written for 3 s under its final name. The stub scanner records
# the size of the file it was given.
set -u
lib="$(dirname "$0")/../../scripts/lib"
source "$lib/monitor.sh"
source "$lib/stub_log.sh"
wine_session_start
logs="$(product_folder)"
mkdir -p "$logs/db"
printf 'Downloads\r\n' >"$logs/db/db6"
c="$(unix_path_of 'C:\')"
install_service
install_stub_scanner 'C:\scanner'
export WINEPATH='C:\scanner'
mkdir -p "$c/source"
head -c 100000 /dev/urandom >"$c/source/payload.bin"
full=100000
events="$c/source/events.txt"
downloads='C:\users\alice\Downloads'

write() {
    wine_run 60 "$PELMON_WIN_BIN_DIR/slow_writer.exe" --log 'C:\source\events.txt' "$@" 'C:\source\payload.bin' \
        "${items[@]}" || fail "slow_writer $*"
}

# When the writer logged EVENT for PATH (ms).
event_time() {
    WANT="$2" awk -v event="$1" '$2 == event && substr($0, index($0, $3)) == ENVIRON["WANT"] { print $1 }' "$events" | tr -d '\r'
}

# Fails unless PATH was scanned exactly once, at its full size, and not
# before the writer logged EVENT for it; prints how long after.
expect_one_whole_scan_after() {
    local path="$1" event="$2" start size at
    await_scan "$path"
    sleep 1 # room for a second scan
    assert_eq 1 "$(scan_count "$path")" "scans of $path"
    read -r start _ size _ < <(scan_records_of "$path")
    assert_eq "$full" "$size" "size of $path when scanned"
    at=$(event_time "$event" "$path")
    (( start >= at )) || fail "$path scanned at $start, before it was $event at $at"
    echo "$((start - at)) ms after it was $event"
}

start_watching
new_folder users/alice/Downloads

# --- browser-style download --------------------------------------------------
items=("$downloads\\Unconfirmed 4242.crdownload>$downloads\\setup.exe")
write --parts 2 --interval 1000
after=$(expect_one_whole_scan_after "$downloads\\setup.exe" renamed) || exit 1
assert_eq 0 "$(scan_count "$downloads\\Unconfirmed 4242.crdownload")" "scans of the temporary name"
echo "download renamed into place: scanned once, whole, $after"

# --- an empty placeholder, then the finished download renamed over it -------
: >"$c/users/alice/Downloads/tool-setup.exe"
await_scan "$downloads\\tool-setup.exe"
items=("$downloads\\Unconfirmed 77.crdownload>$downloads\\tool-setup.exe")
write --parts 2 --interval 300 --replace
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
write --parts 6 --interval 600
after=$(expect_one_whole_scan_after "$downloads\\tool.exe" closed) || exit 1
echo "slow writer: scanned once, whole, $after"

stop_watching
echo "PASS arrival_e2e"
