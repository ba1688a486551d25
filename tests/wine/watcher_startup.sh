#!/usr/bin/env bash
# With the companion service running both watchers start and announce their
# roots; stopping or pausing the service ends the monitor with exit 0 soon.
set -u
source "$(dirname "$0")/../../scripts/lib/monitor.sh"
prepare_wine_product --stop-delay-ms 1500

expected_a=$( { entry_bytes 'PELMON: AppData Dir Path: C:\ProgramData'; entry_bytes 'PELMON: Profile Dir Path: C:\users'; } | od -An -tx1)
expected_b=$( { entry_bytes 'PELMON: Profile Dir Path: C:\users'; entry_bytes 'PELMON: AppData Dir Path: C:\ProgramData'; } | od -An -tx1)

# Runs the monitor with the service running, ends it with the given control
# (stop or pause) and checks the announcements and the exit.
run_and_end_with() {
    local control="$1"
    rm -f "$logs"/*.txt
    svcctl start "$SERVICE_NAME" >/dev/null || fail "svcctl start"
    start_monitor
    await_file_text "$logs/SuccessAppConLogs.txt" 'Profile Dir Path' 20
    await_file_text "$logs/SuccessAppConLogs.txt" 'AppData Dir Path' 20
    sleep 0.5 # both watchers are now waiting for changes
    actual=$(od -An -tx1 "$logs/SuccessAppConLogs.txt")
    [[ "$actual" == "$expected_a" || "$actual" == "$expected_b" ]] \
        || fail "announcements differ: $(cat -A "$logs/SuccessAppConLogs.txt")"

    svcctl --no-wait "$control" "$SERVICE_NAME" >/dev/null || fail "svcctl $control"
    await_monitor_exit 10
    assert_eq 0 "$MONITOR_STATUS" "exit status after $control"
    (( MONITOR_EXIT_MS <= 1500 )) || fail "monitor took ${MONITOR_EXIT_MS} ms to end after $control"
    [[ ! -e "$logs/ErrorFunctionLogs.txt" ]] || fail "probe failure logged: $(cat "$logs/ErrorFunctionLogs.txt")"
    echo "$control: announcements exact, exit 0 after ${MONITOR_EXIT_MS} ms"
}

# The service reports STOP_PENDING for 1.5 s: the monitor must not wait for STOPPED.
run_and_end_with stop
await_service_state 1

run_and_end_with pause
svcctl continue "$SERVICE_NAME" >/dev/null
svcctl --timeout-ms 5000 stop "$SERVICE_NAME" >/dev/null
echo "PASS watcher_startup"
