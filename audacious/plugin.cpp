// The plug-in record Audacious loads: which files are Trelmo's, what the playlist shows for them,
// and playback.
#include <libaudcore/drct.h>
#include <libaudcore/i18n.h>
#include <libaudcore/plugin.h>
#include <libaudcore/runtime.h>

#include <cstdint>
#include <memory>
#include <string>

#include <trelmo/trelmo.h>

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
    void operator()(trelmo_engine *engine) const { trelmo_destroy(engine); }
};
using Engine = std::unique_ptr<trelmo_engine, EngineDeleter>;

void LogLoaderMessage(void *, const char *message) { AUDDBG("%s", message); }

// An engine of its own for every call: the playlist scanner reads tags on other threads while a
// song plays.
Engine LoadEngine(const char *uri, VFSFile &file, const LoadRequest &request) {
    Engine engine(trelmo_create());
    if (!engine) return engine;
    trelmo_set_message_callback(engine.get(), LogLoaderMessage, nullptr);
    ApplySettings(engine.get());
    std::string reason;
    const int status = LoadSong(engine.get(), uri, file, request, reason);
    if (status != TRELMO_OK) {
        AUDERR("%s: %s%s%s\n", uri, trelmo_status_message(status), reason.empty() ? "" : ": ", reason.c_str());
        engine.reset();
    }
    return engine;
}

bool StoppedBeforeAudio() { return !aud_drct_get_playing(); }

uint64_t MillisecondsToFrame(int ms) { return static_cast<uint64_t>(ms) * TRELMO_SAMPLE_RATE / 1000; }

}  // namespace

class TrelmoPlugin : public InputPlugin {
public:
    static constexpr const char *kExtensions[] = {"mtp", "ntg", nullptr};
    static constexpr PluginInfo kInfo = {
        N_("Trelmo (Apple IIgs music)"), "trelmo",
        N_("Plays Apple IIgs songs made with SoundSmith / MegaTracker (.mtp, with their wave bank or "
           "ASIF instruments beside them) and NoiseTracker GS (.ntg)."),
        &kPreferences, 0};

    constexpr TrelmoPlugin() : InputPlugin(kInfo, InputInfo().with_exts(kExtensions)) {}

    bool init() override {
        LoadSettings();
        WatchForQuit();
        return true;
    }

    void cleanup() override { StopWatchingForQuit(); }

    bool is_our_file(const char *, VFSFile &file) override {
        unsigned char head[16];
        const int64_t read = file.fread(head, 1, sizeof head);
        return read > 0 && trelmo_detect(head, static_cast<size_t>(read)) == 1;
    }

    bool read_tag(const char *uri, VFSFile &file, Tuple &tuple, Index<char> *) override {
        // What this read fetches is kept for the playback that usually follows at once.
        const Engine engine = LoadEngine(uri, file, LoadRequest{nullptr, true});
        if (!engine) return false;
        FillTuple(engine.get(), uri, tuple);
        return true;
    }

    bool play(const char *uri, VFSFile &file) override {
        // check_stop() answers only once the audio is open, which a failed load should not do.
        const Engine engine = LoadEngine(uri, file, LoadRequest{StoppedBeforeAudio, false});
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
    static void UpdateLength(trelmo_engine *engine) {
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
