// SPDX-License-Identifier: BSD-3-Clause
// Voice control: what the four operations store and what a reset leaves behind.
#include "synth/voice_bank.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "synth/wave_table.h"
#include "tests/support/engine_test.h"

namespace trelmo {
namespace {

using VoiceBank = test::EngineTest;

TEST_F(VoiceBank, FrequencyBecomesAStepThroughTheSinglePrecisionClockRatio) {
    engine.VoiceBank[2].step = 0x1111;
    engine.VoiceBank[4].frequency = 0x2222;
    SetVoiceFrequency(engine, 3, 44100);
    EXPECT_EQ(engine.VoiceBank[3].step, 0xFFFFu);  // not 0x10000: the ratio lies just below 1/44100
    EXPECT_EQ(engine.VoiceBank[3].frequency, 44100u);
    SetVoiceFrequency(engine, 3, 82059);  // 1609 x 51
    EXPECT_EQ(engine.VoiceBank[3].step, 121945u);
    SetVoiceFrequency(engine, 3, 22050);
    EXPECT_EQ(engine.VoiceBank[3].step, 0x7FFFu);
    SetVoiceFrequency(engine, 3, 88200);
    EXPECT_EQ(engine.VoiceBank[3].step, 0x1FFFFu);
    SetVoiceFrequency(engine, 3, 0);
    EXPECT_EQ(engine.VoiceBank[3].step, 0u);
    // The highest note frequency still gives a step of about 11.4 without overflow.
    EXPECT_EQ(FrequencyToStep(503064), 747591u);
    // Other voices are untouched.
    EXPECT_EQ(engine.VoiceBank[2].step, 0x1111u);
    EXPECT_EQ(engine.VoiceBank[4].frequency, 0x2222u);
}

TEST_F(VoiceBank, VolumeAndChannelOnlyStoreTheirValues) {
    engine.VoiceBank[5].volume = 40;
    SetVoiceVolume(engine, 5, 200);
    EXPECT_EQ(engine.VoiceBank[5].targetVolume, 200);
    EXPECT_EQ(engine.VoiceBank[5].volume, 40);  // the mixer ramps toward the target
    SetVoiceChannel(engine, 5, 0xFF);
    EXPECT_EQ(engine.VoiceBank[5].channel, 0xFF);
    SetVoiceChannel(engine, 5, 0);
    EXPECT_EQ(engine.VoiceBank[5].channel, 0);
    // A voice index beyond the bank is ignored rather than written past it.
    SetVoiceVolume(engine, VoiceCount, 1);
    SetVoiceFrequency(engine, VoiceCount, 1);
    SetVoiceChannel(engine, VoiceCount, 1);
    StartVoice(engine, VoiceCount, 0, 0, 10, 0, 9, 1);
}

TEST_F(VoiceBank, StartVoiceStoresTheNoteAndClampsOnlyALoopingEnd) {
    Voice& v = engine.VoiceBank[1];
    v.volume = 33;
    v.step = 0x12345;
    v.mode = 0x06;
    StartVoice(engine, 1, 4, 2, 400, 7, 500, 0x0B);
    EXPECT_EQ(v.slot, 4);
    EXPECT_EQ(v.start, 2u);
    EXPECT_EQ(v.limit, 400u);
    EXPECT_EQ(v.loopStart, 7u);
    EXPECT_EQ(v.end, 400u);   // a looping end is kept within the limit
    EXPECT_EQ(v.mode, 0x0F);  // bits 0 and 3 from the call, the others kept
    EXPECT_EQ(v.restartPending, 1);
    EXPECT_EQ(v.volume, 33);
    EXPECT_EQ(v.step, 0x12345u);

    StartVoice(engine, 1, 5, 0, 400, 0, 500, 0x02);
    EXPECT_EQ(v.end, 500u);  // played once: kept as given
    EXPECT_EQ(v.mode, 0x06);

    // A start at or past the limit (for instance an empty sample) leaves the voice exactly as it was.
    Voice before;
    std::memcpy(&before, &v, sizeof v);
    v.restartPending = 0;
    before.restartPending = 0;
    StartVoice(engine, 1, 9, 400, 400, 0, 0, 1);
    StartVoice(engine, 1, 9, 0, 0, 0, 0, 1);
    StartVoice(engine, 1, 9, 0xFFFFFFFFu, 5, 0, 0, 1);
    EXPECT_EQ(std::memcmp(&before, &v, sizeof v), 0);
}

TEST_F(VoiceBank, ResetTakesSlotZeroAndAlternatesSides) {
    std::vector<uint8_t> bytes(1000, 5);
    ASSERT_EQ(AllocWaveSlot(engine, bytes.data(), 1000, 0, 999, 0, 0), 0);
    for (int i = 0; i < VoiceCount; ++i) {
        Voice& v = engine.VoiceBank[i];
        v.restartPending = 1;
        v.mode = 9;
        v.slot = 6;
        v.step = 3;
        v.volume = 200;
        v.targetVolume = 100;
        v.start = 11;
        v.limit = 12;
        v.loopStart = 13;
        v.end = 14;
        v.frequency = 15;
    }
    ResetVoiceBank(engine);
    for (int i = 0; i < VoiceCount; ++i) {
        const Voice& v = engine.VoiceBank[i];
        EXPECT_EQ(v.restartPending, 0);
        EXPECT_EQ(v.mode, 0);
        EXPECT_EQ(v.slot, 0);
        EXPECT_EQ(v.step, 0x10000u);
        EXPECT_EQ(v.volume, 64);
        EXPECT_EQ(v.targetVolume, 0);
        EXPECT_EQ(v.channel, i % 2 == 0 ? 1 : 0) << "voice " << i;
        EXPECT_EQ(v.position, 999u << 16);
        EXPECT_EQ(v.data, engine.WaveTable[0].data);
        // What the previous song left stays.
        EXPECT_EQ(v.start, 11u);
        EXPECT_EQ(v.limit, 12u);
        EXPECT_EQ(v.loopStart, 13u);
        EXPECT_EQ(v.end, 14u);
        EXPECT_EQ(v.frequency, 15u);
    }

    // Slot 0 not in use: an idle voice has nothing to read rather than a freed block.
    FreeAllWaveSlots(engine);
    ResetVoiceBank(engine);
    for (const Voice& v : engine.VoiceBank) EXPECT_EQ(v.data, nullptr);
}

}  // namespace
}  // namespace trelmo
