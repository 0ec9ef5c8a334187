// SPDX-License-Identifier: BSD-3-Clause
// Damaged SoundSmith songs: every bound decided for the format (bytes beyond the file, cells beyond
// the pattern data, song lengths 0 and above the order table, long names, notes above the table)
// loads and plays as decided. Under AddressSanitizer any read beyond the song block fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "song/note_table.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/asif_writer.h"
#include "tools/writers/note_names.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using test::TempDir;
using writers::NoteByte;
using writers::SoundSmithTune;

// Sequencer only: the bounds under test are all in what the sequencer reads, and mixing thousands
// of blocks would only slow the test down.
using test::TicksToEnd;

using DamagedSoundSmith = test::EngineTest;

bool NoNoteStarted(const Engine& engine) {
    return std::all_of(std::begin(engine.Player.tracks), std::end(engine.Player.tracks),
                       [](const TrackState& t) { return t.lastNote == 60; });
}

SoundSmithTune OneNoteTune() {
    SoundSmithTune tune;
    tune.speedByte = 1;  // every tick reads a row: a position lasts 64 ticks
    tune.instruments = {{"I1", 100}};
    tune.Row(0, 0, "C-4 10 00");
    return tune;
}

TEST_F(DamagedSoundSmith, SongLengthZeroPlaysOnePositionAndLongOnesStopAtTheTable) {
    TempDir dir;
    dir.Write("I1", writers::AsifBytes(writers::SineCycle(64, 90), true));
    SoundSmithTune tune = OneNoteTune();
    tune.songLength = 0;
    const std::string zero = dir.Write("ZERO.MTP", tune.Bytes());
    const test::Rendering played = test::PlaySong(engine, zero, 64 * 2000, false);
    EXPECT_TRUE(played.ended);
    EXPECT_EQ(played.ticks, 64u);

    tune.songLength = 1;
    EXPECT_EQ(TicksToEnd(engine, dir.Write("ONE.MTP", tune.Bytes()), 100000), 64u);
    tune.songLength = 128;
    EXPECT_EQ(TicksToEnd(engine, dir.Write("FULL.MTP", tune.Bytes()), 100000), 128u * 64u);
    // Above the order table's 128 positions the song stops at its end instead of reading on into
    // the pattern data as if it were the order list.
    tune.songLength = 129;
    EXPECT_EQ(TicksToEnd(engine, dir.Write("OVER.MTP", tune.Bytes()), 100000), 128u * 64u);
    tune.songLength = 0xFFFF;
    EXPECT_EQ(TicksToEnd(engine, dir.Write("HUGE.MTP", tune.Bytes()), 100000), 128u * 64u);
}

TEST_F(DamagedSoundSmith, TruncatedFilesLoadWithTheMissingBytesAsZero) {
    // The shortest SoundSmith file there is: three bytes. Speed 0, length 0 (played as 1), no patterns.
    const test::Rendering kov = test::PlaySong(engine, {'K', 'O', 'V'}, "KOV.MTP", 64 * 2000);
    EXPECT_EQ(engine.SongKind, SoundSmithSong);
    EXPECT_EQ(engine.SongBlock.size, 3u);
    EXPECT_TRUE(kov.ended);
    EXPECT_EQ(kov.ticks, 64u);
    EXPECT_TRUE(std::all_of(kov.pcm.begin(), kov.pcm.end(), [](int16_t s) { return s == 0; }));

    // A header cut inside the song length: its low byte (3) is read, the high byte and the order
    // table read as 0, and every cell lies beyond the file.
    SoundSmithTune tune = OneNoteTune();
    tune.order = {0, 0, 0};
    std::vector<uint8_t> bytes = tune.Bytes();
    bytes.resize(471);
    EXPECT_EQ(TicksToEnd(engine, bytes, "CUT.MTP", 100000), 3u * 64u);
    EXPECT_TRUE(NoNoteStarted(engine));
}

