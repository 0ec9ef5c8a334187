// SPDX-License-Identifier: BSD-3-Clause
// Block mixing and tick timing: what the voices sound like, frame by frame.
#include "synth/mix_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"

namespace trelmo {
namespace {

class Mixing : public test::EngineTest {
  protected:
    // Every voice idle and silent, so that one test voice is heard alone.
    void QuietBank() {
        ResetVoiceBank(engine);
        for (Voice& v : engine.VoiceBank) {
            v.volume = 0;
            v.targetVolume = 0;
            v.data = nullptr;
        }
    }

    // Starts voice on a new slot holding bytes. At volume 2 a voice's output equals its interpolated
    // sample (2 x sample, halved), so expectations can be written in sample values.
    int16_t Play(uint8_t voice, const std::vector<int8_t>& bytes, uint32_t step, uint32_t end,
                 uint32_t loopStart, uint16_t mode, uint32_t start = 0) {
        const auto length = static_cast<uint32_t>(bytes.size());
        const int16_t slot = AllocWaveSlot(engine, reinterpret_cast<const uint8_t*>(bytes.data()), length,
                                           loopStart, end, mode, 0);
        StartVoice(engine, voice, slot, start, length, loopStart, end, mode);
        engine.VoiceBank[voice].step = step;
        engine.VoiceBank[voice].volume = 2;
        engine.VoiceBank[voice].targetVolume = 2;
        return slot;
    }

    std::vector<int> Mix(uint32_t frames, int side) {
        engine.TickLength = frames;
        MixBlock(engine);
        std::vector<int> out;
        for (uint32_t f = 0; f < frames; ++f)
            out.push_back(engine.scratch.OutputBlock[2 * f + static_cast<uint32_t>(side)]);
        return out;
    }
    std::vector<int> MixLeft(uint32_t frames) { return Mix(frames, 0); }
};
using TickTiming = Mixing;

TEST_F(Mixing, PlaysOnceThenHoldsTheEnd) {
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 3, 0, 0);
    // The first frame already plays start + step; at end the voice holds the byte there.
    EXPECT_EQ(MixLeft(6), (std::vector<int>{20, 30, 40, 40, 40, 40}));
    EXPECT_EQ(MixLeft(2), (std::vector<int>{40, 40}));
    EXPECT_EQ(engine.VoiceBank[0].position >> 16, 3u);
    // A restart takes the new start at the voice's next frame.
    StartVoice(engine, 0, engine.VoiceBank[0].slot, 1, 4, 0, 3, 0);
    EXPECT_EQ(MixLeft(3), (std::vector<int>{30, 40, 40}));
}

TEST_F(Mixing, LoopsKeepTheOvershootAndTheFraction) {
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 3, 0, 1);
    EXPECT_EQ(MixLeft(7), (std::vector<int>{20, 30, 10, 20, 30, 10, 20}));
    QuietBank();
    Play(2, {10, 20, 30, 40}, 0x10000, 3, 1, 1);
    EXPECT_EQ(MixLeft(5), (std::vector<int>{20, 30, 20, 30, 20}));
    // Step 1.25: positions 1.25, 2.5, then 3.75 goes back to 0.75 between bytes 0 and 1, then 2.0.
    QuietBank();
    Play(4, {0, 10, 20, 30}, 0x14000, 3, 0, 1);
    EXPECT_EQ(MixLeft(4), (std::vector<int>{12, 25, 7, 20}));
    // Two bytes per frame: position 4 goes back to 1, not to the loop start.
    QuietBank();
    Play(6, {0, 10, 20, 30}, 0x20000, 3, 0, 1);
    EXPECT_EQ(MixLeft(4), (std::vector<int>{20, 10, 0, 20}));
}

TEST_F(Mixing, InterpolatesWithThePartnerAWholeStepAhead) {
    QuietBank();
    // Below one byte per frame both reads hit the same byte: each byte twice, unblended.
    Play(0, {10, 20, 30, 40}, 0x8000, 3, 0, 0);
    EXPECT_EQ(MixLeft(7), (std::vector<int>{10, 20, 20, 30, 30, 40, 40}));
    QuietBank();
    Play(0, {0, 10, 20, 30}, 0x18000, 3, 0, 0);
    EXPECT_EQ(MixLeft(1), (std::vector<int>{15}));  // halfway between 10 and 20
    // The blend is shifted arithmetically: halfway between -11 and -20 is -15.5, stored as -16.
    QuietBank();
    Play(0, {0, -11, -20, 0}, 0x18000, 3, 0, 0);
    EXPECT_EQ(MixLeft(1), (std::vector<int>{-16}));
    // At 2.5 bytes per frame the partner lies two bytes ahead: 1 x 65536 blended toward byte 4.
    QuietBank();
    Play(0, {0, 0, 8, 0, 40, 0, 0, 0}, 0x28000, 7, 0, 0);
    EXPECT_EQ(MixLeft(1), (std::vector<int>{24}));  // position 2.5: 8 + (40 - 8) / 2
}

