// Block mixing and tick timing: what the voices sound like, frame by frame.
#include "synth/mix_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace trelmo {
namespace {

// Every voice idle and silent, so that one test voice is heard alone.
void QuietBank() {
    ResetVoiceBank();
    for (Voice& v : VoiceBank) {
        v.volume = 0;
        v.targetVolume = 0;
        v.data = nullptr;
    }
}

// Starts voice on a new slot holding bytes. At volume 2 a voice's output equals its interpolated
// sample (2 x sample, halved), so expectations can be written in sample values.
int16_t Play(uint8_t voice, const std::vector<int8_t>& bytes, uint32_t step, uint32_t end, uint32_t loopStart,
             uint16_t mode, uint32_t start = 0) {
    const auto length = static_cast<uint32_t>(bytes.size());
    const int16_t slot =
        AllocWaveSlot(reinterpret_cast<const uint8_t*>(bytes.data()), length, loopStart, end, mode, 0);
    StartVoice(voice, slot, start, length, loopStart, end, mode);
    VoiceBank[voice].step = step;
    VoiceBank[voice].volume = 2;
    VoiceBank[voice].targetVolume = 2;
    return slot;
}

std::vector<int> Mix(uint32_t frames, int side) {
    TickLength = frames;
    MixBlock();
    std::vector<int> out;
    for (uint32_t f = 0; f < frames; ++f) out.push_back(OutputBlock[2 * f + static_cast<uint32_t>(side)]);
    return out;
}
std::vector<int> MixLeft(uint32_t frames) {
    return Mix(frames, 0);
}

TEST(MixBlock, PlaysOnceThenHoldsTheEnd) {
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 3, 0, 0);
    // The first frame already plays start + step; at end the voice holds the byte there.
    EXPECT_EQ(MixLeft(6), (std::vector<int>{20, 30, 40, 40, 40, 40}));
    EXPECT_EQ(MixLeft(2), (std::vector<int>{40, 40}));
    EXPECT_EQ(VoiceBank[0].position >> 16, 3u);
    // A restart takes the new start at the voice's next frame.
    StartVoice(0, VoiceBank[0].slot, 1, 4, 0, 3, 0);
    EXPECT_EQ(MixLeft(3), (std::vector<int>{30, 40, 40}));
    FreeAllWaveSlots();
}

TEST(MixBlock, LoopsKeepTheOvershootAndTheFraction) {
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
    FreeAllWaveSlots();
}

TEST(MixBlock, InterpolatesWithThePartnerAWholeStepAhead) {
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
    FreeAllWaveSlots();
}

TEST(MixBlock, VolumeRampsOneStepEveryFourthFrameOfEachBlock) {
    QuietBank();
    Play(0, std::vector<int8_t>(600, 100), 0, 599, 0, 0);
    VoiceBank[0].volume = 64;
    VoiceBank[0].targetVolume = 0;
    const std::vector<int> out = MixLeft(256);
    EXPECT_EQ(out[0], 63 * 100 / 2);  // the first step comes at frame 0
    EXPECT_EQ(out[3], 63 * 100 / 2);
    EXPECT_EQ(out[4], 62 * 100 / 2);
    EXPECT_EQ(out[251], 1 * 100 / 2);
    EXPECT_EQ(out[252], 0);  // 64 steps at frames 0, 4, ..., 252
    EXPECT_EQ(VoiceBank[0].volume, 0);

    // Upward, and the rhythm restarts with every block: two blocks of 5 frames take 4 steps, where
    // 10 frames counted straight through would take 3.
    VoiceBank[0].targetVolume = 100;
    MixLeft(5);
    EXPECT_EQ(VoiceBank[0].volume, 2);
    MixLeft(5);
    EXPECT_EQ(VoiceBank[0].volume, 4);
    // SetVoiceVolume sets only the target: the next frames still ramp.
    SetVoiceVolume(0, 0);
    EXPECT_EQ(VoiceBank[0].volume, 4);
    EXPECT_EQ(MixLeft(1), (std::vector<int>{3 * 100 / 2}));
    FreeAllWaveSlots();
}

TEST(MixBlock, SidesFollowTheChannelAndSaturate) {
    QuietBank();
    const std::vector<int8_t> high(8, 127);
    Play(0, high, 0x10000, 7, 0, 1);
    VoiceBank[0].volume = VoiceBank[0].targetVolume = 255;
    EXPECT_EQ(MixLeft(2), (std::vector<int>{16192, 16192}));  // 255 x 127 / 2
    EXPECT_EQ(Mix(2, 1), (std::vector<int>{0, 0}));

    // Three loud voices would wrap to -16,959; the sum is held at full scale instead.
    Play(2, high, 0x10000, 7, 0, 1);
    Play(4, high, 0x10000, 7, 0, 1);
    VoiceBank[2].volume = VoiceBank[2].targetVolume = 255;
    VoiceBank[4].volume = VoiceBank[4].targetVolume = 255;
    EXPECT_EQ(MixLeft(1), (std::vector<int>{32767}));

    // The same on the other side with the lowest sample, from an odd voice (right after a reset).
    const std::vector<int8_t> low(8, -128);
    for (uint8_t v : {uint8_t{1}, uint8_t{3}, uint8_t{5}}) {
        Play(v, low, 0x10000, 7, 0, 1);
        VoiceBank[v].volume = VoiceBank[v].targetVolume = 255;
    }
    TickLength = 1;
    MixBlock();
    EXPECT_EQ(OutputBlock[0], 32767);
    EXPECT_EQ(OutputBlock[1], -32768);

    // Two voices still fit and are not clamped; a channel of 0xFF is the left side.
    QuietBank();
    Play(1, high, 0x10000, 7, 0, 1);
    Play(3, high, 0x10000, 7, 0, 1);
    VoiceBank[1].volume = VoiceBank[1].targetVolume = 255;
    VoiceBank[3].volume = VoiceBank[3].targetVolume = 255;
    SetVoiceChannel(3, 0xFF);
    TickLength = 1;
    MixBlock();
    EXPECT_EQ(OutputBlock[0], 16192);
    EXPECT_EQ(OutputBlock[1], 16192);
    SetVoiceChannel(1, 0xFF);
    MixBlock();
    EXPECT_EQ(OutputBlock[0], 32385);  // 2 x 255 x 127 / 2
    EXPECT_EQ(OutputBlock[1], 0);
    FreeAllWaveSlots();
}

