/* SPDX-License-Identifier: BSD-3-Clause */
/* libtrelmo 1.0: plays Apple IIgs SoundSmith / MegaTracker and NoiseTracker GS songs.
 *
 * An engine plays one song at a time and renders it as 44100 Hz interleaved stereo (left sample
 * first), as 16-bit integers or as 32-bit floats. With default options the samples are exactly
 * those the Winamp plug-in gives for the same song when it has just been loaded: the order list
 * played once, the IIgs's hard left and right voices, no fade.
 *
 * Threads: engines are independent of each other. Use each engine from one thread at a time;
 * different engines may be used on different threads at once. The functions that take no engine
 * (trelmo_version, trelmo_version_number, trelmo_status_message, trelmo_detect) may be called from
 * any thread at any time. Nothing is allocated and no lock is taken while rendering.
 *
 * Errors: every function that can fail says in its documentation what it returns then. No C++
 * exception ever leaves the library: memory that cannot be had is TRELMO_ERROR_MEMORY, and the
 * engine stays usable. Each engine keeps a message for its last failure, naming the file and the
 * reason (trelmo_last_error).
 *
 * Growth (how the ABI stays compatible within 1.x):
 * - The library hands out no structure that it allocates and the caller indexes. Records (struct
 *   trelmo_song_info, trelmo_instrument, trelmo_place) are allocated by the caller, and their first
 *   member, size, is set by the caller to sizeof the record it was built with (TRELMO_INIT_RECORD).
 *   The library writes only the members that lie wholly within size and never a byte beyond, and
 *   answers TRELMO_ERROR_ARGUMENT when size is smaller than the record of 1.0. Later versions only
 *   append members, so a program built against 1.0 keeps working with 1.x, and one built against
 *   1.x finds the members a 1.0 library does not know as it left them (zero them first).
 * - An array of records (trelmo_pattern_cells) is passed with the size of one element, which the
 *   library uses as the stride; the same rules hold for each element.
 * - Texts about the song are UTF-8 strings under string keys (trelmo_get_metadata); a new key
 *   changes no ABI. Unknown keys answer "".
 * - Every exported symbol carries the version node of the release that added it (TRELMO_1.0 for
 *   this one). Within 1.x no symbol is removed, no function's parameters change, no member of a
 *   record moves, and no enumerator changes its value; the shared library stays libtrelmo.so.1.
 *   An incompatible change would be 2.0 with libtrelmo.so.2.
 *
 * Loops: the library counts passes through the order list (1 plays it once, 0 for ever), not
 * repeats after the first as some other libraries do (libopenmpt's repeat count 0 is one pass, -1
 * for ever; libtrelmo's loops = repeat count + 1, with 0 for -1).
 *
 * Licence: BSD-3-Clause (the LICENSE file).
 */
#ifndef TRELMO_TRELMO_H
#define TRELMO_TRELMO_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32) && defined(TRELMO_SHARED_BUILD)
#define TRELMO_API __declspec(dllexport)
#elif defined(__GNUC__)
#define TRELMO_API __attribute__((visibility("default")))
#else
#define TRELMO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ---- */

/* The version of this header. */
#define TRELMO_VERSION_MAJOR 1
#define TRELMO_VERSION_MINOR 0
#define TRELMO_VERSION_PATCH 0
/* A version as one number that compares as versions do: 1.0.0 is 0x010000. */
#define TRELMO_MAKE_VERSION(major, minor, patch) (((major) << 16) | ((minor) << 8) | (patch))
#define TRELMO_VERSION_NUMBER \
    TRELMO_MAKE_VERSION(TRELMO_VERSION_MAJOR, TRELMO_VERSION_MINOR, TRELMO_VERSION_PATCH)
/* True when this header is of version major.minor.patch or later, for code that uses a later call:
 *     #if TRELMO_VERSION_AT_LEAST(1, 1, 0) ... #endif */
#define TRELMO_VERSION_AT_LEAST(major, minor, patch) \
    (TRELMO_VERSION_NUMBER >= TRELMO_MAKE_VERSION(major, minor, patch))

/** The version of the library that is running, such as "1.0.0".
 * \return a static string; never NULL.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API const char* trelmo_version(void);

/** The version of the library that is running, as TRELMO_MAKE_VERSION gives it (0x010000 for
 * 1.0.0). A program built against version X may check at start that this is at least X.
 * \return the version number.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API uint32_t trelmo_version_number(void);

/* ---- Limits ---- */

