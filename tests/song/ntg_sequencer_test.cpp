// SPDX-License-Identifier: BSD-3-Clause
// The NoiseTracker GS sequencer: one row per tick, order table, "NXT"/"STP", instruments of the two
// groups, set volume and set tempo, channel sides and the row trace.
#include "song/ntg_sequencer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "song/note_table.h"
#include "song/ntg_song.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/note_names.h"
#include "tools/writers/ntg_writer.h"

using namespace trelmo;
using namespace trelmo::test;
using namespace trelmo::writers;

namespace {

class NtgSequencer : public EngineTest {
  protected:
    // One block per tick, as the mixer thread renders them. Returns the ticks played.
    int PlayToEnd(int maxTicks, bool mix = true) {
        int ticks = 0;
        while (engine.Player.songEnded == 0 && ticks < maxTicks) {
            SequencerTick(engine);
            if (mix) MixBlock(engine);
            ++ticks;
        }
        return ticks;
    }

    // Plays one row; true when it (re)started the voice.
    bool RowStarts(int voice) {
        for (Voice& v : engine.VoiceBank) v.restartPending = 0;
        SequencerTick(engine);
        return engine.VoiceBank[voice].restartPending != 0;
    }
};
using NtgTrace = NtgSequencer;

uint32_t FrequencyOf(const char* note) {
    return NotePitch(NoteByte(note)) * PitchToFrequency;
}

NtgSongPlan SongWith(const std::vector<uint8_t>& volumes, uint16_t tracks = 1) {
    NtgSongPlan song;
    song.trackCount = tracks;
    for (uint8_t volume : volumes)
        song.firstGroup.push_back({.sample = NtgSquareWave(64), .volume = volume, .mode = 3});
    return song;
}

}  // namespace

TEST_F(NtgSequencer, PositionsLastSixtyFourRowsAtTheSongsTempo) {
    NtgSongPlan song = SongWith({64});
    song.tempo = 10;
    song.Row(0, 0, "C-4 01 00");
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    EXPECT_EQ(PlayToEnd(63), 63);
    EXPECT_EQ(engine.Player.songEnded, 0);
    EXPECT_EQ(GetTickRate(engine), 7);  // the header's tempo replaced 125 on the first tick
    EXPECT_EQ(engine.TickLength, 44100u / 3u);
    EXPECT_EQ(PlayToEnd(10), 1);

    // Song length 0 plays one position; above 256 the whole order table; no tracks, empty rows.
    const uint16_t lengths[] = {0, 1, 3, 300};
    const int ticks[] = {64, 64, 3 * 64, 256 * 64};
    for (int i = 0; i < 4; ++i) {
        NtgSongPlan empty;
        empty.trackCount = 0;
        empty.songLength = lengths[i];
        PrepareSong(engine, BuildNtgSong(empty), "SONG.NTG");
        EXPECT_EQ(PlayToEnd(20000, false), ticks[i]) << "song length " << lengths[i];
    }
}

TEST_F(NtgSequencer, OrderTableAndNextPatternCells) {
    NtgSongPlan song = SongWith({64}, 4);
    song.order = {2, 0, 1};
    song.Row(2, 10, "C-4 01 00 | --- 00 00 | NXT 00 00 | D-4 01 00");
    song.Row(0, 0, "E-4 01 00");
    song.Row(0, 63, "NXT 00 00");  // the same as the pattern's own end
    song.Row(1, 1, "F-4 01 00");
    song.Row(1, 5, "--- 00 00 | NXT 00 00");
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    EXPECT_EQ(PlayToEnd(10), 10);
    EXPECT_TRUE(RowStarts(3));  // the row goes on after "NXT"
    EXPECT_EQ(engine.VoiceBank[3].frequency, FrequencyOf("D-4"));
    EXPECT_EQ(engine.Player.orderPosition, 1);
    EXPECT_EQ(engine.Player.rowIndex, 0);
    EXPECT_TRUE(RowStarts(0));
    EXPECT_EQ(engine.VoiceBank[0].frequency, FrequencyOf("E-4"));
    EXPECT_EQ(PlayToEnd(62), 62);
    EXPECT_FALSE(RowStarts(0));  // an "NXT" cell starts no note
    EXPECT_EQ(engine.Player.orderPosition, 2);
    EXPECT_EQ(PlayToEnd(1), 1);
    EXPECT_TRUE(RowStarts(0));
    EXPECT_EQ(engine.VoiceBank[0].frequency, FrequencyOf("F-4"));
    EXPECT_EQ(PlayToEnd(100), 4);  // rows 2..5: "NXT" on the last position ends the song
    EXPECT_EQ(engine.Player.songEnded, 1);
}

