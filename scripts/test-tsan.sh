#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Threads under ThreadSanitizer: the plug-in's thread tests (the Play/Stop stress test among them),
# where the host's thread and the mixer thread share nothing but the atomic run state, and the
# library's engines rendering different songs on two threads at once.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DTRELMO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELMO_TSAN=ON \
  -DTRELMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target host_tests lib_tests -j "$(nproc)"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
"$dir/tests/host_tests" --gtest_filter='Stress.*:MixerThread.*:Play.*:SharedLibrary.*'
"$dir/tests/lib_tests" --gtest_filter='Engines.TwoThreads*'
