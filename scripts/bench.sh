#!/usr/bin/env bash
# Benchmarks under Wine; they print figures and assert nothing.
#   dispatch: scans per second of the monitor's dispatch against a bare
#             CreateProcess loop and against system(), same stub scanner
#   burst:    N files created at once while each scan takes T ms: created,
#             scanned, lost and latency, with a drain-only watcher as reference
# usage: scripts/bench.sh [N files, default 1000] [T ms, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files="${1:-1000}"
delay="${2:-10}"
cd "$root"
scripts/install-deps.sh
scripts/build-wx-mingw.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null

set +e
source tests/wine/common.sh
wine_session_start
c="$(unix_path_of 'C:\')"
logs="$(product_folder)"
mkdir -p "$logs"
install_stub_scanner 'C:\scanner'
export WINEPATH='C:\scanner'
work=$(mktemp -d)

echo "== dispatch (stub scanner, no delay)"
wine_run 300 "$PELMON_WIN_BIN_DIR/bench/dispatch_bench.exe" 100 | tr -d '\r'

echo
echo "== burst: $files files, scanner taking $delay ms each"
# Reference: a watcher that only drains the records.
wine_run 600 "$PELMON_WIN_BIN_DIR/bench/drain_watcher.exe" 'C:\ProgramData' 'C:\drain.txt' &
drain=$!
sleep 1
mkdir -p "$c/ProgramData/burst-ref"
sleep 0.3
python3 bench/burst_report.py create "$c/ProgramData/burst-ref" "$files" "$work/ref-times"
sleep 3
kill "$drain" 2>/dev/null; wait "$drain" 2>/dev/null
python3 bench/burst_report.py report "drain-only watcher (reference)" "$work/ref-times" "$c/drain.txt" burst-ref

# The monitor with the stub scanner.
install_service
svcctl start "$SERVICE_NAME" >/dev/null
PELMON_STUB_DELAY_MS="$delay" start_monitor
await_file_text "$logs/SuccessAppConLogs.txt" 'AppData Dir Path' 20
sleep 0.5
mkdir -p "$c/ProgramData/burst"
sleep 0.3
python3 bench/burst_report.py create "$c/ProgramData/burst" "$files" "$work/times"
# Wait until the scans stop coming.
last=-1
while true; do
    sleep 3
    now=$(wc -l <"$STUB_CALLS" 2>/dev/null || echo 0)
    [[ "$now" == "$last" ]] && break
    last=$now
done
grep -v ' - ' "$STUB_CALLS" >"$work/scans"
python3 bench/burst_report.py report "monitor (scan $delay ms each)" "$work/times" "$work/scans" burst
svcctl --no-wait stop "$SERVICE_NAME" >/dev/null
await_monitor_exit 10
echo "monitor exit status: $MONITOR_STATUS"
rm -rf "$work"
