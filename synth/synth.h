// SPDX-License-Identifier: BSD-3-Clause
// Everything one synthesizer holds: its sample memory, its 14 voices, the length of a tick and the
// scratch its mixer works in. An engine has one; nothing here is shared between engines.
#pragma once
#include <cstdint>

#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace trelmo {

// The mixer's working memory: rewritten by every block, so it needs no resetting between songs.
struct MixScratch {
    // Signed 16-bit stereo, left sample first in each frame.
    int16_t OutputBlock[OutputBlockFrames * 2];
    // Each side's sum of volume x sample over the block, before halving.
    int32_t LeftSum[OutputBlockFrames];
    int32_t RightSum[OutputBlockFrames];
    // A volume ramp played at unit volume, before it is scaled.
    int32_t RampSamples[MaxRampFrames];
};

// How the voices reach the two sides. The defaults are the IIgs's own: every voice fully on its
// side, none silenced.
struct MixOptions {
    uint32_t mutedVoices = 0;  // bit v set: voice v is silent (it still moves on)
    int separation = 100;      // percent: 100 hard left and right, 0 both sides the same
};

struct Synth {
    WaveSlot WaveTable[WaveSlotCount]{};
    // Song instrument number -> WaveTable index.
    uint16_t InstrumentMap[InstrumentMapSize]{};
    Voice VoiceBank[VoiceCount]{};
    // Frames per tick, 1 .. 44100.
    uint32_t TickLength = InitialTickLength;
    uint16_t currentTempo = 0;
    MixOptions mixOptions;
    MixScratch scratch;
};

}  // namespace trelmo
