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

say() { ((quiet)) || printf '%s\n' "$*"; }
step() { ((quiet)) || printf '\n== %s\n' "$*"; }
show() { ((quiet)) || sed 's/^/   /'; }

cd "$root"
if ((build)); then
    step "Installing what is needed and building pelmon.exe"
    scripts/install-deps.sh || exit 1
    scripts/build-wx-mingw.sh || exit 1
    { cmake --preset windows >/dev/null && cmake --build --preset windows --target \
        pelmon companion_service svcctl clamdscan_shim >/dev/null; } || { echo "build failed" >&2; exit 1; }
fi

source tests/wine/common.sh
source scripts/clamd-env.sh

work=$(mktemp -d /tmp/pelmon-demo.XXXXXX)
cleanup() {
    [[ -n "${MONITOR_PID:-}" ]] && kill "$MONITOR_PID" 2>/dev/null
    clamd_stop
    wine_session_end
    rm -rf "$work"
}

step "Starting a private ClamAV daemon"
clamd_start "$work/clamd" || fail "clamd could not start (see above); the scanner is needed for this demo"
trap cleanup EXIT
say "clamd answers after ${CLAMD_START_MS} ms; its only signature: the EICAR test file"

step "Preparing Wine and the companion service"
wine_session_start
trap cleanup EXIT
c="$(unix_path_of 'C:\')"
user=alice
product="$(product_folder)"
# The product's installer makes its folders, the quarantine among them.
mkdir -p "$product/db" "$product/Vault" "$c/pelorin-scanner"
cp "$PELMON_WIN_BIN_DIR/clamdscan_shim.exe" "$c/pelorin-scanner/clamdscan.exe"
cp tools/clamdscan-bridge.sh "$c/pelorin-scanner/clamdscan-bridge.sh"
chmod +x "$c/pelorin-scanner/clamdscan-bridge.sh"
export WINEPATH='C:\pelorin-scanner' PELMON_SCAN_LOG="$work/scans.log"
install_service
svcctl start "$SERVICE_NAME" >/dev/null || fail "the companion service did not start"
say "service \"$SERVICE_NAME\" state: $(svcctl query "$SERVICE_NAME") (4 = running)"

step "Starting pelmon.exe"
start_monitor >"$work/monitor.out" 2>&1
await_file_text "$product/SuccessAppConLogs.txt" 'Profile Dir Path' 20
await_file_text "$product/SuccessAppConLogs.txt" 'AppData Dir Path' 20
sleep 0.5
tr -d '\r' <"$product/SuccessAppConLogs.txt" | grep PELMON | show
# Windows reports changes in every folder of a watched tree; Wine only in
# folders it has seen being created or that a Wine process has listed. A
# listing of the product folder makes its folders, the vault among them,
# watched as they would be on Windows.
wine_run 30 cmd /c dir /s /b 'C:\ProgramData\Pelorin' >/dev/null 2>&1 || fail "cannot list the product folder"
say "the product folder and its vault are watched (listed once, as Windows needs no listing)"

step "Writing the monitored-folder list: Downloads"
printf 'Downloads\r\n' >"$product/db/db6"
say "C:\\ProgramData\\Pelorin\\db\\db6 holds one line: Downloads"

# Wine watches only folders that it has seen being created since the watch
# began (or that a Wine process has listed), so the demo's user profile and
# its folders are made now, one level at a time, like a new user's.
for dir in users/$user users/$user/Downloads ProgramData/SomeVendor ProgramData/SomeVendor/Updates; do
    mkdir "$c/$dir" || fail "cannot create C:\\$dir"
    sleep 0.3
done

step "Creating files"
printf 'just a letter\r\n' >"$c/users/$user/Downloads/letter.doc"
created=$(date +%s%N)
eicar_write "$c/users/$user/Downloads/setup.exe"
eicar_write "$c/ProgramData/SomeVendor/Updates/update.exe"
say "C:\\users\\$user\\Downloads\\letter.doc             (clean)"
say "C:\\users\\$user\\Downloads\\setup.exe              (EICAR test file)"
say "C:\\ProgramData\\SomeVendor\\Updates\\update.exe    (EICAR test file)"

