#!/usr/bin/env bash
# Stands in for clamdscan.exe when the monitor runs under Wine: takes the
# Windows-style command line the monitor builds,
#   clamdscan.exe --move="C:\ProgramData\Pelorin\Vault" "C:\users\alice\Downloads\setup.exe"
# maps the paths into the Wine prefix and runs the host's clamdscan against
# the clamd that scripts/lib/clamd.sh started. Exits with clamdscan's code
# (0 clean, 1 found, 2 error).
#
# Copied as clamdscan.exe (executable) it runs, but Wine 8's CreateProcess
# then succeeds with hProcess NULL and a garbage hThread: the caller can
# neither wait for the scan nor read its result. A Windows program named
# clamdscan.exe that starts this script and waits for PELMON_BRIDGE_STATUS
# gives the caller a real process with the real exit code.
#
# Environment (Wine hands the Unix environment on to this process):
#   CLAMD_CONF           clamd configuration to talk to (required)
#   WINEPREFIX           prefix the Windows paths live in (default ~/.wine)
#   PELMON_SCAN_LOG      if set, one line per invocation is appended there
#   PELMON_CLAMDSCAN     clamdscan to run (default /usr/bin/clamdscan)
#   PELMON_BRIDGE_STATUS if set (Windows or host path), the exit code is
#                        written there, complete or not at all, when the
#                        bridge ends. Wine's CreateProcess returns no process
#                        handle for a Unix program, so a Windows-side caller
#                        cannot wait for it or read its exit code otherwise.

shopt -s nullglob dotglob

received=("$@")
# The clock and the log's fields come from builtins: a call of 64 files
# would otherwise fork a process per argument and cost more than its scan.
now_ms() {
    local t="${EPOCHREALTIME/[.,]/}"
    NOW_MS="${t:0:${#t}-3}"
}
now_ms
started_ms="$NOW_MS"
# Stopped by a signal (acted on once clamdscan returns), the caller would
# otherwise wait for a status in vain.
trap 'finish 2 "bridge: terminated by a signal"' TERM INT HUP
prefix="${WINEPREFIX:-$HOME/.wine}"
clamdscan_bin="${PELMON_CLAMDSCAN:-/usr/bin/clamdscan}"

# One line, whatever the arguments hold, so the log stays one line per run;
# the result is in ONE_LINE.
one_line() {
    local s="$1"
    s="${s//$'\r'/ }"
    s="${s//$'\n'/ }"
    ONE_LINE="${s//$'\t'/ }"
}

finish() {
    local code="$1" verdict="$2" moved="${3:-}" a args="" stamp
    if [[ -n "${PELMON_SCAN_LOG:-}" ]]; then
        # One pass over all arguments: hundreds of them, one at a time,
        # cost more than the scan.
        printf -v args '[%s] ' "${received[@]}"
        one_line "${args% }"
        args="$ONE_LINE"
        one_line "$verdict"
        verdict="$ONE_LINE"
        one_line "$moved"
        moved="$ONE_LINE"
        now_ms
        printf -v stamp '%(%Y-%m-%dT%H:%M:%S)T.%03d' "${NOW_MS:0:${#NOW_MS}-3}" "$((10#${NOW_MS: -3}))"
        # The lock keeps lines of concurrent scans from interleaving.
        {
            flock 9
            printf '%s\targs=%s\texit=%s\tverdict=%s\tmoved=%s\tstarted_ms=%s\tended_ms=%s\n' \
                "$stamp" "$args" "$code" "$verdict" "$moved" "$started_ms" "$NOW_MS" >&9
        } 9>>"$PELMON_SCAN_LOG"
    fi
    if [[ -n "${PELMON_BRIDGE_STATUS:-}" ]]; then
        local status
        if to_unix "$PELMON_BRIDGE_STATUS"; then status="$UNIX_PATH"; else status="$PELMON_BRIDGE_STATUS"; fi
        # Renamed into place, so a poller never reads a half-written file.
        printf '%s\n' "$code" >"$status.tmp" && mv -f -- "$status.tmp" "$status"
    fi
    exit "$code"
}

fail() {
    echo "clamdscan-bridge: $*" >&2
    finish 2 "bridge: $*"
}

# Follows the Windows path component by component below BASE, matching each
# against the names on disk without regard to case, as Windows does
# ("C:\Users" is "users" in a prefix). Components not on disk are kept as
# given, so a folder still to be created gets the spelling it was asked for.
# The result is in RESOLVED.
resolve_below() {
    local cur="$1" rest="$2" comp entry
    local -a comps
    IFS='/' read -r -a comps <<<"$rest"
    for comp in "${comps[@]}"; do
        case "$comp" in
            "" | .) continue ;;
            ..) [[ "$cur" != "$1" ]] && cur="${cur%/*}"; continue ;;
        esac
        if [[ ! -e "$cur/$comp" && -d "${cur:-/}" ]]; then
            for entry in "$cur"/*; do
                entry="${entry##*/}"
                if [[ "${entry,,}" == "${comp,,}" ]]; then
                    comp="$entry"
                    break
                fi
            done
        fi
        cur="$cur/$comp"
    done
    RESOLVED="${cur:-/}"
}

