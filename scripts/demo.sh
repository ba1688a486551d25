#!/usr/bin/env bash
# The monitor's whole job under Wine, with a real scanner: a ClamAV daemon
# of the demo's own detects the EICAR test file and clamdscan moves it to
# the quarantine folder.
#
# usage: scripts/demo.sh [--keep-running] [--quiet] [--no-build]
#   --keep-running  leave the monitor running after the story so files can be
#                   dropped in by hand; Enter stops it
#   --quiet         no story, only failures (the end-to-end test uses this)
#   --no-build      use the build that is there (the test command has made it)
# Exits non-zero, saying why, when the story does not end as it should.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=0 quiet=0 build=1
for arg in "$@"; do
    case "$arg" in
        --keep-running) keep=1 ;;
        --quiet) quiet=1 ;;
        --no-build) build=0 ;;
        *) echo "usage: $0 [--keep-running] [--quiet] [--no-build]" >&2; exit 2 ;;
    esac
done
# The Enter that ends a demo left running is read from fd 3; the Wine
# programs of the story read /dev/null, so none of them can take it first.
((keep)) && exec 3<&0 </dev/null

say() { ((quiet)) || printf '%s\n' "$*"; }
step() { ((quiet)) || printf '\n== %s\n' "$*"; }
show() { ((quiet)) || sed 's/^/   /'; }

cd "$root"
if ((build)); then
    step "Installing what is needed and building pelmon.exe"
    scripts/install-deps.sh || exit 1
    scripts/build-wx-mingw.sh || exit 1
    { cmake --preset windows >/dev/null && cmake --build --preset windows --target \
        pelmon companion_service svcctl clamdscan_shim slow_writer >/dev/null; } || { echo "build failed" >&2; exit 1; }
fi

source scripts/lib/monitor.sh
source scripts/lib/clamd.sh

# A failure also shows what the writers did, what the scanner was asked and
# what the monitor logged, so a run that failed elsewhere can be read.
fail() {
    echo "FAIL: $*" >&2
    local f
    for f in "${events:-}" "${PELMON_SCAN_LOG:-}" "${MONITOR_OUTPUT:-}" "${product:-/nonexistent}"/*.txt; do
        [[ -n "$f" && -f "$f" ]] || continue
        echo "-- ${f##*/}" >&2
        tr -d '\r' <"$f" | tail -n 60 >&2
    done
    exit 1
}

work=$(mktemp -d /tmp/pelmon-demo.XXXXXX)
# The one exit trap: each step is undone only if it was taken, and
# wine_session_start leaves this trap in place.
cleanup() {
    [[ -n "${MONITOR_PID:-}" ]] && kill "$MONITOR_PID" 2>/dev/null
    clamd_stop
    wine_session_end
    rm -rf "$work"
}
trap cleanup EXIT

step "Starting a private ClamAV daemon"
clamd_start "$work/clamd" || fail "clamd could not start (see above); the scanner is needed for this demo"
say "clamd answers after ${CLAMD_START_MS} ms; its only signature: the EICAR test file"

step "Preparing Wine and the companion service"
# The product's installer makes its folders, the quarantine among them.
prepare_wine_product
user=alice
product="$logs"
mkdir -p "$product/db"
install_bridge_scanner 'C:\pelorin-scanner'
export WINEPATH='C:\pelorin-scanner' PELMON_SCAN_LOG="$work/scans.log"
start_service
say "service \"$SERVICE_NAME\" state: $(svcctl query "$SERVICE_NAME") (4 = running)"

step "Starting pelmon.exe"
MONITOR_OUTPUT="$work/monitor.out"
# Left running for files dropped by hand, it is not to be ended by the time
# limit that keeps a hung test from leaving a monitor behind.
((keep)) && MONITOR_LIMIT=0
start_watchers
tr -d '\r' <"$product/SuccessAppConLogs.txt" | grep PELMON | show
# Windows reports changes in every folder of a watched tree; Wine only in
# folders it has seen being created or that a Wine process has listed. A
# listing of the product folder makes its folders, the vault among them,
# watched as they would be on Windows.
wine_run 30 cmd /c dir /s /b 'C:\ProgramData\Pelorin' >/dev/null 2>&1 || fail "cannot list the product folder"
say "the product folder and its vault are watched (listed once, as Windows needs no listing)"

step "Writing the monitored-folder list: Downloads"
story_start=$(date +%s%3N)
printf 'Downloads\r\n' >"$product/db/db6"
say "C:\\ProgramData\\Pelorin\\db\\db6 holds one line: Downloads"

# Wine watches only folders that it has seen being created since the watch
# began (or that a Wine process has listed), so the demo's user profile and
# its folders are made now, one level at a time, like a new user's.
new_folder "users/$user/Downloads"
new_folder ProgramData/SomeVendor/Updates

