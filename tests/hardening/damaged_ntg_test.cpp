// SPDX-License-Identifier: BSD-3-Clause
// Damaged NoiseTracker GS songs: every bound decided for the format (bytes beyond the file, cells
// beyond the pattern data, song lengths 0 and above the order table, more than 14 tracks, more than
// 64 records, instruments beyond the song's records, samples past the file, empty samples, notes
// above the table) loads and plays as decided. Under AddressSanitizer any read beyond the song block
// fails the test.
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
#include "tools/writers/note_names.h"
#include "tools/writers/ntg_writer.h"

namespace trelmo {
namespace {

using test::TempDir;
using writers::NoteByte;
using writers::NtgControl;
using writers::NtgSongPlan;

// The largest tempo word gives the shortest blocks (3 frames), so whole songs play quickly.
constexpr uint16_t FastTempo = 0xFFFF;

using test::TicksToEnd;

int SlotsInUse(const Engine& engine) {
    int n = 0;
    for (int i = 0; i < WaveSlotCount; ++i) n += WaveSlotInUse(engine, i) ? 1 : 0;
    return n;
}

using DamagedNtg = test::EngineTest;

NtgSongPlan OneInstrumentSong(uint16_t tracks) {
    NtgSongPlan song;
    song.tempo = FastTempo;
    song.trackCount = tracks;
    song.firstGroupTracks = tracks;
    song.firstGroup.push_back({.sample = writers::NtgSquareWave(64), .volume = 100, .mode = 3});
    return song;
}

TEST_F(DamagedNtg, SongLengthZeroPlaysOnePositionAndLongOnesStopAtTheTable) {
    NtgSongPlan song = OneInstrumentSong(2);
    song.Row(0, 0, "C-4 01 00 | --- 00 00");
    song.songLength = 0;
    const test::Rendering zero =
        test::PlaySong(engine, writers::BuildNtgSong(song), "ZERO.NTG", 1 << 20, false);
    EXPECT_TRUE(zero.ended);
    EXPECT_EQ(zero.ticks, 64u);

    song.songLength = 256;
    EXPECT_EQ(TicksToEnd(engine, writers::BuildNtgSong(song), "FULL.NTG", 1 << 20), 256u * 64u);
    song.songLength = 257;
    EXPECT_EQ(TicksToEnd(engine, writers::BuildNtgSong(song), "OVER.NTG", 1 << 20), 256u * 64u);
    song.songLength = 0xFFFF;
    const test::Rendering huge =
        test::PlaySong(engine, writers::BuildNtgSong(song), "HUGE.NTG", 1 << 20, false);
    EXPECT_TRUE(huge.ended);
    EXPECT_EQ(huge.ticks, 256u * 64u);
}

TEST_F(DamagedNtg, TruncatedFilesAndCellsPastThePatternDataAreEmpty) {
    // Nothing but the signature: no tracks, length 0 (played as 1), tempo word 0.
    std::vector<uint8_t> bare(16, 0);
    bare[2] = 'F', bare[3] = 'T', bare[4] = 'A', bare[6] = 'M', bare[7] = 'O', bare[15] = 'E';
    const test::Rendering played = test::PlaySong(engine, bare, "BARE.NTG", 1 << 24, false);
    EXPECT_EQ(engine.SongKind, NoiseTrackerSong);
    EXPECT_EQ(engine.SongBlock.size, 16u);
    EXPECT_TRUE(played.ended);
    EXPECT_EQ(played.ticks, 64u);

    // L = 3: only track 0's cell of row 0 is pattern data. Track 1's cell would be the first three
    // bytes of the instrument record (bytes nobody reads), here a note with instrument 1.
    NtgSongPlan song = OneInstrumentSong(2);
    song.Row(0, 0, "C-4 01 00 | D-4 01 00");
    song.patternDataLength = 3;
    writers::NtgLayout layout{};
    std::vector<uint8_t> bytes = writers::BuildNtgSong(song, &layout);
    ASSERT_EQ(layout.recordsOffset, 609u);
    bytes[609] = NoteByte("D-4");
    bytes[610] = NtgControl(1);
    test::PrepareSong(engine, bytes, "SHORT.NTG");
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.tracks[0].lastNote, NoteByte("C-4"));
    EXPECT_EQ(engine.Player.tracks[1].lastNote, 60);
    EXPECT_EQ(engine.Player.tracks[1].instrument, -1);

    // A pattern data length far past the end of a file cut after the first row: the records and
    // samples lie beyond the file and read as nothing; the song still plays to its end.
    bytes = writers::BuildNtgSong(OneInstrumentSong(2));
    bytes[42] = 0xF0, bytes[43] = bytes[44] = bytes[45] = 0xFF;
    bytes[606] = NoteByte("C-4");
    bytes[607] = NtgControl(1);
    bytes.resize(606 + 6);
    EXPECT_EQ(TicksToEnd(engine, bytes, "LONGL.NTG", 1 << 20), 64u);
}

TEST_F(DamagedNtg, TracksAbove14AreSkippedButKeepTheirPlaceInTheRow) {
    NtgSongPlan song = OneInstrumentSong(20);
    song.channels[14] = 1;
    std::string row0 = "C-4 01 00";
    for (int t = 1; t < 20; ++t) row0 += t == 13 ? " | D-4 01 00" : t >= 14 ? " | E-4 01 00" : " | --- 00 00";
    song.Row(0, 0, row0);
    song.Row(0, 1, "G-4 00 00");
    test::PrepareSong(engine, writers::BuildNtgSong(song), "WIDE.NTG");
    engine.Player.rowTrace = 1;
    SequencerTick(engine);
    const std::string trace = log.Take();
    std::string expected = "[00] C-4 01 00 ";
    for (int t = 1; t < 13; ++t) expected += "--- 00 00 ";
    expected += "D-4 01 00 \n";
    EXPECT_EQ(trace, expected);
    engine.Player.rowTrace = 0;
    EXPECT_EQ(engine.Player.tracks[13].lastNote, NoteByte("D-4"));
    // The next row starts 20 cells on: track 0 now plays row 1's note, not a cell of track 14.
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.tracks[0].lastNote, NoteByte("G-4"));
    EXPECT_EQ(engine.VoiceBank[0].frequency, NoteFrequencyTable[NoteByte("G-4")] * PitchToFrequency);
}

