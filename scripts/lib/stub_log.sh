# The stub scanner of the integration tests and the benchmarks, and the log
# of its calls. Source it; do not execute it.
#
# The stub (tools/clamdscan_stub.cpp) writes two lines per call:
# "<start ms> - <sizes> <command line>" when it starts and
# "<start ms> <end ms> <sizes> <command line>" when it ends. A call may name
# several files; stub_calls gives one record per file, as if each had had
# the call to itself: "<start> <end or -> <size> clamdscan.exe
# --move="<vault>" "<path>"". <size> is the file's size in bytes, "dir",
# "none", "badargs" when the narrow and the
# Unicode views of its arguments differ, or "nodaemon" when it answered as
# clamdscan does without its daemon (exit 2). Everything that reads the log goes
# through stub_calls; the helpers below it are thin filters of its records.
#
#   install_stub_scanner 'C:\dir'    the stub as clamdscan.exe there; sets STUB_CALLS
#   clear_stub_calls                 forgets the calls recorded so far
#   stub_calls [finished|started]    records "<start> <end or -> <size> <command line>"
#   stub_call_count [finished|started]   records, one per file
#   scanner_calls [finished|started]  the calls themselves, as the stub wrote them
#   calls_of_several_files           how many finished calls named more than one file
#   finished_scans                   command lines of finished scans
#   finished_scans_of_size SIZE      command lines of finished scans of SIZE bytes
#   scans_with_bad_arguments         calls whose narrow and Unicode views differ
#   scan_line 'C:\path'              the command line the monitor builds for a path
#   scan_records_of 'C:\path'        records of the finished scans of exactly that path
#   scan_count 'C:\path'             how many finished scans of it
#   no_daemon_tries                  how many calls were answered "no daemon"
#   stub_daemon down|up              the stub answers "no daemon" (exit 2), or scans
#   stub_hold on|off                 slow calls run on until released
#   scan_end 'C:\path'               when each finished scan of it ended (ms)
#   await_scan 'C:\path'             waits for a finished scan of it
#   await_scan_start 'C:\path'       waits for a scan of it to start
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

# Installs the stub as clamdscan.exe in the folder given as a Windows path
# and names the file it records its calls in.
install_stub_scanner() {
    local dir
    dir="$(unix_path_of "$1")"
    mkdir -p "$dir"
    cp "$PELMON_WIN_BIN_DIR/clamdscan_stub.exe" "$dir/clamdscan.exe"
    STUB_CALLS="$dir/clamdscan-calls.txt"
    clear_stub_calls
}

clear_stub_calls() {
    rm -f "${STUB_CALLS:?no stub scanner installed}"
}

# The calls as the stub wrote them, without CRs: every line (default), the
# ends of finished calls, or the starts of all calls, running ones too. No
# log yet means no calls.
scanner_calls() {
    local which="${1:-all}"
    case "$which" in
        all | finished | started) ;;
        *) echo "scanner_calls: unknown selection '$which'" >&2; return 2 ;;
    esac
    [[ -f "${STUB_CALLS:?no stub scanner installed}" ]] || return 0
    awk -v which="$which" '{ gsub(/\r/, "") }
        which == "all" || (which == "finished") == ($2 != "-")' "$STUB_CALLS"
}

# One record per file of each call (selected as for scanner_calls), with
# that file's size and a command line naming only it. Paths hold no quotes,
# so each quoted argument after the quarantine option is one path.
stub_calls() {
    scanner_calls "$@" | awk '{
        line = $0
        sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", line)
        cut = index(line, "\" \"")
        if (cut == 0) { print; next }
        head = substr(line, 1, cut)
        rest = substr(line, cut + 2)
        n = split($3, sizes, ",")
        for (k = 1; length(rest) > 1; k++) {
            close_at = index(substr(rest, 2), "\"")
            if (close_at == 0) break
            print $1, $2, (k <= n ? sizes[k] : sizes[n]), head " \"" substr(rest, 2, close_at - 1) "\""
            rest = substr(rest, close_at + 3)
        }
    }'
}

calls_of_several_files() {
    scanner_calls finished | awk '{ n = split($0, parts, "\" \""); if (n > 2) c++ } END { print c + 0 }'
}

stub_call_count() {
    stub_calls "$@" | wc -l
}

# Command lines of finished scans, one per line.
finished_scans() {
    stub_calls finished | cut -d' ' -f4-
}

# Command lines of finished scans that found a file of SIZE bytes.
finished_scans_of_size() {
    stub_calls finished | awk -v size="$1" '$3 == size' | cut -d' ' -f4-
}

# How many calls the stub found with arguments that a program with a narrow
# main would read differently.
scans_with_bad_arguments() {
    stub_calls started | awk '$3 == "badargs"' | wc -l
}

# The command line the monitor builds for a path (Windows form).
scan_line() {
    printf 'clamdscan.exe --move="C:\\ProgramData\\Pelorin\\Vault" "%s"' "$1"
}

# Records of the scans of exactly this Windows path, finished ones unless
# told otherwise; a path that only ends like it does not count.
scan_records_of() {
    stub_calls "${2:-finished}" | WANT="$(scan_line "$1")" \
        awk '{ line = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", line) } line == ENVIRON["WANT"]'
}

# Number of finished scans of exactly this Windows path.
scan_count() {
    scan_records_of "$1" | wc -l
}

# How many calls the stub answered as clamdscan without its daemon.
no_daemon_tries() {
    stub_calls finished | awk '$3 == "nodaemon"' | wc -l
}

# Sets (yes) or clears (no) the control file NAME beside the stub.
_stub_control() {
    local flag
    flag="$(dirname "${STUB_CALLS:?no stub scanner installed}")/$1"
    if [[ "$2" == yes ]]; then : >"$flag"; else rm -f "$flag"; fi
}

# From now on the stub answers as clamdscan without its daemon (down), or
# scans again (up).
stub_daemon() {
    case "$1" in
        down | up) _stub_control clamdscan-no-daemon "$([[ "$1" == down ]] && echo yes || echo no)" ;;
        *) fail "stub_daemon: down or up, not '$1'" ;;
    esac
}

# Slow calls (those PELMON_STUB_SLOW names, or all) run on until released.
stub_hold() {
    case "$1" in
        on | off) _stub_control clamdscan-hold "$([[ "$1" == on ]] && echo yes || echo no)" ;;
        *) fail "stub_hold: on or off, not '$1'" ;;
    esac
}

# When the finished scans of exactly this Windows path ended (ms), one line each.
scan_end() {
    scan_records_of "$1" | cut -d' ' -f2
}

# Waits until a finished scan of exactly this Windows path is recorded.
await_scan() {
    local i
    for ((i = 0; i < 200; i++)); do
        [[ -n "$(scan_records_of "$1")" ]] && return 0
        sleep 0.05
    done
    fail "no scan of $1; scans so far:
$(finished_scans)"
}

# Waits until a scan of exactly this Windows path has started.
await_scan_start() {
    local i
    for ((i = 0; i < 200; i++)); do
        [[ -n "$(scan_records_of "$1" started)" ]] && return 0
        sleep 0.05
    done
    fail "no scan of $1 started; calls so far:
$(stub_calls started | cut -d' ' -f4-)"
}
