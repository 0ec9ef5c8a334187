#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The built libtrelmo.so against the ABI of the release (lib/abi/libtrelmo.abi): its exported
# symbols with their version nodes, and the public records' layouts, as libabigail reads them from
# the library's debug information. Any difference fails: an incompatible one must not happen within
# 1.x, and a compatible one (a new function, a member appended to a record) updates the baseline in
# the same commit:
#   abi_check.sh LIBRARY SOURCE_DIR [--update]
set -euo pipefail
library=$1 source=$2 update=${3:-}
baseline="$source/lib/abi/libtrelmo.abi"
suppressions="$source/lib/abi/libtrelmo.suppr"
command -v abidw >/dev/null || { echo "abidw is missing: apt-get install abigail-tools"; exit 1; }
current=$(mktemp)
trap 'rm -f "$current"' EXIT
# Only what programs see: the functions exported, and the types the public header declares.
abidw --headers-dir "$source/include/trelmo" --exported-interfaces-only --suppressions "$suppressions" \
      --no-show-locs --no-corpus-path --no-comp-dir-path --drop-private-types --no-elf-needed \
      --out-file "$current" "$library"
grep -q "<elf-symbol name='trelmo_create'" "$current" || { echo "abidw found no trelmo_create in $library"; exit 1; }
if [ "$update" = --update ]; then
  cp "$current" "$baseline"
  echo "baseline updated: $baseline"
  exit 0
fi
status=0
abidiff --suppressions "$suppressions" "$baseline" "$current" || status=$?
if (( status & 8 )); then
  echo "libtrelmo's ABI changed incompatibly (above): not allowed within 1.x"
  exit 1
elif (( status & 4 )); then
  echo "libtrelmo's ABI changed (above). If that is intended and compatible, update the baseline in the same commit:"
  echo "  bash tests/lib/abi_check.sh $library $source --update"
  exit 1
elif (( status != 0 )); then
  echo "abidiff failed ($status)"
  exit 1
fi
echo "libtrelmo's ABI is the baseline's: $(grep -c '<elf-symbol ' "$baseline") symbols, under $(grep -o "version='TRELMO[^']*'" "$baseline" | sort -u | tr '\n' ' ')"
