// SPDX-License-Identifier: BSD-3-Clause
#include "synth/mix_block.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "synth/mix_gather.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

// The block is mixed voice by voice rather than frame by frame: each voice adds its whole block into
// one side's 32-bit sums, and a last pass halves and saturates them. Integer sums do not depend on
// the order of the additions, so the result is the same as visiting all voices in every frame.
//
// Per voice the block splits into stretches that are cheap to play:
// - a volume ramp (at most 4 x 255 frames), played at unit volume and then scaled chunk by chunk;
// - free runs, where the position neither wraps nor reaches the end and both bytes of the blend lie
//   inside the sample and its guard bytes, so the loop needs no end test and no clamp (eight frames
//   at a time where the processor has AVX2, see mix_gather.h);
// - a non-looping voice held at its end, whose bytes no longer move (often a constant);
// - silence (volume 0 or no sample), where only the position is carried forward.
// Whatever fits none of these (the frame that reaches the end or loops back, reads near the guard
// bytes, wrap-around) goes through one frame of the general rule.

namespace trelmo {

namespace {

constexpr uint64_t PositionRange = uint64_t{1} << 32;

// One voice's playing state, kept in locals while its block is mixed.
struct Cursor {
    uint32_t position;
    uint32_t step;
    uint32_t end;
    uint32_t loopStart;
    bool looping;
    const int8_t* data;
    uint32_t lastIndex;     // the last byte a read may touch: the second guard byte
    uint32_t partner;       // how far ahead of the current byte the blend's second byte lies
    uint64_t freeRunBound;  // every position below it plays without end test or clamp
    uint64_t silentBound;   // every position below it advances without end test
};

Cursor MakeCursor(const Voice& v) {
    Cursor c{};
    c.position = v.position;
    c.step = v.step;
    c.end = v.end;
    c.loopStart = v.loopStart;
    c.looping = (v.mode & 1u) != 0;
    c.data = v.data;
    c.lastIndex = v.dataLength + 1;
    c.partner = v.step >> 16;
    const uint64_t readable = uint64_t{c.lastIndex} + 1;
    const uint64_t safeIndexes = readable > c.partner ? readable - c.partner : 0;
    c.freeRunBound = std::min(std::min(uint64_t{c.end}, safeIndexes) << 16, PositionRange);
    c.silentBound = std::min(uint64_t{c.end} << 16, PositionRange);
    return c;
}

// The general rule for one frame: advance, then loop back or hold at the end. Returns the byte index.
inline uint32_t AdvanceOneFrame(Cursor& c) {
    c.position += c.step;
    uint32_t i = c.position >> 16;
    if (i >= c.end) {
        i = c.looping ? i + c.loopStart - c.end : c.end;
        c.position = (i << 16) | (c.position & 0xFFFFu);
    }
    return i;
}

// The blend of byte i with its partner, every read kept inside the sample and its guard bytes.
inline int32_t ClampedSample(const Cursor& c, uint32_t i) {
    const int32_t s0 = c.data[std::min(i, c.lastIndex)];
    const int32_t s1 = c.data[std::min(i + c.partner, c.lastIndex)];
    const auto u = static_cast<int32_t>(c.position & 0xFFFFu);
    return s0 + (((s1 - s0) * u) >> 16);
}

// Frames that can be played from here on without end test or clamp.
inline uint32_t FreeRunFrames(const Cursor& c, uint64_t bound, uint32_t count) {
    if (c.position >= bound) return 0;
    if (c.step == 0) return count;
    return static_cast<uint32_t>(std::min<uint64_t>(count, (bound - 1 - c.position) / c.step));
}

// A non-looping voice that sits at its end stays there for good when no later advance can wrap.
inline bool HeldAtEnd(const Cursor& c) {
    return !c.looping && (c.position >> 16) == c.end &&
           (uint64_t{c.end} << 16) + 0xFFFFu + c.step < PositionRange;
}

// Carries a voice forward by count frames without playing it.
void AdvanceSilently(Cursor& c, uint32_t count) {
    while (count > 0) {
        const uint32_t run = FreeRunFrames(c, c.silentBound, count);
        if (run > 0) {
            c.position += run * c.step;
            count -= run;
            continue;
        }
        if (HeldAtEnd(c)) {
            c.position = (c.end << 16) | ((c.position + count * c.step) & 0xFFFFu);
            return;
        }
        AdvanceOneFrame(c);
        --count;
    }
}

// Adds volume x sample for count frames to out.
void PlayHeld(Cursor& c, int32_t* out, int32_t volume, uint32_t count) {
    const int32_t s0 = c.data[std::min(c.end, c.lastIndex)];
    const int32_t s1 = c.data[std::min(c.end + c.partner, c.lastIndex)];
    const uint32_t fractionStep = c.step & 0xFFFFu;
    uint32_t fraction = c.position;
    if (s0 == s1 || fractionStep == 0) {
        const auto u = static_cast<int32_t>(fraction & 0xFFFFu);
        const int32_t value = volume * (s0 + (((s1 - s0) * u) >> 16));
        for (uint32_t j = 0; j < count; ++j) out[j] += value;
        fraction += count * fractionStep;
    } else {
        const int32_t delta = s1 - s0;
        for (uint32_t j = 0; j < count; ++j) {
            fraction += fractionStep;
            const auto u = static_cast<int32_t>(fraction & 0xFFFFu);
            out[j] += volume * (s0 + ((delta * u) >> 16));
        }
    }
    c.position = (c.end << 16) | (fraction & 0xFFFFu);
}

// Below this many frames the vector loop does not pay for its set-up.
constexpr uint32_t GatherMinimumFrames = 16;

// Both bytes of each blend are known to lie inside the block and the position not to wrap.
// UseGather: the processor can mix eight frames at once (see mix_gather.h).
template <bool UseGather>
void PlayFreeRun(Cursor& c, int32_t* out, int32_t volume, uint32_t count) {
    if (UseGather && count >= GatherMinimumFrames) {
        c.position = VectorFreeRun(c.data, c.partner, c.lastIndex, c.position, c.step, out, volume, count);
        return;
    }
    const int8_t* data = c.data;
    const uint32_t step = c.step;
    uint32_t position = c.position;
    if (c.partner == 0) {
        // Below one byte per frame both reads hit the same byte: no blend.
        for (uint32_t j = 0; j < count; ++j) {
            position += step;
            out[j] += volume * data[position >> 16];
        }
    } else {
        const int8_t* ahead = data + c.partner;
        for (uint32_t j = 0; j < count; ++j) {
            position += step;
            const uint32_t i = position >> 16;
            const int32_t s0 = data[i];
            const int32_t s1 = ahead[i];
            const auto u = static_cast<int32_t>(position & 0xFFFFu);
            out[j] += volume * (s0 + (((s1 - s0) * u) >> 16));
        }
    }
    c.position = position;
}

// Adds volume x sample for count frames to out, advancing the voice.
template <bool UseGather>
void Play(Cursor& c, int32_t* out, int32_t volume, uint32_t count) {
    uint32_t j = 0;
    while (j < count) {
        const uint32_t run = FreeRunFrames(c, c.freeRunBound, count - j);
        if (run > 0) {
            PlayFreeRun<UseGather>(c, out + j, volume, run);
            j += run;
            continue;
        }
        if (HeldAtEnd(c)) {
            PlayHeld(c, out + j, volume, count - j);
            return;
        }
        const uint32_t i = AdvanceOneFrame(c);
        out[j] += volume * ClampedSample(c, i);
        ++j;
    }
}

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

// Mixes one voice into out; a silent voice (muted, or with nothing to play) only moves on.
template <bool UseGather>
void MixVoice(const Synth& synth, Voice& v, int32_t* out, int32_t* ramp, uint32_t frames, bool silent) {
    if (v.restartPending != 0) TakeRestart(synth, v);
    Cursor c = MakeCursor(v);
    const bool audible = c.data != nullptr && !silent;

    // The volume moves toward its target at frames 0, 4, 8, ... of the block.
    const int32_t first = v.volume;
    const int32_t target = v.targetVolume;
    const int32_t direction = target > first ? 1 : -1;
    const auto rampSteps = static_cast<uint32_t>(target > first ? target - first : first - target);
    const uint32_t rampFrames = std::min(frames, 4 * rampSteps);
    if (rampFrames > 0) {
        if (audible) {
            std::fill_n(ramp, rampFrames, 0);
            Play<UseGather>(c, ramp, 1, rampFrames);
            int32_t volume = first;
            for (uint32_t f = 0; f < rampFrames; f += 4) {
                volume += direction;
                const uint32_t chunkEnd = std::min(f + 4, rampFrames);
                for (uint32_t g = f; g < chunkEnd; ++g) out[g] += volume * ramp[g];
            }
        } else {
            AdvanceSilently(c, rampFrames);
        }
        v.volume = static_cast<uint8_t>(first + direction * static_cast<int32_t>((rampFrames + 3) / 4));
    }

    const uint32_t rest = frames - rampFrames;
    if (rest > 0) {
        if (audible && target != 0) {
            Play<UseGather>(c, out + rampFrames, target, rest);
        } else {
            AdvanceSilently(c, rest);
        }
    }
    v.position = c.position;
}

template <bool UseGather>
void MixVoices(Synth& synth, uint32_t frames, uint32_t silentVoices) {
    MixScratch& mix = synth.scratch;
    for (int i = 0; i < VoiceCount; ++i) {
        Voice& v = synth.VoiceBank[i];
        MixVoice<UseGather>(synth, v, v.channel != 0 ? mix.LeftSum : mix.RightSum, mix.RampSamples, frames,
                            (silentVoices >> i & 1u) != 0);
    }
}

inline int16_t Saturate(int32_t halvedSum) {
    return static_cast<int16_t>(std::clamp(halvedSum, -32768, 32767));
}

// Halves each side's sums, saturates them to 16 bits and interleaves them into the OutputBlock.
void StoreOutput(MixScratch& mix, uint32_t frames) {
    const int32_t* leftSum = mix.LeftSum;
    const int32_t* rightSum = mix.RightSum;
    int16_t* output = mix.OutputBlock;
    uint32_t f = 0;
#if defined(__SSE2__)
    // Packing 32-bit values to 16 bits with signed saturation is exactly the clamp.
    for (; f + 4 <= frames; f += 4) {
        const __m128i left =
            _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leftSum + f)), 1);
        const __m128i right =
            _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rightSum + f)), 1);
        const __m128i frames01 = _mm_unpacklo_epi32(left, right);
        const __m128i frames23 = _mm_unpackhi_epi32(left, right);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(output + 2 * f), _mm_packs_epi32(frames01, frames23));
    }
