// SPDX-License-Identifier: BSD-3-Clause
#include "synth/mix_gather.h"

#include <atomic>

#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define TRELMO_HAVE_AVX2_PATH 1
#include <immintrin.h>
#endif

namespace trelmo {

namespace {

// 0: not yet asked, 1: available, 2: unavailable or switched off.
std::atomic<int> GatherState{0};

// One frame the plain way, for the frames around the vector blocks.
inline uint32_t PlainFrame(const int8_t* data, uint32_t partner, uint32_t position, uint32_t step,
                           int32_t* out, int32_t volume) {
    position += step;
    const uint32_t i = position >> 16;
    const int32_t s0 = data[i];
    const int32_t s1 = data[i + partner];
    const auto u = static_cast<int32_t>(position & 0xFFFFu);
    *out += volume * (s0 + (((s1 - s0) * u) >> 16));
    return position;
}

}  // namespace

#if TRELMO_HAVE_AVX2_PATH

bool GatherMixingAvailable() {
    int state = GatherState.load(std::memory_order_relaxed);
    if (state == 0) {
        // Engines on several threads may all ask first; they all find the same answer.
        state = __builtin_cpu_supports("avx2") ? 1 : 2;
        GatherState.store(state, std::memory_order_relaxed);
    }
    return state == 1;
}

void AllowGatherMixing(bool allowed) {
    GatherState.store(allowed ? 0 : 2, std::memory_order_relaxed);
}

namespace {

enum class Fetch { Narrow, Wide, Gather };

constexpr uint32_t NarrowStep = 0x1C000;  // (0xFFFF + 8 x step) >> 16 stays below 16
constexpr uint32_t WideStep = 0x3E000;    // ... below 32

// The sample bytes of the 8 frames whose positions, relative to base x 65536, are the lanes of q,
// each byte in the top byte of its lane and the lower bytes 0, so that an arithmetic shift by 24
// makes it a signed sample.
template <Fetch How>
__attribute__((target("avx2"))) inline __m256i Pick(const int8_t* data, uint32_t base, __m256i q) {
    const __m256i offset = _mm256_srli_epi32(q, 16);
    // Shuffle control bytes with bit 7 set give 0.
    const __m256i zeroLowBytes = _mm256_set1_epi32(0x00808080);
    if constexpr (How == Fetch::Narrow) {
        // Offsets 0..15: one shuffle of the 16 bytes from base.
        const __m256i control = _mm256_or_si256(_mm256_slli_epi32(offset, 24), zeroLowBytes);
        const __m256i bytes =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + base)));
        return _mm256_shuffle_epi8(bytes, control);
    } else if constexpr (How == Fetch::Wide) {
        // Offsets 0..31, held as offset + 0x70: below 16 that selects from the first 16 bytes while
        // the flipped bit 7 zeroes the pick from the second 16, from 16 on the reverse.
        const __m256i control = _mm256_or_si256(
            _mm256_slli_epi32(_mm256_add_epi32(offset, _mm256_set1_epi32(0x70)), 24), zeroLowBytes);
        const __m256i flipped = _mm256_xor_si256(control, _mm256_set1_epi32(static_cast<int>(0x80000000u)));
        const auto* window = reinterpret_cast<const __m128i*>(data + base);
        const __m256i first = _mm256_broadcastsi128_si256(_mm_loadu_si128(window));
        const __m256i second = _mm256_broadcastsi128_si256(_mm_loadu_si128(window + 1));
        return _mm256_or_si256(_mm256_shuffle_epi8(first, control), _mm256_shuffle_epi8(second, flipped));
    } else {
        // Each lane reads the 4 bytes that end at its byte: i - 3 .. i, inside the block for i >= 3.
        const __m256i at = _mm256_add_epi32(offset, _mm256_set1_epi32(static_cast<int>(base) - 3));
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(data), at, 1);
    }
}