TEST_F(DamagedSoundSmith, PatternDataPastTheEndAndCellsPastTheirArrayAreEmpty) {
    TempDir dir;
    dir.Write("I1", writers::AsifBytes(writers::SineCycle(64, 90), true));

    // The length field promises three patterns; the file ends inside the note array, so the note
    // of the first cell is there but its instrument byte is not: nothing may play.
    SoundSmithTune tune = OneNoteTune();
    tune.patternCount = 3;
    tune.order = {0, 1, 2};
    tune.Row(0, 0, "C-4 10 00");
    std::vector<uint8_t> bytes = tune.Bytes();
    bytes.resize(600 + 896);
    EXPECT_EQ(TicksToEnd(engine, dir.Write("SHORT.MTP", bytes), 100000), 3u * 64u);
    EXPECT_TRUE(NoNoteStarted(engine));

    // L = 900: pattern 1 has only its first four cells inside the arrays. Cell 900 (row 0, track 4)
    // would otherwise be read from the next array: a note 49 (the effect array's first byte) with
    // instrument 1 (the parameter array's first byte).
    SoundSmithTune edge = OneNoteTune();
    edge.patternCount = 2;
    edge.patternDataLength = 900;
    edge.order = {1};
    std::vector<uint8_t> image = edge.Bytes();
    image[600 + 896] = static_cast<uint8_t>(NoteByte("C-4"));  // cell 896: track 0 of pattern 1
    image[600 + 900 + 896] = 0x10;
    image[600 + 900] = static_cast<uint8_t>(NoteByte("C-4"));  // effect byte of cell 0 = "note" of cell 900
    image[600 + 1800] = 0x10;                                  // parameter of cell 0 = "effect" of cell 900
    test::PrepareSong(engine, dir.Write("EDGE.MTP", image));
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.tracks[0].lastNote, NoteByte("C-4"));
    EXPECT_EQ(engine.Player.tracks[4].lastNote, 60);
    EXPECT_EQ(engine.Player.tracks[4].instrument, -1);
}

TEST_F(DamagedSoundSmith, NameLengthAbove23IsTakenAs23) {
    TempDir dir;
    const std::string name = "ABCDEFGHIJKLMNOPQRSTUVW";  // 23 characters
    dir.Write(name, writers::AsifBytes(writers::SineCycle(64, 90), true));
    SoundSmithTune tune = OneNoteTune();
    tune.instruments = {{name + "XYZ0123456789", 77}};  // length byte 36; bytes 24 on are the volume
    std::vector<uint8_t> bytes = tune.Bytes();
    ASSERT_EQ(bytes[20], 36);
    test::PrepareSong(engine, dir.Write("LONG.MTP", bytes));
    EXPECT_EQ(log.Take(), "");  // found, so no ASIF message
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 0)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 0)].defaultVolume, 77);

    // A name that is not found is reported by its first 23 characters.
    tune.instruments = {{"ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ", 10}};
    const std::string path = dir.Write("MISSING.MTP", tune.Bytes());
    test::PrepareSong(engine, path);
    const std::string out = log.Take();
    EXPECT_NE(out.find("ZZZZZZZZZZZZZZZZZZZZZZZ\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("ZZZZZZZZZZZZZZZZZZZZZZZZ"), std::string::npos) << out;
}

TEST_F(DamagedSoundSmith, NotesAboveTheTablePlayItsHighestEntry) {
    TempDir dir;
    dir.Write("I1", writers::AsifBytes(writers::SineCycle(64, 90), true));
    SoundSmithTune tune = OneNoteTune();
    tune.speedByte = 2;
    tune.Put(0, 0, 0, 120, 0x10, 0x00);  // a note byte the table does not reach
    tune.Put(0, 0, 1, 90, 0x10, 0xF3);   // arpeggio 90 + 15 + 3 = 108: one past the table
    tune.Put(0, 0, 2, 127, 0x1C, 0x10);  // tone portamento towards note 127
    test::PrepareSong(engine, dir.Write("HIGH.MTP", tune.Bytes()));
    SequencerTick(engine);
    SequencerTick(engine);  // the row tick
    const uint32_t top = NoteFrequencyTable[107] * PitchToFrequency;
    EXPECT_EQ(engine.VoiceBank[0].frequency, top);
    EXPECT_EQ(engine.Player.tracks[0].pitch, NoteFrequencyTable[107]);
    EXPECT_EQ(engine.Player.tracks[1].arpeggio[0], NoteFrequencyTable[105] * PitchToFrequency);
    EXPECT_EQ(engine.Player.tracks[1].arpeggio[1], NoteFrequencyTable[93] * PitchToFrequency);
    EXPECT_EQ(engine.Player.tracks[1].arpeggio[2], top);
    EXPECT_EQ(engine.Player.tracks[2].portamentoTarget, NoteFrequencyTable[107]);
    EXPECT_EQ(engine.Player.tracks[2].portamentoUp, 1);
}

}  // namespace
}  // namespace trelmo
