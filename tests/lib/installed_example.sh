#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The library as its users get it: installed with `cmake --install` into a fresh prefix, the example
# program is built outside the build tree with nothing but pkg-config, and the song it renders must
# be the one trelmo renders; its float output is those samples / 32768; it shows a name with a byte
# above 127 as UTF-8, and the library's message for a song whose bank is missing.
#   installed_example.sh BUILD_DIR SOURCE_DIR TRELMO CORPUS_DIR [CFLAGS]
# CFLAGS: what a sanitizer build's library needs of the programs that link it.
set -euo pipefail
build=$1 source=$2 trelmo=$3 corpus=$4 extra=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name trelmo.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
cp "$source/examples/render_song.c" "$work/"
cd "$work"
# The shared library, as a program would normally link it; and the static one.
cc -std=c99 -Wall -Wextra -Werror $extra render_song.c $(pkg-config --cflags --libs trelmo) \
   -Wl,-rpath,"$(pkg-config --variable=libdir trelmo)" -o render_shared
cc -std=c99 -Wall -Wextra -Werror $extra render_song.c $(pkg-config --cflags trelmo) \
   "$(pkg-config --variable=libdir trelmo)/libtrelmo.a" $(pkg-config --libs-only-l --static trelmo | sed 's/-ltrelmo//') \
   -o render_static
[ "$(readelf -d render_shared | sed -n 's/.*Shared library: \[\(libtrelmo[^]]*\)\].*/\1/p')" = libtrelmo.so.1 ] ||
  { echo "the example is not linked against libtrelmo.so.1"; exit 1; }
grep -q '^License: BSD-3-Clause$' "$pc" || { echo "trelmo.pc names no licence"; exit 1; }

cp "$corpus/soundsmith/ECHO.MTP" "$corpus/soundsmith/ECHO.W" .
./render_shared ECHO.MTP shared.raw 2>/dev/null
./render_static ECHO.MTP static.raw 2>/dev/null
"$trelmo" render -q --format raw -o trelmo.raw ECHO.MTP
cmp shared.raw trelmo.raw && cmp static.raw trelmo.raw
echo "the installed example renders ECHO.MTP exactly as trelmo does ($(stat -c %s shared.raw) bytes)"

./render_shared ECHO.MTP float.raw float 2>/dev/null
python3 - <<'PY'
import array
pcm, floats = array.array('h'), array.array('f')
pcm.frombytes(open('shared.raw', 'rb').read())
floats.frombytes(open('float.raw', 'rb').read())
assert len(pcm) == len(floats), (len(pcm), len(floats))
assert all(f == p / 32768 for p, f in zip(pcm, floats)), 'float output is not the 16-bit output / 32768'
print(f'float output equals the 16-bit output / 32768 ({len(floats) // 2} frames)')
PY

# The same song under another name, with 0x83 (E acute in the IIgs's character set) in an
# instrument's name, and no bank beside it.
mkdir named
python3 -c "import sys; d = open('ECHO.MTP', 'rb').read(); i = d.index(b'KILLERKICK'); open('named/NAMED.MTP', 'wb').write(d[:i + 4] + b'\x83' + d[i + 5:])"
./render_shared named/NAMED.MTP named.raw 2>err.txt
grep -qx 'title: NAMED.MTP' err.txt && grep -qx $'KILL\xc3\x89RKICK' err.txt &&
  grep -q $'^warning: NAMED.MTP: instruments missing, played silent: KILL\xc3\x89RKICK, .* (looked for NAMED.W, NAMED.DOC, NAMED.D, DOC.DATA, ' err.txt ||
  { echo "the example's texts are not as expected:"; cat err.txt; exit 1; }
./render_shared named/GONE.MTP gone.raw 2>err.txt && exit 1
grep -qx 'cannot open named/GONE.MTP: no such file or directory' err.txt || { cat err.txt; exit 1; }
echo "the example shows UTF-8 names and the library's messages"
