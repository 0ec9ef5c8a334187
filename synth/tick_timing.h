// Tempo to block length: one output block is one sequencer tick.
#pragma once

#include <cstdint>

namespace trelmo {

constexpr uint32_t OutputRate = 44100;

// Frames per tick, 1 .. 44100.
extern uint32_t TickLength;

void SetTickRate(uint16_t tempo);
uint16_t GetTickRate();

}  // namespace trelmo
