# The monitor and its companion service under Wine, for the demo, the
# benchmarks and the integration tests: the service, the product folder and
# running the monitor in the background. Source it; do not execute it.
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

SERVICE_NAME="RavIROVA DeruDuzeda"

svcctl() {
    wine_run 30 "$SVCCTL_EXE" "$@"
}

# Registers the companion service; extra arguments go to its command line.
install_service() {
    local bin='C:\pelmon-fixtures'
    mkdir -p "$(unix_path_of 'C:\')/pelmon-fixtures"
    cp "$COMPANION_EXE" "$(unix_path_of 'C:\')/pelmon-fixtures/"
    svcctl create "$SERVICE_NAME" "\"$bin\\companion_service.exe\" $*" >/dev/null || fail "svcctl create"
}

product_folder() {
    echo "$(unix_path_of 'C:\ProgramData')/Pelorin"
}

# A Wine session of its own with the product folder as the installer leaves
# it (C:\ProgramData\Pelorin and its Vault, or without the Vault when the
# first argument is --no-vault) and the companion service registered, not
# started; the other arguments go to the service's command line. Sets c
# (the host path of C:\) and logs (of the product folder) for the caller.
prepare_wine_product() {
    local vault=1
    [[ "${1:-}" == --no-vault ]] && { vault=0; shift; }
    wine_session_start
    c="$(unix_path_of 'C:\')"
    logs="$(product_folder)"
    mkdir -p "$logs" || fail "mkdir $logs"
    ((vault == 0)) || mkdir -p "$logs/Vault" || fail "mkdir $logs/Vault"
    install_service "$@"
}

# Starts pelmon.exe in the background with the given arguments;
# MONITOR_PID is the wine process. Its output goes to the file
# MONITOR_OUTPUT when that is set, so that it does not mix with a story.
# It is ended after MONITOR_LIMIT seconds (300 unless set), so a test that
# hangs cannot leave it behind; a benchmark sets what its longest run needs,
# and 0 sets no limit (the demo left running for files dropped by hand).
start_monitor() {
    local limit="${MONITOR_LIMIT:-300}"
    if [[ -n "${MONITOR_OUTPUT:-}" ]]; then
        wine_run "$limit" "$PELMON_EXE" "$@" >>"$MONITOR_OUTPUT" 2>&1 &
    else
        wine_run "$limit" "$PELMON_EXE" "$@" &
    fi
    MONITOR_PID=$!
}

# The Linux process of this session's pelmon.exe (not another prefix's).
monitor_process() {
    local pid
    for pid in $(pgrep -x pelmon.exe); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && {
            echo "$pid"
            return 0
        }
    done
    return 1
}

# Waits for the monitor to exit within SECONDS and sets MONITOR_STATUS and
# MONITOR_EXIT_MS (time waited). Fails when it is still running then.
await_monitor_exit() {
    local seconds="$1" start=$(date +%s%N)
    while kill -0 "$MONITOR_PID" 2>/dev/null; do
        if (( $(date +%s%N) - start > seconds * 1000000000 )); then
            kill -9 "$MONITOR_PID"
            fail "monitor still running after ${seconds}s"
        fi
        sleep 0.02
    done
    wait "$MONITOR_PID"
    MONITOR_STATUS=$?
    MONITOR_EXIT_MS=$(( ($(date +%s%N) - start) / 1000000 ))
}

# A new folder below C:\ (given with slashes), one level at a time, so the
# monitor sees each level arrive. Wine starts watching a new folder when it
# handles the folder's creation, which a busy machine can put off past the
# next file written into it; a Wine process opening the new folders makes
# them watched at once, so the listing at the end leaves nothing to timing.
new_folder() {
    local path="" part drive first=""
    local -a parts
    drive="$(unix_path_of 'C:\')"
    IFS=/ read -ra parts <<<"$1"
    for part in "${parts[@]}"; do
        path+="${path:+/}$part"
        [[ -d "$drive/$path" ]] && continue
        mkdir "$drive/$path" || fail "mkdir $path"
        first="${first:-$path}"
        sleep 0.3
    done
    [[ -z "$first" ]] || wine_run 30 cmd /c dir /s /b "C:\\${first//\//\\}" >/dev/null 2>&1 ||
        fail "Wine could not list the new folder $first"
}

start_service() {
    svcctl start "$SERVICE_NAME" >/dev/null || fail "the companion service did not start"
}

# Starts the monitor (PELMON_EXE, unless another is named) beside the
# running service and waits until both watchers have announced their roots.
start_watchers() {
    local logs
    logs="$(product_folder)"
    rm -f "$logs/SuccessAppConLogs.txt"
    start_monitor
    await_file_text "$logs/SuccessAppConLogs.txt" 'Profile Dir Path' 20
    await_file_text "$logs/SuccessAppConLogs.txt" 'AppData Dir Path' 20
    sleep 0.3
}

# Starts the service, then the monitor, as start_watchers.
start_watching() {
    start_service
    start_watchers
}

# Stops the service; the monitor must exit 0 soon.
stop_watching() {
    svcctl --no-wait stop "$SERVICE_NAME" >/dev/null || fail "svcctl stop"
    await_monitor_exit 10
    assert_eq 0 "$MONITOR_STATUS" "monitor exit status"
    await_service_state 1
}

# Waits until FILE contains TEXT (up to SECONDS).
await_file_text() {
    local file="$1" text="$2" seconds="${3:-10}" i
    for ((i = 0; i < seconds * 20; i++)); do
        [[ -f "$file" ]] && grep -qF -- "$text" "$file" && return 0
        sleep 0.05
    done
    fail "'$text' did not appear in $file within ${seconds}s"
}

# The framed bytes of one entry, for comparisons with cmp.
entry_bytes() {
    printf '\r\n%s\r\n%s' "$(printf -- '-%.0s' $(seq 75))" "$1"
}

# Waits until the companion service reports STATE (a number), up to 10 s.
await_service_state() {
    local i
    for ((i = 0; i < 200; i++)); do
        [[ $(svcctl query "$SERVICE_NAME" 2>/dev/null) == "$1" ]] && return 0
        sleep 0.05
    done
    fail "service did not reach state $1"
}
