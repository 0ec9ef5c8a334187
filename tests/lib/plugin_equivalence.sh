#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The library against the plug-in: every song rendered by `trelmo render` (which plays through
# libtrelmo) must give exactly the PCM that a freshly loaded in_trelmo.so gives when the player
# stand-in drives it through the Winamp interface; also when other songs come before it in one
# command. Songs: ECHO.MTP with its wave bank, the demo song, a generated NoiseTracker GS fixture
# and a sample of the generated and mutated songs of the fuzzing corpus (those that end within a
# minute), so that damaged headers, missing instruments and both song forms are covered.
#   plugin_equivalence.sh TRELMO TEST_HOST IN_TRELMO_SO DEMO_SONG SOURCE_DIR CORPUS_DIR
set -euo pipefail
trelmo=$1 host=$2 plugin=$3 demo=$4 source=$5 corpus=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$corpus/soundsmith/ECHO.MTP" "$corpus/soundsmith/ECHO.W" "$demo" "$work/"
c++ -std=c++20 -I"$source" -o "$work/make_ntg_fixture" "$source/tools/make_ntg_fixture.cpp" "$source"/tools/writers/*.cpp
"$work/make_ntg_fixture" "$work/FIXTURE.NTG"
songs=("$work/ECHO.MTP" "$work/$(basename "$demo")" "$work/FIXTURE.NTG")
# Every sixth corpus song that ends within a minute, in a fixed order.
corpus_songs=$(ls "$source/fuzz/corpus/fuzz_song" | sort | sed "s|^|$source/fuzz/corpus/fuzz_song/|")
for f in $("$trelmo" info --json -q $corpus_songs 2>/dev/null | python3 -c '
import json, sys
ending = [d["file"] for d in json.load(sys.stdin) if d.get("ends") and 0 < d.get("frames", 0) < 60 * 44100]
print("\n".join(ending[5::6]))'); do
  cp "$f" "$work/C$(basename "$f").MTP"
  songs+=("$work/C$(basename "$f").MTP")
done
mkdir "$work/together"
"$trelmo" render -q --format raw --out-dir "$work/together" "${songs[@]}"
failed=0
for song in "${songs[@]}"; do
  name=$(basename "$song")
  stem=${name%.*}
  # The stand-in's output plays a fixed amount on every poll; songs whose tempo makes long blocks
  # would wait many half-block sleeps for room. Only the samples are compared here, so it drains fast.
  "$host" --drain-bytes 1048576 "$plugin" "$song" "$work/$stem.plugin.pcm" >"$work/$stem.log" 2>&1 ||
    { echo "the player stand-in failed on $name:"; tail -n 5 "$work/$stem.log"; failed=1; continue; }
  "$trelmo" render -q --format raw -o "$work/$stem.alone.raw" "$song"
  cmp -s "$work/$stem.plugin.pcm" "$work/$stem.alone.raw" ||
    { echo "$name: trelmo render differs from the plug-in"; failed=1; }
  cmp -s "$work/$stem.plugin.pcm" "$work/together/$stem.raw" ||
    { echo "$name: trelmo render after other songs differs from the plug-in"; failed=1; }
done
# The same song as its disk names it (ECHO.MUS beside ECHO.WAVE) plays exactly as ECHO.MTP with ECHO.W.
mkdir "$work/wild"
cp "$corpus/wild/ECHO.MUS" "$corpus/wild/ECHO.WAVE" "$work/wild/"
"$host" --drain-bytes 1048576 "$plugin" "$work/wild/ECHO.MUS" "$work/wild.plugin.pcm" >"$work/wild.log" 2>&1 ||
  { echo "the player stand-in failed on wild/ECHO.MUS:"; tail -n 5 "$work/wild.log"; failed=1; }
"$trelmo" render -q --format raw -o "$work/wild.raw" "$work/wild/ECHO.MUS"
for pcm in "$work/wild.plugin.pcm" "$work/wild.raw"; do
  cmp -s "$work/ECHO.plugin.pcm" "$pcm" || { echo "ECHO.MUS with ECHO.WAVE differs from ECHO.MTP ($pcm)"; failed=1; }
done
echo "${#songs[@]} songs compared with the plug-in, and ECHO.MUS as its disk names it"
exit $failed