TEST_F(DamagedNtg, RecordsBeyond64AndInstrumentsBeyondTheSongPlayNothing) {
    // 70 records: only the first 64 load.
    NtgSongPlan many;
    many.tempo = FastTempo;
    many.trackCount = 1;
    for (int i = 0; i < 70; ++i)
        many.firstGroup.push_back({.sample = writers::NtgSquareWave(8), .volume = 50});
    test::PrepareSong(engine, writers::BuildNtgSong(many), "MANY.NTG");
    EXPECT_EQ(SlotsInUse(engine), 64);
    EXPECT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 63)));

    // 60 records in the first group and 10 in the second: on a second-group track instrument 4 is map
    // index 63 and plays; instrument 5 is map index 64, outside the map, and silences the track.
    NtgSongPlan split = many;
    split.firstGroup.resize(60);
    split.secondGroup.assign(10, {.sample = writers::NtgSquareWave(8), .volume = 50});
    split.trackCount = 3;
    split.firstGroupTracks = 1;
    split.Row(0, 0, "--- 00 00 | C-4 04 00 | C-4 05 00");
    test::PrepareSong(engine, writers::BuildNtgSong(split), "SPLIT.NTG");
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.tracks[1].lastNote, NoteByte("C-4"));
    EXPECT_EQ(engine.Player.tracks[2].lastNote, 60);
    EXPECT_EQ(engine.VoiceBank[2].targetVolume, 0);

    // 20 records (slots 0-19 in use). Instrument 30 on a first-group track is map index 29, beyond
    // the song's records: its map entry names slot 16 (the entry's reset value), which holds record
    // 16 here, and must still not play.
    NtgSongPlan twenty = many;
    twenty.firstGroup.resize(2);
    twenty.secondGroup.assign(18, {.sample = writers::NtgSquareWave(8), .volume = 50});
    twenty.trackCount = 2;
    twenty.firstGroupTracks = 2;
    twenty.Row(0, 0, "C-4 1E 00 | C-4 0A 00");
    test::PrepareSong(engine, writers::BuildNtgSong(twenty), "TWENTY.NTG");
    ASSERT_TRUE(WaveSlotInUse(engine, 16));
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.tracks[0].lastNote, 60);
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 0);
    EXPECT_EQ(engine.Player.tracks[1].lastNote, NoteByte("C-4"));  // map index 9, a record of this song
}

TEST_F(DamagedNtg, SamplesPastTheFileAreCutAndEmptyOnesPlaySilence) {
    NtgSongPlan song = OneInstrumentSong(2);
    song.firstGroup[0].lengthField = 5000;  // the file holds 64 bytes of it
    song.firstGroup.push_back({.sample = {}, .volume = 80, .mode = 3});
    song.Row(0, 0, "C-4 01 00 | C-4 02 00");
    const test::Rendering played =
        test::PlaySong(engine, writers::BuildNtgSong(song), "CUT.NTG", 1 << 20, false);
    EXPECT_TRUE(played.ended);
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 0)));
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 1)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 0)].length, 64u);
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 1)].length, 0u);
    EXPECT_EQ(engine.Player.tracks[1].lastNote, NoteByte("C-4"));

    // A 24-bit length above what a voice can address keeps 65,536 bytes.
    NtgSongPlan big = OneInstrumentSong(1);
    big.firstGroup[0].sample.assign(70000, 0x90);
    big.firstGroup[0].lengthField = 0x30000;
    test::PrepareSong(engine, writers::BuildNtgSong(big), "BIG.NTG");
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 0)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 0)].length, 65536u);
}

TEST_F(DamagedNtg, NotesAboveTheTablePlayItsHighestEntry) {
    NtgSongPlan song = OneInstrumentSong(2);
    song.Cell(0, 0, 0, 120, NtgControl(1), 0);
    song.Cell(0, 0, 1, 200, NtgControl(1), 0);  // a negative byte as the trace sees it
    test::PrepareSong(engine, writers::BuildNtgSong(song), "HIGH.NTG");
    engine.Player.rowTrace = 1;
    SequencerTick(engine);
    EXPECT_EQ(log.Take(), "[00] B-9 01 00 ??? 01 00 \n");
    engine.Player.rowTrace = 0;
    const uint32_t top = NoteFrequencyTable[107] * PitchToFrequency;
    EXPECT_EQ(engine.VoiceBank[0].frequency, top);
    EXPECT_EQ(engine.VoiceBank[1].frequency, top);
    EXPECT_EQ(engine.Player.tracks[0].pitch, NoteFrequencyTable[107]);
}

}  // namespace
}  // namespace trelmo
