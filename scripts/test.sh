#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Sets everything up on a fresh Debian 12 machine, builds Trelmo and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== C and C++ formatting"
bash scripts/check-format.sh

echo "== build and unit tests"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== Release build of everything that is shipped (optimised code brings warnings of its own)"
bash scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DTRELMO_BUILD_TESTS=OFF -DTRELMO_BUILD_BENCH=OFF
build-release/cli/trelmo render -q --format raw -o build-release/demo.raw
cmp build-release/demo.raw <(build/cli/trelmo render -q --format raw -o - 2>/dev/null)
echo "the Release build renders the demo song as the test build does"

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTRELMO_SANITIZE=ON -DTRELMO_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

for extra in scripts/test-*.sh; do
  [ -e "$extra" ] || continue
  echo "== $extra"
  bash "$extra"
done
echo "all tests passed"
