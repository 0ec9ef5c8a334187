// SPDX-License-Identifier: BSD-3-Clause
#include "synth/tick_timing.h"

#include "synth/synth.h"

namespace trelmo {

void SetTickRate(Synth& synth, uint16_t tempo) {
    synth.currentTempo = tempo;
    // 1 + floor(0.4 * tempo) ticks per second, carried by the block length alone.
    synth.TickLength = OutputRate / (1u + (2u * tempo) / 5u);
}

uint16_t GetTickRate(const Synth& synth) {
    return synth.currentTempo;
}

}  // namespace trelmo
