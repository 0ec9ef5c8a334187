// SPDX-License-Identifier: BSD-3-Clause
// The note-on sequence both sequencers share.
#pragma once

#include <cstdint>

namespace trelmo {

struct Engine;

void TriggerNote(Engine& engine, uint8_t track, int note, int16_t slot, uint8_t volume, uint8_t side,
                 bool keepVolume);

}  // namespace trelmo
