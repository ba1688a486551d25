#!/usr/bin/env bash
# Builds both builds and runs every test: the native unit tests (test
# doubles, undefined-behaviour sanitizer) and the integration tests that run
# the real pelmon.exe under Wine. Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build-wx-mingw.sh

echo "== native build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== windows build and integration tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