TEST_F(NtgSequencer, VolumeStopAndNoteCommands) {
    NtgSongPlan song = SongWith({200, 60});
    const char* rows[] = {"C-4 41 C8", "C-4 41 64", "C-4 01 00", "--- 40 30", "C-4 02 00",
                          "STP 41 7F", "--- 00 00", "D-4 00 00", "C-4 C1 50"};
    for (int r = 0; r < 9; ++r) song.Row(0, r, rows[r]);
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    const bool starts[] = {true, true, true, false, true, false, false, true, true};
    const int volumes[] = {200, 100, 127, 0x30, 60, 0, 0, 60, 127};
    for (int r = 0; r < 9; ++r) {
        EXPECT_EQ(RowStarts(0), starts[r]) << rows[r];
        EXPECT_EQ(engine.VoiceBank[0].targetVolume, volumes[r]) << rows[r];
    }
    EXPECT_EQ(engine.VoiceBank[0].frequency, FrequencyOf("C-4"));
    EXPECT_EQ(GetTickRate(engine), NtgTempo(125));  // command bits 11 set no tempo
}

TEST_F(NtgSequencer, SetTempoActsOnItsOwnRow) {
    NtgSongPlan song = SongWith({64});
    song.Row(0, 0, "--- 80 00");
    song.Row(0, 1, "C-4 81 7D");
    song.Row(0, 2, "--- 80 FF");
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    const uint32_t lengths[] = {44100, 1696, 848};
    for (int r = 0; r < 3; ++r) {
        const bool started = RowStarts(0);
        EXPECT_EQ(started, r == 1);
        EXPECT_EQ(engine.TickLength, lengths[r]) << "row " << r;
        EXPECT_EQ(GetTickRate(engine), engine.Player.songTempo);
    }
    EXPECT_FALSE(RowStarts(0));
    EXPECT_EQ(engine.TickLength, 848u);  // the tempo holds on later rows
}

TEST_F(NtgSequencer, InstrumentsThatNameNoSampleSilenceTheTrack) {
    // 20 records fill slots 0..19, so the stale map entry NoInstrumentSlot (16) names a slot that
    // is in use. Track 1 uses the empty second group: its instrument 1 is map index 20, which
    // names no record of this song.
    NtgSongPlan song = SongWith(std::vector<uint8_t>(20, 90), 2);
    song.firstGroupTracks = 1;
    song.Row(0, 0, "C-4 40 50 | C-4 00 00");  // no instrument yet: the volume still acts
    song.Row(0, 1, "C-4 80 0A | --- 00 00");  // and so does the tempo
    song.Row(0, 2, "C-4 02 00 | C-4 01 00");
    song.Row(0, 3, "--- 03 00 | C-4 3F 00");  // an instrument without a note only changes it
    song.Row(0, 4, "--- 00 00 | C-4 3F 00");
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    ASSERT_TRUE(WaveSlotInUse(engine, 16));
    ASSERT_EQ(engine.InstrumentMap[20], NoInstrumentSlot);
    EXPECT_FALSE(RowStarts(0));
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 0x50);
    EXPECT_FALSE(RowStarts(0));
    EXPECT_EQ(GetTickRate(engine), 7);
    for (Voice& v : engine.VoiceBank) v.targetVolume = 33;
    EXPECT_TRUE(RowStarts(0));
    EXPECT_EQ(engine.VoiceBank[0].slot, engine.InstrumentMap[1]);
    EXPECT_EQ(engine.VoiceBank[1].restartPending, 0);
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 0);
    for (Voice& v : engine.VoiceBank) v.targetVolume = 33;
    EXPECT_FALSE(RowStarts(1));
    EXPECT_EQ(engine.Player.tracks[0].instrument, 2);
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 33);
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 0);  // map index 82 lies outside the map
    EXPECT_EQ(PlayToEnd(100), 60);
}

TEST_F(NtgSequencer, TracksChooseTheirInstrumentGroup) {
    const uint16_t firstGroupTracks[] = {0, 1, 3, 5};
    const int records[4][3] = {{2, 2, 3}, {0, 2, 3}, {0, 0, 1}, {0, 0, 1}};
    for (int c = 0; c < 4; ++c) {
        NtgSongPlan song = SongWith({10, 20}, 3);
        song.secondGroup = song.firstGroup;
        song.secondGroup[0].volume = 30;
        song.secondGroup[1].volume = 40;
        song.firstGroupTracks = firstGroupTracks[c];
        song.Row(0, 0, "C-4 01 00 | C-4 01 00 | C-4 02 00");
        PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
        SequencerTick(engine);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(engine.VoiceBank[k].slot, engine.InstrumentMap[records[c][k]])
                << "first-group tracks " << c << " track " << k;
            EXPECT_EQ(engine.VoiceBank[k].targetVolume, 10 * (records[c][k] + 1));
        }
    }
}

