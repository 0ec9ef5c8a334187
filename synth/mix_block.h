// SPDX-License-Identifier: BSD-3-Clause
// Renders the voices into one block of 16-bit stereo.
#pragma once

#include <cstdint>

namespace trelmo {

// Room for twice the longest block: a DSP hook may leave more frames than it was given.
constexpr uint32_t OutputBlockFrames = 88200;

// A volume moves one step every 4 frames and at most 255 steps.
constexpr uint32_t MaxRampFrames = 4 * 255;

struct Synth;

// Renders TickLength frames into the synth's OutputBlock, advancing every voice.
void MixBlock(Synth& synth);

// Advances every voice by TickLength frames exactly as MixBlock would, without rendering anything:
// the quick way forward to a later point of a song.
void SkipBlock(Synth& synth);

}  // namespace trelmo
