// SPDX-License-Identifier: BSD-3-Clause
// Tempo to block length: one output block is one sequencer tick.
#pragma once

#include <cstdint>

namespace trelmo {

constexpr uint32_t OutputRate = 44100;

// The block length before any tempo has been set.
constexpr uint32_t InitialTickLength = 882;

struct Synth;

// Sets the synth's TickLength (frames per tick, 1 .. 44100) for a tempo.
void SetTickRate(Synth& synth, uint16_t tempo);
uint16_t GetTickRate(const Synth& synth);

}  // namespace trelmo
