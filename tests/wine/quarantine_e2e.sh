#!/usr/bin/env bash
# The demo's story as a test, with a real ClamAV daemon: the EICAR test files
# created in a listed profile folder and under the program-data folder end up
# in the quarantine folder, the clean file stays, and the monitor exits 0.
# Fails (with clamd's own words) when clamd cannot start here.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
exec bash "$root/scripts/demo.sh" --quiet --no-build
