/* Renders a song to raw 16-bit stereo PCM with libtrelmo:
 *     render_song SONG OUTPUT.raw
 * Build it against an installed library with pkg-config:
 *     cc render_song.c $(pkg-config --cflags --libs trelmo) -o render_song */
#include <stdio.h>
#include <trelmo/trelmo.h>

static void print_message(void *user, const char *message) {
    (void)user;
    fputs(message, stderr);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s SONG OUTPUT.raw\n", argv[0]);
        return 2;
    }
    trelmo_engine *engine = trelmo_create();
    if (engine == NULL) return 1;
    trelmo_set_message_callback(engine, print_message, NULL);
    int status = trelmo_load_file(engine, argv[1]);
    if (status != TRELMO_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], trelmo_status_message(status));
        trelmo_destroy(engine);
        return 1;
    }
    const trelmo_song_info *info = trelmo_song_info_get(engine);
    fprintf(stderr, "%s: %s song, %llu frames, %d instruments (%d missing)\n", argv[1], info->kind_name,
            (unsigned long long)trelmo_length_frames(engine), info->instrument_count, info->missing_count);

    FILE *out = fopen(argv[2], "wb");
    if (out == NULL) {
        perror(argv[2]);
        trelmo_destroy(engine);
        return 1;
    }
    int16_t buffer[2 * 4096];
    size_t frames;
    while ((frames = trelmo_render(engine, buffer, 4096)) > 0) {
        if (fwrite(buffer, 4, frames, out) != frames) break;
    }
    status = ferror(out) | fclose(out);
    trelmo_destroy(engine);
    return status == 0 ? 0 : 1;
}
