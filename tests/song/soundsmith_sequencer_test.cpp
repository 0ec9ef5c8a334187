// SPDX-License-Identifier: BSD-3-Clause
// The SoundSmith sequencer, tick by tick: rhythm, effects, note commands and the order list.
#include "song/soundsmith_sequencer.h"

#include <gtest/gtest.h>

#include <string>

#include "song/note_table.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/note_names.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using writers::NoteByte;

class SoundSmithSequencer : public test::EngineTest {
  protected:
    void SetUp() override {
        tune.instruments = {{"SINE", 100}, {"ONCE", 200}};  // instrument 3 (high nibble 3) is empty
        tune.speedByte = 15;
    }
    void Start() {
        test::PrepareSong(engine, tune.Bytes(), "TUNE.MTP",
                          {{"TUNE.W", writers::WaveBankBytes({{writers::SineCycle(64, 100), true},
                                                              {{10, 20, 30, 40}, false}})}});
    }
    // Ticks until the next row has been read.
    void ReadRow() {
        do {
            SequencerTick(engine);
        } while (engine.Player.tickCounter != 0);
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) SequencerTick(engine);
    }
    TrackState& Track(int t) { return engine.Player.tracks[t]; }
    uint32_t Freq(int t) { return engine.VoiceBank[t].frequency; }
    uint32_t PitchFreq(unsigned pitch) { return pitch * 51u; }
    uint32_t NoteFreq(const std::string& name) { return NotePitch(NoteByte(name)) * 51u; }
    void ForgetRestarts() {
        for (Voice& v : engine.VoiceBank) v.restartPending = 0;
    }

    writers::SoundSmithTune tune;
};

TEST_F(SoundSmithSequencer, SpeedSetsHowManyTicksARowLasts) {
    tune.speedByte = 0x86;  // the high nibble is not part of the speed
    tune.Row(0, 0, "C-4 10");
    tune.Row(0, 1, "D-4");
    Start();
    EXPECT_EQ(engine.Player.speed, 6);
    for (int tick = 1; tick <= 5; ++tick) {
        SequencerTick(engine);
        EXPECT_EQ(engine.Player.tickCounter, tick);
        EXPECT_EQ(engine.Player.rowOffset, 0);
        EXPECT_EQ(Track(0).lastNote, 60) << "row 0 read on tick " << tick;
    }
    SequencerTick(engine);  // tick 6 reads row 0
    EXPECT_EQ(engine.Player.tickCounter, 0);
    EXPECT_EQ(engine.Player.rowIndex, 1);
    EXPECT_EQ(engine.Player.rowOffset, 14);
    EXPECT_EQ(Track(0).lastNote, NoteByte("C-4"));
    Ticks(5);
    EXPECT_EQ(Track(0).lastNote, NoteByte("C-4"));
    SequencerTick(engine);
    EXPECT_EQ(Track(0).lastNote, NoteByte("D-4"));
    EXPECT_EQ(engine.Player.rowIndex, 2);

    // Speed 1, then 0: every tick reads a row.
    tune.speedByte = 1;
    tune.Row(0, 2, "--- 0F 00");
    Start();
    for (int row = 1; row <= 5; ++row) {
        SequencerTick(engine);
        EXPECT_EQ(engine.Player.rowIndex, row);
        EXPECT_EQ(engine.Player.tickCounter, 0);
    }
    EXPECT_EQ(engine.Player.speed, 0);
}

