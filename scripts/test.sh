#!/usr/bin/env bash
# Checks the formatting, builds Quorvel plain and under the address and undefined-behaviour
# sanitizers and runs every test in both builds, then builds, validates, installs and removes the Debian package.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QUORVEL_JOBS:-2}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "${CTEST_ARGS[@]}")
}

CTEST_ARGS=("$@")
echo "== format =="
scripts/check-format.sh
echo "== plain build =="
# For /usr, so that the package step below packs this very build rather than making a third.
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
echo "== sanitizer build (address, undefined) =="
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_BENCH=OFF
echo "== fuzz (libFuzzer, 60 s) =="
fuzz/run.sh 60
echo "== package (desktop entry, AppStream, Debian package: build, install, run, remove) =="
packaging/check-package.sh build
