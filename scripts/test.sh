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
  # Most tests wait on loopback exchanges, timers or child programs rather than compute, so
  # twice as many run at once as there are cores.
  (cd "$dir" && ctest --output-on-failure -j"$((jobs * 2))" "${CTEST_ARGS[@]}")
}

CTEST_ARGS=("$@")
echo "== format =="
scripts/check-format.sh
echo "== plain build =="
# For /usr, so that the package step below packs this very build rather than making a third.
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
echo "== sanitizer build (address, undefined) =="
# A unity build: about a fifth less compiling; the plain build above still compiles every file
# on its own, so a missing include is caught there.
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_BENCH=OFF -DCMAKE_UNITY_BUILD=ON
echo "== fuzz (libFuzzer, 60 s) =="
fuzz/run.sh 60
echo "== package (desktop entry, AppStream, Debian package: build, install, run, remove) =="
packaging/check-package.sh build
