# The setting of the end-to-end tests and the benchmarks under Wine: the
# monitor, its companion service and the stub scanner, with what the tests
# use to make files and read the stub's log. Source it; do not execute it.
#   prepare_wine_monitor [--no-vault] [--list FOLDER]   all but the monitor
#   start_wine_monitor [--no-vault] [--list FOLDER] [--exe VARIANT]
source "$(dirname "${BASH_SOURCE[0]}")/monitor.sh"
source "$(dirname "${BASH_SOURCE[0]}")/stub_log.sh"
source "$(dirname "${BASH_SOURCE[0]}")/files.sh"

# A session of prepare_wine_product (which sets c and logs) with the stub
# scanner in C:\scanner and on the monitor's search path (WINEPATH; a
# scanner in the current directory is a test of its own). --no-vault leaves
# the quarantine folder for the monitor to make; --list FOLDER writes the
# monitored-folder list with that one line.
prepare_wine_monitor() {
    local vault=() list=""
    while (($#)); do
        case "$1" in
            --no-vault) vault=(--no-vault) ;;
            --list) list="$2"; shift ;;
            *) fail "prepare_wine_monitor: unknown argument '$1'" ;;
        esac
        shift
    done
    prepare_wine_product "${vault[@]}"
    if [[ -n "$list" ]]; then
        mkdir -p "$logs/db" || fail "mkdir $logs/db"
        printf '%s\r\n' "$list" >"$logs/db/db6"
    fi
    install_stub_scanner 'C:\scanner'
    export WINEPATH='C:\scanner'
}

# prepare_wine_monitor, then the service and the monitor (PELMON_EXE, or
# the variant of it named by --exe, e.g. pelmon_hasty.exe, for this run
# only), as start_watching. What the stub reads from the environment
# (PELMON_STUB_*) is to be exported before: the monitor hands its own on.
start_wine_monitor() {
    local exe="$PELMON_EXE" args=()
    while (($#)); do
        case "$1" in
            --exe) exe="$PELMON_WIN_BIN_DIR/$2"; shift ;;
            --list) args+=("$1" "$2"); shift ;;
            *) args+=("$1") ;;
        esac
        shift
    done
    prepare_wine_monitor "${args[@]}"
    PELMON_EXE="$exe" start_watching
}
