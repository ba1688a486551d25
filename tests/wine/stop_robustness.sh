#!/usr/bin/env bash
# Stops the service at random moments during the watchers' start-up and
# while the profiles watcher is writing log entries: the monitor must never
# hang, must exit 0 and must leave only whole log entries.
set -u
source "$(dirname "$0")/common.sh"
trials="${PELMON_STOP_TRIALS:-30}"
wine_session_start
logs="$(product_folder)"
mkdir -p "$logs"
users="$(unix_path_of 'C:\users')"
install_service

# New files in the profiles tree while the list file is missing make the
# profiles watcher write one entry each.
make_files() {
    local i
    for ((i = 0; i < 300; i++)); do : >"$users/new-$1-$i.exe"; done
}

max_ms=0
entries=0
for ((t = 1; t <= trials; t++)); do
    rm -f "$logs"/*.txt "$users"/new-*
    svcctl start "$SERVICE_NAME" >/dev/null || fail "svcctl start (trial $t)"
    start_monitor
    make_files "$t" &
    maker=$!
    sleep "0.$(printf '%03d' $((RANDOM % 400)))"
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
        entries=$((entries + $(grep -c 'Monitoring folder' "$logs/ErrorWindowLogs.txt")))
    fi
    [[ ! -e "$logs/ErrorFunctionLogs.txt" ]] || fail "probe failure logged (trial $t)"
done
echo "stop robustness: $trials trials, 0 hangs, all exit 0, slowest stop ${max_ms} ms, $entries list-missing entries checked whole"
echo "PASS stop_robustness"
