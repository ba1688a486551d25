#!/usr/bin/env bash
# The monitor against the real Service Control Manager when the companion
# service is missing or not running: no watcher, exit 0.
set -u
source "$(dirname "$0")/../../scripts/lib/monitor.sh"
wine_session_start
mkdir -p "$(product_folder)"
logs="$(product_folder)"

# Not installed: one OpenServiceW entry with the system's text for 1060.
start_monitor
await_monitor_exit 30
assert_eq 0 "$MONITOR_STATUS" "exit status without the service"
[[ ! -e "$logs/SuccessAppConLogs.txt" ]] || fail "a watcher started without the service"
bytes=$(od -An -c "$logs/ErrorFunctionLogs.txt" | tr -s ' ')
prefix=$(entry_bytes "In GetServiceStatusW: OpenServiceW failed with: ")
head -c ${#prefix} "$logs/ErrorFunctionLogs.txt" | cmp -s - <(printf '%s' "$prefix") \
    || fail "entry does not start with the framed OpenServiceW message: $bytes"
[[ $(grep -c 'failed with' "$logs/ErrorFunctionLogs.txt") == 1 ]] || fail "more than one probe entry"
# The system's text is one line: its closing CR LF gone, not escaped.
system_text=$(tail -c +$(( ${#prefix} + 1 )) "$logs/ErrorFunctionLogs.txt" | od -An -c | tr -s ' ')
[[ $(tail -c +$(( ${#prefix} + 1 )) "$logs/ErrorFunctionLogs.txt" | tr -dc '\r\n<' | wc -c) == 0 ]] ||
    fail "the system text breaks the line or was escaped: $system_text"
(( $(stat -c %s "$logs/ErrorFunctionLogs.txt") > ${#prefix} + 2 )) || fail "no system text after the colon"
echo "not installed: exit 0, one entry"

# Installed but stopped: nothing at all.
rm -f "$logs"/*.txt
install_service
start_monitor
await_monitor_exit 30
assert_eq 0 "$MONITOR_STATUS" "exit status with the service stopped"
[[ -z "$(ls -A "$logs")" ]] || fail "entries written with the service stopped: $(ls "$logs")"
echo "stopped: exit 0, no entry"

# Paused: also not running.
svcctl start "$SERVICE_NAME" >/dev/null || fail "svcctl start"
svcctl pause "$SERVICE_NAME" >/dev/null || fail "svcctl pause"
start_monitor
await_monitor_exit 30
assert_eq 0 "$MONITOR_STATUS" "exit status with the service paused"
[[ -z "$(ls -A "$logs")" ]] || fail "entries written with the service paused"
echo "paused: exit 0, no entry"

# Arguments of any kind are ignored.
svcctl stop "$SERVICE_NAME" >/dev/null
start_monitor --help /x "C:\\nothing"
await_monitor_exit 30
assert_eq 0 "$MONITOR_STATUS" "exit status with arguments"
echo "PASS service_probe"