TEST_F(SoundSmithSequencer, SetSpeedAndTempoTakesBothNibbles) {
    tune.speedByte = 1;
    // On a track whose instrument has no sample: the effect still acts.
    const char* rows[] = {"--- 3F 36", "--- 0F 81", "--- 0F B0", "--- 0F C4", "--- 0F 21",
                          "--- 0F 91", "--- 0F A1", "--- 0F 11", "--- 0F 51"};
    const int speeds[] = {6, 1, 0, 4, 1, 1, 1, 1, 1};
    const int tempos[] = {63, 150, 75, 125, 500, 300, 600, 250, 125};
    for (int r = 0; r < 9; ++r) tune.Row(0, r, rows[r]);
    Start();
    for (int r = 0; r < 9; ++r) {
        ReadRow();
        EXPECT_EQ(engine.Player.speed, speeds[r]) << rows[r];
        EXPECT_EQ(GetTickRate(engine), tempos[r]) << rows[r];
    }
    EXPECT_EQ(engine.Player.rowIndex, 9);
}

TEST_F(SoundSmithSequencer, VolumeEffectsShapeTheRowVolume) {
    tune.speedByte = 1;
    // Default volumes: instrument 1 is 100, instrument 2 is 200.
    tune.Row(0, 0, "C-4 15 32 | C-4 25 64 | C-4 16 1E | C-4 16 FF | C-4 13 C8 | C-4 10 00 | C-4 16 32");
    tune.Row(0, 1, "--- 00 00 | --- 00 00 | --- 00 00 | --- 00 00 | --- 00 00 | --- 03 28 | --- 05 40");
    Start();
    ReadRow();
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 127);  // 150, limited
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 127);  // 255 at most, then limited
    EXPECT_EQ(engine.VoiceBank[2].targetVolume, 70);
    EXPECT_EQ(engine.VoiceBank[3].targetVolume, 0);
    EXPECT_EQ(engine.VoiceBank[4].targetVolume, 200);  // set volume is not limited
    EXPECT_EQ(engine.VoiceBank[4].restartPending, 1);
    EXPECT_EQ(engine.VoiceBank[5].targetVolume, 100);
    EXPECT_EQ(engine.VoiceBank[6].targetVolume, 50);
    ForgetRestarts();
    ReadRow();
    // Set volume changes the sounding note at once; volume up without a note changes nothing.
    EXPECT_EQ(engine.VoiceBank[5].targetVolume, 40);
    EXPECT_EQ(engine.VoiceBank[5].restartPending, 0);
    EXPECT_EQ(engine.VoiceBank[6].targetVolume, 50);
}

TEST_F(SoundSmithSequencer, ArpeggioCyclesThroughItsThreeNotes) {
    tune.speedByte = 6;
    tune.Row(0, 0, "C-4 10 47");
    tune.Row(0, 1, "--- 00 00");
    tune.Row(0, 2, "--- 00 47");  // no note: the arpeggio is built on note 0
    tune.Row(0, 3, "G-8 00 FF");  // note 104 + 15 and + 30 lie above the table
    Start();
    ReadRow();
    EXPECT_EQ(Freq(0), NoteFreq("C-4"));
    const int expected[] = {56, 60, 53, 56, 60};
    for (int tick = 0; tick < 5; ++tick) {
        SequencerTick(engine);
        EXPECT_EQ(Freq(0), NotePitch(expected[tick]) * 51u) << "effect tick " << tick + 1;
    }
    SequencerTick(engine);  // row 1: effect 0 with parameter 0 goes back to the track's pitch
    SequencerTick(engine);
    EXPECT_EQ(Freq(0), NoteFreq("C-4"));
    Ticks(4);
    EXPECT_EQ(engine.Player.rowIndex, 2);
    SequencerTick(engine);
    const int fromZero[] = {7, 11, 4};
    for (int tick = 0; tick < 3; ++tick) {
        SequencerTick(engine);
        EXPECT_EQ(Freq(0), NotePitch(fromZero[tick]) * 51u) << "effect tick " << tick + 1;
    }
    Ticks(2);
    SequencerTick(engine);  // row 3
    EXPECT_EQ(Freq(0), NoteFreq("G-8"));
    for (uint32_t value : Track(0).arpeggio) EXPECT_EQ(value, NotePitch(107) * 51u);
}