#define TRELMO_SAMPLE_RATE 44100
#define TRELMO_CHANNELS 2
#define TRELMO_MAX_TRACKS 14
/* The largest song file the library loads, and the largest wave bank or ASIF instrument file: far
 * above any real one. Callers that read files themselves (a stream can be endless) stop there. */
#define TRELMO_MAX_SONG_BYTES 67108864
#define TRELMO_MAX_COMPANION_BYTES 16777216
/* The furthest a seek goes: 6 hours of sound (see trelmo_seek). */
#define TRELMO_MAX_SEEK_FRAMES 952560000u

/* ---- Results ---- */

/* Every function that can fail returns one of these (or says otherwise); 0 is success. New
 * failures may be added in 1.x: treat any other negative value as a failure. */
typedef enum trelmo_status {
    TRELMO_OK = 0,
    TRELMO_ERROR_ARGUMENT = -1, /* a null engine or buffer, a value out of range, a record too small */
    TRELMO_ERROR_MEMORY = -2,   /* memory could not be had */
    TRELMO_ERROR_OPEN = -3,     /* the song file could not be opened (errno and trelmo_last_error tell why) */
    TRELMO_ERROR_READ = -4, /* the song file could not be read whole (errno and trelmo_last_error tell why) */
    TRELMO_ERROR_NOT_A_SONG = -5, /* the bytes are neither a SoundSmith nor a NoiseTracker GS song */
    TRELMO_ERROR_NO_SONG = -6,    /* the engine has no song loaded */
    TRELMO_ERROR_TOO_LARGE = -7,  /* the file is larger than any song, bank or instrument can be */
    TRELMO_ERROR_NOT_A_FILE = -8, /* the path names a folder, a device, a pipe or the like */
    TRELMO_ERROR_PATH = -9,       /* the path is longer than the system allows */
    TRELMO_ERROR_BANK = -10,      /* the wave bank chosen with trelmo_set_bank_file cannot be used */
    TRELMO_ERROR_INTERNAL = -11,  /* the library failed in a way it did not foresee; the engine is usable */
    TRELMO_ERROR_NOT_A_CONTAINER = -12, /* the bytes are no disk image or archive the library reads */
    TRELMO_ERROR_CONTAINER =
        -13 /* a disk image or archive that cannot be listed (damaged, or a kind this build does not read) */
} trelmo_status;

/** A short English sentence for a status, such as "not a SoundSmith or NoiseTracker GS song".
 * \param status a trelmo_status.
 * \return a static string; "unknown error" for a value that is no status; never NULL.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API const char* trelmo_status_message(int status);

/* ---- Engines ---- */

typedef struct trelmo_engine trelmo_engine;

/** A new engine with no song and default options.
 * \return the engine, or NULL when memory cannot be had.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API trelmo_engine* trelmo_create(void);

/** Releases an engine and its song.
 * \param engine an engine, or NULL (nothing happens).
 * \since 1.0 */
TRELMO_API void trelmo_destroy(trelmo_engine* engine);

/** What went wrong last on this engine, as a message a program can show as it is, naming the file
 * and the reason: "cannot open /music/GOLF.MTP: permission denied", "GOLF.MTP: instruments missing,
 * played silent: FLUTE, BASS (looked for GOLF.W, GOLF.DOC, GOLF.D, DOC.DATA, FLUTE, BASS)".
 * Every call that fails sets it; a load sets it to the load's failure, or, when the song loads
 * with instruments missing, to that warning; a load that finds everything clears it.
 * \param engine an engine.
 * \return a UTF-8 string, valid until the next call on the engine; "" when nothing went wrong or
 *         engine is NULL; never NULL.
 * \since 1.0 */
TRELMO_API const char* trelmo_last_error(const trelmo_engine* engine);

/* Diagnostics: the loaders' messages ("DOC DATA file found with 9 insts.", "Error: unable to load
 * ASIF file X", ...), each a whole line ending in '\n', in the plug-in's wording (file and
 * instrument names as the song's raw bytes). Called on the thread that loads.
 *
 * While this callback or a file callback (below) runs, the engine that is loading holds no song
 * yet: trelmo_get_song_info and trelmo_get_instrument answer TRELMO_ERROR_NO_SONG and
 * trelmo_get_metadata "", trelmo_length_frames and trelmo_position 0, trelmo_render 0, trelmo_seek
 * and the view functions TRELMO_ERROR_NO_SONG, trelmo_load_file and trelmo_load_memory
 * TRELMO_ERROR_ARGUMENT, and trelmo_unload does nothing. The options may be set (they hold for the
 * song being loaded); trelmo_destroy must not be called on that engine. Other engines may be used
 * in every way. */