TEST(MixBlock, IdleVoicesHoldSlotZerosEndWhileFading) {
    // First song after load: every voice's end is 0, so each holds byte 0 of slot 0.
    FreeAllWaveSlots();
    for (Voice& v : VoiceBank) v.end = 0;
    std::vector<uint8_t> bytes(1000, 9);
    bytes[0] = 50;
    ASSERT_EQ(AllocWaveSlot(bytes.data(), 1000, 0, 999, 0, 0), 0);
    ResetVoiceBank();
    TickLength = 256;
    MixBlock();
    // Seven voices per side at volume 63 on byte 50.
    EXPECT_EQ(OutputBlock[0], 7 * 63 * 50 / 2);
    EXPECT_EQ(OutputBlock[1], 7 * 63 * 50 / 2);
    EXPECT_EQ(OutputBlock[2 * 251], 7 * 1 * 50 / 2);
    EXPECT_EQ(OutputBlock[2 * 252], 0);
    EXPECT_EQ(OutputBlock[2 * 252 + 1], 0);
    for (const Voice& v : VoiceBank) EXPECT_EQ(v.position >> 16, 0u);
    FreeAllWaveSlots();
}

TEST(MixBlock, ReadsStayInsideTheSampleAndItsGuardBytes) {
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
    StartVoice(0, 77, 0, 10, 0, 9, 0);
    VoiceBank[0].volume = VoiceBank[0].targetVolume = 255;
    EXPECT_EQ(MixLeft(4), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(VoiceBank[0].data, nullptr);
    FreeAllWaveSlots();
}

TEST(MixBlock, RendersExactlyOneTickOfFrames) {
    QuietBank();
    Play(0, {10, 20, 30, 40}, 0x10000, 3, 0, 1);
    OutputBlock[2 * 5] = 1234;
    OutputBlock[2 * 5 + 1] = -1234;
    TickLength = 5;
    MixBlock();
    EXPECT_EQ(OutputBlock[2 * 4], 30);  // 20, 30, 10, 20, 30
    EXPECT_EQ(OutputBlock[2 * 5], 1234);
    EXPECT_EQ(OutputBlock[2 * 5 + 1], -1234);
    // The longest block: 44,100 frames of the same three-byte loop.
    StartVoice(0, VoiceBank[0].slot, 0, 4, 0, 3, 1);
    SetTickRate(0);
    MixBlock();
    EXPECT_EQ(OutputBlock[2 * 44097], 20);
    EXPECT_EQ(OutputBlock[2 * 44099], 10);
    FreeAllWaveSlots();
}

// Needs a fresh process, as ctest gives every test.
TEST(TickTiming, StartsAt882FramesBeforeAnyTempo) {
    EXPECT_EQ(TickLength, 882u);
    EXPECT_EQ(GetTickRate(), 0);
}

TEST(TickTiming, TempoSetsTheBlockLength) {
    const struct {
        uint16_t tempo;
        uint32_t frames;
    } table[] = {{0, 44100}, {1, 44100}, {2, 44100}, {3, 22050},  {4, 22050}, {5, 14700},
                 {6, 14700}, {10, 8820}, {50, 2100}, {100, 1075}, {120, 900}, {125, 864},
                 {150, 722}, {200, 544}, {255, 428}, {65535, 1}};
    for (const auto& row : table) {
        SetTickRate(row.tempo);
        EXPECT_EQ(TickLength, row.frames) << "tempo " << row.tempo;
        EXPECT_EQ(GetTickRate(), row.tempo);
    }
    // The original formed the divisor in double precision; the integer form matches it everywhere.
    for (uint32_t tempo = 0; tempo <= 0xFFFF; ++tempo) {
        const auto truncated = static_cast<int32_t>(static_cast<double>(tempo) * -0.4);
        const uint32_t expected = 44100u / static_cast<uint32_t>(1 - truncated);
        SetTickRate(static_cast<uint16_t>(tempo));
        ASSERT_EQ(TickLength, expected) << "tempo " << tempo;
        ASSERT_GE(TickLength, 1u);
        ASSERT_LE(TickLength, 44100u);
    }
}

}  // namespace
}  // namespace trelmo
