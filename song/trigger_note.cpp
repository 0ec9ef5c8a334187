// SPDX-License-Identifier: BSD-3-Clause
#include "song/trigger_note.h"

#include "song/engine.h"
#include "song/note_table.h"
#include "synth/synth.h"

namespace trelmo {

void TriggerNote(Engine& engine, uint8_t track, int note, int16_t slot, uint8_t volume, uint8_t side,
                 bool keepVolume) {
    if (track >= VoiceCount) return;
    TrackState& state = engine.Player.tracks[track];
    state.lastNote = static_cast<int16_t>(note);
    SetVoiceChannel(engine, track, side);
    if (volume > 127) volume = 127;
    // A set-volume effect on the same row has already given the voice its volume, unlimited.
    if (!keepVolume) SetVoiceVolume(engine, track, volume);
    const uint16_t pitch = NotePitch(note);
    SetVoiceFrequency(engine, track, pitch * PitchToFrequency);
    // The sequencers only pass slots in use; the check keeps a stray index out of the table.
    if (WaveSlotInUse(engine, slot)) {
        const WaveSlot& s = engine.WaveTable[slot];
        StartVoice(engine, track, slot, 0, s.length, 0, s.length - 1, s.flags == 1 ? 1 : 0);
    }
    state.pitch = pitch;
}

}  // namespace trelmo