step "Creating files"
# The test file's content, outside the watched trees, for the writers to copy.
mkdir -p "$c/demo-source"
eicar_write "$c/demo-source/eicar.com"
events="$c/demo-source/events.txt"
downloads="C:\\users\\$user\\Downloads"
writer() {
    slow_writer 60 --log 'C:\demo-source\events.txt' "$@" >/dev/null 2>&1
}
printf 'just a letter\r\n' >"$c/users/$user/Downloads/letter.doc"
# A browser downloads into a temporary name, in parts, and renames the
# finished file to its own name.
writer --parts 2 --interval 1000 'C:\demo-source\eicar.com' \
    "$downloads\\Unconfirmed 4242.crdownload>$downloads\\setup.exe" &
browser=$!
# A download manager writes a file under its final name in three parts a
# second apart, closing it after each and opening it again for the next:
# each pause is longer than the monitor waits to call a file quiet.
writer --parts 3 --interval 1000 --reopen 'C:\demo-source\eicar.com' "$downloads\\tool.exe" &
program=$!
eicar_write "$c/ProgramData/SomeVendor/Updates/update.exe"
wait "$browser" || fail "the browser-style download failed"
wait "$program" || fail "the slow writer failed"
say "C:\\users\\$user\\Downloads\\letter.doc      clean, written at once"
say "C:\\users\\$user\\Downloads\\setup.exe       EICAR test file, downloaded as 'Unconfirmed 4242.crdownload'"
say "                                         in two parts a second apart, then renamed"
say "C:\\users\\$user\\Downloads\\tool.exe        EICAR test file, written in three parts a second apart,"
say "                                         the file closed and opened again for each part"
say "C:\\ProgramData\\SomeVendor\\Updates\\update.exe   EICAR test file, written at once"

vault="$product/Vault"
# Done when the three test files are in the vault and the clean file's
# verdict is in the scanner log; a slow machine is given 30 s.
deadline=$((SECONDS + 30))
until [[ -f "$vault/setup.exe" && -f "$vault/tool.exe" && -f "$vault/update.exe" ]] &&
    grep -q 'letter\.doc.*: OK' "$PELMON_SCAN_LOG" 2>/dev/null; do
    ((SECONDS < deadline)) || break
    sleep 0.02
done

# A file moved into the vault must not be handed to the scanner again: it
# would find it infected and move it once more, under a new name, forever.
# Give such a loop time to show before counting.
sleep 1

step "What happened, and when (seconds from the list file)"
# The writers' events and the scanner's calls, in the order of their times.
# The bridge reports host paths; they are shown as the monitor named them.
{
    awk -v t0="$story_start" '{ what = $2; $1 = ($1 - t0) / 1000; $2 = ""; path = substr($0, index($0, $3));
                                 printf "%6.2f  %-8s %s\n", $1, what, path }' "$events" 2>/dev/null
    awk -F'\t' -v t0="$story_start" '{ sub(/^args=/, "", $2); sub(/^verdict=/, "", $4); sub(/^started_ms=/, "", $6);
                                        n = split($2, a, "] \\["); target = a[n]; gsub(/[][]/, "", target);
                                        verdict = $4; sub(/^.*: /, "", verdict);
                                        printf "%6.2f  scanner  %s -> %s\n", ($6 - t0) / 1000, target, verdict }' \
        "$PELMON_SCAN_LOG" 2>/dev/null
} | tr -d '\r' | sed "s|$c/|C:/|g" | sort -n | grep -v '\.clamav-unlink-' | show
say "(a file is scanned once it has been quiet for a quarter of a second, and a new file written"
say " to again is scanned again once the writes stop. Wine cannot tell the monitor that a writer"
say " still holds a file, so a pause of a second looks like the end: the first parts of tool.exe,"
say " and of 'Unconfirmed 4242.crdownload' when it paused, were scanned and nothing was found in"
say " them; the final scan of tool.exe saw the whole file and found it. setup.exe arrived whole by"
say " the rename and was scanned once.)"
unlinks=$(grep -c '\.clamav-unlink-' "$PELMON_SCAN_LOG")
((unlinks == 0)) || say "(not shown: $unlinks calls for clamdscan's own short-lived .clamav-unlink-* files beside the
 files it moved, which the monitor sees appear like any other new file; most are gone by its
 second look.)"

step "Quarantine C:\\ProgramData\\Pelorin\\Vault"
ls -l "$vault" 2>/dev/null | tail -n +2 | show
for name in setup.exe tool.exe update.exe; do
    [[ -f "$vault/$name" ]] || fail "$name did not reach the quarantine folder"