// Mixes blocks x 8 frames, all of whose bytes the fetch method may read; returns the new position.
template <Fetch How, bool Blend>
__attribute__((target("avx2"))) uint32_t MixBlocks(const int8_t* data, uint32_t partner, uint32_t position,
                                                   uint32_t step, int32_t* out, int32_t volume,
                                                   uint32_t blocks) {
    const __m256i offsets = _mm256_mullo_epi32(_mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8),
                                               _mm256_set1_epi32(static_cast<int>(step)));
    const __m256i fractionMask = _mm256_set1_epi32(0xFFFF);
    const __m256i gain = _mm256_set1_epi32(volume);
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint32_t base = position >> 16;
        // Fraction of the current position plus 1..8 steps: the whole part is each lane's byte offset
        // from base, the fraction its blend weight.
        const __m256i q = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(position & 0xFFFFu)), offsets);
        const __m256i s0 = _mm256_srai_epi32(Pick<How>(data, base, q), 24);
        __m256i sample = s0;
        if constexpr (Blend) {
            const __m256i s1 = _mm256_srai_epi32(Pick<How>(data + partner, base, q), 24);
            const __m256i u = _mm256_and_si256(q, fractionMask);
            sample =
                _mm256_add_epi32(s0, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(s1, s0), u), 16));
        }
        auto* o = reinterpret_cast<__m256i*>(out + 8 * b);
        _mm256_storeu_si256(o, _mm256_add_epi32(_mm256_loadu_si256(o), _mm256_mullo_epi32(sample, gain)));
        position += 8 * step;
    }
    return position;
}

template <Fetch How>
uint32_t MixBlocksOf(const int8_t* data, uint32_t partner, uint32_t position, uint32_t step, int32_t* out,
                     int32_t volume, uint32_t blocks) {
    return partner == 0 ? MixBlocks<How, false>(data, partner, position, step, out, volume, blocks)
                        : MixBlocks<How, true>(data, partner, position, step, out, volume, blocks);
}

// How many of the next blocks (at most available) start from a base whose window of width bytes,
// and the partner's window, lie within the readable bytes.
uint32_t BlocksInWindow(uint32_t position, uint32_t step, uint64_t readable, uint32_t partner, uint32_t width,
                        uint32_t available) {
    if (readable < uint64_t{width} + partner) return 0;
    const uint64_t lastBase = readable - width - partner;
    const uint64_t lastPosition = (lastBase << 16) | 0xFFFFu;
    if (position > lastPosition) return 0;
    if (step == 0) return available;
    const uint64_t more = (lastPosition - position) / (uint64_t{step} * 8);
    return more + 1 < available ? static_cast<uint32_t>(more + 1) : available;
}

}  // namespace

// Eight frames are mixed at once, each lane one frame. Up to a step of 1.75 bytes per frame the eight
// frames touch at most 16 consecutive bytes (plus the partner's offset), up to 3.875 at most 32:
// those are loaded once and each lane picks its byte with byte shuffles. Larger steps, and the last
// blocks before the end of the sample where a window would reach past it, fetch with gathers.
uint32_t VectorFreeRun(const int8_t* data, uint32_t partner, uint32_t lastIndex, uint32_t position,
                       uint32_t step, int32_t* out, int32_t volume, uint32_t count) {
    const uint64_t readable = uint64_t{lastIndex} + 1;
    uint32_t j = 0;
    while (count - j >= 8) {
        const uint32_t available = (count - j) / 8;
        uint32_t blocks = 0;
        if (step <= NarrowStep) {
            blocks = BlocksInWindow(position, step, readable, partner, 16, available);
            if (blocks > 0)
                position = MixBlocksOf<Fetch::Narrow>(data, partner, position, step, out + j, volume, blocks);
        } else if (step <= WideStep) {
            blocks = BlocksInWindow(position, step, readable, partner, 32, available);
            if (blocks > 0)
                position = MixBlocksOf<Fetch::Wide>(data, partner, position, step, out + j, volume, blocks);
        }
        if (blocks == 0 && ((position + step) >> 16) >= 3) {
            // Positions only grow within a free run: every further frame has a byte index of 3 or more.
            blocks = available;
            position = MixBlocksOf<Fetch::Gather>(data, partner, position, step, out + j, volume, blocks);
        }
        if (blocks == 0) {
            position = PlainFrame(data, partner, position, step, out + j, volume);
            ++j;
            continue;
        }
        j += 8 * blocks;
    }
    for (; j < count; ++j) position = PlainFrame(data, partner, position, step, out + j, volume);
    return position;
}

#else

bool GatherMixingAvailable() {
    return false;
}

void AllowGatherMixing(bool) {
    GatherState.store(2, std::memory_order_relaxed);
}

uint32_t VectorFreeRun(const int8_t* data, uint32_t partner, uint32_t, uint32_t position, uint32_t step,
                       int32_t* out, int32_t volume, uint32_t count) {
    for (uint32_t j = 0; j < count; ++j)
        position = PlainFrame(data, partner, position, step, out + j, volume);
    return position;
}

#endif

}  // namespace trelmo
