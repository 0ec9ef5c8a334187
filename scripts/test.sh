#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds Trelmo and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== build and unit tests"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== Release build (optimised code brings its own warnings), with the library's tests"
bash scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DTRELMO_BUILD_BENCH=OFF
ctest --test-dir build-release --output-on-failure -j "$(nproc)" -L lib

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTRELMO_SANITIZE=ON -DTRELMO_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

for extra in scripts/test-*.sh; do
  [ -e "$extra" ] || continue
  echo "== $extra"
  bash "$extra"
done
echo "all tests passed"
