// SPDX-License-Identifier: BSD-3-Clause
// The fast MixBlock against the frame-by-frame reference mixer, on voice states of every kind.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "synth/mix_block.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/mix_comparison.h"

namespace trelmo {
namespace {

// Samples of assorted lengths and loop settings, including the degenerate ones.
void LoadSlots(Synth& engine, std::mt19937& rng) {
    FreeAllWaveSlots(engine);
    const uint32_t lengths[] = {0, 1, 2, 3, 5, 17, 256, 1000, 4096, 65535, 65536, 70000};
    for (uint32_t length : lengths) {
        std::vector<uint8_t> bytes(length);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        const uint32_t loopStart = length > 0 && rng() % 2 == 0 ? static_cast<uint32_t>(rng() % length) : 0;
        AllocWaveSlot(engine, bytes.data(), length, loopStart, length, static_cast<uint16_t>(rng() % 2), 0);
    }
}

uint32_t Pick(std::mt19937& rng, uint32_t bound) {
    return bound == 0 ? 0 : static_cast<uint32_t>(rng() % bound);
}

uint32_t RandomStep(std::mt19937& rng) {
    switch (rng() % 8) {
        case 0:
            return 0;
        case 1:
            return Pick(rng, 0x10000);  // below one byte per frame: no blend
        case 2:
            return 0x10000 + Pick(rng, 0x10000);  // blend with the next byte
        case 3:
            return Pick(rng, 12 * 0x10000);  // the sequencers' whole range
        case 4:
            return static_cast<uint32_t>(rng());  // anything, wrap-around included
        case 5:
            return Pick(rng, 0x400) << 16;  // whole steps, a fixed fraction
        case 6:
            return 0x10000;
        default:
            return Pick(rng, 4 * 0x10000);
    }
}

// A voice in any state the engine can reach, and in many it can only reach through damaged songs.
void RandomVoice(const Synth& engine, std::mt19937& rng, Voice& v) {
    const int slot = static_cast<int>(Pick(rng, 14)) - 1;  // -1 and 12, 13: no sample
    const bool inUse = WaveSlotInUse(engine, slot);
    const uint32_t length = inUse ? engine.WaveTable[slot].length : Pick(rng, 300);
    v.restartPending = static_cast<uint8_t>(rng() % 4 == 0 ? 1 : 0);
    v.mode = static_cast<uint16_t>(rng() % 3 == 0 ? rng() : rng() % 2);
    v.slot = static_cast<int16_t>(rng() % 16 == 0 ? static_cast<int>(rng() % 400) - 100 : slot);
    v.start = rng() % 8 == 0 ? static_cast<uint32_t>(rng()) : Pick(rng, length + 2);
    v.limit = static_cast<uint32_t>(rng());
    switch (rng() % 6) {
        case 0:
            v.end = length > 0 ? length - 1 : 0;
            break;
        case 1:
            v.end = Pick(rng, length + 8);
            break;
        case 2:
            v.end = static_cast<uint32_t>(rng());
            break;
        case 3:
            v.end = 0xFFFF + Pick(rng, 3);
            break;
        case 4:
            v.end = Pick(rng, 4);
            break;
        default:
            v.end = length;
            break;
    }
    switch (rng() % 5) {
        case 0:
            v.loopStart = Pick(rng, v.end + 1);
            break;
        case 1:
            v.loopStart = static_cast<uint32_t>(rng());
            break;
        case 2:
            v.loopStart = v.end > 3 ? v.end - Pick(rng, 4) : 0;
            break;  // loops shorter than a step
        default:
            v.loopStart = 0;
            break;
    }
    v.step = RandomStep(rng);
    v.frequency = static_cast<uint32_t>(rng());
    v.volume = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    switch (rng() % 4) {
        case 0:
            v.targetVolume = v.volume;
            break;
        case 1:
            v.targetVolume = 0;
            break;
        case 2:
            v.targetVolume =
                static_cast<uint8_t>(std::clamp(v.volume + static_cast<int>(Pick(rng, 9)) - 4, 0, 255));
            break;
        default:
            v.targetVolume = static_cast<uint8_t>(rng());
            break;
    }
    v.channel = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng() % 2);
    switch (rng() % 4) {
        case 0:
            v.position = static_cast<uint32_t>(rng());
            break;
        case 1:
            v.position = (v.end << 16) | Pick(rng, 0x10000);
            break;
        case 2:
            v.position = (v.end > 2 ? v.end - Pick(rng, 3) : 0) << 16;
            break;
        default:
            v.position = (Pick(rng, length + 1) << 16) | Pick(rng, 0x10000);
            break;
    }
    if (inUse && rng() % 8 != 0) {
        v.data = engine.WaveTable[slot].data;
        v.dataLength = length;
    } else {
        v.data = nullptr;
        v.dataLength = static_cast<uint32_t>(rng());  // never read without data
    }
}

uint32_t RandomBlockLength(std::mt19937& rng) {
    switch (rng() % 6) {
        case 0:
            return 1 + Pick(rng, 8);
        case 1:
            return 864;
        case 2:
            return 1 + Pick(rng, 2000);
        case 3:
            return 1 + Pick(rng, 44100);
        case 4:
            return rng() % 8 == 0 ? 44100 : 428 + Pick(rng, 1500);
        default:
            return 1 + Pick(rng, 1100);
    }
}

using MixBlockEquivalence = test::BothMixPaths;
TRELMO_BOTH_MIX_PATHS(MixBlockEquivalence);

TEST_P(MixBlockEquivalence, RandomVoiceStatesOverSeveralBlocks) {
    size_t audible = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        LoadSlots(engine, rng);
        for (Voice& v : engine.VoiceBank) RandomVoice(engine, rng, v);
        for (int block = 0; block < 4; ++block) {
            engine.TickLength = RandomBlockLength(rng);
            audible += CompareWithReference(
                engine, "seed " + std::to_string(seed) + " block " + std::to_string(block));
            // Between blocks a sequencer changes a few voices.
            for (uint32_t changes = Pick(rng, 4); changes > 0; --changes) {
                Voice& v = engine.VoiceBank[Pick(rng, VoiceCount)];
                switch (rng() % 4) {
                    case 0:
                        v.targetVolume = static_cast<uint8_t>(rng());
                        break;
                    case 1:
                        v.step = RandomStep(rng);
                        break;
                    case 2:
                        v.channel = static_cast<uint8_t>(rng() % 2);
                        break;
                    default:
                        RandomVoice(engine, rng, v);
                        break;
                }
            }
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(audible, 500000u) << "the random states should produce sound to compare";
}

// Samples placed right against inaccessible pages: a read before the first byte or beyond the
// second guard byte, by any path of the mixer, ends the test with a fault.
TEST_P(MixBlockEquivalence, ReadsStayInsideTheSample) {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    // Pages: no access | sample A from the page's start | no access | sample B to the page's end | no access
    auto* area =
        static_cast<uint8_t*>(mmap(nullptr, 5 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area + page, page, PROT_READ | PROT_WRITE), 0);
    ASSERT_EQ(mprotect(area + 3 * page, page, PROT_READ | PROT_WRITE), 0);
    std::mt19937 rng(99);
    for (size_t k = 0; k < page; ++k) {
        area[page + k] = static_cast<uint8_t>(rng());
        area[3 * page + k] = static_cast<uint8_t>(rng());
    }
    // Among them lengths whose readable bytes (length + 2) lie just around 16 and 32, the spans of
    // the vector path's windows.
    const uint32_t lengths[] = {1,  2,  3,  4,  7,  13,  14,
                                15, 29, 30, 31, 40, 300, static_cast<uint32_t>(page - 2)};
    constexpr uint32_t Kinds = sizeof(lengths) / sizeof(lengths[0]);
    for (uint32_t round = 0; round < 40 * Kinds; ++round) {
        const uint32_t length = lengths[round % Kinds];
        const auto* first = reinterpret_cast<const int8_t*>(area + page);
        const auto* last = reinterpret_cast<const int8_t*>(area + 4 * page - (length + 2));
        for (Voice& v : engine.VoiceBank) {
            RandomVoice(engine, rng, v);
            v.restartPending = 0;
            v.data = rng() % 2 == 0 ? first : last;
            v.dataLength = length;
            if (rng() % 2 == 0)
                v.position = (Pick(rng, 4) << 16) | Pick(rng, 0x10000);  // near the first byte
            if (rng() % 2 == 0) v.step = Pick(rng, 3 * 0x10000);
        }
        engine.TickLength = RandomBlockLength(rng);
        CompareWithReference(engine, "round " + std::to_string(round));
        if (HasFailure()) break;
    }
    munmap(area, 5 * page);
}

// Voices as the sequencers drive them: sample length - 1 as end, loop from 0, note-table pitches,
// notes restarted and volumes changed between ticks of a realistic length.
TEST_P(MixBlockEquivalence, SequencerLikePlayOverManyTicks) {
    size_t audible = 0;
    for (uint32_t seed = 1; seed <= 25; ++seed) {
        std::mt19937 rng(1000 + seed);
        LoadSlots(engine, rng);
        ResetVoiceBank(engine);
        SetTickRate(engine, static_cast<uint16_t>(40 + Pick(rng, 216)));
        for (int tick = 0; tick < 100; ++tick) {
            for (uint8_t v = 0; v < VoiceCount; ++v) {
                if (rng() % 6 != 0) continue;
                const auto slot = static_cast<int16_t>(Pick(rng, 12));
                const uint32_t length = engine.WaveTable[slot].length;
                SetVoiceFrequency(engine, v, (100 + Pick(rng, 9800)) * 51);
                SetVoiceVolume(engine, v, static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng()));
                SetVoiceChannel(engine, v, static_cast<uint8_t>(rng() % 2 == 0 ? 0xFF : 0));
                StartVoice(engine, v, slot, 0, length, 0, length - 1,
                           engine.WaveTable[slot].flags == 1 ? 1 : 0);
            }
            if (rng() % 20 == 0) SetTickRate(engine, static_cast<uint16_t>(Pick(rng, 300)));
            audible += CompareWithReference(engine,
                                            "seed " + std::to_string(seed) + " tick " + std::to_string(tick));
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(audible, 100000u);
}

// Hand-made states at the borders of each shortcut: the hold at the end with a moving fraction, a
// position about to wrap, a loop whose send-back leaves the voice beyond its end, reads that reach
// the guard bytes only through a large step, and a voice without data that still moves.
TEST_P(MixBlockEquivalence, BordersOfTheShortcuts) {
    std::vector<uint8_t> bytes(300);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 73 + 11);
    AllocWaveSlot(engine, bytes.data(), 300, 0, 300, 0, 0);
    AllocWaveSlot(engine, bytes.data(), 300, 0, 300, 1, 0);
    std::vector<uint8_t> longBytes(70000);
    for (size_t k = 0; k < longBytes.size(); ++k) longBytes[k] = static_cast<uint8_t>(k * 31 + (k >> 8));
    AllocWaveSlot(engine, longBytes.data(), 70000, 0, 70000, 0, 0);
    AllocWaveSlot(engine, longBytes.data(), 70000, 0, 70000, 1, 0);

    struct Case {
        const char* name;
        int slot;
        uint16_t mode;
        uint32_t loopStart, end, step, position;
        uint8_t volume, target;
    };
    const Case cases[] = {
        {"held, fraction moves, partner differs", 0, 0, 0, 200, 0x2C000, 200u << 16, 200, 200},
        {"held, fraction creeps, partner differs", 0, 0, 0, 200, 0x20010, 200u << 16, 255, 255},
        {"held, whole step", 0, 0, 0, 200, 0x30000, (200u << 16) | 0x1234, 99, 140},
        {"held at the last byte, guard partners", 0, 0, 0, 299, 0x1A000, 290u << 16, 255, 255},
        {"held where the next advance wraps", 0, 0, 0, 0xFFFF, 0x18000, 0xFFFF0000u, 255, 255},
        {"end beyond 16 bits, never held", 0, 0, 0, 0x12345, 0x70000, 0xFFF00000u, 128, 128},
        {"long sample, about to wrap", 2, 0, 0, 69999, 0x30000, 0xFFF00000u, 255, 255},
        {"long looping sample, about to wrap", 3, 1, 0, 69999, 0x50000, 0xFFFE0000u, 255, 255},
        {"loop shorter than the step", 1, 1, 295, 299, 0x7C000, 280u << 16, 255, 0},
        {"loop start beyond end", 1, 1, 310, 250, 0x12000, 240u << 16, 77, 77},
        {"loop start equal to end", 1, 1, 250, 250, 0x8000, 249u << 16, 77, 200},
        {"step near wrap", 1, 1, 0, 299, 0xFFFFF000u, 10u << 16, 255, 255},
        {"step 0 beyond end", 1, 1, 3, 100, 0, 150u << 16, 255, 255},
        {"step 0 inside", 0, 0, 0, 100, 0, (50u << 16) | 0x8000, 31, 31},
        {"guard bytes by large step", 1, 1, 0, 299, 11 * 0x10000 + 0x6666, 250u << 16, 255, 254},
        {"ramp up over a whole short block", 0, 0, 0, 299, 0x9000, 0, 0, 255},
    };
    for (uint32_t frames : {1u, 3u, 4u, 5u, 864u, 1021u, 44100u}) {
        for (const Case& k : cases) {
            ResetVoiceBank(engine);
            for (uint8_t n = 0; n < VoiceCount; ++n) {
                Voice& v = engine.VoiceBank[n];
                v.mode = k.mode;
                v.loopStart = k.loopStart;
                v.end = k.end;
                v.step = k.step + n * 0x111u;
                v.position = k.position;
                v.volume = k.volume;
                v.targetVolume = k.target;
                v.channel = static_cast<uint8_t>(n % 3 == 0 ? 1 : 0);
                v.data = engine.WaveTable[k.slot].data;
                v.dataLength = engine.WaveTable[k.slot].length;
            }
            engine.VoiceBank[13].data = nullptr;  // no sample: silent, but its position moves all the same
            engine.TickLength = frames;
            CompareWithReference(engine, std::string(k.name) + ", " + std::to_string(frames) + " frames");
            CompareWithReference(engine, std::string(k.name) + ", second block");
        }
    }
}

}  // namespace
}  // namespace trelmo