typedef void (*trelmo_message_callback)(void* user, const char* message);

/** Sets where the loaders' messages go. By default nothing is printed.
 * \param engine an engine, or NULL (nothing happens).
 * \param callback the function to call, or NULL for none.
 * \param user passed to callback as it is.
 * \since 1.0 */
TRELMO_API void trelmo_set_message_callback(trelmo_engine* engine, trelmo_message_callback callback,
                                            void* user);

/* ---- Loading ---- */

/** Loads the song at path. Its wave bank and ASIF instrument files are looked for beside it (and a
 * shared DOC.DATA also in the current folder, unless trelmo_set_current_folder_bank turned that
 * off), names matched without regard to case. The song then starts at frame 0 from the state of a
 * newly created engine. A song whose instruments cannot all be found loads all the same and plays
 * them silent (trelmo_song_info's missing_count, the "warnings" metadata, trelmo_last_error).
 * \param engine an engine.
 * \param path the song's path.
 * \return TRELMO_OK; or TRELMO_ERROR_ARGUMENT (engine or path NULL; the engine is left as it was),
 *         TRELMO_ERROR_PATH, TRELMO_ERROR_OPEN, TRELMO_ERROR_READ (errno tells why),
 *         TRELMO_ERROR_NOT_A_FILE, TRELMO_ERROR_TOO_LARGE, TRELMO_ERROR_NOT_A_SONG,
 *         TRELMO_ERROR_BANK (trelmo_set_bank_file), TRELMO_ERROR_MEMORY. On any failure but the
 *         first the engine holds no song and trelmo_last_error names the file and the reason.
 * \since 1.0 */
TRELMO_API int trelmo_load_file(trelmo_engine* engine, const char* path);

/* Supplies a companion file of a song loaded from memory: name is the file name the song asks for
 * ("ECHO.W", "ECHO.DOC", "ECHO.D", "DOC.DATA", an instrument's ASIF name, or for a song that finds
 * none of these one of the names songs carry on their disks: "ECHO.WAVE", "WAVE", "WAVEBANK" ...).
 * Match it as trelmo_match_file_name does. Return 1 and set *data and *size to the file's bytes
 * (they need only stay valid until the callback returns to the library again or the load ends: the
 * library copies them), or return 0 when there is no such file. Called on the thread that loads. */
typedef int (*trelmo_file_callback)(void* user, const char* name, const void** data, size_t* size);

/** Loads a song from memory. A companion file larger than TRELMO_MAX_COMPANION_BYTES is not used.
 * \param engine an engine.
 * \param data the song's bytes, copied: the caller's buffer may go once this returns.
 * \param size their count.
 * \param name the song's file name (such as "ECHO.MTP"): a SoundSmith song's wave bank is named
 *        after it, and it is the "title". NULL is "".
 * \param files answers requests for companion files; NULL when there are none.
 * \param user passed to files as it is.
 * \return TRELMO_OK; or TRELMO_ERROR_ARGUMENT (engine NULL, or data NULL with size > 0; the engine
 *         is left as it was), TRELMO_ERROR_TOO_LARGE (more than TRELMO_MAX_SONG_BYTES),
 *         TRELMO_ERROR_NOT_A_SONG, TRELMO_ERROR_BANK, TRELMO_ERROR_MEMORY. On any failure but the
 *         first the engine holds no song.
 * \since 1.0 */
TRELMO_API int trelmo_load_memory(trelmo_engine* engine, const void* data, size_t size, const char* name,
                                  trelmo_file_callback files, void* user);

/** Where a SoundSmith song's instruments come from, when the caller knows better than the names.
 * Each applies to every later load until changed; NULL or "" clears it.
 *
 * trelmo_set_bank_file: the wave bank to use, before any lookup. A load whose song is a SoundSmith
 * song fails with TRELMO_ERROR_BANK when this file cannot be read or is no bank of 1 to 15
 * instruments (trelmo_last_error and trelmo_load_problem tell why).
 *
 * trelmo_set_instruments_folder: a folder searched for wave banks and ASIF files, by the same names
 * and rules, after the song's own folder (also for songs loaded from memory).
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT for a NULL engine or a path longer than the system
 *         allows (the option then stays); TRELMO_ERROR_MEMORY.
 * \since 1.0 */
