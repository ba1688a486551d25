#!/usr/bin/env bash
# Runs the Windows build of the pure unit tests under Wine.
set -u
source "$(dirname "$0")/lib.sh"
wine_session_start
wine_run 120 "$PELMON_WIN_BIN_DIR/tests/wine/pelmon_win_unit_tests.exe" --gtest_brief=1 | tr -d '\r'
status=${PIPESTATUS[0]}
exit "$status"
