#!/usr/bin/env bash
# Benchmarks under Wine; they print figures and assert nothing.
#   dispatch: scans per second of the monitor's dispatch against a bare
#             CreateProcess loop and against system(), same stub scanner
#   burst:    N files created at once while each scan takes T ms: created,
#             scanned, lost and latency, beside a drain-only watcher
#   flood:    100,000 excluded files with an eligible one in every 1,000,
#             made as fast as they can be, T ms scans: eligible files lost,
#             their latency and the monitor's peak memory, beside the
#             drain-only watcher
#   overflow: a change buffer too small for a burst, so the system loses
#             records: what the watcher missed, what it recovered by listing
#             its tree and how long the listing took
#   outage:   the scanner cannot reach its daemon for 10 s while 200 files
#             arrive: files lost, scanner starts meanwhile, and the time from
#             its return to the last of them scanned
#   stop:     the service stopped in the middle of a flood: time to exit
#   arrival:  100 files, each written for a moment by a Wine process, then
#             closed (50) or renamed to its final name (50): time from the
#             close or the rename to the scanner's start, and scans per file
#   recovery: bench/recovery_bench.sh, in a Wine session of its own: stops
#             inside the listing of a big folder, and a flood into a big tree
#             that makes the system lose records (BENCH_RECOVERY_ARGS are its
#             arguments)
# usage: scripts/bench.sh [N files, default 1000] [T ms, default 10]
#        (BENCH_FLOOD_FILES overrides the flood's 100,000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files="${1:-1000}"
delay="${2:-10}"
flood="${BENCH_FLOOD_FILES:-100000}"
cd "$root"
scripts/install-deps.sh
scripts/build-wx-mingw.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null

set +e
source scripts/lib/monitor.sh
source scripts/lib/stub_log.sh
wine_session_start
c="$(unix_path_of 'C:\')"
logs="$(product_folder)"
mkdir -p "$logs"
install_stub_scanner 'C:\scanner'
install_service
export WINEPATH='C:\scanner'
# Long enough for the largest burst on a slow machine: a benchmark measures
# its own monitor to the end.
export MONITOR_LIMIT=7200
work=$(mktemp -d)

# Runs the drain-only watcher while `create` makes files in ProgramData\NAME,
# then reports what it saw.
reference() {
    local name="$1" count="$2" every="$3"
    rm -f "$c/drain.txt"
    wine_run 900 "$PELMON_WIN_BIN_DIR/bench/drain_watcher.exe" 'C:\ProgramData' 'C:\drain.txt' &
    local drain=$!
    sleep 1
    new_folder "ProgramData/$name"
    python3 bench/burst_report.py create "$c/ProgramData/$name" "$count" "$work/$name-times" "$every"
    sleep 5
    kill "$drain" 2>/dev/null; wait "$drain" 2>/dev/null
    python3 bench/burst_report.py report "drain-only watcher (reference)" "$work/$name-times" "$c/drain.txt" "$name"
}

# Waits until the scanner has seen every one of WANT eligible files whose
# names contain MARK (or, when WANT is 0, only for quiet), then until it has
# been quiet for three seconds; gives up after a minute without a new scan.
await_scans_settled() {
    local want="${1:-0}" mark="${2:-}" last=-1 now quiet=0
    while true; do
        sleep 3
        now=$(stub_call_count)
        if [[ "$now" == "$last" ]]; then
            quiet=$((quiet + 3))
            if ((want == 0)) || (( $(finished_scans | grep -cF -- "$mark") >= want )) || ((quiet >= 60)); then
                break
            fi
        else
            quiet=0
        fi
        last=$now
    done
}

kib_of() {
    awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"
}

echo "== dispatch (stub scanner, no delay)"
wine_run 300 "$PELMON_WIN_BIN_DIR/bench/dispatch_bench.exe" 100 | tr -d '\r'

echo
echo "== burst: $files files, scanner taking $delay ms each"
reference burst-ref "$files" 1
export PELMON_STUB_DELAY_MS="$delay"
clear_stub_calls
start_watching
new_folder ProgramData/burst
python3 bench/burst_report.py create "$c/ProgramData/burst" "$files" "$work/times"
await_scans_settled "$files" 'ProgramData\burst\f'
stub_calls finished >"$work/scans"
python3 bench/burst_report.py report "monitor (scan $delay ms each)" "$work/times" "$work/scans" burst
stop_watching

