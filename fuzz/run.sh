#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, address and undefined-behaviour sanitizers)
# and runs each for SECONDS (default 60, shared between the targets) from the seed corpus.
# Usage: fuzz/run.sh [SECONDS]. New inputs go to build-fuzz/corpus/, never to the repo's seeds;
# a crash leaves its input in build-fuzz/artifacts/ and ends with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${QUORVEL_FUZZ_BUILD:-build-fuzz}
jobs=${QUORVEL_JOBS:-2}

cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' \
  | "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "fuzz: SKIPPED: clang with libFuzzer not found (apt-get install clang-14 libclang-rt-14-dev)"
  exit 0
fi

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
targets=(fuzz_device_answer:answer)
each=$(( seconds / ${#targets[@]} ))
[ "$each" -ge 1 ] || each=1
mkdir -p "$build/artifacts"
for entry in "${targets[@]}"; do
  target=${entry%%:*} seeds=fuzz/corpus/${entry##*:}
  work=$build/corpus/${entry##*:}
  mkdir -p "$work"
  echo "== $target for ${each}s =="
  # Network safety: the device-answer target talks only to its own server on 127.0.0.1.
  "$build/$target" -max_total_time="$each" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$work" "$seeds" 2>"$build/$target.log" \
    || { tail -60 "$build/$target.log"; echo "fuzz: $target FAILED"; exit 1; }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "$build/$target.log" || true
done
echo "fuzz: passed"
