#!/usr/bin/env bash
# Builds both builds and runs every test: the native unit tests (test
# doubles, undefined-behaviour sanitizer), the same tests shuffled and
# repeated under the address and thread sanitizers, each fuzzer for 20 s,
# and the integration tests that run the real pelmon.exe under Wine.
# Installs what it needs first, and prints how long each step took.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

timed() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "-- $name: $((SECONDS - start)) s"
}

preset_tests() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

scripts/install-deps.sh
scripts/build-wx-mingw.sh

timed "native build and unit tests" preset_tests native
timed "address and undefined-behaviour sanitizers: unit tests shuffled and repeated" \
  preset_tests native-asan
timed "thread sanitizer: unit tests shuffled and repeated" preset_tests native-tsan
timed "fuzzers, 20 s each" scripts/fuzz.sh 20
timed "windows build and integration tests under Wine" preset_tests windows
