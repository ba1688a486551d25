# A private clamd for the demo and the benchmarks, and the demo's bridge
# to it. Source it; do not execute it.
#
#   clamd_start WORKDIR   database with one EICAR hash, config, clamd in the
#                         background; returns once clamd answers and detects
#   clamd_stop            stops that clamd and waits for it to exit
#   install_bridge_scanner 'C:\dir'   the bridge as clamdscan.exe there
#   eicar_write PATH      (files.sh) writes the EICAR test string
#
# After clamd_start: CLAMD_CONF (exported, the bridge reads it), CLAMD_PID,
# CLAMD_WORKDIR, CLAMD_START_MS (time until clamd answered).
# CLAMD_EICAR_SIGNATURE is the name clamd reports for EICAR.
# CLAMD_START_TIMEOUT (seconds, default 60) bounds the wait.

source "$(dirname "${BASH_SOURCE[0]}")/files.sh"

# clamd appends ".UNOFFICIAL" to names from unsigned databases.
CLAMD_EICAR_SIGNATURE="Pelmon.Test.EICAR.UNOFFICIAL"

# Installs the demo's scanner in the folder given as a Windows path:
# tools/clamdscan_shim.cpp as clamdscan.exe, and the script it runs, which
# scans with the host's clamdscan against the clamd of clamd_start.
install_bridge_scanner() {
    local dir
    dir="$(unix_path_of "$1")"
    mkdir -p "$dir"
    cp "$PELMON_WIN_BIN_DIR/clamdscan_shim.exe" "$dir/clamdscan.exe"
    cp "$PELMON_ROOT/tools/clamdscan-bridge.sh" "$dir/clamdscan-bridge.sh"
    chmod +x "$dir/clamdscan-bridge.sh"
}

# True while PID runs. A zombie counts as gone: it no longer serves the
# socket, and where PID 1 does not reap orphans it would stay forever.
_clamd_alive() {
    local state
    kill -0 "$1" 2>/dev/null || return 1
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ "$state" != Z && "$state" != X ]]
}

_clamd_fail() {
    echo "clamd_start: $*" >&2
    if [[ -s "$CLAMD_WORKDIR/clamd.log" ]]; then
        echo "--- tail of $CLAMD_WORKDIR/clamd.log ---" >&2
        tail -n 20 "$CLAMD_WORKDIR/clamd.log" >&2
    fi
    if [[ -s "$CLAMD_WORKDIR/clamd.out" ]]; then
        echo "--- tail of $CLAMD_WORKDIR/clamd.out ---" >&2
        tail -n 20 "$CLAMD_WORKDIR/clamd.out" >&2
    fi
}

