#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Fuzz targets in CI: builds them with clang in build-fuzz, runs each over its regression corpus
# (fuzz/corpus/<target>: seeds and every input that once crashed), fuzzes each for a bounded time,
# and runs the leak check (1,000 song loads and 1,000 Play/Stop cycles under LeakSanitizer).
#   FUZZ_SECONDS=60 (per target)   FUZZ_TARGETS="fuzz_song ..." to pick targets
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"fuzz_song fuzz_wave_bank fuzz_asif fuzz_host_files fuzz_prodos fuzz_nufx fuzz_zip_reader fuzz_zip"}

echo "== fuzz: build (clang, AddressSanitizer, UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTRELMO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRELMO_BUILD_FUZZ=ON -DTRELMO_SANITIZE=ON \
  -DTRELMO_BUILD_TESTS=OFF -DTRELMO_BUILD_BENCH=OFF -DTRELMO_BUILD_CLI=OFF >/dev/null
cmake --build build-fuzz --target trelmo_fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

for target in $targets; do
  echo "== $target: regression corpus"
  if ! build-fuzz/fuzz/$target -runs=0 -artifact_prefix="$work/$target-" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    exit 1
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE" "$work/$target.log" || true
done

for target in $targets; do
  echo "== $target: fuzzing for ${seconds} s"
  mkdir -p "$work/$target"
  # New inputs go to the scratch folder; the committed corpus is only read.
  if ! build-fuzz/fuzz/$target -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$work/$target-" "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    for crash in "$work/$target"-*; do
      [ -e "$crash" ] || continue
      mkdir -p fuzz/findings
      cp "$crash" fuzz/findings/
      echo "input kept as fuzz/findings/$(basename "$crash"): add it to fuzz/corpus/$target once fixed"
    done
    exit 1
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units" "$work/$target.log" || true
done

echo "== leak check"
build-fuzz/fuzz/trelmo_leak_check fuzz/corpus/fuzz_song fuzz/corpus/fuzz_wave_bank/real-echo.w