TEST_F(Mixing, VolumeRampsOneStepEveryFourthFrameOfEachBlock) {
    QuietBank();
    Play(0, std::vector<int8_t>(600, 100), 0, 599, 0, 0);
    engine.VoiceBank[0].volume = 64;
    engine.VoiceBank[0].targetVolume = 0;
    const std::vector<int> out = MixLeft(256);
    EXPECT_EQ(out[0], 63 * 100 / 2);  // the first step comes at frame 0
    EXPECT_EQ(out[3], 63 * 100 / 2);
    EXPECT_EQ(out[4], 62 * 100 / 2);
    EXPECT_EQ(out[251], 1 * 100 / 2);
    EXPECT_EQ(out[252], 0);  // 64 steps at frames 0, 4, ..., 252
    EXPECT_EQ(engine.VoiceBank[0].volume, 0);

    // Upward, and the rhythm restarts with every block: two blocks of 5 frames take 4 steps, where
    // 10 frames counted straight through would take 3.
    engine.VoiceBank[0].targetVolume = 100;
    MixLeft(5);
    EXPECT_EQ(engine.VoiceBank[0].volume, 2);
    MixLeft(5);
    EXPECT_EQ(engine.VoiceBank[0].volume, 4);
    // SetVoiceVolume sets only the target: the next frames still ramp.
    SetVoiceVolume(engine, 0, 0);
    EXPECT_EQ(engine.VoiceBank[0].volume, 4);
    EXPECT_EQ(MixLeft(1), (std::vector<int>{3 * 100 / 2}));
}

TEST_F(Mixing, SidesFollowTheChannelAndSaturate) {
    QuietBank();
    const std::vector<int8_t> high(8, 127);
    Play(0, high, 0x10000, 7, 0, 1);
    engine.VoiceBank[0].volume = engine.VoiceBank[0].targetVolume = 255;
    EXPECT_EQ(MixLeft(2), (std::vector<int>{16192, 16192}));  // 255 x 127 / 2
    EXPECT_EQ(Mix(2, 1), (std::vector<int>{0, 0}));

    // Three loud voices would wrap to -16,959; the sum is held at full scale instead.
    Play(2, high, 0x10000, 7, 0, 1);
    Play(4, high, 0x10000, 7, 0, 1);
    engine.VoiceBank[2].volume = engine.VoiceBank[2].targetVolume = 255;
    engine.VoiceBank[4].volume = engine.VoiceBank[4].targetVolume = 255;
    EXPECT_EQ(MixLeft(1), (std::vector<int>{32767}));

    // The same on the other side with the lowest sample, from an odd voice (right after a reset).
    const std::vector<int8_t> low(8, -128);
    for (uint8_t v : {uint8_t{1}, uint8_t{3}, uint8_t{5}}) {
        Play(v, low, 0x10000, 7, 0, 1);
        engine.VoiceBank[v].volume = engine.VoiceBank[v].targetVolume = 255;
    }
    engine.TickLength = 1;
    MixBlock(engine);
    EXPECT_EQ(engine.scratch.OutputBlock[0], 32767);
    EXPECT_EQ(engine.scratch.OutputBlock[1], -32768);

    // Two voices still fit and are not clamped; a channel of 0xFF is the left side.
    QuietBank();
    Play(1, high, 0x10000, 7, 0, 1);
    Play(3, high, 0x10000, 7, 0, 1);
    engine.VoiceBank[1].volume = engine.VoiceBank[1].targetVolume = 255;
    engine.VoiceBank[3].volume = engine.VoiceBank[3].targetVolume = 255;
    SetVoiceChannel(engine, 3, 0xFF);
    engine.TickLength = 1;
    MixBlock(engine);
    EXPECT_EQ(engine.scratch.OutputBlock[0], 16192);
    EXPECT_EQ(engine.scratch.OutputBlock[1], 16192);
    SetVoiceChannel(engine, 1, 0xFF);
    MixBlock(engine);
    EXPECT_EQ(engine.scratch.OutputBlock[0], 32385);  // 2 x 255 x 127 / 2
    EXPECT_EQ(engine.scratch.OutputBlock[1], 0);
}

