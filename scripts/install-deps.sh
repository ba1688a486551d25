#!/usr/bin/env bash
# Installs the Debian packages that the builds, the tests and the demo need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make libgtest-dev
  # clang and its sanitizer and libFuzzer runtimes for the sanitizer builds
  # and the fuzzers; llvm for llvm-symbolizer, without which the sanitizers
  # name no function (and the thread sanitizer's suppression matches none)
  clang libclang-rt-14-dev llvm
  libwxgtk3.2-dev
  g++-mingw-w64-x86-64 dpkg-dev
  wine wine64
  clamav-daemon clamdscan
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The distribution's clamd and freshclam services are not ours to run: the
# demo and the tests start their own clamd with a private configuration.
for unit in clamav-daemon clamav-freshclam; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$unit" 2>/dev/null; then
    systemctl stop "$unit" || true
  fi
done
