// SPDX-License-Identifier: BSD-3-Clause
// The straightforward frame-by-frame mixer, kept for tests as the yardstick of the fast MixBlock.
#pragma once

namespace trelmo {

struct Synth;

// Renders TickLength frames from the synth's VoiceBank into its OutputBlock one frame at a time, visiting
// the voices in order within each frame, exactly as the mixing rules read. Same effects on the
// voices and the OutputBlock as MixBlock.
void ReferenceMixBlock(Synth& synth);

}  // namespace trelmo
