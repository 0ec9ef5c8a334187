#include "synth/mix_block.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "synth/mix_gather.h"
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

int16_t OutputBlock[OutputBlockFrames * 2];

namespace {

// Each side's sum of volume x sample over the block, before halving.
int32_t LeftSum[OutputBlockFrames];
int32_t RightSum[OutputBlockFrames];

// A volume moves one step every 4 frames and at most 255 steps.
constexpr uint32_t MaxRampFrames = 4 * 255;
int32_t RampSamples[MaxRampFrames];

constexpr uint64_t PositionRange = uint64_t{1} << 32;

// One voice's playing state, kept in locals while its block is mixed.
struct Cursor {
    uint32_t position;
    uint32_t step;
    uint32_t end;
    uint32_t loopStart;
    bool looping;
    const int8_t* data;
    uint32_t lastIndex;       // the last byte a read may touch: the second guard byte
    uint32_t partner;         // how far ahead of the current byte the blend's second byte lies
    uint64_t freeRunBound;    // every position below it plays without end test or clamp
    uint64_t silentBound;     // every position below it advances without end test
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

// Set per block: the processor can mix eight frames at once (see mix_gather.h).
bool UseGather = false;
// Below this many frames the vector loop does not pay for its set-up.
constexpr uint32_t GatherMinimumFrames = 16;

// Both bytes of each blend are known to lie inside the block and the position not to wrap.
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
void Play(Cursor& c, int32_t* out, int32_t volume, uint32_t count) {
    uint32_t j = 0;
    while (j < count) {
        const uint32_t run = FreeRunFrames(c, c.freeRunBound, count - j);
        if (run > 0) {
            PlayFreeRun(c, out + j, volume, run);
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

void TakeRestart(Voice& v) {
    v.position = v.start << 16;
    v.restartPending = 0;
    if (WaveSlotInUse(v.slot)) {
        v.data = WaveTable[v.slot].data;
        v.dataLength = WaveTable[v.slot].length;
    } else {
        v.data = nullptr;
        v.dataLength = 0;
    }
}

void MixVoice(Voice& v, int32_t* out, uint32_t frames) {
    if (v.restartPending != 0) TakeRestart(v);
    Cursor c = MakeCursor(v);
    const bool audible = c.data != nullptr;

    // The volume moves toward its target at frames 0, 4, 8, ... of the block.
    const int32_t first = v.volume;
    const int32_t target = v.targetVolume;
    const int32_t direction = target > first ? 1 : -1;
    const auto rampSteps = static_cast<uint32_t>(target > first ? target - first : first - target);
    const uint32_t rampFrames = std::min(frames, 4 * rampSteps);
    if (rampFrames > 0) {
        if (audible) {
            std::fill_n(RampSamples, rampFrames, 0);
            Play(c, RampSamples, 1, rampFrames);
            int32_t volume = first;
            for (uint32_t f = 0; f < rampFrames; f += 4) {
                volume += direction;
                const uint32_t chunkEnd = std::min(f + 4, rampFrames);
                for (uint32_t g = f; g < chunkEnd; ++g) out[g] += volume * RampSamples[g];
            }
        } else {
            AdvanceSilently(c, rampFrames);
        }
        v.volume = static_cast<uint8_t>(first + direction * static_cast<int32_t>((rampFrames + 3) / 4));
    }

    const uint32_t rest = frames - rampFrames;
    if (rest > 0) {
        if (audible && target != 0) {
            Play(c, out + rampFrames, target, rest);
        } else {
            AdvanceSilently(c, rest);
        }
    }
    v.position = c.position;
}

inline int16_t Saturate(int32_t halvedSum) {
    return static_cast<int16_t>(std::clamp(halvedSum, -32768, 32767));
}

// Halves each side's sums, saturates them to 16 bits and interleaves them into the OutputBlock.
void StoreOutput(uint32_t frames) {
    uint32_t f = 0;
#if defined(__SSE2__)
    // Packing 32-bit values to 16 bits with signed saturation is exactly the clamp.
    for (; f + 4 <= frames; f += 4) {
        const __m128i left = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(LeftSum + f)), 1);
        const __m128i right = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(RightSum + f)), 1);
        const __m128i frames01 = _mm_unpacklo_epi32(left, right);
        const __m128i frames23 = _mm_unpackhi_epi32(left, right);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(OutputBlock + 2 * f), _mm_packs_epi32(frames01, frames23));
    }
#endif
    for (; f < frames; ++f) {
        OutputBlock[2 * f] = Saturate(LeftSum[f] >> 1);
        OutputBlock[2 * f + 1] = Saturate(RightSum[f] >> 1);
    }
}

}  // namespace

void MixBlock() {
    const uint32_t frames = std::min(TickLength, OutputBlockFrames);
    UseGather = GatherMixingAvailable();
    std::fill_n(LeftSum, frames, 0);
    std::fill_n(RightSum, frames, 0);
    for (Voice& v : VoiceBank) MixVoice(v, v.channel != 0 ? LeftSum : RightSum, frames);
    StoreOutput(frames);
}

}  // namespace trelmo
