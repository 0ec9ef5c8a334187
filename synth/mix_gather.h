// SPDX-License-Identifier: BSD-3-Clause
// The mixer's free runs on processors with AVX2: eight frames of one voice at once.
#pragma once

#include <cstdint>

namespace trelmo {

// True when this build and this processor can use VectorFreeRun and it has not been switched off.
bool GatherMixingAvailable();

// Switches the vector path off (or back on where available). The output is the same either way;
// tests use it to check both paths.
void AllowGatherMixing(bool allowed);

// For frames j = 0 .. count - 1, with p = position + (j + 1) x step and i = p >> 16, adds
// volume x blend(data[i], data[i + partner], p & 0xFFFF) to out[j]. The caller guarantees that p
// never wraps and that i + partner never passes lastIndex, the last byte that may be read.
// Returns position + count x step.
uint32_t VectorFreeRun(const int8_t* data, uint32_t partner, uint32_t lastIndex, uint32_t position,
                       uint32_t step, int32_t* out, int32_t volume, uint32_t count);

}  // namespace trelmo
