// SPDX-License-Identifier: BSD-3-Clause
// libtrelmo's engines through the C API: independence across threads, exact seeking, the options'
// effect, and songs loaded from memory with their companion files handed over by the caller.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "trelmo/trelmo.h"

namespace {

const std::string Echo = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP";
const std::string EchoBank = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.W";
const std::string Demo = TRELMO_DEMO_SONG;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Engine {
    trelmo_engine* e = trelmo_create();
    ~Engine() { trelmo_destroy(e); }
};

// The whole song (or up to limit frames), pulled chunk frames at a time.
std::vector<int16_t> Render(trelmo_engine* e, size_t chunk, size_t limit = SIZE_MAX) {
    std::vector<int16_t> pcm;
    std::vector<int16_t> buffer(2 * chunk);
    size_t frames;
    while (pcm.size() / 2 < limit &&
           (frames = trelmo_render(e, buffer.data(), std::min(chunk, limit - pcm.size() / 2))) > 0) {
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + static_cast<long>(2 * frames));
    }
    return pcm;
}

std::vector<int16_t> RenderFile(const std::string& path, size_t chunk) {
    Engine engine;
    EXPECT_EQ(trelmo_load_file(engine.e, path.c_str()), TRELMO_OK) << path;
    return Render(engine.e, chunk);
}

TEST(Engines, TwoThreadsGiveWhatEachGivesAlone) {
    const std::vector<int16_t> echo = RenderFile(Echo, 4096);
    const std::vector<int16_t> demo = RenderFile(Demo, 4096);
    ASSERT_EQ(echo.size() / 2, 6635520u);
    std::vector<int16_t> echoThreaded, demoThreaded;
    // Odd chunk sizes on the threads: a tick that does not fit is carried into the next call.
    std::thread a([&] { echoThreaded = RenderFile(Echo, 333); });
    std::thread b([&] { demoThreaded = RenderFile(Demo, 1); });
    a.join();
    b.join();
    EXPECT_TRUE(echoThreaded == echo);
    EXPECT_TRUE(demoThreaded == demo);
}

TEST(Engines, SeekingGivesExactlyWhatFollowsInAFullRender) {
    Engine engine;
    ASSERT_EQ(trelmo_load_file(engine.e, Demo.c_str()), TRELMO_OK);
    const std::vector<int16_t> full = Render(engine.e, 4096);
    const uint64_t length = trelmo_length_frames(engine.e);
    ASSERT_EQ(full.size() / 2, length);
    // Forward, backward, mid-tick, the last frame and past the end.
    for (const uint64_t target : {uint64_t{1000000}, uint64_t{12345}, uint64_t{0}, length - 1, length + 5}) {
        ASSERT_EQ(trelmo_seek(engine.e, target), TRELMO_OK);
        const uint64_t at = std::min(target, length);
        EXPECT_EQ(trelmo_position(engine.e), at);
        const std::vector<int16_t> after = Render(engine.e, 777, 50000);
        const auto from = full.begin() + static_cast<long>(2 * at);
        const auto count = std::min<size_t>(after.size(), full.size() - 2 * at);
        EXPECT_EQ(after.size(), count) << target;
        EXPECT_TRUE(std::equal(after.begin(), after.end(), from)) << "after seeking to " << target;
    }
}

