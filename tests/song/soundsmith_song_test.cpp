// SPDX-License-Identifier: BSD-3-Clause
// The SoundSmith song file: layout, instruments from a wave bank or ASIF files, damaged files.
#include "song/soundsmith_song.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/asif_writer.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using SoundSmithFile = test::EngineTest;

using test::TempDir;
using writers::SoundSmithTune;

TEST_F(SoundSmithFile, BothMagicFormsShareTheLayout) {
    TempDir dir;
    for (bool kov : {false, true}) {
        SoundSmithTune tune;
        tune.kovMagic = kov;
        tune.speedByte = 0x86;
        tune.order = {0, 0, 0};
        tune.Row(0, 0, "--- 00 00 | --- 00 00 | C-4 13 C8");
        const std::string path = dir.Write(kov ? "KOV.MTP" : "SON.MTP", tune.Bytes());
        test::PrepareSong(engine, path);
        EXPECT_EQ(engine.SongKind, SoundSmithSong);
        EXPECT_EQ(engine.SoundSmith.patternDataLength, 896u);
        EXPECT_EQ(engine.SoundSmith.noteArray, 600u);
        EXPECT_EQ(engine.SoundSmith.effectArray, 1496u);
        EXPECT_EQ(engine.SoundSmith.paramArray, 2392u);
        EXPECT_EQ(engine.SoundSmith.stereoTable, 3288u);
        EXPECT_EQ(engine.SongBlock.data[engine.SoundSmith.noteArray + 2], 49);
        EXPECT_EQ(engine.SongBlock.data[engine.SoundSmith.effectArray + 2], 0x13);
        EXPECT_EQ(engine.SongBlock.data[engine.SoundSmith.paramArray + 2], 0xC8);
        EXPECT_EQ(SoundSmithInitialSpeed(engine), 6);
        EXPECT_EQ(SoundSmithSongLength(engine), 3);
    }
}

TEST_F(SoundSmithFile, WaveBankInstrumentsTakeTheSongsVolumes) {
    TempDir dir;
    SoundSmithTune tune;
    tune.speedByte = 1;
    // Position 1 is empty; position 3 is named but the bank holds only three instruments.
    tune.instruments = {{"A", 100}, {"", 50}, {"C", 30}, {"D", 77}};
    tune.Row(0, 0, "C-4 20 00 | C-4 40 00 | C-4 30 00");
    dir.Write("TUNE.W", writers::WaveBankBytes({{{1, 2, 3}, false}, {{4, 5, 6}, false}, {{7, 8, 9}, false}}));
    test::PrepareSong(engine, dir.Write("TUNE.MTP", tune.Bytes()));

    EXPECT_EQ(engine.InstrumentMap[0], 0);
    EXPECT_EQ(engine.WaveTable[0].defaultVolume, 100);
    EXPECT_EQ(engine.InstrumentMap[1], NoInstrumentSlot);
    EXPECT_FALSE(WaveSlotInUse(engine, NoInstrumentSlot));
    EXPECT_EQ(engine.InstrumentMap[2], 2);
    EXPECT_EQ(engine.WaveTable[2].defaultVolume, 30);
    EXPECT_EQ(engine.WaveTable[1].defaultVolume, 0);  // the bank's instrument 1 belongs to no named position
    EXPECT_EQ(engine.InstrumentMap[3], NoInstrumentSlot);

    engine.VoiceBank[0].targetVolume = engine.VoiceBank[1].targetVolume = 99;
    SequencerTick(engine);
    // Instruments 1 (empty) and 3 (not in the bank) are silent and start nothing.
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 0);
    EXPECT_EQ(engine.VoiceBank[0].restartPending, 0);
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 0);
    EXPECT_EQ(engine.VoiceBank[1].restartPending, 0);
    EXPECT_EQ(engine.VoiceBank[2].targetVolume, 30);
    EXPECT_EQ(engine.VoiceBank[2].restartPending, 1);
}

