# Running Windows programs under Wine, for the demo, the benchmarks and the
# integration tests. Source it; do not execute it.
#   wine_session_start / wine_session_end   a prefix of its own, copied from a cached template
#   wine_run SECONDS cmd...                  wine with a hard time limit
#   unix_path_of 'C:\...'                    Windows path -> host path inside the prefix
#   fail / assert_eq / assert_file_contains
#   within SECONDS cmd...                    waits for a command to succeed; false if it never does

# Sourced again (monitor.sh and stub_log.sh both need it), it would forget
# the running session and leave its prefix behind.
[[ -n "${PELMON_LIB_WINE:-}" ]] && return 0
PELMON_LIB_WINE=1

PELMON_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
PELMON_WIN_BIN_DIR="${PELMON_WIN_BIN_DIR:-$PELMON_ROOT/build/windows}"
PELMON_EXE="$PELMON_WIN_BIN_DIR/pelmon.exe"
COMPANION_EXE="$PELMON_WIN_BIN_DIR/companion_service.exe"
SVCCTL_EXE="$PELMON_WIN_BIN_DIR/svcctl.exe"

WINE_TEMPLATE="$PELMON_ROOT/.cache/wine-template"
WINE_SESSION_PREFIX=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

assert_eq() {
    [[ "$1" == "$2" ]] || fail "${3:-values differ}: expected '$1', got '$2'"
}

# Waits up to SECONDS for a command to succeed; false when it never did.
within() {
    local seconds="$1" i
    shift
    for ((i = 0; i < seconds * 20; i++)); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

assert_file_contains() {
    [[ -f "$1" ]] || fail "missing file: $1"
    grep -qF -- "$2" "$1" || fail "$1 does not contain '$2'"
}

# Builds the template once; the lock keeps concurrent test scripts from
# initialising the same prefix twice or copying a half-built one.
_wine_template_ensure() {
    local stamp="$WINE_TEMPLATE.stamp" fd
    mkdir -p "$(dirname "$WINE_TEMPLATE")"
    exec {fd}>"$WINE_TEMPLATE.lock"
    flock -w 300 "$fd" || fail "timed out waiting for $WINE_TEMPLATE.lock"
    if [[ ! -f "$stamp" ]]; then
        rm -rf "$WINE_TEMPLATE"
        # Mono/Gecko are not needed and would prompt for a download.
        local rc=0
        WINEPREFIX="$WINE_TEMPLATE" WINEDLLOVERRIDES="mscoree,mshtml=" \
            timeout -k 10 180 wineboot -i >/dev/null 2>&1 || rc=$?
        WINEPREFIX="$WINE_TEMPLATE" timeout 30 wineserver -k >/dev/null 2>&1
        WINEPREFIX="$WINE_TEMPLATE" timeout 60 wineserver -w || fail "template wineserver did not exit"
        ((rc == 0)) || fail "wineboot -i failed for the template (status $rc)"
        touch "$stamp"
    fi
    exec {fd}>&-
}

wine_session_start() {
    export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
    _wine_template_ensure
    WINE_SESSION_PREFIX="$(mktemp -d "${TMPDIR:-/tmp}/pelmon-wine.XXXXXX")" || fail "mktemp failed"
    # Registered before the copy so a failure part-way still cleans up. A
    # caller with an exit trap of its own calls wine_session_end from it.
    [[ -n "$(trap -p EXIT)" ]] || trap wine_session_end EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    cp -a "$WINE_TEMPLATE/." "$WINE_SESSION_PREFIX/" || fail "copying the Wine template failed"
    export WINEPREFIX="$WINE_SESSION_PREFIX"
    # Wine links the profile's Desktop, Downloads and the like to the Unix
    # home; tests and the demo must write into the prefix only.
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
        [[ -L "$link" ]] && rm "$link" && mkdir "$link"
    done
    # Without a persistent server, services die whenever no other Wine process is alive.
    timeout 30 wineserver -p || fail "wineserver -p failed"
}

wine_session_end() {
    [[ -n "$WINE_SESSION_PREFIX" ]] || return 0
    WINEPREFIX="$WINE_SESSION_PREFIX" timeout 30 wineserver -k >/dev/null 2>&1
    WINEPREFIX="$WINE_SESSION_PREFIX" timeout 30 wineserver -w
    rm -rf "$WINE_SESSION_PREFIX"
    WINE_SESSION_PREFIX=""
}

wine_run() {
    local seconds="$1"
    shift
    timeout -k 5 "$seconds" wine "$@"
}

# Each component is matched case-insensitively against what exists on disk,
# because Windows paths say "Users" while the prefix holds "users".
unix_path_of() {
    local win="${1//\\//}" base part entry found parts
    case "${win:0:2}" in
        [cC]:) base="$WINEPREFIX/drive_c" ;;
        [zZ]:) base="" ;;
        *) fail "unix_path_of: unsupported path '$1'" ;;
    esac
    IFS=/ read -ra parts <<<"${win:2}"
    for part in "${parts[@]}"; do
        [[ -z "$part" ]] && continue
        found="$part"
        if [[ ! -e "$base/$part" && -d "${base:-/}" ]]; then
            for entry in "${base:-/}"/* "${base:-/}"/.*; do
                entry="${entry##*/}"
                [[ "${entry,,}" == "${part,,}" ]] && { found="$entry"; break; }
            done
        fi
        base="$base/$found"
    done
    echo "${base:-/}"
}