TEST(Engines, OptionsChangeTheSoundOnlyWhenAsked) {
    Engine engine;
    ASSERT_EQ(trelmo_load_file(engine.e, Demo.c_str()), TRELMO_OK);
    const std::vector<int16_t> plain = Render(engine.e, 4096);
    const uint64_t pass = plain.size() / 2;

    ASSERT_EQ(trelmo_set_stereo_separation(engine.e, 0), TRELMO_OK);
    ASSERT_EQ(trelmo_seek(engine.e, 0), TRELMO_OK);
    const std::vector<int16_t> mono = Render(engine.e, 4096);
    ASSERT_EQ(mono.size(), plain.size());
    bool differs = false;
    for (size_t f = 0; f < pass; ++f) {
        ASSERT_EQ(mono[2 * f], mono[2 * f + 1]) << "frame " << f;
        differs = differs || mono[2 * f] != plain[2 * f];
    }
    EXPECT_TRUE(differs);
    EXPECT_EQ(trelmo_set_stereo_separation(engine.e, 101), TRELMO_ERROR_ARGUMENT);
    ASSERT_EQ(trelmo_set_stereo_separation(engine.e, 100), TRELMO_OK);

    // Two passes with a fade: the first pass is untouched, the length doubles, the end is silent.
    ASSERT_EQ(trelmo_set_loops(engine.e, 2), TRELMO_OK);
    ASSERT_EQ(trelmo_set_fade(engine.e, 2000), TRELMO_OK);
    EXPECT_EQ(trelmo_length_frames(engine.e), 2 * pass);
    ASSERT_EQ(trelmo_seek(engine.e, 0), TRELMO_OK);
    const std::vector<int16_t> twice = Render(engine.e, 4096);
    ASSERT_EQ(twice.size(), 2 * plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), twice.begin()));
    EXPECT_LE(std::abs(twice[twice.size() - 1]) + std::abs(twice[twice.size() - 2]), 2);
    ASSERT_EQ(trelmo_set_loops(engine.e, 0), TRELMO_OK);
    EXPECT_EQ(trelmo_length_frames(engine.e), UINT64_MAX);
    ASSERT_EQ(trelmo_set_loops(engine.e, 1), TRELMO_OK);
    ASSERT_EQ(trelmo_set_fade(engine.e, 0), TRELMO_OK);

    // Every track muted: silence, with the song just as long.
    ASSERT_EQ(trelmo_set_mute_mask(engine.e, 0x3FFF), TRELMO_OK);
    ASSERT_EQ(trelmo_seek(engine.e, 0), TRELMO_OK);
    const std::vector<int16_t> muted = Render(engine.e, 4096);
    EXPECT_EQ(muted.size(), plain.size());
    EXPECT_EQ(std::count(muted.begin(), muted.end(), 0), static_cast<long>(muted.size()));
}

struct Companions {
    std::vector<uint8_t> bank = ReadFile(EchoBank);
    std::vector<std::string> asked;
};

int ProvideBank(void* user, const char* name, const void** data, size_t* size) {
    auto* files = static_cast<Companions*>(user);
    files->asked.push_back(name);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper != "ECHO.W" || files->bank.empty()) return 0;
    *data = files->bank.data();
    *size = files->bank.size();
    return 1;
}

TEST(Engines, SongsFromMemoryFindTheirFilesThroughTheCaller) {
    const std::vector<uint8_t> song = ReadFile(Echo);
    Companions files;
    Engine engine;
    ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "echo.mtp", ProvideBank, &files),
              TRELMO_OK);
    EXPECT_EQ(files.asked, std::vector<std::string>{"echo.W"});
    EXPECT_TRUE(Render(engine.e, 4096) == RenderFile(Echo, 4096));

    // Without the bank every instrument is missing, and the song still plays its full length.
    files.bank.clear();
    files.asked.clear();
    ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "ECHO.MTP", ProvideBank, &files),
              TRELMO_OK);
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_OK);
    EXPECT_EQ(info.missing_count, 9);
    EXPECT_EQ(info.bank_used, 0);
    EXPECT_NE(std::string(trelmo_get_metadata(engine.e, "looked_for"))
                  .find("ECHO.W, ECHO.DOC, ECHO.D, DOC.DATA, KILLERKICK"),
              std::string::npos);
    // The bank's names, the instruments' own, then the second look's ECHO.WAVE, WAVE and WAVEBANK.
    EXPECT_EQ(files.asked.size(), 4u + 9u + 3u);
    EXPECT_EQ(trelmo_length_frames(engine.e), 6635520u);

    // The size limits hold for memory as for files: a bank beyond its limit is not used, and a song
    // beyond its limit is refused.
    files.bank = ReadFile(EchoBank);
    files.bank.resize(TRELMO_MAX_COMPANION_BYTES + 1);
    ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "ECHO.MTP", ProvideBank, &files),
              TRELMO_OK);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_OK);
    EXPECT_EQ(info.missing_count, 9);
    std::vector<uint8_t> huge = song;
    huge.resize(TRELMO_MAX_SONG_BYTES + 1);
    EXPECT_EQ(trelmo_load_memory(engine.e, huge.data(), huge.size(), "ECHO.MTP", nullptr, nullptr),
              TRELMO_ERROR_TOO_LARGE);
    EXPECT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_ERROR_NO_SONG);

    EXPECT_EQ(trelmo_load_memory(engine.e, "nonsense", 8, "X.MTP", nullptr, nullptr),
              TRELMO_ERROR_NOT_A_SONG);
    EXPECT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_ERROR_NO_SONG);
    int16_t frame[2];
    EXPECT_EQ(trelmo_render(engine.e, frame, 1), 0u);
}

}  // namespace