TEST_F(SoundSmithFile, AsifInstrumentsAreLookedForBesideTheSong) {
    TempDir dir;
    SoundSmithTune tune;
    tune.instruments = {{"FLUTE", 90}, {"", 0}, {"MISSING", 10}, {"LOOPY", 40}};
    dir.Write("FLUTE", writers::AsifBytes({10, 20, 30, 40}, false));
    dir.Write("LOOPY", writers::AsifBytes({1, 2, 3}, true));
    const std::string path = dir.Write("TUNE.MTP", tune.Bytes());

    test::PrepareSong(engine, path);
    EXPECT_EQ(log.Take(), "Error: unable to load ASIF file " + dir.File("MISSING") + "\n");
    const int flute = engine.InstrumentMap[0];
    ASSERT_TRUE(WaveSlotInUse(engine, flute));
    EXPECT_EQ(engine.WaveTable[flute].length, 4u);
    EXPECT_EQ(engine.WaveTable[flute].defaultVolume, 90);
    EXPECT_EQ(engine.WaveTable[flute].flags, 0);
    EXPECT_EQ(engine.InstrumentMap[1], NoInstrumentSlot);
    EXPECT_EQ(engine.InstrumentMap[2], NoInstrumentSlot);
    const int loopy = engine.InstrumentMap[3];
    ASSERT_TRUE(WaveSlotInUse(engine, loopy));
    EXPECT_EQ(engine.WaveTable[loopy].defaultVolume, 40);
    EXPECT_EQ(engine.WaveTable[loopy].flags, 1);

    // A song path without a folder opens its instruments by their bare names.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    test::PrepareSong(engine, "TUNE.MTP");
    const std::string printed = log.Take();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(printed, "Error: unable to load ASIF file MISSING\n");
    EXPECT_TRUE(WaveSlotInUse(engine, engine.InstrumentMap[0]));
}

TEST_F(SoundSmithFile, DamagedSongsStayWithinTheirBytes) {
    TempDir dir;
    // A name length beyond the record is cut to the 23 characters before the volume byte.
    SoundSmithTune longName;
    longName.instruments = {{"ABCDEFGHIJKLMNOPQRSTUVW", 5}};
    std::vector<uint8_t> bytes = longName.Bytes();
    bytes[20] = 200;
    test::PrepareSong(engine, dir.Write("LONG.MTP", bytes));
    EXPECT_EQ(log.Take(), "Error: unable to load ASIF file " + dir.File("ABCDEFGHIJKLMNOPQRSTUVW") + "\n");

    // Song lengths outside 1..128 are played as the nearest length the order list can hold.
    SoundSmithTune tune;
    tune.songLength = 0;
    test::PrepareSong(engine, dir.Write("ZERO.MTP", tune.Bytes()));
    EXPECT_EQ(SoundSmithSongLength(engine), 1);
    tune.songLength = 300;
    test::PrepareSong(engine, dir.Write("LONGLIST.MTP", tune.Bytes()));
    EXPECT_EQ(SoundSmithSongLength(engine), 128);
    tune.songLength = 0xFFFF;
    test::PrepareSong(engine, dir.Write("HUGE.MTP", tune.Bytes()));
    EXPECT_EQ(SoundSmithSongLength(engine), 128);

    // "KOV" alone: everything past the magic reads as 0, so the song is one empty pattern at
    // speed 0, one row per tick.
    test::Rendering r = test::PlaySong(engine, dir.Write("KOV.MTP", {'K', 'O', 'V'}), 1000000);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.ticks, 64u);

    // An order entry one pattern beyond the pattern data: its cells would overlap the effect
    // array, whose first byte 0x10 would read as note 16; they are empty instead.
    SoundSmithTune beyond;
    beyond.speedByte = 1;
    beyond.instruments = {{"A", 100}};
    beyond.order = {0, 1};
    beyond.Row(0, 0, "C-4 10 00");
    dir.Write("BEYOND.W", writers::WaveBankBytes({{writers::SineCycle(32, 90), true}}));
    r = test::PlaySong(engine, dir.Write("BEYOND.MTP", beyond.Bytes()), 10000000);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.ticks, 128u);
    EXPECT_EQ(engine.Player.tracks[0].lastNote, 49);

    // Pattern data that claims more than the file holds, and an order entry far beyond the
    // patterns: the missing cells are empty and the song still ends on time.
    SoundSmithTune cut;
    cut.speedByte = 1;
    cut.instruments = {{"A", 100}};
    cut.order = {0, 200};
    cut.Row(0, 0, "C-4 10 00");
    std::vector<uint8_t> cutBytes = cut.Bytes();
    cutBytes[6] = 0xFF;
    cutBytes[7] = 0xFF;
    cutBytes.resize(1200);
    dir.Write("CUT.W", writers::WaveBankBytes({{writers::SineCycle(32, 90), true}}));
    r = test::PlaySong(engine, dir.Write("CUT.MTP", cutBytes), 10000000);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.ticks, 128u);
    // The note byte lies within the file but its effect byte does not: it reads 0, so the track
    // never names an instrument and plays nothing.
    EXPECT_EQ(engine.Player.tracks[0].lastNote, 60);
}

}  // namespace
}  // namespace trelmo
