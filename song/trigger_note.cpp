#include "song/trigger_note.h"

#include "song/note_table.h"
#include "song/player_state.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace trelmo {

void TriggerNote(uint8_t track, int note, int16_t slot, uint8_t volume, uint8_t side, bool keepVolume) {
    if (track >= VoiceCount) return;
    TrackState& state = Player.tracks[track];
    state.lastNote = static_cast<int16_t>(note);
    SetVoiceChannel(track, side);
    if (volume > 127) volume = 127;
    // A set-volume effect on the same row has already given the voice its volume, unlimited.
    if (!keepVolume) SetVoiceVolume(track, volume);
    const uint16_t pitch = NotePitch(note);
    SetVoiceFrequency(track, pitch * PitchToFrequency);
    // The sequencers only pass slots in use; the check keeps a stray index out of the table.
    if (WaveSlotInUse(slot)) {
        const WaveSlot& s = WaveTable[slot];
        StartVoice(track, slot, 0, s.length, 0, s.length - 1, s.flags == 1 ? 1 : 0);
    }
    state.pitch = pitch;
}

}  // namespace trelmo