#endif
    for (; f < frames; ++f) {
        output[2 * f] = Saturate(leftSum[f] >> 1);
        output[2 * f + 1] = Saturate(rightSum[f] >> 1);
    }
}

// Narrower stereo: each side keeps (100 + s) / 200 of its own sum and takes (100 - s) / 200 of the
// other's, so that 0 gives both sides the average and 100 would leave the sums as they are.
void NarrowStereo(MixScratch& mix, uint32_t frames, int separation) {
    const int64_t own = 100 + separation;
    const int64_t other = 100 - separation;
    for (uint32_t f = 0; f < frames; ++f) {
        const int64_t left = mix.LeftSum[f];
        const int64_t right = mix.RightSum[f];
        mix.LeftSum[f] = static_cast<int32_t>((left * own + right * other) / 200);
        mix.RightSum[f] = static_cast<int32_t>((right * own + left * other) / 200);
    }
}

uint32_t BlockFrames(const Synth& synth) {
    return std::min(synth.TickLength, OutputBlockFrames);
}

}  // namespace

void MixBlock(Synth& synth) {
    const uint32_t frames = BlockFrames(synth);
    MixScratch& mix = synth.scratch;
    std::fill_n(mix.LeftSum, frames, 0);
    std::fill_n(mix.RightSum, frames, 0);
    const uint32_t muted = synth.mixOptions.mutedVoices;
    if (GatherMixingAvailable()) {
        MixVoices<true>(synth, frames, muted);
    } else {
        MixVoices<false>(synth, frames, muted);
    }
    if (synth.mixOptions.separation != 100) NarrowStereo(mix, frames, synth.mixOptions.separation);
    StoreOutput(mix, frames);
}

void SkipBlock(Synth& synth) {
    const uint32_t frames = BlockFrames(synth);
    MixVoices<false>(synth, frames, ~0u);
}

}  // namespace trelmo