# Windows path -> host path, in UNIX_PATH (no subshell: a call of many
# files maps each). Drive letters go through the prefix's dosdevices links
# (c: -> drive_c, z: -> /), like Wine itself, looked up once per drive.
declare -A drive_roots=()
to_unix() {
    local p="$1" drive root
    UNIX_PATH=""
    # Quotes survive when the caller's quoting was not Windows-style.
    [[ "$p" == \"*\" ]] && p="${p:1:${#p}-2}"
    [[ "$p" == '\\?\'* ]] && p="${p:4}"
    p="${p//\\//}"
    if [[ "$p" =~ ^([A-Za-z]):(/.*)?$ ]]; then
        drive="${BASH_REMATCH[1],,}"
        local rest="${BASH_REMATCH[2]}"
        root="${drive_roots[$drive]:-}"
        if [[ -z "$root" ]]; then
            root="$(readlink -f "$prefix/dosdevices/$drive:" 2>/dev/null)"
            if [[ -z "$root" || ! -d "$root" ]]; then
                [[ "$drive" == c && -d "$prefix/drive_c" ]] || return 1
                root="$prefix/drive_c"
            fi
            drive_roots[$drive]="$root"
        fi
        # z: is "/"; without the slash, joining does not double it.
        resolve_below "${root%/}" "$rest"
        UNIX_PATH="$RESOLVED"
    elif [[ "$p" == //* ]]; then
        return 1  # UNC paths have no host counterpart here
    elif [[ "$p" == /* ]]; then
        # A host path (PELMON_BRIDGE_STATUS may be one); the monitor itself
        # never sends drive-relative paths ("\dir\file").
        [[ "$1" == /* ]] || return 1
        UNIX_PATH="$p"
    else
        resolve_below "$PWD" "$p"
        UNIX_PATH="$RESOLVED"
    fi
}

vault_win=""
targets_win=()
ping=""
for a in "$@"; do
    case "$a" in
        --move=*) vault_win="${a#--move=}" ;;
        --ping=*) ping="${a#--ping=}" ;;
        -*) fail "unsupported option: $a" ;;
        *) targets_win+=("$a") ;;
    esac
done
[[ -n "${CLAMD_CONF:-}" ]] || fail "CLAMD_CONF is not set (source scripts/lib/clamd.sh and run clamd_start)"
# The monitor asks whether the daemon answers after a call failed.
if [[ -n "$ping" ]]; then
    output="$("$clamdscan_bin" --config-file="$CLAMD_CONF" --ping="$ping" 2>&1)"
    code=$?
    [[ -n "$output" ]] && printf '%s\n' "$output"
    finish "$code" "$output"
fi
[[ -n "$vault_win" ]] || fail "missing --move=DIR"
((${#targets_win[@]} > 0)) || fail "no file to scan"
[[ -x "$clamdscan_bin" ]] || fail "$clamdscan_bin not found"

to_unix "$vault_win" || fail "cannot map vault path: $vault_win"
vault="$UNIX_PATH"
# A call names hundreds of files in a few folders: each folder is mapped
# once, and each file then costs one lookup of its own name.
targets=()
declare -A folder_of=()
for t in "${targets_win[@]}"; do
    folder="${t%\\*}"
    if [[ "$folder" != "$t" && "$folder" == [A-Za-z]:\\* && "${t##*\\}" != "" && "${t##*\\}" != . && "${t##*\\}" != .. ]]; then
        if [[ -z "${folder_of[$folder]+set}" ]]; then
            to_unix "$folder" || fail "cannot map path: $t"
            folder_of[$folder]="$UNIX_PATH"
        fi
        leaf="${folder_of[$folder]}/${t##*\\}"
        if [[ "$leaf" == */* && -e "$leaf" ]]; then
            targets+=("$leaf")
        else
            resolve_below "${folder_of[$folder]}" "${t##*\\}"
            targets+=("$RESOLVED")
        fi
    else
        to_unix "$t" || fail "cannot map path: $t"
        targets+=("$UNIX_PATH")
    fi
done

# The vault is not made here: clamdscan refuses every scan without it, as
# it would on a real installation, and keeping it is the monitor's job.

output="$("$clamdscan_bin" --config-file="$CLAMD_CONF" --move="$vault" -- "${targets[@]}" 2>&1)"
code=$?
# The monitor reads each file's verdict by the path it gave: a line about a
# mapped path is printed with the Windows path it came from, found by each
# ": " in the line, first to last. One awk pass over all lines: a call names
# hundreds of files, and a shell loop over them cost more than the scan.
# The per-file result lines ("PATH: OK", "PATH: NAME FOUND", "...ERROR"),
# or clamdscan's own error when it never got to a file, go to the log,
# through a file of their own: the mapped lines go straight to the caller.
results="$(mktemp)" || fail "no temporary file"
{
    for i in "${!targets[@]}"; do printf '%s\t%s\n' "${targets[$i]}" "${targets_win[$i]}"; done
    printf '\001\n'
    [[ -n "$output" ]] && printf '%s\n' "$output"
} | LC_ALL=C awk -F'\t' -v results="$results" '
    !body && $0 == "\001" { body = 1; next }
    !body { if ($1 != "" && !($1 in win)) win[$1] = substr($0, length($1) + 2); next }
    {
        line = $0
        if (line ~ /: OK$/ || line ~ / FOUND$/ || line ~ / ERROR$/ || line ~ /^ERROR:/)
            verdict = verdict (verdict == "" ? "" : " | ") line
        else if (line ~ /: moved to \047.*\047$/) {
            entry = substr(line, index(line, ": moved to \047") + 12)
            moved = moved (moved == "" ? "" : " | ") substr(entry, 1, length(entry) - 1)
        }
        if (first == "") first = line
        rest = line; head = ""
        while ((at = index(rest, ": ")) > 0) {
            head = head substr(rest, 1, at - 1)
            rest = substr(rest, at + 2)
            if (head != "" && (head in win)) { line = win[head] ": " rest; break }
            head = head ": "
        }
        print line
    }
    END { printf "%s\n%s\n", (verdict != "" ? verdict : first), moved > results }'
{ IFS= read -r verdict; IFS= read -r moved; } <"$results"
rm -f -- "$results"

finish "$code" "$verdict" "$moved"
