# Making files the monitor is to see, for the demo, the benchmarks and the
# integration tests. Source it; do not execute it.
#   eicar_write PATH                 the EICAR test string (68 bytes, no newline)
#   move_in PATH [TEXT]              a file arrives whole at PATH (TEXT, or stdin)
#   move_in_eicar PATH               the same with the EICAR test string
#   slow_writer SECONDS ARGS...      tools/slow_writer.cpp under Wine
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

# Single quotes: the string holds $, \ and ! that must stay literal.
EICAR_STRING='X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*'

eicar_write() {
    [[ $# -eq 1 && -n "$1" ]] || { echo "usage: eicar_write PATH" >&2; return 2; }
    printf '%s' "$EICAR_STRING" >"$1"
}

# Writes the file in C:\staging, outside the watched trees, and renames it
# to PATH (a host path in the prefix), so that it arrives whole, in one
# change, as a download moved into place does.
move_in() {
    local staging
    staging="$(unix_path_of 'C:\staging')"
    mkdir -p "$staging" || fail "mkdir $staging"
    if (($# > 1)); then
        printf '%s' "$2" >"$staging/${1##*/}"
    else
        cat >"$staging/${1##*/}"
    fi || fail "writing ${1##*/} in $staging"
    mv "$staging/${1##*/}" "$1" || fail "moving ${1##*/} to $1"
}

move_in_eicar() {
    move_in "$1" "$EICAR_STRING"
}

# Runs slow_writer.exe with the given arguments for at most SECONDS; prints
# what it says without CRs and returns its status, not that of the filter.
slow_writer() {
    local seconds="$1"
    shift
    wine_run "$seconds" "$PELMON_WIN_BIN_DIR/slow_writer.exe" "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