vault="$product/Vault"
quarantined=""
for ((i = 0; i < 1000; i++)); do
    [[ -z "$quarantined" && -f "$vault/setup.exe" ]] && quarantined=$(date +%s%N)
    # Done when both verdicts and the clean file's are in the scanner log.
    (( $(grep -cE 'setup\.exe.*FOUND|update\.exe.*FOUND|letter\.doc.*: OK' "$PELMON_SCAN_LOG" 2>/dev/null || true) >= 3 )) && break
    sleep 0.01
done

# A file moved into the vault must not be handed to the scanner again: it
# would find it infected and move it once more, under a new name, forever.
# Give such a loop time to show before counting.
sleep 1

step "Scanner invocations and verdicts"
if [[ -f "$PELMON_SCAN_LOG" ]]; then
    # The bridge reports host paths; show them as the monitor named them.
    awk -F'\t' '{ sub(/^args=/, "", $2); sub(/^verdict=/, "", $4); print "clamdscan.exe " $2 "\n      -> " $4 }' \
        "$PELMON_SCAN_LOG" | sed 's/\[//g; s/\]//g' | sed "s|$c/|C:/|g; /->/s|/|\\\\|g" | show
    say "(a .clamav-unlink-* name is clamdscan's own short-lived file beside a file it moves;"
    say " the monitor sees it appear like any other new file)"
fi

step "Quarantine C:\\ProgramData\\Pelorin\\Vault"
ls -l "$vault" 2>/dev/null | tail -n +2 | show
[[ -f "$vault/setup.exe" ]] || fail "setup.exe did not reach the quarantine folder"
[[ -f "$vault/update.exe" ]] || fail "update.exe did not reach the quarantine folder"
[[ ! -e "$c/users/$user/Downloads/setup.exe" ]] || fail "setup.exe is still in Downloads"
[[ -f "$c/users/$user/Downloads/letter.doc" ]] || fail "the clean file was moved"
grep -q 'letter.doc.*exit=0' "$PELMON_SCAN_LOG" || fail "the clean file was not scanned"
# Counts scans whose target (the argument after --move=...) is exactly $1.
scans_of() { grep -cF "] [$1]" "$PELMON_SCAN_LOG"; }
# The list file was written into a folder that existed before the watch, as
# the vault did: its scan shows that such folders are watched, so a vault
# that is left alone is left alone by choice.
(( $(scans_of 'C:\ProgramData\Pelorin\db\db6') == 1 )) || fail "the product folder was not watched: no scan of the list file"
(( $(scans_of "C:\\users\\$user\\Downloads\\setup.exe") == 1 )) || fail "setup.exe was not scanned exactly once"
(( $(scans_of 'C:\ProgramData\SomeVendor\Updates\update.exe') == 1 )) || fail "update.exe was not scanned exactly once"
! grep -qiF '] [C:\ProgramData\Pelorin\Vault' "$PELMON_SCAN_LOG" || fail "a file in the vault was handed to the scanner"
[[ -z "$(ls "$vault" | grep -v -x -e setup.exe -e update.exe)" ]] || fail "the vault holds renamed copies: $(ls "$vault")"
say "both test files are in the vault under their own names, each scanned once where it arrived;"
say "nothing in the vault was scanned again; letter.doc is still in Downloads"
say "setup.exe reached the vault $(( (quarantined - created) / 1000000 )) ms after it was created"

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
    read -r -p "Press Enter to stop the service and end the demo. " _ </dev/tty || sleep infinity
fi

step "Stopping the companion service"
svcctl --no-wait stop "$SERVICE_NAME" >/dev/null || fail "the service did not stop"
await_monitor_exit 10
MONITOR_PID=""
say "pelmon.exe exited with status $MONITOR_STATUS after ${MONITOR_EXIT_MS} ms"
[[ "$MONITOR_STATUS" == 0 ]] || fail "pelmon.exe exited with $MONITOR_STATUS"
say "done"