TEST_F(SoundSmithSequencer, SlidesMoveThePitchAndWrap) {
    tune.Row(0, 0, "C-4 11 10 | C-0 12 20");
    tune.Row(0, 1, "--- 00 00 | --- 01 FF");
    Start();
    ReadRow();
    SequencerTick(engine);
    EXPECT_EQ(Track(0).pitch, 346 + 16);
    EXPECT_EQ(Freq(0), PitchFreq(346 + 16));
    EXPECT_EQ(Track(1).pitch, 65526);  // 22 - 32 wraps
    EXPECT_EQ(Freq(1), PitchFreq(65526));
    Ticks(13);
    EXPECT_EQ(Track(0).pitch, 346 + 14 * 16);
    const unsigned low = (22u - 14u * 32u) & 0xFFFFu;
    EXPECT_EQ(Track(1).pitch, low);
    ReadRow();
    Ticks(2);
    EXPECT_EQ(Track(1).pitch, (low + 2u * 255u) & 0xFFFFu);  // and back up past 65535
    EXPECT_EQ(Track(0).pitch, 346 + 14 * 16);                // an empty cell ends the slide
}

TEST_F(SoundSmithSequencer, TonePortamentoGlidesToTheNoteAndStops) {
    // Track 0 glides up and later keeps its step; 1 overshoots downward; 2 glides to 0 (no note);
    // 3 asks for the note it plays; 4 has never had a step; 5 was slid past its target first.
    tune.Row(0, 0, "C-4 10 00 | C-5 10 00 | C-4 10 00 | C-4 10 00 | C-4 10 00 | C-4 10 00");
    tune.Row(0, 1, "C-5 0C 1A | C-4 0C FF | --- 0C FF | C-4 0C 10 | C-5 0C 00 | --- 01 FF");
    tune.Row(0, 2, "C-6 0C 00 | --- 00 00 | --- 00 00 | --- 00 00 | --- 00 00 | C-5 0C 01");
    Start();
    ReadRow();
    ForgetRestarts();
    ReadRow();
    EXPECT_EQ(Track(0).lastNote, NoteByte("C-4"));
    EXPECT_EQ(engine.VoiceBank[0].restartPending, 0);
    EXPECT_EQ(engine.VoiceBank[3].restartPending, 1);  // the same note restarts and ends the glide
    EXPECT_EQ(Track(3).effect, 0);
    EXPECT_EQ(Track(3).effectParam, 0);
    for (int tick = 1; tick <= 13; ++tick) {
        SequencerTick(engine);
        EXPECT_EQ(Track(0).pitch, 346 + 26 * tick);
        EXPECT_EQ(Freq(0), PitchFreq(346u + 26u * static_cast<unsigned>(tick)));
        EXPECT_EQ(Track(4).pitch, 346);
        EXPECT_EQ(Track(3).pitch, 346);
        if (tick == 1) {
            EXPECT_EQ(Track(1).pitch, 692 - 255);
            EXPECT_EQ(Track(2).pitch, 346 - 255);
        }
        if (tick == 2) {
            EXPECT_EQ(Track(1).pitch, 346);
            EXPECT_EQ(Track(1).effect, 0);
            EXPECT_EQ(Track(2).pitch, 0);
            EXPECT_EQ(Freq(2), 0u);
            EXPECT_EQ(Track(2).effect, 0);
        }
    }
    EXPECT_EQ(Track(0).effect, 12);
    SequencerTick(engine);  // 346 + 14 x 26 = 710 passes 692 and stops on it
    EXPECT_EQ(Track(0).pitch, 692);
    EXPECT_EQ(Freq(0), PitchFreq(692));
    EXPECT_EQ(Track(0).effect, 0);
    EXPECT_EQ(Track(0).effectParam, 0);
    EXPECT_EQ(Track(4).effect, 12);
    EXPECT_EQ(Track(5).pitch, 346 + 14 * 255);

    ReadRow();
    SequencerTick(engine);
    EXPECT_EQ(Track(0).pitch, 692 + 26);  // parameter 0 kept the step of 26
    EXPECT_EQ(Track(5).pitch, 692);       // upward from note C-4, so it has already arrived
    EXPECT_EQ(Track(5).effect, 0);
}

