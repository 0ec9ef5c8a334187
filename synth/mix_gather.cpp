#include "synth/mix_gather.h"

#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define TRELMO_HAVE_AVX2_PATH 1
#include <immintrin.h>
#endif

namespace trelmo {

namespace {

// 0: not yet asked, 1: available, 2: unavailable or switched off.
int GatherState = 0;

// One frame the plain way, for the frames around the vector blocks.
inline uint32_t PlainFrame(const int8_t* data, uint32_t partner, uint32_t position, uint32_t step, int32_t* out,
                           int32_t volume) {
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
    if (GatherState == 0) GatherState = __builtin_cpu_supports("avx2") ? 1 : 2;
    return GatherState == 1;
}

void AllowGatherMixing(bool allowed) { GatherState = allowed ? 0 : 2; }

namespace {

// The bytes at data + base + offset for the offsets in the top bytes of control's lanes (0..15),
// each in the top byte of its lane, the other bytes 0.
__attribute__((target("avx2"))) inline __m256i PickNarrow(const int8_t* window, __m256i control) {
    const __m256i bytes = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window)));
    return _mm256_shuffle_epi8(bytes, control);
}

// The same for offsets 0..31 held as offset + 0x70: below 16 that selects from the first 16 bytes
// and zeroes the second pick (bit 7 set by the flip), from 16 on the reverse.
__attribute__((target("avx2"))) inline __m256i PickWide(const int8_t* window, __m256i control) {
    const __m256i first = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window)));
    const __m256i second =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16)));
    const __m256i flipped = _mm256_xor_si256(control, _mm256_set1_epi32(static_cast<int>(0x80000000u)));
    return _mm256_or_si256(_mm256_shuffle_epi8(first, control), _mm256_shuffle_epi8(second, flipped));
}

}  // namespace

// Eight frames are mixed at once, each lane one frame. Up to a step of 1.75 bytes per frame the eight
// frames touch at most 16 consecutive bytes (plus the partner's offset), up to 3.875 at most 32:
// those are loaded once and each lane picks its byte with byte shuffles. Larger steps fetch each
// lane's bytes with a gather. Either way a lane's byte ends up in the top byte of its 32-bit lane,
// and an arithmetic shift by 24 makes it a signed sample.
__attribute__((target("avx2"))) uint32_t VectorFreeRun(const int8_t* data, uint32_t partner, uint32_t lastIndex,
                                                       uint32_t position, uint32_t step, int32_t* out,
                                                       int32_t volume, uint32_t count) {
    constexpr uint32_t NarrowStep = 0x1C000;  // (0xFFFF + 8 x step) >> 16 stays below 16
    constexpr uint32_t WideStep = 0x3E000;    // ... below 32
    const bool narrow = step <= NarrowStep;
    const bool wide = step <= WideStep;
    const uint64_t readable = uint64_t{lastIndex} + 1;
    const __m256i offsets = _mm256_mullo_epi32(_mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8),
                                               _mm256_set1_epi32(static_cast<int>(step)));
    const __m256i fractionMask = _mm256_set1_epi32(0xFFFF);
    // Shuffle control bytes 0x80 give 0; the top byte of each lane holds the byte's offset.
    const __m256i zeroLowBytes = _mm256_set1_epi32(0x00808080);
    const __m256i gain = _mm256_set1_epi32(volume);
    uint32_t j = 0;
    while (count - j >= 8) {
        const uint32_t base = position >> 16;
        // Fraction of the current position plus 1..8 steps: the whole part is each lane's byte
        // offset from base, the fraction its blend weight.
        const __m256i q = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(position & 0xFFFFu)), offsets);
        __m256i s0;
        __m256i s1;
        if (narrow && uint64_t{base} + 16 + partner <= readable) {
            const __m256i control = _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(q, 16), 24), zeroLowBytes);
            s0 = _mm256_srai_epi32(PickNarrow(data + base, control), 24);
            s1 = partner == 0 ? s0 : _mm256_srai_epi32(PickNarrow(data + base + partner, control), 24);
        } else if (wide && uint64_t{base} + 32 + partner <= readable) {
            const __m256i control = _mm256_or_si256(
                _mm256_slli_epi32(_mm256_add_epi32(_mm256_srli_epi32(q, 16), _mm256_set1_epi32(0x70)), 24),
                zeroLowBytes);
            s0 = _mm256_srai_epi32(PickWide(data + base, control), 24);
            s1 = partner == 0 ? s0 : _mm256_srai_epi32(PickWide(data + base + partner, control), 24);
        } else if (((position + step) >> 16) >= 3) {
            // Each gather reads the 4 bytes that end at the wanted one: i - 3 .. i, inside the block.
            const __m256i at = _mm256_add_epi32(_mm256_srli_epi32(q, 16), _mm256_set1_epi32(static_cast<int>(base) - 3));
            const auto* bytes = reinterpret_cast<const int*>(data);
            s0 = _mm256_srai_epi32(_mm256_i32gather_epi32(bytes, at, 1), 24);
            s1 = partner == 0 ? s0
                              : _mm256_srai_epi32(_mm256_i32gather_epi32(
                                                      reinterpret_cast<const int*>(data + partner), at, 1),
                                                  24);
        } else {
            position = PlainFrame(data, partner, position, step, out + j, volume);
            ++j;
            continue;
        }
        __m256i sample = s0;
        if (partner != 0) {
            const __m256i u = _mm256_and_si256(q, fractionMask);
            sample = _mm256_add_epi32(s0, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(s1, s0), u), 16));
        }
        auto* o = reinterpret_cast<__m256i*>(out + j);
        _mm256_storeu_si256(o, _mm256_add_epi32(_mm256_loadu_si256(o), _mm256_mullo_epi32(sample, gain)));
        position += 8 * step;
        j += 8;
    }
    for (; j < count; ++j) position = PlainFrame(data, partner, position, step, out + j, volume);
    return position;
}

#else

bool GatherMixingAvailable() { return false; }

void AllowGatherMixing(bool) { GatherState = 2; }

uint32_t VectorFreeRun(const int8_t* data, uint32_t partner, uint32_t, uint32_t position, uint32_t step,
                       int32_t* out, int32_t volume, uint32_t count) {
    for (uint32_t j = 0; j < count; ++j) position = PlainFrame(data, partner, position, step, out + j, volume);
    return position;
}

#endif

}  // namespace trelmo
