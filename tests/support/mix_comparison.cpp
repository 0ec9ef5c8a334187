// SPDX-License-Identifier: BSD-3-Clause
#include "tests/support/mix_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "synth/mix_block.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "tests/support/reference_mixer.h"

namespace trelmo {

namespace {

std::string Describe(const Voice& v) {
    return "restart " + std::to_string(v.restartPending) + " mode " + std::to_string(v.mode) + " slot " +
           std::to_string(v.slot) + " start " + std::to_string(v.start) + " loopStart " +
           std::to_string(v.loopStart) + " end " + std::to_string(v.end) + " step " + std::to_string(v.step) +
           " volume " + std::to_string(v.volume) + "->" + std::to_string(v.targetVolume) + " channel " +
           std::to_string(v.channel) + " position " + std::to_string(v.position) + " dataLength " +
           std::to_string(v.dataLength) + (v.data == nullptr ? " no data" : "");
}

bool SameVoice(const Voice& a, const Voice& b) {
    return a.restartPending == b.restartPending && a.mode == b.mode && a.slot == b.slot &&
           a.start == b.start && a.limit == b.limit && a.loopStart == b.loopStart && a.end == b.end &&
           a.step == b.step && a.frequency == b.frequency && a.volume == b.volume &&
           a.targetVolume == b.targetVolume && a.channel == b.channel && a.position == b.position &&
           a.data == b.data && a.dataLength == b.dataLength;
}

}  // namespace

size_t CompareWithReference(Synth& synth, const std::string& what) {
    Voice before[VoiceCount];
    std::copy(std::begin(synth.VoiceBank), std::end(synth.VoiceBank), before);
    const uint32_t frames = std::min(synth.TickLength, OutputBlockFrames);

    MixBlock(synth);
    std::vector<int16_t> fast(synth.scratch.OutputBlock, synth.scratch.OutputBlock + 2 * frames);
    Voice fastVoices[VoiceCount];
    std::copy(std::begin(synth.VoiceBank), std::end(synth.VoiceBank), fastVoices);

    std::copy(std::begin(before), std::end(before), synth.VoiceBank);
    std::fill_n(synth.scratch.OutputBlock, 2 * frames, int16_t{0x5A5A});
    ReferenceMixBlock(synth);

    for (uint32_t k = 0; k < 2 * frames; ++k) {
        if (fast[k] != synth.scratch.OutputBlock[k]) {
            ADD_FAILURE() << what << ": frames " << frames << ", first difference at frame " << k / 2
                          << (k % 2 == 0 ? " left" : " right") << ": fast " << fast[k] << ", reference "
                          << synth.scratch.OutputBlock[k];
            break;
        }
    }
    for (int v = 0; v < VoiceCount; ++v) {
        EXPECT_TRUE(SameVoice(fastVoices[v], synth.VoiceBank[v]))
            << what << ": voice " << v << " before: " << Describe(before[v])
            << "\n fast after: " << Describe(fastVoices[v])
            << "\n reference after: " << Describe(synth.VoiceBank[v]);
    }
    return static_cast<size_t>(std::count_if(fast.begin(), fast.end(), [](int16_t s) { return s != 0; }));
}

}  // namespace trelmo
