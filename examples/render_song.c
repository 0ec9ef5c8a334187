/* SPDX-License-Identifier: BSD-3-Clause */
/* Renders a song to raw stereo PCM with libtrelmo, and tells what the song is:
 *     render_song SONG OUTPUT.raw          16-bit signed samples
 *     render_song SONG OUTPUT.raw float    32-bit float samples
 * Build it against an installed library with pkg-config:
 *     cc render_song.c $(pkg-config --cflags --libs trelmo) -o render_song
 */
#include <stdio.h>
#include <string.h>
#include <trelmo/trelmo.h>

#if !TRELMO_VERSION_AT_LEAST(1, 0, 0)
#error "this program needs libtrelmo 1.0 or later"
#endif

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && strcmp(argv[3], "float") == 0)) {
        fprintf(stderr, "usage: %s SONG OUTPUT.raw [float]\n", argv[0]);
        return 2;
    }
    const int as_float = argc == 4;
    /* A library older than the header this was built with lacks what the header promises. */
    if (trelmo_version_number() < TRELMO_VERSION_NUMBER) {
        fprintf(stderr, "libtrelmo %s is older than this program's %d.%d\n", trelmo_version(),
                TRELMO_VERSION_MAJOR, TRELMO_VERSION_MINOR);
        return 1;
    }
    trelmo_engine* engine = trelmo_create();
    if (engine == NULL) return 1;
    if (trelmo_load_file(engine, argv[1]) != TRELMO_OK) {
        fprintf(stderr, "%s\n", trelmo_last_error(engine)); /* names the file and the reason */
        trelmo_destroy(engine);
        return 1;
    }
    /* Texts are UTF-8, ready to show; numbers come in a record the caller sizes. */
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    trelmo_get_song_info(engine, &info);
    fprintf(stderr, "title: %s\ntype: %s\ninstruments: %d (%d missing)\n",
            trelmo_get_metadata(engine, "title"), trelmo_get_metadata(engine, "type_long"),
            info.instrument_count, info.missing_count);
    fprintf(stderr, "message:\n%s\n", trelmo_get_metadata(engine, "message"));
    if (trelmo_last_error(engine)[0] != '\0') fprintf(stderr, "warning: %s\n", trelmo_last_error(engine));

    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) {
        perror(argv[2]);
        trelmo_destroy(engine);
        return 1;
    }
    static int16_t pcm[2 * 4096];
    static float floats[2 * 4096];
    size_t frames;
    for (;;) {
        frames = as_float ? trelmo_render_float(engine, floats, 4096) : trelmo_render(engine, pcm, 4096);
        if (frames == 0) break;
        const size_t written = as_float ? fwrite(floats, 8, frames, out) : fwrite(pcm, 4, frames, out);
        if (written != frames) break;
    }
    const int status = ferror(out) | fclose(out);
    trelmo_destroy(engine);
    return status == 0 ? 0 : 1;
}
