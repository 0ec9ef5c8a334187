// SPDX-License-Identifier: BSD-3-Clause
// The plug-in record Audacious loads: which files are Trelmo's, what the playlist shows for them,
// and playback.
#include <libaudcore/drct.h>
#include <libaudcore/i18n.h>
#include <libaudcore/plugin.h>
#include <libaudcore/runtime.h>
#include <trelmo/trelmo.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "audacious/container_songs.h"
#include "audacious/quitting.h"
#include "audacious/settings.h"
#include "audacious/song_source.h"
#include "audacious/song_tag.h"

// audacious-dev leaves EXPORT to the plug-in; Audacious finds the record by this one symbol.
#define EXPORT __attribute__((visibility("default")))

namespace trelmo::audacious {
namespace {

// Small enough that stop and seek answer within 25 ms, large enough to cost nothing.
constexpr size_t kChunkFrames = 1024;

struct EngineDeleter {
    void operator()(trelmo_engine* engine) const { trelmo_destroy(engine); }
};
using Engine = std::unique_ptr<trelmo_engine, EngineDeleter>;

void LogLoaderMessage(void*, const char* message) {
    AUDDBG("%s", message);
}

// Whether the file, read from its start, begins like a song (whoever reads it next seeks back).
bool LooksLikeSong(VFSFile& file) {
    unsigned char head[16];
    if (file.ftell() != 0 && file.fseek(0, VFS_SEEK_SET) != 0) return false;
    const int64_t read = file.fread(head, 1, sizeof head);
    return read > 0 && trelmo_detect(head, static_cast<size_t>(read)) == 1;
}

// An engine of its own for every call: the playlist scanner reads tags on other threads while a
// song plays. uri is a loose song, or song number N of a disk image or archive ("IMAGE.2MG?N"),
// whose inner path is then kept in innerPath.
Engine LoadEngine(const char* uri, VFSFile& file, const LoadRequest& request, std::string& innerPath) {
    Engine engine(trelmo_create());
    if (!engine) return engine;
    trelmo_set_message_callback(engine.get(), LogLoaderMessage, nullptr);
    ApplySettings(engine.get());
    std::string reason;
    const int subtune = SubtuneOf(uri);
    int status = TRELMO_ERROR_OPEN;
    if (subtune < 0 || LooksLikeSong(file)) {
        status = LoadSong(engine.get(), uri, file, request, reason);
    } else if (const Container container = OpenContainer(uri, file, request)) {
        trelmo_container_song song;
        TRELMO_INIT_RECORD(song);
        status = trelmo_container_get_song(container.get(), subtune - 1, &song);
        if (status == TRELMO_OK) {
            innerPath = song.path;
            status = trelmo_container_load(container.get(), subtune - 1, engine.get());
        }
    } else {
        engine.reset();  // the reason is logged
        return engine;
    }
    if (status != TRELMO_OK) {
        AUDERR("%s: %s%s%s\n", uri, trelmo_status_message(status), reason.empty() ? "" : ": ",
               reason.c_str());
        engine.reset();
    }
    return engine;
}

bool StoppedBeforeAudio() {
    return !aud_drct_get_playing();
}

uint64_t MillisecondsToFrame(int ms) {
    return static_cast<uint64_t>(ms) * TRELMO_SAMPLE_RATE / 1000;
}

}  // namespace

class TrelmoPlugin : public InputPlugin {
  public:
    // Songs, and the disk images and archives they are published in (which are also told by
    // their bytes, whatever their name).
    static constexpr const char* kExtensions[] = {"mtp", "ntg", "2mg",  "2img",  "po",   "hdv", "dsk",
                                                  "do",  "dc",  "dc42", "image", "shk",  "sdk", "bxy",
                                                  "bny", "bqy", "zip",  "gz",    nullptr};
    static constexpr PluginInfo kInfo = {
        N_("Trelmo (Apple IIgs music)"), "trelmo",
        N_("Plays Apple IIgs songs made with SoundSmith / MegaTracker (.mtp, with their wave bank or "
           "ASIF instruments beside them) and NoiseTracker GS (.ntg)."),
        &kPreferences, 0};

    constexpr TrelmoPlugin() : InputPlugin(kInfo, InputInfo(FlagSubtunes).with_exts(kExtensions)) {}

    bool init() override {
        LoadSettings();
        WatchForQuit();
        return true;
    }

    void cleanup() override { StopWatchingForQuit(); }

    bool is_our_file(const char*, VFSFile& file) override {
        return LooksLikeSong(file) || LooksLikeContainer(file);
    }

    // A disk image or archive is read first as a whole, and answers with its number of songs:
    // Audacious then lists each one as "IMAGE?N" and reads it on its own.
    bool read_tag(const char* uri, VFSFile& file, Tuple& tuple, Index<char>*) override {
        if (SubtuneOf(uri) < 0 && !LooksLikeSong(file)) {
            const Container container = OpenContainer(uri, file, LoadRequest{});
            if (!container) return false;
            const int songs = trelmo_container_song_count(container.get());
            if (songs == 0) {
                AUDERR("%s: no SoundSmith or NoiseTracker GS song in it\n", uri);
                return false;
            }
            tuple.set_subtunes(static_cast<short>(std::min(songs, 32767)), nullptr);
            return true;
        }
        // What this read fetches is kept for the playback that usually follows at once.
        std::string innerPath;
        const Engine engine = LoadEngine(uri, file, LoadRequest{nullptr, true}, innerPath);
        if (!engine) return false;
        FillTuple(engine.get(), uri, innerPath.empty() ? nullptr : innerPath.c_str(), tuple);
        return true;
    }

    bool play(const char* uri, VFSFile& file) override {
        // check_stop() answers only once the audio is open, which a failed load should not do.
        std::string innerPath;
        const Engine engine = LoadEngine(uri, file, LoadRequest{StoppedBeforeAudio, false}, innerPath);
        if (!engine) return false;
        UpdateLength(engine.get());
        open_audio(FMT_S16_NE, TRELMO_SAMPLE_RATE, TRELMO_CHANNELS);

        int16_t samples[kChunkFrames * TRELMO_CHANNELS];
        unsigned settings = SettingsGeneration();
        while (!check_stop()) {
            const int seek = check_seek();
            bool changed = seek >= 0 && trelmo_seek(engine.get(), MillisecondsToFrame(seek)) == TRELMO_OK;
            if (settings != SettingsGeneration()) {
                settings = SettingsGeneration();
                ApplySettings(engine.get());
                changed = true;
            }
            // Both can move the song's end (a pass played on, or no longer needed): the clock and
            // the seek bar follow.
            if (changed) UpdateLength(engine.get());
            const size_t frames = trelmo_render(engine.get(), samples, kChunkFrames);
            // Ending exactly at the song's last frame is what makes the next song follow gaplessly.
            if (frames == 0) break;
            write_audio(samples, static_cast<int>(frames * TRELMO_CHANNELS * sizeof samples[0]));
        }
        return true;
    }

  private:
    // The playlist's length was read with the settings of its time; the number of loops may have
    // changed since, and Audacious seeks only within the length it knows.
    static void UpdateLength(trelmo_engine* engine) {
        const int length = LengthMilliseconds(trelmo_length_frames(engine));
        Tuple tuple = get_playback_tuple();
        if (tuple.get_int(Tuple::Length) == length) return;
        if (length >= 0)
            tuple.set_int(Tuple::Length, length);
        else
            tuple.unset(Tuple::Length);
        set_playback_tuple(std::move(tuple));
    }
};

}  // namespace trelmo::audacious

EXPORT trelmo::audacious::TrelmoPlugin aud_plugin_instance;