echo
echo "== flood: $flood files, one in every 1000 eligible, scanner taking $delay ms each"
reference flood-ref "$flood" 1000
clear_stub_calls
start_watching
pid=$(monitor_process) || { echo "no pelmon.exe of this prefix"; exit 1; }
idle=$(kib_of "$pid" VmRSS)
echo 5 >"/proc/$pid/clear_refs" # the peak counts from here
new_folder ProgramData/flood
python3 bench/burst_report.py create "$c/ProgramData/flood" "$flood" "$work/flood-times" 1000
await_scans_settled $((flood / 1000)) 'ProgramData\flood\f'
peak=$(kib_of "$pid" VmHWM)
stub_calls finished >"$work/flood-scans"
python3 bench/burst_report.py report "monitor (scan $delay ms each)" "$work/flood-times" "$work/flood-scans" flood
echo "monitor memory: idle ${idle} KiB, peak ${peak} KiB, $(( (peak - idle) / 1024 )) MiB above idle"
stop_watching

echo
# The earlier floods would swell the tree the recovery lists.
rm -rf "$c"/ProgramData/{burst,burst-ref,flood,flood-ref}
echo "== overflow: 5000 new files (1 in 50 eligible) against a 256-byte change buffer, 20000 older entries"
clear_stub_calls
wine_run 600 "$PELMON_WIN_BIN_DIR/bench/overflow_bench.exe" 5000 50 20000 256 | tr -d '\r'
scanned=$(finished_scans | grep -oE 'overflow\\f[0-9]{6}\.exe' | sort -u | wc -l)
echo "eligible files scanned: $scanned of 100, lost after recovery: $(( 100 - scanned ))"

echo
echo "== outage: the scanner cannot reach its daemon for 10 s while 200 new files arrive, one every 50 ms"
clear_stub_calls
start_watching
new_folder ProgramData/outage
mkdir -p "$c/outage-staging"
stub_daemon down
down_ms=$(date +%s%3N)
python3 - "$c/outage-staging" "$c/ProgramData/outage" <<'PY'
import os, sys, time
staging, target = sys.argv[1], sys.argv[2]
for i in range(200):
    name = f"o{i:03d}.exe"
    with open(os.path.join(staging, name), "wb") as f:
        f.write(b"payload %d" % i)
    os.rename(os.path.join(staging, name), os.path.join(target, name))
    time.sleep(0.05)
PY
sleep $(( (10000 - ($(date +%s%3N) - down_ms)) / 1000 ))
stub_daemon up
up_ms=$(date +%s%3N)
await_scans_settled 200 'ProgramData\outage\o'
stub_calls finished | awk '$3 != "nodaemon"' | grep -oE 'outage\\o[0-9]{3}\.exe' | sort -u >"$work/outage-ok"
last_ms=$(stub_calls finished | awk '$3 != "nodaemon" && /outage\\o[0-9]{3}\.exe/ { print $2 }' | sort -n | tail -n 1)
echo "files lost: $(( 200 - $(wc -l <"$work/outage-ok") )) of 200"
echo "scanner starts while the daemon was away: $(no_daemon_tries)"
echo "from the daemon's return to the last file scanned: $(( ${last_ms:-$up_ms} - up_ms )) ms"
stop_watching

echo
echo "== stop in the middle of a flood"
start_watching
new_folder ProgramData/stopflood
python3 bench/burst_report.py create "$c/ProgramData/stopflood" "$flood" "$work/stop-times" 1000 &
maker=$!
sleep 2
svcctl --no-wait stop "$SERVICE_NAME" >/dev/null
await_monitor_exit 10
echo "monitor exit status $MONITOR_STATUS, ${MONITOR_EXIT_MS} ms after the stop request"
wait "$maker"
await_service_state 1

echo
echo "== arrival: 100 files written for a moment each by a Wine process, scanner taking $delay ms each"
mkdir -p "$logs/db" "$c/bench-source"
printf 'Downloads\r\n' >"$logs/db/db6"
head -c 65536 /dev/urandom >"$c/bench-source/payload.bin"
clear_stub_calls
rm -f "$c/bench-source/events.txt"
start_watching
new_folder users/bench/Downloads
closed=() renamed=()
for ((i = 0; i < 50; i++)); do
    closed+=("$(printf 'C:\\users\\bench\\Downloads\\c%03d.exe' "$i")")
    renamed+=("$(printf 'C:\\users\\bench\\Downloads\\r%03d.crdownload>C:\\users\\bench\\Downloads\\r%03d.exe' "$i" "$i")")
done
for items in closed renamed; do
    declare -n list="$items"
    wine_run 300 "$PELMON_WIN_BIN_DIR/slow_writer.exe" --parts 2 --interval 100 \
        --log 'C:\bench-source\events.txt' 'C:\bench-source\payload.bin' "${list[@]}"
    unset -n list
done
await_scans_settled
stub_calls >"$work/arrival-calls"
python3 bench/arrival_report.py "$c/bench-source/events.txt" "$work/arrival-calls"
stop_watching
unset PELMON_STUB_DELAY_MS
rm -rf "$work"
wine_session_end

echo
# shellcheck disable=SC2086 # the arguments are words
bench/recovery_bench.sh ${BENCH_RECOVERY_ARGS:-}
