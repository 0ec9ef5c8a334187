// SPDX-License-Identifier: BSD-3-Clause
#include "tests/support/reference_mixer.h"

#include <algorithm>
#include <cstdint>

#include "synth/mix_block.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace trelmo {

namespace {

void TakeRestart(const Synth& synth, Voice& v) {
    v.position = v.start << 16;
    v.restartPending = 0;
    if (WaveSlotInUse(synth, v.slot)) {
        v.data = synth.WaveTable[v.slot].data;
        v.dataLength = synth.WaveTable[v.slot].length;
    } else {
        v.data = nullptr;
        v.dataLength = 0;
    }
}

// Reads are kept inside the sample and its two guard bytes, whatever the step or loop points say.
int32_t Fetch(const Voice& v, uint32_t index) {
    return v.data[std::min(index, v.dataLength + 1)];
}

int32_t StepVoice(const Synth& synth, Voice& v, uint32_t frame) {
    if (v.restartPending != 0) TakeRestart(synth, v);
    if ((frame & 3u) == 0 && v.volume != v.targetVolume) {
        v.volume = static_cast<uint8_t>(v.volume > v.targetVolume ? v.volume - 1 : v.volume + 1);
    }
    v.position += v.step;
    uint32_t i = v.position >> 16;
    if (i >= v.end) {
        i = (v.mode & 1u) != 0 ? i + v.loopStart - v.end : v.end;
        v.position = (i << 16) | (v.position & 0xFFFFu);
    }
    if (v.data == nullptr) return 0;
    const int32_t s0 = Fetch(v, i);
    const int32_t s1 = Fetch(v, i + (v.step >> 16));
    const auto u = static_cast<int32_t>(v.position & 0xFFFFu);
    const int32_t sample = (s0 * 65536 + (s1 - s0) * u) >> 16;
    return static_cast<int32_t>(v.volume) * sample;
}

int16_t Saturate(int32_t halvedSum) {
    return static_cast<int16_t>(std::clamp(halvedSum, -32768, 32767));
}
}  // namespace

void ReferenceMixBlock(Synth& synth) {
    const uint32_t frames = std::min(synth.TickLength, OutputBlockFrames);
    for (uint32_t f = 0; f < frames; ++f) {
        int32_t left = 0;
        int32_t right = 0;
        for (Voice& v : synth.VoiceBank) {
            const int32_t c = StepVoice(synth, v, f);
            if (v.channel != 0) {
                left += c;
            } else {
                right += c;
            }
        }
        synth.scratch.OutputBlock[2 * f] = Saturate(left >> 1);
        synth.scratch.OutputBlock[2 * f + 1] = Saturate(right >> 1);
    }
}

}  // namespace trelmo
