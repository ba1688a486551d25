#!/usr/bin/env bash
# Stops the service at random moments: in odd trials during the watchers'
# start-up, in even trials while the profiles watcher is writing log entries
# (new files in the profiles tree while the list file is missing make it
# write one each). The monitor must never hang, must exit 0 and must leave
# only whole log entries, and every writing trial must really have stopped
# it in the middle of its entries: some written, not all.
set -u
source "$(dirname "$0")/../../scripts/lib/monitor.sh"
trials="${PELMON_STOP_TRIALS:-30}"
files=10000
prepare_wine_product
users="$(unix_path_of 'C:\users')"

make_files() {
    python3 - "$users" "$1" "$files" <<'PY'
import os, sys
for i in range(int(sys.argv[3])):
    open(os.path.join(sys.argv[1], f"new-{sys.argv[2]}-{i}.exe"), "wb").close()
PY
}

entries_written() {
    grep -c 'Monitoring folder' "$logs/ErrorWindowLogs.txt" 2>/dev/null || echo 0
}

max_ms=0
entries=0
writing_trials=0
stopped_mid_writing=0
most_written=0
for ((t = 1; t <= trials; t++)); do
    rm -f "$logs"/*.txt "$users"/new-*
    svcctl start "$SERVICE_NAME" >/dev/null || fail "svcctl start (trial $t)"
    start_monitor
    if (( t % 2 )); then
        make_files "$t" &
        maker=$!
        sleep "0.$(printf '%03d' $((RANDOM % 400)))"
    else
        writing_trials=$((writing_trials + 1))
        await_file_text "$logs/SuccessAppConLogs.txt" 'Profile Dir Path' 20
        make_files "$t" &
        maker=$!
        await_file_text "$logs/ErrorWindowLogs.txt" 'Monitoring folder' 20
        sleep "0.$(printf '%03d' $((RANDOM % 100)))"
    fi
    svcctl --no-wait stop "$SERVICE_NAME" >/dev/null || fail "svcctl stop (trial $t)"
    await_monitor_exit 5
    wait "$maker"
    assert_eq 0 "$MONITOR_STATUS" "exit status in trial $t"
    (( MONITOR_EXIT_MS > max_ms )) && max_ms=$MONITOR_EXIT_MS
    await_service_state 1
    if [[ -f "$logs/SuccessAppConLogs.txt" ]]; then
        python3 "$(dirname "$0")/check_log_entries.py" "$logs/SuccessAppConLogs.txt" \
            'PELMON: AppData Dir Path: C:\ProgramData' 'PELMON: Profile Dir Path: C:\users' >/dev/null \
            || fail "torn entry in SuccessAppConLogs.txt (trial $t)"
    fi
    if [[ -f "$logs/ErrorWindowLogs.txt" ]]; then
        python3 "$(dirname "$0")/check_log_entries.py" "$logs/ErrorWindowLogs.txt" \
            'Monitoring folder list file not found, please restart antivirus.' >/dev/null \
            || fail "torn entry in ErrorWindowLogs.txt (trial $t)"
    fi
    written=$(entries_written)
    entries=$((entries + written))
    if (( t % 2 == 0 )); then
        (( written > 0 && written < files )) \
            || fail "trial $t did not stop the monitor while it was writing entries ($written of $files written)"
        stopped_mid_writing=$((stopped_mid_writing + 1))
        (( written > most_written )) && most_written=$written
    fi
    [[ ! -e "$logs/ErrorFunctionLogs.txt" ]] || fail "probe failure logged (trial $t)"
done
(( writing_trials > 0 && stopped_mid_writing == writing_trials )) || fail "no trial stopped the monitor while it was writing"
echo "stop robustness: $trials trials, 0 hangs, all exit 0, slowest stop ${max_ms} ms;" \
     "$stopped_mid_writing stopped it while it was writing entries (at most $most_written of $files written);" \
     "$entries list-missing entries checked whole"
echo "PASS stop_robustness"
