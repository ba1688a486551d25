#!/usr/bin/env bash
# No new file escapes. A flood of excluded files with eligible ones among
# them arrives while a slow scan runs; then, with a test build whose change
# buffer and pending queue are tiny, more new files arrive during a slow
# scan than it can hold, so records are lost on purpose and must be found
# by listing the tree. Every eligible file is scanned exactly once.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
# Only scans of slow.exe take long: until the flood is made, and 1 s more.
export PELMON_STUB_DELAY_MS=1000 PELMON_STUB_SLOW='slow.exe'
prepare_wine_monitor

# Makes files in DIR, named by the arguments (relative to DIR, or absolute),
# as fast as it can; prints the time (ms) when the last one was made.
make_files() {
    python3 - "$@" <<'PY'
import os, sys, time
directory = sys.argv[1]
for name in sys.argv[2:]:
    open(os.path.join(directory, name), "wb").close()
print(time.time_ns() // 1_000_000)
PY
}

# Starts slow.exe's scan in FOLDER (below C:\, with slashes) and waits until
# it runs; it runs on until end_slow_scan.
start_slow_scan() {
    stub_hold on
    : >"$c/$1/slow.exe"
    await_scan_start "C:\\${1//\//\\}\\slow.exe"
}

end_slow_scan() {
    stub_hold off
}

# Fails unless every eligible name (Windows paths) was scanned exactly once.
expect_each_scanned_once() {
    local path
    for path in "$@"; do await_scan "$path"; done
    sleep 1 # room for a second scan of any of them
    for path in "$@"; do
        assert_eq 1 "$(scan_count "$path")" "scans of $path"
    done
}

# --- the shipped monitor: 6000 excluded files, an eligible one among every
# 500, and one more just before them ---------------------------------------
names=(early.exe) eligible=('C:\ProgramData\flood\early.exe')
for ((i = 0; i < 6000; i++)); do
    names+=("$(printf 'f%04d.tmp' "$i")")
    if (( i % 500 == 499 )); then
        names+=("$(printf 'e%04d.exe' "$i")")
        eligible+=("$(printf 'C:\\ProgramData\\flood\\e%04d.exe' "$i")")
    fi
done
start_watching
new_folder ProgramData/flood
start_slow_scan ProgramData/flood
flood_end=$(make_files "$c/ProgramData/flood" "${names[@]}")
end_slow_scan
await_scan 'C:\ProgramData\flood\slow.exe'
(( $(scan_end 'C:\ProgramData\flood\slow.exe') > flood_end )) || fail "the flood did not all arrive during the slow scan"
expect_each_scanned_once "${eligible[@]}"
echo "flood: ${#names[@]} new files during one slow scan; all ${#eligible[@]} eligible ones scanned once"
stop_watching

# --- the tight test build: records lost on purpose --------------------------
# Its queue holds 2048 bytes of names at 64 bytes plus 2 per character each.
# The last file lands in a folder whose path is longer than MAX_PATH; a link
# (a reparse point to Windows) leads out of the tree to a folder where a new
# file appears too, which the listing must not reach.
deep=""
for ((level = 1; level <= 8; level++)); do deep+="${deep:+/}level-$level-$(printf 'x%.0s' {1..30})"; done
names=() eligible=()
for ((i = 0; i < 100; i++)); do
    names+=("$(printf 'g%03d.exe' "$i")")
    eligible+=("$(printf 'C:\\ProgramData\\lost\\g%03d.exe' "$i")")
done
names+=("$deep/deep.exe")
eligible+=("C:\\ProgramData\\lost\\${deep//\//\\}\\deep.exe")
(( ${#eligible[-1]} > 260 )) || fail "the deep path is not longer than MAX_PATH"
mkdir -p "$c/outside"
# A first start: the marks the shipped monitor left would have this build
# catch up on the flood above, a few names a pass through its tiny queue,
# before the lost time below (restart_e2e tests the catch-up).
rm -f "$logs"/WatchMark*.txt
PELMON_EXE="$PELMON_WIN_BIN_DIR/pelmon_tight.exe" start_watching
new_folder "ProgramData/lost/$deep"
ln -s "$c/outside" "$c/ProgramData/lost/link"
# A download's placeholder, scanned empty; the finished download is renamed
# over it while records are lost, so only the listing can tell.
: >"$c/ProgramData/lost/setup.exe"
await_scan 'C:\ProgramData\lost\setup.exe'
start_slow_scan ProgramData/lost
# Last, once the queue is full, so that only the listing could find it.
lost_end=$(make_files "$c/ProgramData/lost" "${names[@]}" "$c/outside/behind.exe")
head -c 100000 /dev/zero >"$c/ProgramData/lost/setup.exe.tmp"
mv "$c/ProgramData/lost/setup.exe.tmp" "$c/ProgramData/lost/setup.exe"
end_slow_scan
await_scan 'C:\ProgramData\lost\slow.exe'
(( $(scan_end 'C:\ProgramData\lost\slow.exe') > lost_end )) || fail "the files did not all arrive during the slow scan"
relative='lost\g000.exe'
capacity=$(( 2048 / (64 + 2 * ${#relative}) ))
(( ${#names[@]} > capacity )) || fail "no more files than the queue holds ($capacity)"
expect_each_scanned_once "${eligible[@]}"
assert_eq 0 "$(scan_count 'C:\ProgramData\lost\link\behind.exe')" "scans through the link"
for ((i = 0; i < 100; i++)); do
    last_size=$(scan_records_of 'C:\ProgramData\lost\setup.exe' | tail -n 1 | cut -d' ' -f3)
    [[ "$last_size" == 100000 ]] && break
    sleep 0.05
done
assert_eq 100000 "$last_size" "size seen by the last scan of the download renamed over its placeholder"
echo "forced loss: ${#names[@]} new files during a scan, the queue holds $capacity; all found and scanned once," \
     "one at a path of ${#eligible[-1]} characters; nothing behind the link; the download renamed over" \
     "its placeholder meanwhile scanned whole"
stop_watching
echo "PASS flood_e2e"
