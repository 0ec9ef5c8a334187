#include "synth/tick_timing.h"

namespace trelmo {

uint32_t TickLength = 882;

namespace {
uint16_t CurrentTempo = 0;
}

void SetTickRate(uint16_t tempo) {
    CurrentTempo = tempo;
    // 1 + floor(0.4 * tempo) ticks per second, carried by the block length alone.
    TickLength = OutputRate / (1u + (2u * tempo) / 5u);
}

uint16_t GetTickRate() { return CurrentTempo; }

}  // namespace trelmo
