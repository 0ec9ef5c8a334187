// SPDX-License-Identifier: BSD-3-Clause
// The fast MixBlock against the reference mixer over whole songs, tick by tick: the real engine.SoundSmith
// song of the corpus and generated songs that keep all 14 voices busy.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/mix_comparison.h"
#include "tests/support/song_player.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using MixSong = test::BothMixPaths;
TRELMO_BOTH_MIX_PATHS(MixSong);

struct Played {
    uint64_t ticks = 0;
    uint64_t frames = 0;
    size_t audible = 0;  // non-zero output samples
};

// Plays the song that PrepareSong has started to its end, comparing every block with the reference.
Played PlayComparing(Engine& engine, const std::string& name) {
    Played played;
    while (engine.Player.songEnded == 0 && played.ticks < 200000) {
        SequencerTick(engine);
        played.audible += CompareWithReference(engine, name + " tick " + std::to_string(played.ticks));
        played.frames += engine.TickLength;
        ++played.ticks;
        if (::testing::Test::HasFailure()) break;
    }
    ::testing::Test::RecordProperty("ticks", std::to_string(played.ticks));
    ::testing::Test::RecordProperty("frames", std::to_string(played.frames));
    ::testing::Test::RecordProperty("audible_samples", std::to_string(played.audible));
    return played;
}

TEST_P(MixSong, EchoFromTheCorpusWithItsWaveBank) {
    test::PrepareSong(engine, std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP");
    ASSERT_EQ(engine.SongKind, SoundSmithSong);
    ASSERT_TRUE(WaveSlotInUse(engine, 0)) << "ECHO.W was not loaded";
    const Played played = PlayComparing(engine, "ECHO.MTP");
    EXPECT_NE(engine.Player.songEnded, 0);
    // 20 positions of 64 rows at speed 6: more than a minute of music, most of it audible.
    EXPECT_GT(played.frames, 60u * OutputRate);
    EXPECT_GT(played.audible, played.frames);
}

// Fourteen tracks, each re-triggered every few rows with a different instrument and pitch, with
// arpeggios, slides, volume effects, silences and tempo changes; looping and one-shot waves.
TEST_P(MixSong, GeneratedSoundSmithSongOnAllFourteenTracks) {
    std::vector<writers::BankInstrument> bank;
    bank.push_back({writers::SineCycle(256, 120), true});
    bank.push_back({writers::SineCycle(32, 100), true});
    std::vector<int8_t> noise(3000);
    uint32_t seed = 5;
    for (auto& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<int8_t>(static_cast<int>((seed >> 16) % 255) - 127);
    }
    bank.push_back({noise, false});
    bank.push_back({writers::SineCycle(1024, 90), false});
    bank.push_back({writers::SineCycle(7, 127), true});

    writers::SoundSmithTune tune;
    for (int i = 0; i < 5; ++i)
        tune.instruments.push_back({"I" + std::to_string(i), static_cast<uint8_t>(80 + 30 * i)});
    tune.patternCount = 2;
    tune.order = {0, 1, 0, 1};
    for (int t = 0; t < 14; ++t) tune.stereo[t] = static_cast<uint16_t>(t % 3 == 0 ? 0 : 1);
    const uint8_t effects[] = {0x00, 0x03, 0x01, 0x02, 0x05, 0x06, 0x0C, 0x00};
    for (int p = 0; p < 2; ++p) {
        for (int row = 0; row < 64; ++row) {
            for (int t = 0; t < 14; ++t) {
                if ((row + t) % (2 + t % 4) != 0) continue;
                const auto note = static_cast<uint8_t>(13 + (row * 7 + t * 5 + p * 11) % 95);
                const auto instrument = static_cast<uint8_t>((t + row / 8 + p) % 5 + 1);
                const uint8_t effect = effects[(row + 3 * t) % 8];
                const auto param = static_cast<uint8_t>(effect == 0x00 ? 0x37 : (row * 13 + t) % 200);
                tune.Put(p, row, t, (row + t) % 29 == 0 ? 0x80 : note,
                         static_cast<uint8_t>((instrument << 4) | effect), param);
            }
        }
        tune.Put(p, 16, 13, 0, 0x0F, 0x06);  // tempo 125, speed 6
        tune.Put(p, 40, 13, 0, 0x0F, 0x84);  // tempo 150, speed 4
    }
    test::PrepareSong(engine, tune.Bytes(), "GEN.MTP", {{"GEN.W", writers::WaveBankBytes(bank)}});
    ASSERT_EQ(engine.SongKind, SoundSmithSong);
    const Played played = PlayComparing(engine, "generated SoundSmith song");
    EXPECT_NE(engine.Player.songEnded, 0);
    EXPECT_GT(played.ticks, 4u * 64u * 4u);
    EXPECT_GT(played.audible, played.frames);
}

// A NoiseTracker GS song: its samples come from the song file itself, with their own loop modes.
TEST_P(MixSong, GeneratedNoiseTrackerSong) {
    writers::NtgSongPlan song;
    song.trackCount = 8;
    for (int t = 0; t < 8; ++t) song.channels[static_cast<size_t>(t)] = static_cast<uint16_t>(t % 2);
    song.firstGroup.push_back({.sample = writers::NtgSquareWave(64), .volume = 120, .mode = 3});
    song.firstGroup.push_back({.sample = writers::NtgSquareWave(4000), .volume = 90, .mode = 0});
    song.firstGroup.push_back({.sample = writers::NtgSquareWave(9), .volume = 200, .mode = 5});
    song.order = {0, 0};
    for (int row = 0; row < 64; ++row) {
        for (int t = 0; t < 8; ++t) {
            if ((row + t) % 3 != 0) continue;
            const auto note = static_cast<uint8_t>(1 + (row * 5 + t * 9) % 83);
            const int command = (row + t) % 7 == 0 ? 1 : 0;  // set volume now and then
            song.Cell(0, row, t, note, writers::NtgControl((row + t) % 3, command),
                      static_cast<uint8_t>(row * 4));
        }
    }
    test::PrepareSong(engine, writers::BuildNtgSong(song), "SONG.NTG");
    ASSERT_EQ(engine.SongKind, NoiseTrackerSong);
    const Played played = PlayComparing(engine, "generated NoiseTracker GS song");
    EXPECT_NE(engine.Player.songEnded, 0);
    EXPECT_GT(played.audible, played.frames / 2);
}

}  // namespace
}  // namespace trelmo