TRELMO_API int trelmo_set_bank_file(trelmo_engine* engine, const char* path);
TRELMO_API int trelmo_set_instruments_folder(trelmo_engine* engine, const char* path);

/** The bank file and the instruments folder set above.
 * \return the path; "" when none is set or engine is NULL; never NULL. Valid until it is set again.
 * \since 1.0 */
TRELMO_API const char* trelmo_get_bank_file(const trelmo_engine* engine);
TRELMO_API const char* trelmo_get_instruments_folder(const trelmo_engine* engine);

/** Why the last load failed with TRELMO_ERROR_BANK, naming the file and the reason, as
 * trelmo_last_error also says it.
 * \return the reason; "" after any other load, or for a NULL engine; never NULL.
 * \since 1.0 */
TRELMO_API const char* trelmo_load_problem(trelmo_engine* engine);

/** Which of the names the engine looks a companion file up by stands for wanted. The same bytes
 * win; otherwise a name that differs only in the case of its ASCII letters, or carries a ProDOS type
 * suffix of '#' and six hex digits ("GOLF.WAVE#060000", as Apple II extraction tools name files),
 * and of several such names the one that sorts first byte by byte. A trelmo_file_callback that
 * serves files from a listing answers with this rule, so that every player finds the same files.
 * \param names count names; a NULL entry is skipped.
 * \return the index of the name in names[0 .. count - 1]; -1 when none stands for wanted, or when
 *         wanted or names is NULL.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API int trelmo_match_file_name(const char* wanted, const char* const* names, size_t count);

/** Releases the song; the engine then holds none. Options stay.
 * \param engine an engine, or NULL (nothing happens).
 * \since 1.0 */
TRELMO_API void trelmo_unload(trelmo_engine* engine);

/** Whether bytes begin like a SoundSmith or NoiseTracker GS song (at most the first 16 are read).
 * \return 1 when they do; 0 when not, or data is NULL.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API int trelmo_detect(const void* data, size_t size);

/* ---- What a song is ---- */

/* Sets a record's size member: trelmo_song_info info; TRELMO_INIT_RECORD(info); (also
 * trelmo_instrument, trelmo_place, trelmo_container_song) */
#define TRELMO_INIT_RECORD(record) \
    ((void)memset(&(record), 0, sizeof(record)), (record).size = sizeof(record))

typedef enum trelmo_kind {
    TRELMO_KIND_NONE = -1,
    TRELMO_KIND_SOUNDSMITH = 0,
    TRELMO_KIND_NOISETRACKER = 1
} trelmo_kind;

/* The song's facts in numbers. Texts are metadata (trelmo_get_metadata). */
typedef struct trelmo_song_info {
    size_t size; /* set by the caller: sizeof(trelmo_song_info) */
    int kind;    /* a trelmo_kind */
    int patterns;
    int positions;              /* order-list entries played */
    int speed;                  /* SoundSmith: ticks per row at the start; 0 otherwise */
    int tempo_word;             /* NoiseTracker GS: the header's tempo word; 0 otherwise */
    int tempo;                  /* the tick rate the song starts with */
    int tracks;                 /* the song's own track count (tracks beyond 14 never play) */
    int instrument_count;       /* the instruments trelmo_get_instrument describes */
    int missing_count;          /* instruments named by the song without samples */
    int bank_used;              /* SoundSmith: 1 when a wave bank was read and its instruments used */
    int bank_in_current_folder; /* 1 when the bank is a DOC.DATA found in the current folder */
    int ends;                   /* 0 when a damaged song never reaches its end (frames is then a limit) */
    uint64_t frames;            /* the length of one pass through the order list, in frames */
} trelmo_song_info;

/** Describes the loaded song.
 * \param engine an engine.
 * \param info filled; info->size set by the caller.
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine or info NULL, info->size too small);
 *         TRELMO_ERROR_NO_SONG (info is left as it was).
 * \remarks never disturbs rendering.
 * \since 1.0 */
TRELMO_API int trelmo_get_song_info(trelmo_engine* engine, trelmo_song_info* info);