TEST_F(NtgSequencer, SidesHighNotesAndWideRows) {
    // 16 tracks: two more than there are voices. They are skipped, but a row is still 48 bytes.
    NtgSongPlan song = SongWith({64}, 16);
    song.channels = {0, 1, 0x8000};
    std::string row0 = "--- 00 00 | --- 00 00 | --- 00 00";
    for (int k = 3; k < 16; ++k) row0 += k == 13 ? " | C-4 01 00" : " | --- 00 00";
    song.Row(0, 0, "C-4 01 00 | C-4 01 00 | C-4 01 00");
    song.Row(0, 1, row0);
    song.Cell(0, 1, 0, 120, NtgControl(1), 0);
    song.Cell(0, 1, 14, NoteByte("C-4"), NtgControl(1), 0x00);
    song.Cell(0, 2, 0, 200, NtgControl(1), 0);
    PrepareSong(engine, BuildNtgSong(song), "SONG.NTG");
    SequencerTick(engine);
    EXPECT_EQ(engine.VoiceBank[0].channel, 0);
    EXPECT_EQ(engine.VoiceBank[1].channel, 0xFF);
    EXPECT_EQ(engine.VoiceBank[2].channel, 0xFF);
    EXPECT_TRUE(RowStarts(13));
    EXPECT_EQ(engine.VoiceBank[0].frequency, 9864u * 51u);  // notes above the table play its top note
    EXPECT_EQ(engine.Player.rowOffset, 2 * 48);
    EXPECT_TRUE(RowStarts(0));
    EXPECT_EQ(engine.Player.tracks[0].pitch, 9864);
}

TEST_F(NtgSequencer, DamagedPatternsPlayAsEmptyCells) {
    NtgSongPlan song = SongWith({64}, 2);
    song.order = {0, 60000, 1};
    song.patternSize = 65535;  // pattern 60000 starts ~3.9 GB in
    song.Row(0, 0, "C-4 01 00 | C-4 01 00");
    song.Row(1, 0, "C-4 01 00 | C-4 01 00");  // beyond the pattern data's length
    song.patternDataLength = 384;
    std::vector<uint8_t> bytes = BuildNtgSong(song);
    PrepareSong(engine, bytes, "SONG.NTG");
    EXPECT_TRUE(RowStarts(1));
    EXPECT_EQ(PlayToEnd(63), 63);
    for (int r = 0; r < 128; ++r) EXPECT_FALSE(RowStarts(0)) << "row " << r;
    EXPECT_EQ(engine.Player.songEnded, 1);

    // Pattern data of one cell: what follows it in the file (the first record's unused bytes,
    // here made to look like a cell) is no cell.
    NtgSongPlan shortData = SongWith({64}, 2);
    shortData.patternDataLength = 3;
    shortData.Row(0, 0, "C-4 01 00");
    bytes = BuildNtgSong(shortData);
    bytes[609] = NoteByte("D-4");
    bytes[610] = NtgControl(1);
    PrepareSong(engine, bytes, "SONG.NTG");
    EXPECT_TRUE(RowStarts(0));
    EXPECT_EQ(engine.VoiceBank[1].restartPending, 0);

    // The file ends in the middle of row 0's second cell: its missing bytes read as 0.
    NtgSongPlan cut = SongWith({}, 2);
    cut.Row(0, 0, "C-4 41 40 | D-4 41 40");
    bytes = BuildNtgSong(cut);
    bytes.resize(606 + 4);
    PrepareSong(engine, bytes, "SONG.NTG");
    SequencerTick(engine);
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 0x40);
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 0);
    EXPECT_EQ(PlayToEnd(100), 63);
}

TEST_F(NtgTrace, NoteNames) {
    const int16_t notes[] = {0, 84, 85, 1, 12, 13, 49, 83, 88, 127, -1, -128};
    const char* names[] = {"---", "NXT", "STP", "C-0",  "B-0", "C-1",
                           "C-4", "A#6", "D#7", "F#10", "???", "???"};
    for (int i = 0; i < 12; ++i) {
        char text[8] = "xxxxxxx";
        NoteName(notes[i], text);
        EXPECT_STREQ(text, names[i]) << notes[i];
    }
}

TEST_F(NtgTrace, PrintsEveryRowWhenSwitchedOnAndNothingOtherwise) {
    NtgSongPlan song = SongWith({64}, 2);
    song.order = {0, 3};
    song.Row(0, 5, "C-4 01 00 | --- 00 00");
    song.Row(3, 0, "STP 85 ff | NXT 00 00");
    song.Cell(0, 6, 1, 0xF0, 0xC1, 0x0A);
    const std::vector<uint8_t> bytes = BuildNtgSong(song);

    PrepareSong(engine, bytes, "SONG.NTG");
    engine.Player.rowTrace = 1;
    const int ticks = PlayToEnd(1000);
    const std::string trace = log.Take();
    EXPECT_EQ(ticks, 65);

    std::string expected;
    char line[64];
    for (int r = 0; r < 64; ++r) {
        const char* cells = r == 5   ? "C-4 01 00 --- 00 00"
                            : r == 6 ? "--- 00 00 ??? c1 0a"
                                     : "--- 00 00 --- 00 00";
        std::snprintf(line, sizeof line, "[%02d] %s \n", r, cells);
        expected += line;
    }
    expected += "New blk 3 (position 1)\n[00] STP 85 ff NXT 00 00 \n";
    EXPECT_EQ(trace, expected);

    PrepareSong(engine, bytes, "SONG.NTG");
    engine.Player.rowTrace = 0;
    EXPECT_EQ(PlayToEnd(1000), 65);
    EXPECT_EQ(log.Take(), "");
}