clamd_start() {
    [[ $# -eq 1 && -n "$1" ]] || { echo "usage: clamd_start WORKDIR" >&2; return 2; }
    if [[ -n "${CLAMD_PID:-}" ]] && _clamd_alive "$CLAMD_PID"; then
        echo "clamd_start: clamd $CLAMD_PID from this shell is still running" >&2
        return 1
    fi
    # /usr/sbin is not on an ordinary user's PATH on Debian.
    local clamd_bin
    clamd_bin=$(PATH="$PATH:/usr/sbin" command -v clamd) || true
    if [[ -z "$clamd_bin" ]] || ! command -v clamdscan >/dev/null; then
        echo "clamd_start: clamd/clamdscan not installed (packages clamav-daemon, clamdscan)" >&2
        return 1
    fi

    mkdir -p "$1/db" "$1/tmp" || return 1
    CLAMD_WORKDIR="$(cd "$1" && pwd)" || return 1
    local dir="$CLAMD_WORKDIR" sample md5 size
    # sun_path holds 108 bytes; clamd would silently truncate a longer path.
    if (( ${#dir} + 11 > 107 )); then
        echo "clamd_start: WORKDIR path too long for a Unix socket: $dir" >&2
        return 1
    fi
    CLAMD_CONF="$dir/clamd.conf"
    export CLAMD_CONF

    # The hash is computed from the bytes actually written, so the signature
    # and eicar_write cannot drift apart.
    sample="$dir/tmp/eicar.sample"
    eicar_write "$sample" || return 1
    size=$(stat -c %s "$sample") || return 1
    md5=$(md5sum "$sample" | cut -d' ' -f1) || return 1
    [[ "$size" == 68 ]] || { echo "clamd_start: EICAR sample is $size bytes, not 68" >&2; return 1; }
    # The database directory is ours: only the one signature goes in.
    rm -f "$dir"/db/*
    printf '%s:%s:%s\n' "$md5" "$size" "${CLAMD_EICAR_SIGNATURE%.UNOFFICIAL}" >"$dir/db/pelmon-test.hdb" || return 1

    # No User line: clamd then keeps the caller's identity, root or not, and
    # can read every file the caller can. No LogSyslog, no systemd socket.
    cat >"$CLAMD_CONF" <<EOF || return 1
LocalSocket $dir/clamd.sock
FixStaleSocket yes
DatabaseDirectory $dir/db
TemporaryDirectory $dir/tmp
PidFile $dir/clamd.pid
LogFile $dir/clamd.log
LogTime yes
LogClean yes
Foreground yes
SelfCheck 0
Bytecode no
EOF
    # Otherwise the first ping below would be answered by the old clamd.
    if clamdscan --config-file="$CLAMD_CONF" --ping 1 >/dev/null 2>&1; then
        echo "clamd_start: a clamd (pid $(cat "$dir/clamd.pid" 2>/dev/null || echo unknown)) already serves $dir/clamd.sock" >&2
        return 1
    fi
    rm -f "$dir/clamd.log" "$dir/clamd.out" "$dir/clamd.pid"

    local start limit=${CLAMD_START_TIMEOUT:-60}
    start=$(date +%s%N)
    "$clamd_bin" --config-file="$CLAMD_CONF" >"$dir/clamd.out" 2>&1 &
    CLAMD_PID=$!

    while ! clamdscan --config-file="$CLAMD_CONF" --ping 1 >/dev/null 2>&1; do
        if ! _clamd_alive "$CLAMD_PID"; then
            _clamd_fail "clamd exited during start-up"
            CLAMD_PID=""
            return 1
        fi
        if (( $(date +%s%N) - start > limit * 1000000000 )); then
            _clamd_fail "clamd did not answer on $dir/clamd.sock within ${limit}s"
            clamd_stop
            return 1
        fi
        sleep 0.02
    done
    CLAMD_START_MS=$(( ($(date +%s%N) - start) / 1000000 ))

    # A clamd that answers but does not detect would make every later
    # "not quarantined" result meaningless; check once here.
    local verdict
    verdict=$(clamdscan --config-file="$CLAMD_CONF" --no-summary "$sample" 2>&1) || true
    if [[ "$verdict" != *"$CLAMD_EICAR_SIGNATURE FOUND"* ]]; then
        _clamd_fail "clamd does not detect the EICAR sample: $verdict"
        clamd_stop
        return 1
    fi
    rm -f "$sample"
}

clamd_stop() {
    [[ -n "${CLAMD_PID:-}" ]] || return 0
    local i
    kill -TERM "$CLAMD_PID" 2>/dev/null || true
    for ((i = 0; i < 500; i++)); do
        _clamd_alive "$CLAMD_PID" || break
        sleep 0.02
    done
    if _clamd_alive "$CLAMD_PID"; then
        echo "clamd_stop: clamd $CLAMD_PID ignored SIGTERM for 10s, killing it" >&2
        kill -KILL "$CLAMD_PID" 2>/dev/null || true
        for ((i = 0; i < 100; i++)); do
            _clamd_alive "$CLAMD_PID" || break
            sleep 0.02
        done
    fi
    # Reaps it when it is our child; harmless otherwise.
    _clamd_alive "$CLAMD_PID" || wait "$CLAMD_PID" 2>/dev/null || true
    CLAMD_PID=""
    return 0
}