typedef enum trelmo_source {
    TRELMO_SOURCE_MISSING = 0, /* named by the song, but no samples were found */
    TRELMO_SOURCE_BANK = 1,    /* from the song's wave bank */
    TRELMO_SOURCE_ASIF = 2,    /* from an ASIF instrument file */
    TRELMO_SOURCE_SONG = 3     /* carried in the song file itself (NoiseTracker GS) */
} trelmo_source;

/* How an instrument's file was found. */
typedef enum trelmo_found_by {
    TRELMO_FOUND_BY_NAME = 0, /* by the names the song gives: its bank after it, DOC.DATA, its ASIF files */
    TRELMO_FOUND_BY_SECOND_LOOK =
        1, /* a bank under a name songs carry on their disks (ECHO.MUS beside ECHO.WAVE) */
    TRELMO_FOUND_BY_POSITION =
        2, /* the song's names were stripped: the bank's instrument at the same position */
    TRELMO_FOUND_BY_CALLER = 3 /* the bank or instruments folder the caller chose */
} trelmo_found_by;

typedef struct trelmo_instrument {
    size_t size;      /* set by the caller: sizeof(trelmo_instrument) */
    int number;       /* 1-based, as the song's cells name it */
    int source;       /* a trelmo_source */
    const char* name; /* UTF-8, decoded from the song's bytes, padding removed; may be "" */
    const char* file; /* the bank or ASIF file the samples came from, or the one looked for; "" for none */
    uint32_t length;  /* sample bytes */
    uint32_t loop_start;
    uint32_t loop_end;
    int loops;    /* 1 when the sample loops */
    int volume;   /* the song's default volume for the instrument */
    int found_by; /* a trelmo_found_by; TRELMO_FOUND_BY_NAME for a missing instrument */
} trelmo_instrument;

/** Describes one instrument of the loaded song. Its strings stay valid until the next load,
 * unload or destroy.
 * \param engine an engine.
 * \param index 0 .. instrument_count - 1 (trelmo_song_info).
 * \param instrument filled; instrument->size set by the caller.
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine or instrument NULL, size too small, index out of
 *         range); TRELMO_ERROR_NO_SONG. On failure the record is left as it was.
 * \since 1.0 */
TRELMO_API int trelmo_get_instrument(trelmo_engine* engine, int index, trelmo_instrument* instrument);

/** A text about the loaded song, as UTF-8, by key. The song's own bytes are decoded as the IIgs's
 * character set (Mac OS Roman for bytes of 128 and up; control characters become visible symbols,
 * U+2400 on). Keys:
 *  - "title": the song's file name, without its folder;
 *  - "type": "mtp" or "ntg";
 *  - "type_long": "SoundSmith" or "NoiseTracker GS";
 *  - "form": SoundSmith: the file's magic, "SONGOK" or "KOV"; "" otherwise;
 *  - "message": the instrument names, one per line in the song's order, as tracker players show a
 *    song's message (an instrument without a name is an empty line);
 *  - "warnings": one line per problem: instruments missing and the files looked for; "" for none;
 *  - "looked_for": for missing instruments, the file names looked for, ", "-separated;
 *  - "bank": the wave bank found for a SoundSmith song, as a path; "" for none;
 *  - "container": the disk image or archive the song came from; "" for none.
 * \param engine an engine.
 * \param key one of trelmo_get_metadata_keys().
 * \return a string valid until the next load, unload or destroy; "" without a song, for an unknown
 *         key, or for a NULL engine or key; never NULL.
 * \since 1.0 */
TRELMO_API const char* trelmo_get_metadata(trelmo_engine* engine, const char* key);

/** The keys trelmo_get_metadata knows, ';'-separated: "title;type;...".
 * \return a static string; never NULL.
 * \remarks any thread.
 * \since 1.0 */
TRELMO_API const char* trelmo_get_metadata_keys(void);

/** The length of the song as the options play it, in frames: one pass times the number of passes,
 * exactly the frame at which trelmo_render ends.
 * \return the frames; UINT64_MAX when the song loops forever; 0 without a song or engine.
 * \since 1.0 */
TRELMO_API uint64_t trelmo_length_frames(trelmo_engine* engine);

/* ---- Rendering ---- */

/** Renders up to frames frames as 16-bit stereo (2 x frames values, left first). A tick that does
 * not fit is carried into the next call, so any sizes of call give the same samples.
 * \return the frames written: fewer than asked only at the song's end; 0 after it, without a song,
 *         or for a NULL engine or out.
 * \since 1.0 */
TRELMO_API size_t trelmo_render(trelmo_engine* engine, int16_t* out, size_t frames);