TEST_F(SoundSmithSequencer, VibratoSwingsAroundThePitchWithoutMovingIt) {
    tune.Row(0, 0, "C-4 14 23 | C-0 14 8F");
    tune.Row(0, 1, "--- 04 40 | --- 00 00");
    Start();
    ReadRow();
    const int row3[] = {0, 1, 2, 3, 4, 4, 5, 5, 5, 5, 5, 4, 4, 3, 2, 1};
    for (int tick = 1; tick <= 14; ++tick) {
        SequencerTick(engine);
        const int position = (2 * tick) % 32;
        const int offset = position < 16 ? row3[position] : -row3[position - 16];
        EXPECT_EQ(Freq(0), PitchFreq(static_cast<unsigned>(346 + offset))) << "tick " << tick;
        EXPECT_EQ(Track(0).pitch, 346);
        // Depth 15 swings note C-0 (pitch 22) by up to 29: below 1 it is held at 1.
        const int low = 22 + VibratoTable[15 * 32 + (8 * tick) % 32];
        EXPECT_EQ(Freq(1), PitchFreq(static_cast<unsigned>(low < 1 ? 1 : low))) << "tick " << tick;
        if (tick == 3) {
            EXPECT_EQ(Freq(1), PitchFreq(1));  // position 24: 22 - 29
        }
    }
    ReadRow();  // new speed 4, the depth stays 3
    SequencerTick(engine);
    EXPECT_EQ(Track(0).vibratoPosition, 0);
    SequencerTick(engine);
    EXPECT_EQ(Freq(0), PitchFreq(346 + 4));

    for (int depth = 1; depth < VibratoDepths; ++depth) {
        EXPECT_EQ(VibratoTable[depth * 32 + 8], 2 * depth - 1) << depth;
        for (int p = 0; p < 16; ++p)
            EXPECT_EQ(VibratoTable[depth * 32 + p + 16], -VibratoTable[depth * 32 + p]);
    }
}

TEST_F(SoundSmithSequencer, NoteCommandsSilenceOrEndThePattern) {
    tune.patternCount = 2;
    tune.order = {0, 1};
    tune.Row(0, 0, "C-4 11 01 | C-4 10 00");
    tune.Row(0, 1, "$80       | $82");
    tune.Row(0, 10, "$81      | D-4 10 00");
    tune.Row(1, 0, "E-4 10 00");
    Start();
    ReadRow();
    ReadRow();
    EXPECT_EQ(engine.VoiceBank[0].targetVolume, 0);
    EXPECT_EQ(engine.VoiceBank[1].targetVolume, 100);
    EXPECT_EQ(Track(0).effect, 1);  // the slide goes on after the command
    EXPECT_EQ(Track(0).pitch, 346 + 14);
    SequencerTick(engine);
    EXPECT_EQ(Track(0).pitch, 346 + 15);

    tune.speedByte = 1;
    Start();
    Ticks(10);
    EXPECT_EQ(engine.Player.orderPosition, 0);
    SequencerTick(engine);  // row 10 ends the pattern, its other cells still read
    EXPECT_EQ(Track(1).lastNote, NoteByte("D-4"));
    EXPECT_EQ(engine.Player.rowIndex, 0);
    EXPECT_EQ(engine.Player.orderPosition, 1);
    EXPECT_EQ(engine.Player.rowOffset, 896);
    SequencerTick(engine);
    EXPECT_EQ(Track(0).lastNote, NoteByte("E-4"));
    Ticks(62);
    EXPECT_EQ(engine.Player.songEnded, 0);
    SequencerTick(engine);  // the last row of the last position
    EXPECT_EQ(engine.Player.songEnded, 1);
}

