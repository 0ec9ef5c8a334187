// SPDX-License-Identifier: BSD-3-Clause
// Note numbers to voice pitches.
#pragma once

#include <cstdint>

namespace trelmo {

constexpr int NoteCount = 108;
// Every frequency a sequencer gives a voice is a pitch from this table (or derived from one) x 51.
constexpr uint32_t PitchToFrequency = 51;

extern const uint16_t NoteFrequencyTable[NoteCount];

// NoteFrequencyTable[note], with notes above the table played as its highest entry.
uint16_t NotePitch(int note);

}  // namespace trelmo
