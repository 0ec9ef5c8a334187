#!/usr/bin/env bash
# The library as its users get it: installed with `cmake --install` into a fresh prefix, the example
# program is built outside the build tree with nothing but pkg-config, and the song it renders must
# be the one trelmo renders.
#   installed_example.sh BUILD_DIR SOURCE_DIR TRELMO CORPUS_DIR
set -euo pipefail
build=$1 source=$2 trelmo=$3 corpus=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name trelmo.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
cp "$source/examples/render_song.c" "$work/"
cd "$work"
# The shared library, as a program would normally link it; and the static one.
cc -std=c99 -Wall -Wextra -Werror render_song.c $(pkg-config --cflags --libs trelmo) \
   -Wl,-rpath,"$(pkg-config --variable=libdir trelmo)" -o render_shared
cc -std=c99 -Wall -Wextra -Werror render_song.c $(pkg-config --cflags trelmo) \
   "$(pkg-config --variable=libdir trelmo)/libtrelmo.a" $(pkg-config --libs-only-l --static trelmo | sed 's/-ltrelmo//') \
   -o render_static
[ "$(readelf -d render_shared | sed -n 's/.*Shared library: \[\(libtrelmo[^]]*\)\].*/\1/p')" = libtrelmo.so.0 ] ||
  { echo "the example is not linked against libtrelmo.so.0"; exit 1; }

cp "$corpus/soundsmith/ECHO.MTP" "$corpus/soundsmith/ECHO.W" .
./render_shared ECHO.MTP shared.raw
./render_static ECHO.MTP static.raw
"$trelmo" render -q --format raw -o trelmo.raw ECHO.MTP
cmp shared.raw trelmo.raw && cmp static.raw trelmo.raw
echo "the installed example renders ECHO.MTP exactly as trelmo does ($(stat -c %s shared.raw) bytes)"