done
[[ ! -e "$c/users/$user/Downloads/setup.exe" ]] || fail "setup.exe is still in Downloads"
[[ ! -e "$c/users/$user/Downloads/tool.exe" ]] || fail "tool.exe is still in Downloads"
[[ -f "$c/users/$user/Downloads/letter.doc" ]] || fail "the clean file was moved"
grep -q 'letter.doc.*exit=0' "$PELMON_SCAN_LOG" || fail "the clean file was not scanned"
# Counts scans whose target (the argument after --move=...) is exactly $1.
scans_of() { grep -cF "] [$1]" "$PELMON_SCAN_LOG"; }
# The list file was written into a folder that existed before the watch, as
# the vault did: its scan shows that such folders are watched, so a vault
# that is left alone is left alone by choice.
(( $(scans_of 'C:\ProgramData\Pelorin\db\db6') == 1 )) || fail "the product folder was not watched: no scan of the list file"
for target in "$downloads\\setup.exe" 'C:\ProgramData\SomeVendor\Updates\update.exe'; do
    (( $(scans_of "$target") == 1 )) || fail "$target was not scanned exactly once"
done
# Only the whole test file is detected: the scan that found tool.exe came
# after its writer was done with it.
tool_closed=$(awk '$2 == "closed" && /Downloads\\tool\.exe/ { print $1 }' "$events" | tr -d '\r')
tool_found=$(awk -F'\t' '/Downloads\\tool\.exe\]/ && $3 == "exit=1" { sub(/^started_ms=/, "", $6); print $6 }' "$PELMON_SCAN_LOG")
[[ -n "$tool_found" ]] || fail "no scan found tool.exe"
(( tool_found >= tool_closed )) || fail "tool.exe was found before its writer was done with it"
! grep -qiF '] [C:\ProgramData\Pelorin\Vault' "$PELMON_SCAN_LOG" || fail "a file in the vault was handed to the scanner"
[[ -z "$(ls "$vault" | grep -v -x -e setup.exe -e tool.exe -e update.exe)" ]] || fail "the vault holds renamed copies: $(ls "$vault")"
say "the three test files are in the vault under their own names, each found by a scan of the whole"
say "file where it arrived; nothing in the vault was scanned again; letter.doc is still in Downloads"

step "The scanner's daemon stops: an outage"
clamd_stop
say "clamd stopped: clamdscan now ends with exit status 2, as it cannot connect"
move_in_eicar "$c/users/$user/Downloads/invoice.exe"
say "C:\\users\\$user\\Downloads\\invoice.exe     EICAR test file, arrives while nothing can scan it"
await_file_text "$product/ErrorFunctionLogs.txt" 'new files wait and are tried again' 20
tr -d '\r' <"$product/ErrorFunctionLogs.txt" | grep 'new files wait' | show
sleep 3
[[ -f "$c/users/$user/Downloads/invoice.exe" ]] || fail "invoice.exe left Downloads while clamd was down"
say "3 s later invoice.exe is still in Downloads, tried again now and then, not forgotten"

step "The daemon is back"
clamd_start "$work/clamd" || fail "clamd could not start again"
say "clamd answers again after ${CLAMD_START_MS} ms"
for ((i = 0; i < 600; i++)); do
    [[ -f "$vault/invoice.exe" ]] && break
    sleep 0.05
done
[[ -f "$vault/invoice.exe" ]] || fail "invoice.exe did not reach the quarantine folder after the outage"
await_file_text "$product/ErrorFunctionLogs.txt" 'clamdscan scans again' 10
tr -d '\r' <"$product/ErrorFunctionLogs.txt" | grep 'scans again' | show
await_file_text "$product/SuccessScanLogs.txt" 'invoice.exe' 10
tr -d '\r' <"$product/SuccessScanLogs.txt" | grep 'invoice.exe' | show
say "invoice.exe is in the vault, and its detection is recorded in SuccessScanLogs.txt"

step "Log files in C:\\ProgramData\\Pelorin"
for f in "$product"/*.txt; do
    say "-- ${f##*/}"
    { tr -d '\r' <"$f"; echo; } | sed '/^$/d' | show
done

if ((keep)); then
    step "Still running"
    say "Drop files into $(unix_path_of "C:\\users\\$user")/Downloads (listed in the list file)"
    say "or anywhere under $(unix_path_of 'C:\ProgramData') (new folders only: Wine watches what it saw being created)."
    say "The list file is $product/db/db6; quarantined files go to $vault"
    say "Scanner log: $PELMON_SCAN_LOG"
    printf 'Press Enter to stop the service and end the demo. '
    # With no input left no Enter can come: it runs until interrupted.
    read -r _ <&3 || sleep infinity
fi

step "Stopping the companion service"
svcctl --no-wait stop "$SERVICE_NAME" >/dev/null || fail "the service did not stop"
await_monitor_exit 10
MONITOR_PID=""
say "pelmon.exe exited with status $MONITOR_STATUS after ${MONITOR_EXIT_MS} ms"
[[ "$MONITOR_STATUS" == 0 ]] || fail "pelmon.exe exited with $MONITOR_STATUS"
say "done"