/** Renders as trelmo_render does, as 32-bit float stereo: each value is the 16-bit sample divided
 * by 32768, so the two agree exactly and any mix of calls continues the same sound.
 * \return as trelmo_render.
 * \since 1.0 */
TRELMO_API size_t trelmo_render_float(trelmo_engine* engine, float* out, size_t frames);

/** The frame the next render starts at.
 * \return the frame; 0 without a song or engine.
 * \since 1.0 */
TRELMO_API uint64_t trelmo_position(trelmo_engine* engine);

/** Moves to frame (clamped to the song's length); what follows is exactly what an uninterrupted
 * render gives from that frame on. A seek plays every tick up to its frame, silently, so its cost
 * grows with the frame: beyond TRELMO_MAX_SEEK_FRAMES (6 hours of sound) it is refused and the
 * position stays where it was. In a song that ticks faster than the usual 50 ticks a second (a
 * higher tempo) the limit comes as many ticks in, proportionally sooner; any seek within it answers
 * in well under a second.
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine NULL, or frame beyond the limit);
 *         TRELMO_ERROR_NO_SONG.
 * \since 1.0 */
TRELMO_API int trelmo_seek(trelmo_engine* engine, uint64_t frame);

/* ---- Options ----
 * Each applies to the song being played at once and stays for the songs loaded later, with or
 * without a song. The defaults give the plug-in's exact sound. After any change trelmo_length_frames
 * tells where rendering will now end. Every setter returns TRELMO_OK, or TRELMO_ERROR_ARGUMENT for a
 * NULL engine or a value out of range (the option then stays); every getter returns TRELMO_OK with
 * *value set, or TRELMO_ERROR_ARGUMENT for a NULL engine or value. */

/** How many times the order list is played: 1 (the default) or more; 0 plays it for ever. Given
 * while a song plays: a song already past its new end plays on to the end of the pass it is in
 * (fading over that pass's last milliseconds when a fade is set) and ends there, rather than
 * stopping mid-pass; a song that had ended plays the passes it is now given. That longer length
 * stays until the loop count changes again, a song is loaded, or a seek goes back to a frame
 * within the length the loop count alone gives.
 * \since 1.0 */
TRELMO_API int trelmo_set_loops(trelmo_engine* engine, int loops);
/** \since 1.0 */
TRELMO_API int trelmo_get_loops(const trelmo_engine* engine, int* value);

/** Fades the last milliseconds of the last pass out to silence; 0 (the default) does not fade.
 * Ignored while the song loops for ever.
 * \since 1.0 */
TRELMO_API int trelmo_set_fade(trelmo_engine* engine, uint32_t milliseconds);
/** \since 1.0 */
TRELMO_API int trelmo_get_fade(const trelmo_engine* engine, uint32_t* value);

/** Stereo separation in percent: 100 (the default) is the IIgs's hard left and right, 0 is mono.
 * \since 1.0 */
TRELMO_API int trelmo_set_stereo_separation(trelmo_engine* engine, int percent);
/** \since 1.0 */
TRELMO_API int trelmo_get_stereo_separation(const trelmo_engine* engine, int* value);

/** Tracks whose bit (1 << track, track 0 .. 13) is set are silent; bits above are ignored. 0 by
 * default. Muting every track but one renders that track alone (a stem); the stems of a song add
 * up to its full mix.
 * \since 1.0 */
TRELMO_API int trelmo_set_mute_mask(trelmo_engine* engine, uint32_t mask);
/** \return the mask; 0 for a NULL engine.
 * \since 1.0 */
TRELMO_API uint32_t trelmo_mute_mask(trelmo_engine* engine);

/** Whether trelmo_load_file also looks for a shared DOC.DATA in the process's current folder when
 * there is none beside the song: 1 (the default, as the plug-in does) or 0. Takes effect at the
 * next load.
 * \since 1.0 */
TRELMO_API int trelmo_set_current_folder_bank(trelmo_engine* engine, int enabled);
/** \since 1.0 */
TRELMO_API int trelmo_get_current_folder_bank(const trelmo_engine* engine, int* value);

/* ---- What a song view needs ----
 * A tracker-style view: where the song is, its order list, the cells of its patterns and how loud
 * each track is. Reading any of these never disturbs rendering. */

#define TRELMO_PATTERN_ROWS 64

