// The straightforward frame-by-frame mixer, kept for tests as the yardstick of the fast MixBlock.
#pragma once

namespace trelmo {

// Renders TickLength frames from the VoiceBank into the OutputBlock one frame at a time, visiting
// the voices in order within each frame, exactly as the mixing rules read. Same effects on the
// voices and the OutputBlock as MixBlock.
void ReferenceMixBlock();

}  // namespace trelmo
