// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <cstdint>

namespace trelmo {

constexpr int VibratoDepths = 16;
constexpr int VibratoPhases = 32;
extern const int16_t VibratoTable[VibratoDepths * VibratoPhases];
extern const uint16_t TempoTable[16];

struct Engine;

void SoundSmithSequencerTick(Engine& engine);

}  // namespace trelmo
