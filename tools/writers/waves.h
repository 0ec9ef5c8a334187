// SPDX-License-Identifier: BSD-3-Clause
// Waves for instruments that only need to sound: whole cycles, so that they loop without a click.
#pragma once

#include <cstdint>
#include <vector>

namespace trelmo::writers {

// One cycle of a sine wave of the given length and peak, as signed samples.
std::vector<int8_t> SineCycle(int length, int peak);

}  // namespace trelmo::writers
