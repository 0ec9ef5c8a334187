// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/waves.h"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace trelmo::writers {

std::vector<int8_t> SineCycle(int length, int peak) {
    std::vector<int8_t> cycle(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        const double phase = 2.0 * std::numbers::pi * i / length;
        cycle[static_cast<size_t>(i)] = static_cast<int8_t>(std::lround(peak * std::sin(phase)));
    }
    return cycle;
}

}  // namespace trelmo::writers
