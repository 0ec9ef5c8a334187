// Renders the voices into one block of 16-bit stereo.
#pragma once

#include <cstdint>

namespace trelmo {

// Room for twice the longest block: a DSP hook may leave more frames than it was given.
constexpr uint32_t OutputBlockFrames = 88200;

// Signed 16-bit stereo, left sample first in each frame.
extern int16_t OutputBlock[OutputBlockFrames * 2];

// Renders TickLength frames into OutputBlock, advancing every voice.
void MixBlock();

}  // namespace trelmo
