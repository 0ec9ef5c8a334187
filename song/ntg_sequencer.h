// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <cstdint>

namespace trelmo {

struct Engine;

void NtgSequencerTick(Engine& engine);
// Writes the note's trace name ("C-4", "NXT", ...) into text, which holds at least 8 bytes.
void NoteName(int16_t note, char* text);

}  // namespace trelmo