/* Where the song is, for the sound that trelmo_render gave last: the order-list position, the
 * pattern played there, that pattern's row (0 .. 63) and the tick within the row (0 on the tick that
 * read the row; a NoiseTracker GS row is one tick). Before the first row has been read it is row 0
 * of position 0; after the end, the last row played. */
typedef struct trelmo_place {
    size_t size; /* set by the caller: sizeof(trelmo_place) */
    int position;
    int pattern;
    int row;
    int tick;
} trelmo_place;

/** \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine or place NULL, place->size too small);
 *         TRELMO_ERROR_NO_SONG. On failure the record is left as it was.
 * \since 1.0 */
TRELMO_API int trelmo_get_place(trelmo_engine* engine, trelmo_place* place);

/** The pattern played at an order-list position.
 * \param position 0 .. positions - 1.
 * \return the pattern (0 or more); TRELMO_ERROR_ARGUMENT (engine NULL, position out of range);
 *         TRELMO_ERROR_NO_SONG.
 * \since 1.0 */
TRELMO_API int trelmo_order_pattern(trelmo_engine* engine, int position);

/** The frame at which an order-list position starts in the pass being played (the pass that holds
 * trelmo_position; the last pass after the end): the first frame whose place (trelmo_get_place) is
 * that position, which is the start of the pass for position 0 and otherwise the tick that reads
 * the position's first row. trelmo_seek to it is exact, as every seek is.
 * \param frame set on success.
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine or frame NULL, a position out of range or one
 *         that a damaged song never reaches); TRELMO_ERROR_NO_SONG.
 * \since 1.0 */
TRELMO_API int trelmo_order_position_frame(trelmo_engine* engine, int position, uint64_t* frame);

/* One cell of a pattern, in the same terms for both kinds of song. */
#define TRELMO_NOTE_STOP (-1)  /* the cell silences its track */
#define TRELMO_NOTE_BREAK (-2) /* the pattern ends after this row */
typedef struct trelmo_cell {
    int note;       /* 0 none; 1 .. 255 a note number, 1 being the lowest C and 13 the C above it */
    int instrument; /* as the cell names it (1 ..); 0 keeps the track's instrument */
    int effect;     /* SoundSmith: the effect 0 .. 15; NoiseTracker GS: the command 0 .. 3 */
    int parameter;  /* 0 .. 255 */
} trelmo_cell;

/** Writes the cells of a pattern, row 0 first, each row's tracks in order: TRELMO_PATTERN_ROWS x
 * tracks cells, tracks being the song's track count limited to TRELMO_MAX_TRACKS. Cells that lie
 * beyond the song's data read as empty, as they play.
 * \param cells an array of capacity elements of cell_size bytes each.
 * \param cell_size sizeof(trelmo_cell) as the caller knows it: the stride of cells.
 * \return the number of cells written; TRELMO_ERROR_ARGUMENT (engine or cells NULL, pattern
 *         outside 0 .. 65535, capacity too small, cell_size smaller than 1.0's cell);
 *         TRELMO_ERROR_NO_SONG.
 * \since 1.0 */
TRELMO_API int trelmo_pattern_cells(trelmo_engine* engine, int pattern, trelmo_cell* cells, size_t capacity,
                                    size_t cell_size);

/** How loud each of the first count tracks sounds now: the voice's volume times the largest sample
 * magnitude it plays over the next hundredth of a second, from 0 (silent, muted or stopped) to
 * TRELMO_LEVEL_MAX. Computed when asked; rendering pays nothing for it.
 * \param count 0 .. TRELMO_MAX_TRACKS.
 * \return TRELMO_OK; TRELMO_ERROR_ARGUMENT (engine or levels NULL, count out of range);
 *         TRELMO_ERROR_NO_SONG (the count levels are then set to 0).
 * \since 1.0 */
#define TRELMO_LEVEL_MAX (255 * 128)
TRELMO_API int trelmo_track_levels(trelmo_engine* engine, int* levels, int count);

/* ---- Disk images and archives ----
 * IIgs songs are published inside containers: ProDOS disk images (2IMG, DiskCopy 4.2, raw images in
 * ProDOS or DOS order), ShrinkIt (NuFX) archives, bare or behind Binary II, Binary II archives, and,
 * in builds that read them, zip and gzip files around any of these. A container is told by its
 * bytes, never by its name, and containers inside it are opened as found, to a bounded depth and
 * within a bounded number of unpacked bytes. Every file in it is recognised by its first bytes as a
 * loose file is (trelmo_detect): those are its songs. A song loaded from a container finds its wave
 * bank, DOC.DATA and ASIF files in its own folder inside the container, by the rules used on disk,
 * and never any file outside the container. */

