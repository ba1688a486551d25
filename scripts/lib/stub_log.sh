# The stub scanner of the integration tests and the benchmarks, and the log
# of its calls. Source it; do not execute it.
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

# The stub scanner: installs it as clamdscan.exe in the folder given as a
# Windows path and names the file it records its calls in.
install_stub_scanner() {
    local dir
    dir="$(unix_path_of "$1")"
    mkdir -p "$dir"
    cp "$PELMON_WIN_BIN_DIR/clamdscan_stub.exe" "$dir/clamdscan.exe"
    STUB_CALLS="$dir/clamdscan-calls.txt"
    rm -f "$STUB_CALLS"
}

# Command lines of finished scans, one per line.
finished_scans() {
    [[ -f "$STUB_CALLS" ]] || return 0
    awk '$2 != "-"' "$STUB_CALLS" | cut -d' ' -f4- | tr -d '\r'
}

# Command lines of finished scans that found a file of SIZE bytes.
finished_scans_of_size() {
    [[ -f "$STUB_CALLS" ]] || return 0
    awk -v size="$1" '$2 != "-" && $3 == size' "$STUB_CALLS" | cut -d' ' -f4- | tr -d '\r'
}

# How many calls the stub found with arguments that a program with a narrow
# main would read differently.
scans_with_bad_arguments() {
    [[ -f "$STUB_CALLS" ]] || { echo 0; return; }
    awk '$3 == "badargs"' "$STUB_CALLS" | wc -l
}

# The command line the monitor builds for a path (Windows form).
scan_line() {
    printf 'clamdscan.exe --move="C:\\ProgramData\\Pelorin\\Vault" "%s"' "$1"
}

# Waits until a finished scan of exactly this Windows path is recorded.
await_scan() {
    local want i
    want="$(scan_line "$1")"
    for ((i = 0; i < 200; i++)); do
        finished_scans | grep -qxF -- "$want" && return 0
        sleep 0.05
    done
    fail "no scan of $1; scans so far:
$(finished_scans)"
}

# Number of finished scans of exactly this Windows path.
scan_count() {
    finished_scans | grep -cxF -- "$(scan_line "$1")"
}