namespace {

// A loop change mid-song: the length is where rendering ends; past it, the pass ends (faded); ended, it plays
// on.
TEST(Engines, LiveLoopChangesKeepTheLengthTrue) {
    Engine engine;
    ASSERT_EQ(trelmo_load_file(engine.e, Demo.c_str()), TRELMO_OK);
    const uint64_t pass = trelmo_length_frames(engine.e), at = 2 * pass + pass / 3;
    trelmo_set_loops(engine.e, 0);
    trelmo_set_fade(engine.e, 5000);
    const std::vector<int16_t> forever = Render(engine.e, 4096, 3 * pass);
    ASSERT_EQ(trelmo_seek(engine.e, at), TRELMO_OK);
    trelmo_set_loops(engine.e, 1);
    EXPECT_EQ(trelmo_length_frames(engine.e), 3 * pass);
    const std::vector<int16_t> rest = Render(engine.e, 4096);
    ASSERT_EQ(rest.size() / 2, 3 * pass - at);
    const auto unfaded = static_cast<long>(2 * (3 * pass - 5 * 44100 - at));
    EXPECT_TRUE(
        std::equal(rest.begin(), rest.begin() + unfaded, forever.begin() + static_cast<long>(2 * at)));
    EXPECT_LE(std::abs(rest.back()), 1);

    trelmo_set_fade(engine.e, 0);
    ASSERT_EQ(trelmo_load_file(engine.e, Demo.c_str()), TRELMO_OK);
    EXPECT_EQ(Render(engine.e, 4096).size() / 2, pass);
    trelmo_set_loops(engine.e, 2);
    EXPECT_EQ(trelmo_length_frames(engine.e), 2 * pass);
    EXPECT_TRUE(Render(engine.e, 4096) ==
                std::vector<int16_t>(forever.begin() + static_cast<long>(2 * pass),
                                     forever.begin() + static_cast<long>(4 * pass)));
    ASSERT_EQ(trelmo_seek(engine.e, pass + 1234), TRELMO_OK);
    EXPECT_TRUE(Render(engine.e, 100, 1000) ==
                std::vector<int16_t>(forever.begin() + static_cast<long>(2 * (pass + 1234)),
                                     forever.begin() + static_cast<long>(2 * (pass + 2234))));
}

// Seeks are bounded: beyond 6 hours one is refused and moves nothing.
TEST(Engines, SeeksBeyondTheLimitAreRefused) {
    Engine engine;
    ASSERT_EQ(trelmo_load_file(engine.e, Demo.c_str()), TRELMO_OK);
    trelmo_set_loops(engine.e, 0);
    ASSERT_EQ(trelmo_seek(engine.e, 777), TRELMO_OK);
    EXPECT_EQ(trelmo_seek(engine.e, UINT64_MAX), TRELMO_ERROR_ARGUMENT);
    EXPECT_EQ(trelmo_seek(engine.e, uint64_t{TRELMO_MAX_SEEK_FRAMES} + 1), TRELMO_ERROR_ARGUMENT);
    EXPECT_EQ(trelmo_position(engine.e), 777u);
    ASSERT_EQ(trelmo_seek(engine.e, TRELMO_MAX_SEEK_FRAMES), TRELMO_OK);
}

// From a load's callbacks the loading engine has no song, whatever it held before.
TEST(Engines, CallbacksDuringALoadSeeNoSong) {
    Engine engine;
    static std::vector<bool> seen;
    trelmo_set_message_callback(
        engine.e,
        [](void* user, const char*) {
            auto* e = static_cast<trelmo_engine*>(user);
            trelmo_place place;
            TRELMO_INIT_RECORD(place);
            trelmo_song_info info;
            TRELMO_INIT_RECORD(info);
            int16_t frame[2];
            seen.push_back(trelmo_get_song_info(e, &info) == TRELMO_ERROR_NO_SONG &&
                           trelmo_get_metadata(e, "type")[0] == '\0' && trelmo_length_frames(e) == 0 &&
                           trelmo_render(e, frame, 1) == 0 &&
                           trelmo_get_place(e, &place) == TRELMO_ERROR_NO_SONG &&
                           trelmo_load_file(e, Demo.c_str()) == TRELMO_ERROR_ARGUMENT);
            trelmo_unload(e);
        },
        engine.e);
    const std::vector<uint8_t> song = ReadFile(Echo);
    for (int load = 0; load < 2; ++load)
        ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "ECHO.MTP", nullptr, nullptr),
                  TRELMO_OK);
    EXPECT_GT(seen.size(), 2u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

}  // namespace
