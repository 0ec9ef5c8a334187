#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Checks that every C and C++ file the repository tracks is formatted as .clang-format says, with
# Debian 12's clang-format (14). Prints each file that differs and fails when any does.
#   bash scripts/check-format.sh          check
#   bash scripts/check-format.sh --fix    reformat those files in place
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format || command -v clang-format-14 || true)
[ -n "$format" ] || { echo "check-format: clang-format is missing (apt-get install clang-format)"; exit 1; }
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h' '*.hpp' '*.cc')
[ "${#files[@]}" -gt 0 ] || { echo "check-format: no C or C++ files found"; exit 1; }
if [ "${1:-}" = --fix ]; then
  "$format" -i --style=file "${files[@]}"
  echo "check-format: ${#files[@]} files formatted"
  exit 0
fi
bad=()
for file in "${files[@]}"; do
  "$format" --style=file --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [ "${#bad[@]}" -gt 0 ]; then
  printf 'check-format: not formatted: %s\n' "${bad[@]}"
  echo "check-format: ${#bad[@]} of ${#files[@]} files differ; run: bash scripts/check-format.sh --fix"
  exit 1
fi
echo "check-format: all ${#files[@]} C and C++ files are formatted"
