// SPDX-License-Identifier: BSD-3-Clause
#include "song/soundsmith_sequencer.h"

#include "instruments/block_reader.h"
#include "song/engine.h"
#include "song/note_table.h"
#include "song/song_loader.h"
#include "song/soundsmith_song.h"
#include "song/trigger_note.h"
#include "synth/synth.h"
#include "synth/tick_timing.h"

namespace trelmo {

// One sine cycle per row, peak 2r - 1 for row r: round-half-away-from-zero((2r - 1) sin(2 pi p / 32)),
// except row 8, which keeps the values the tracker's own table holds (it peaks at position 8 with a
// slightly steeper flank).
const int16_t VibratoTable[VibratoDepths * VibratoPhases] = {
    0, 0,  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    0, 0,  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,  //
    0, 0,  0,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   0,   0,
    0, 0,  0,   -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  0,   0,  //
    0, 1,  1,   2,   2,   2,   3,   3,   3,   3,   3,   2,   2,   2,   1,   1,
    0, -1, -1,  -2,  -2,  -2,  -3,  -3,  -3,  -3,  -3,  -2,  -2,  -2,  -1,  -1,  //
    0, 1,  2,   3,   4,   4,   5,   5,   5,   5,   5,   4,   4,   3,   2,   1,
    0, -1, -2,  -3,  -4,  -4,  -5,  -5,  -5,  -5,  -5,  -4,  -4,  -3,  -2,  -1,  //
    0, 1,  3,   4,   5,   6,   6,   7,   7,   7,   6,   6,   5,   4,   3,   1,
    0, -1, -3,  -4,  -5,  -6,  -6,  -7,  -7,  -7,  -6,  -6,  -5,  -4,  -3,  -1,  //
    0, 2,  3,   5,   6,   7,   8,   9,   9,   9,   8,   7,   6,   5,   3,   2,
    0, -2, -3,  -5,  -6,  -7,  -8,  -9,  -9,  -9,  -8,  -7,  -6,  -5,  -3,  -2,  //
    0, 2,  4,   6,   8,   9,   10,  11,  11,  11,  10,  9,   8,   6,   4,   2,
    0, -2, -4,  -6,  -8,  -9,  -10, -11, -11, -11, -10, -9,  -8,  -6,  -4,  -2,  //
    0, 3,  5,   7,   9,   11,  12,  13,  13,  13,  12,  11,  9,   7,   5,   3,
    0, -3, -5,  -7,  -9,  -11, -12, -13, -13, -13, -12, -11, -9,  -7,  -5,  -3,  //
    0, 3,  6,   8,   11,  13,  14,  15,  15,  15,  14,  13,  11,  8,   6,   3,
    0, -3, -6,  -8,  -11, -13, -14, -15, -15, -15, -14, -13, -11, -8,  -6,  -3,  //
    0, 3,  7,   9,   12,  14,  16,  17,  17,  17,  16,  14,  12,  9,   7,   3,
    0, -3, -7,  -9,  -12, -14, -16, -17, -17, -17, -16, -14, -12, -9,  -7,  -3,  //
    0, 4,  7,   11,  13,  16,  18,  19,  19,  19,  18,  16,  13,  11,  7,   4,
    0, -4, -7,  -11, -13, -16, -18, -19, -19, -19, -18, -16, -13, -11, -7,  -4,  //
    0, 4,  8,   12,  15,  17,  19,  21,  21,  21,  19,  17,  15,  12,  8,   4,
    0, -4, -8,  -12, -15, -17, -19, -21, -21, -21, -19, -17, -15, -12, -8,  -4,  //
    0, 4,  9,   13,  16,  19,  21,  23,  23,  23,  21,  19,  16,  13,  9,   4,
    0, -4, -9,  -13, -16, -19, -21, -23, -23, -23, -21, -19, -16, -13, -9,  -4,  //
    0, 5,  10,  14,  18,  21,  23,  25,  25,  25,  23,  21,  18,  14,  10,  5,
    0, -5, -10, -14, -18, -21, -23, -25, -25, -25, -23, -21, -18, -14, -10, -5,  //
    0, 5,  10,  15,  19,  22,  25,  26,  27,  26,  25,  22,  19,  15,  10,  5,
    0, -5, -10, -15, -19, -22, -25, -26, -27, -26, -25, -22, -19, -15, -10, -5,  //
    0, 6,  11,  16,  21,  24,  27,  28,  29,  28,  27,  24,  21,  16,  11,  6,
    0, -6, -11, -16, -21, -24, -27, -28, -29, -28, -27, -24, -21, -16, -11, -6,  //
};

// Tempo value for each high nibble of a set-speed-and-tempo parameter.
const uint16_t TempoTable[16] = {125, 250, 500, 63, 125, 125, 125, 125,
                                 150, 300, 600, 75, 125, 125, 125, 125};

namespace {

enum : uint8_t {
    Arpeggio = 0,
    SlideUp = 1,
    SlideDown = 2,
    SetVolume = 3,
    Vibrato = 4,
    VolumeUp = 5,
    VolumeDown = 6,
    TonePortamento = 12,
    SetSpeedAndTempo = 15,
};

enum : uint8_t { CommandBit = 0x80, SilenceTrack = 0, EndPattern = 1 };

struct Cell {
    uint8_t note;
    uint8_t effect;
    uint8_t param;
};

// A cell past the pattern data is empty, whatever the file holds there.
uint8_t CellByte(const Engine& engine, uint32_t array, int32_t index) {
    if (index < 0 || static_cast<uint32_t>(index) >= engine.SoundSmith.patternDataLength) return 0;
    return ReadU8(engine.SongBlock, static_cast<size_t>(array) + static_cast<uint32_t>(index));
}

uint32_t Frequency(uint16_t pitch) {
    return pitch * PitchToFrequency;
}

uint8_t SideOf(const Engine& engine, uint8_t track) {
    return ReadU16Le(engine.SongBlock, engine.SoundSmith.stereoTable + 2u * track) != 0 ? 0xFF : 0;
}

void PortamentoTick(Engine& engine, uint8_t t, TrackState& track) {
    bool arrived;
    if (track.portamentoUp == 1) {
        track.pitch = static_cast<uint16_t>(track.pitch + track.portamentoSpeed);
        arrived = track.pitch >= track.portamentoTarget;
    } else {
        // Signed, so that a glide down to 0 stops there instead of wrapping.
        const int32_t lower = static_cast<int32_t>(track.pitch) - track.portamentoSpeed;
        arrived = lower <= track.portamentoTarget;
        if (!arrived) track.pitch = static_cast<uint16_t>(lower);
    }
    if (arrived) {
        track.pitch = track.portamentoTarget;
        track.effect = 0;
        track.effectParam = 0;
    }
    SetVoiceFrequency(engine, t, Frequency(track.pitch));
}

void VibratoTick(Engine& engine, uint8_t t, TrackState& track) {
    track.vibratoPosition =
        static_cast<int16_t>((track.vibratoPosition + track.vibratoSpeed) % VibratoPhases);
    const int index = track.vibratoDepth + track.vibratoPosition;
    const int16_t offset =
        (index >= 0 && index < VibratoDepths * VibratoPhases) ? VibratoTable[index] : int16_t{0};
    int16_t vibrated = static_cast<int16_t>(track.pitch + offset);
    if (vibrated < 1) vibrated = 1;
    SetVoiceFrequency(engine, t, Frequency(static_cast<uint16_t>(vibrated)));
}

void EffectTick(Engine& engine) {
    for (uint8_t t = 0; t < VoiceCount; ++t) {
        TrackState& track = engine.Player.tracks[t];
        switch (track.effect) {
            case Arpeggio:
                if (track.effectParam != 0) {
                    SetVoiceFrequency(engine, t, track.arpeggio[engine.Player.tickCounter % 3]);
                } else {
                    SetVoiceFrequency(engine, t, Frequency(track.pitch));
                }
                break;
            case SlideUp:
                track.pitch = static_cast<uint16_t>(track.pitch + track.effectParam);
                SetVoiceFrequency(engine, t, Frequency(track.pitch));
                break;
            case SlideDown:
                track.pitch = static_cast<uint16_t>(track.pitch - track.effectParam);
                SetVoiceFrequency(engine, t, Frequency(track.pitch));
                break;
            case Vibrato:
                VibratoTick(engine, t, track);
                break;
            case TonePortamento:
                PortamentoTick(engine, t, track);
                break;
            default:
                break;
        }
    }
}

// The row part of an effect; may change the row's volume and take back the note (tone portamento).
void StartEffect(Engine& engine, uint8_t t, TrackState& track, int& note, int& volume) {
    const uint8_t param = track.effectParam;
    const uint8_t high = static_cast<uint8_t>(param >> 4);
    const uint8_t low = static_cast<uint8_t>(param & 0x0F);
    switch (track.effect) {
        case Arpeggio:
            if (param != 0) {
                track.arpeggio[0] = Frequency(NotePitch(note + high));
                track.arpeggio[1] = Frequency(NotePitch(note + low));
                track.arpeggio[2] = Frequency(NotePitch(note + high + low));
            }
            break;
        case SetVolume:
            volume = param;
            SetVoiceVolume(engine, t, param);
            break;
        case Vibrato:
            if (high != 0) track.vibratoSpeed = high;
            if (low != 0) track.vibratoDepth = static_cast<int16_t>(low * VibratoPhases);
            break;
        case VolumeUp:
            volume = volume + param > 255 ? 255 : volume + param;
            break;
        case VolumeDown:
            volume = volume - param < 0 ? 0 : volume - param;
            break;
        case TonePortamento: {
            const uint16_t from = NotePitch(track.lastNote);
            const uint16_t to = NotePitch(note);
            if (param != 0) track.portamentoSpeed = param;
            if (to == from) {
                track.effect = 0;
                track.effectParam = 0;
            } else {
                track.portamentoUp = to > from ? 1 : 0;
                track.portamentoTarget = to;
                note = 0;  // the voice glides from where it is; the note is not restarted
            }
            break;
        }
        case SetSpeedAndTempo:
            engine.Player.speed = low;
            SetTickRate(engine, TempoTable[high]);
            break;
        default:
            break;
    }
}

void ReadCell(Engine& engine, uint8_t t, int32_t index) {
    TrackState& track = engine.Player.tracks[t];
    const Cell cell{CellByte(engine, engine.SoundSmith.noteArray, index),
                    CellByte(engine, engine.SoundSmith.effectArray, index),
                    CellByte(engine, engine.SoundSmith.paramArray, index)};
    if ((cell.note & CommandBit) != 0) {
        // Commands leave the track's effect running.
        const uint8_t command = cell.note & 0x7F;
        if (command == SilenceTrack) SetVoiceVolume(engine, t, 0);
        if (command == EndPattern) engine.Player.rowIndex = 63;
        return;
    }
    const uint8_t instrument = static_cast<uint8_t>(cell.effect >> 4);
    if (instrument != 0) track.instrument = static_cast<int16_t>(instrument - 1);

    const bool hasInstrument = track.instrument != -1;
    int slot = NoWaveSlot;
    bool slotInUse = false;
    int volume = 0;
    if (hasInstrument) {
        slot = InstrumentSlot(engine, track.instrument);
        slotInUse = WaveSlotInUse(engine, slot);
        if (!slotInUse) SetVoiceVolume(engine, t, 0);
        if (slotInUse) volume = engine.WaveTable[slot].defaultVolume;
    }

    int note = cell.note;
    track.effect = cell.effect & 0x0F;
    track.effectParam = cell.param;
    StartEffect(engine, t, track, note, volume);

    if (!hasInstrument) return;
    if (note != 0 && slotInUse) {
        TriggerNote(engine, t, note, static_cast<int16_t>(slot), static_cast<uint8_t>(volume),
                    SideOf(engine, t), track.effect == SetVolume);
    } else if (!slotInUse) {
        SetVoiceVolume(engine, t, 0);  // the effect may have given the silent track a volume
    }
}

void RowTick(Engine& engine) {
    for (uint8_t t = 0; t < VoiceCount; ++t) {
        ReadCell(engine, t, engine.Player.rowOffset);
        ++engine.Player.rowOffset;
    }
    if (++engine.Player.rowIndex < 64) return;
    engine.Player.rowIndex = 0;
    ++engine.Player.orderPosition;
    if (engine.Player.orderPosition >= SoundSmithSongLength(engine)) {
        engine.Player.songEnded = 1;
        return;
    }
    engine.Player.rowOffset = SoundSmithOrder(engine, engine.Player.orderPosition) * CellsPerPattern;
}

}  // namespace

void SoundSmithSequencerTick(Engine& engine) {
    ++engine.Player.tickCounter;
    if (engine.Player.tickCounter < engine.Player.speed) {
        EffectTick(engine);
        return;
    }
    engine.Player.tickCounter = 0;
    RowTick(engine);
}

}  // namespace trelmo