typedef struct trelmo_container trelmo_container;

/** A new handle with no container open.
 * \return the handle, or NULL when memory cannot be had.
 * \since 1.0 */
TRELMO_API trelmo_container* trelmo_container_create(void);

/** Closes the container and releases the handle.
 * \param container a handle, or NULL (nothing happens).
 * \since 1.0 */
TRELMO_API void trelmo_container_destroy(trelmo_container* container);

/** Opens the disk image or archive at path (closing the one open before), reading it whole.
 * \return TRELMO_OK; TRELMO_ERROR_OPEN, TRELMO_ERROR_READ, TRELMO_ERROR_NOT_A_FILE or
 *         TRELMO_ERROR_TOO_LARGE when the file cannot be read; TRELMO_ERROR_NOT_A_CONTAINER for bytes
 *         that are no container; TRELMO_ERROR_CONTAINER for one that cannot be listed. The reason,
 *         naming the file, is then in trelmo_container_last_error.
 * \since 1.0 */
TRELMO_API int trelmo_container_open_file(trelmo_container* container, const char* path);

/** Opens a container from memory; the bytes are copied. name is the container's file name (used in
 *  messages, and for the one file of a bare gzip file); it may be NULL.
 * \return as trelmo_container_open_file.
 * \since 1.0 */
TRELMO_API int trelmo_container_open_memory(trelmo_container* container, const void* data, size_t size,
                                            const char* name);

/** What went wrong last on this handle, naming the container and the reason.
 * \return a UTF-8 string valid until the next call on the handle; "" when nothing went wrong.
 * \since 1.0 */
TRELMO_API const char* trelmo_container_last_error(const trelmo_container* container);

/** The number of songs in the open container (0 when none is open).
 * \since 1.0 */
TRELMO_API int trelmo_container_song_count(const trelmo_container* container);

/* One song in a container; its size is set by the caller (TRELMO_INIT_RECORD), and a 1.x library
 * fills it only as far as that size. */
typedef struct trelmo_container_song {
    size_t size;      /* set by the caller: TRELMO_INIT_RECORD */
    const char* path; /* the inner path, UTF-8, folders separated by '/': "BLUE.HELMET/INTRO/ECHO.MUS";
                         through nesting, the chain of inner paths: "GAME.2MG/VOL/SONG" */
    int kind;         /* a trelmo_kind */
    uint64_t bytes;   /* the song file's length */
    int file_type;    /* its ProDOS file type ($D5 a SoundSmith song), 0 where the container keeps none */
    int aux_type;     /* its ProDOS aux type */
} trelmo_container_song;

/** Describes song index (0 .. trelmo_container_song_count - 1). Strings stay valid while the
 *  container stays open.
 * \return TRELMO_OK, or TRELMO_ERROR_ARGUMENT for an index out of range or a record too small.
 * \since 1.0 */
TRELMO_API int trelmo_container_get_song(const trelmo_container* container, int index,
                                         trelmo_container_song* song);

/** The index of the song whose inner path is path, compared without regard to ASCII case (an exact
 *  match first); -1 when there is none.
 * \since 1.0 */
TRELMO_API int trelmo_container_find_song(const trelmo_container* container, const char* path);

/** The number of entries left out of the listing because they are damaged or cannot be read, and
 *  each one's inner path and reason ("GAME/BROKEN: its blocks lie beyond the volume").
 * \return for trelmo_container_skipped, a UTF-8 string valid while the container stays open, or
 *         NULL for an index out of range.
 * \since 1.0 */
TRELMO_API int trelmo_container_skipped_count(const trelmo_container* container);
TRELMO_API const char* trelmo_container_skipped(const trelmo_container* container, int index);

/** Loads song index into engine as trelmo_load_memory would, with the files of the song's own folder
 *  in the container as its companion files.
 * \return as trelmo_load_memory; TRELMO_ERROR_ARGUMENT for an index out of range;
 *         TRELMO_ERROR_CONTAINER when the song cannot be read from the container.
 * \since 1.0 */
TRELMO_API int trelmo_container_load(const trelmo_container* container, int index, trelmo_engine* engine);

#ifdef __cplusplus
}
#endif

#endif