TEST_F(Mixing, IdleVoicesHoldSlotZerosEndWhileFading) {
    // First song after load: every voice's end is 0, so each holds byte 0 of slot 0.
    FreeAllWaveSlots(engine);
    for (Voice& v : engine.VoiceBank) v.end = 0;
    std::vector<uint8_t> bytes(1000, 9);
    bytes[0] = 50;
    ASSERT_EQ(AllocWaveSlot(engine, bytes.data(), 1000, 0, 999, 0, 0), 0);
    ResetVoiceBank(engine);
    engine.TickLength = 256;
    MixBlock(engine);
    // Seven voices per side at volume 63 on byte 50.
    EXPECT_EQ(engine.scratch.OutputBlock[0], 7 * 63 * 50 / 2);
    EXPECT_EQ(engine.scratch.OutputBlock[1], 7 * 63 * 50 / 2);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 251], 7 * 1 * 50 / 2);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 252], 0);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 252 + 1], 0);
    for (const Voice& v : engine.VoiceBank) EXPECT_EQ(v.position >> 16, 0u);
}

TEST_F(Mixing, ReadsStayInsideTheSampleAndItsGuardBytes) {
    // Large steps near the end, a loop shorter than the overshoot and an end past the sample would
    // all read past the block; the sanitizer run checks that none does.
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x50000, 3, 0, 0);
    EXPECT_EQ(MixLeft(3), (std::vector<int>{40, 40, 40}));
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x50000, 1, 0, 1);
    for (int s : MixLeft(16)) {
        EXPECT_GE(s, 10);
        EXPECT_LE(s, 40);
    }
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 100, 0, 0);
    EXPECT_EQ(MixLeft(8).back(), 40);  // held on a guard byte, which repeats the last sample
    // A voice started on a free slot has nothing to play and adds nothing.
    QuietBank();
    StartVoice(engine, 0, 77, 0, 10, 0, 9, 0);
    engine.VoiceBank[0].volume = engine.VoiceBank[0].targetVolume = 255;
    EXPECT_EQ(MixLeft(4), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(engine.VoiceBank[0].data, nullptr);
}

TEST_F(Mixing, RendersExactlyOneTickOfFrames) {
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 3, 0, 1);
    engine.scratch.OutputBlock[2 * 5] = 1234;
    engine.scratch.OutputBlock[2 * 5 + 1] = -1234;
    engine.TickLength = 5;
    MixBlock(engine);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 4], 30);  // 20, 30, 10, 20, 30
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 5], 1234);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 5 + 1], -1234);
    // The longest block: 44,100 frames of the same three-byte loop.
    StartVoice(engine, 0, engine.VoiceBank[0].slot, 0, 4, 0, 3, 1);
    SetTickRate(engine, 0);
    MixBlock(engine);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 44097], 20);
    EXPECT_EQ(engine.scratch.OutputBlock[2 * 44099], 10);
}

// A new engine has not been given a tempo yet.
TEST_F(TickTiming, StartsAt882FramesBeforeAnyTempo) {
    EXPECT_EQ(engine.TickLength, 882u);
    EXPECT_EQ(GetTickRate(engine), 0);
}

TEST_F(TickTiming, TempoSetsTheBlockLength) {
    const struct {
        uint16_t tempo;
        uint32_t frames;
    } table[] = {{0, 44100}, {1, 44100}, {2, 44100}, {3, 22050},  {4, 22050}, {5, 14700},
                 {6, 14700}, {10, 8820}, {50, 2100}, {100, 1075}, {120, 900}, {125, 864},
                 {150, 722}, {200, 544}, {255, 428}, {65535, 1}};
    for (const auto& row : table) {
        SetTickRate(engine, row.tempo);
        EXPECT_EQ(engine.TickLength, row.frames) << "tempo " << row.tempo;
        EXPECT_EQ(GetTickRate(engine), row.tempo);
    }
    // The original formed the divisor in double precision; the integer form matches it everywhere.
    for (uint32_t tempo = 0; tempo <= 0xFFFF; ++tempo) {
        const auto truncated = static_cast<int32_t>(static_cast<double>(tempo) * -0.4);
        const uint32_t expected = 44100u / static_cast<uint32_t>(1 - truncated);
        SetTickRate(engine, static_cast<uint16_t>(tempo));
        ASSERT_EQ(engine.TickLength, expected) << "tempo " << tempo;
        ASSERT_GE(engine.TickLength, 1u);
        ASSERT_LE(engine.TickLength, 44100u);
    }
}

}  // namespace
}  // namespace trelmo