TEST_F(SoundSmithSequencer, InstrumentNibbleAndTheSidesOfTracks) {
    tune.speedByte = 1;
    tune.stereo[0] = 0;
    tune.stereo[1] = 1;
    tune.stereo[2] = 0x100;
    tune.stereo[3] = 0xFFFF;
    tune.Row(0, 0, "C-4 10 00 | C-4 00 00 | C-4 30 00 | C-4 20 00");
    tune.Row(0, 1, "D-4 00 00 | --- 00 00 | --- 03 40 | --- 00 00");
    tune.Row(0, 2, "E-4 20 00");
    Start();
    engine.VoiceBank[2].targetVolume = 50;
    SequencerTick(engine);
    EXPECT_EQ(engine.VoiceBank[0].slot, engine.InstrumentMap[0]);
    EXPECT_EQ(engine.VoiceBank[0].channel, 0);
    EXPECT_EQ(engine.VoiceBank[3].channel, 0xFF);
    EXPECT_EQ(engine.VoiceBank[3].slot, engine.InstrumentMap[1]);
    EXPECT_EQ(Track(1).instrument, -1);  // never named an instrument: the note is not played
    EXPECT_EQ(Track(1).lastNote, 60);
    EXPECT_EQ(engine.VoiceBank[1].restartPending, 0);
    EXPECT_EQ(Track(2).instrument, 2);  // an empty position: silent, nothing started
    EXPECT_EQ(engine.VoiceBank[2].targetVolume, 0);
    EXPECT_EQ(engine.VoiceBank[2].restartPending, 0);
    SequencerTick(engine);
    EXPECT_EQ(Track(0).lastNote, NoteByte("D-4"));  // high nibble 0 keeps instrument 0
    EXPECT_EQ(Track(0).instrument, 0);
    EXPECT_EQ(engine.VoiceBank[2].targetVolume, 0);  // the set volume is taken back at once
    SequencerTick(engine);
    EXPECT_EQ(Track(0).instrument, 1);
    EXPECT_EQ(engine.VoiceBank[0].slot, engine.InstrumentMap[1]);

    tune.Row(0, 0, "C-4 10 00 | C-4 10 00 | C-4 10 00 | C-4 10 00");
    Start();
    SequencerTick(engine);
    EXPECT_EQ(engine.VoiceBank[0].channel, 0);
    EXPECT_EQ(engine.VoiceBank[1].channel, 0xFF);
    EXPECT_EQ(engine.VoiceBank[2].channel, 0xFF);
    EXPECT_EQ(engine.VoiceBank[3].channel, 0xFF);
}

TEST_F(SoundSmithSequencer, TheOrderListIsPlayedOnce) {
    tune.speedByte = 1;
    tune.patternCount = 3;
    tune.order = {2, 0, 2};
    Start();
    EXPECT_EQ(engine.Player.rowOffset, 2 * 896);
    Ticks(63);
    EXPECT_EQ(engine.Player.rowOffset, 2 * 896 + 63 * 14);
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.orderPosition, 1);
    EXPECT_EQ(engine.Player.rowOffset, 0);
    Ticks(64);
    EXPECT_EQ(engine.Player.rowOffset, 2 * 896);
    Ticks(63);
    EXPECT_EQ(engine.Player.songEnded, 0);
    SequencerTick(engine);
    EXPECT_EQ(engine.Player.songEnded, 1);
    EXPECT_EQ(engine.Player.orderPosition, 3);
    EXPECT_EQ(engine.Player.rowOffset, 3 * 896);  // left where the last row ended

    tune.order = {1};
    tune.speedByte = 3;
    test::PrepareSong(engine, tune.Bytes(), "ONE.MTP");
    const test::Rendering r = test::PlaySong(engine, 100000000, false);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.ticks, 64u * 3u);
    EXPECT_EQ(r.frames, 64u * 3u * 864u);
}

}  // namespace
}  // namespace trelmo
