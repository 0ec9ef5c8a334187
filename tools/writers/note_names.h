// SPDX-License-Identifier: BSD-3-Clause
// Note names as trackers show them, for every writer's row notation.
#pragma once

#include <cstdint>
#include <string>

namespace trelmo::writers {

// The note byte of a name: "C-0" 1, "C-4" 49, "A#6" 83, "F#10" 127; "---" 0 (no note); the
// NoiseTracker GS commands "NXT" 84 and "STP" 85; "$81" any byte, in hex. Throws
// std::invalid_argument for anything else.
uint8_t NoteByte(const std::string& name);

}  // namespace trelmo::writers
