#!/usr/bin/env bash
# Runs the Windows build of the pure unit tests under Wine: once under the
# test locale (ANSI code page 1252), and the UTF-8 code-page tests once more
# under a locale whose ANSI code page is UTF-8. Wine takes the ANSI code
# page from the locale's language; Hindi has no ANSI code page of its own,
# so Wine uses UTF-8 there, as Windows does when told to use UTF-8.
set -u
source "$(dirname "$0")/../../scripts/lib/wine.sh"
wine_session_start
tests="$PELMON_WIN_BIN_DIR/tests/wine/pelmon_win_unit_tests.exe"
utf8_tests='Utf8AnsiCodePageTest.*'

wine_run 120 "$tests" --gtest_brief=1 --gtest_filter="-$utf8_tests" | tr -d '\r'
status=${PIPESTATUS[0]}

echo "== under a UTF-8 ANSI code page"
env LC_ALL=hi_IN.UTF-8 timeout -k 5 120 wine "$tests" --gtest_brief=1 --gtest_filter="$utf8_tests" | tr -d '\r'
utf8_status=${PIPESTATUS[0]}

((status == 0 && utf8_status == 0))
