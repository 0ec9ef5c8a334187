// SPDX-License-Identifier: BSD-3-Clause
// The sequencer's state, shared by both song formats.
#pragma once

#include <cstdint>

#include "synth/voice_bank.h"

namespace trelmo {

struct TrackState {
    int16_t instrument;  // -1: no instrument yet
    uint8_t effect;
    uint8_t effectParam;
    uint16_t pitch;  // NoteFrequencyTable units
    int16_t lastNote;
    uint32_t arpeggio[3];
    uint16_t portamentoTarget;
    uint16_t portamentoSpeed;
    uint8_t portamentoUp;
    int16_t vibratoSpeed;
    int16_t vibratoDepth;     // depth * 32
    int16_t vibratoPosition;  // 0 .. 31
};

struct PlayerState {
    int16_t songEnded;
    int16_t tickCounter;
    int16_t speed;
    int16_t rowIndex;
    int16_t orderPosition;
    int32_t rowOffset;
    uint16_t songTempo;          // NoiseTracker GS: the tempo SetTickRate should hold
    const uint8_t* patternBase;  // NoiseTracker GS: start of the pattern data in the SongBlock
    int16_t rowTrace;            // NoiseTracker GS: row trace switch, off
    TrackState tracks[VoiceCount];
};

}  // namespace trelmo
