// Song loading, kind detection and the per-tick dispatch to the loaded song's sequencer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "instruments/block_reader.h"

namespace trelmo {

#ifdef _WIN32
constexpr size_t MaxPathLength = 259;
#else
constexpr size_t MaxPathLength = 4095;
#endif

enum : int16_t { NoSong = -1, SoundSmithSong = 0, NoiseTrackerSong = 1 };

// The file LoadSong reads; set by Play.
extern char SongPath[MaxPathLength + 1];
extern int16_t SongKind;
extern int16_t songLoaded;
// The whole song file, read in place by the loaders and sequencers; empty when no song is loaded.
extern ByteView SongBlock;

int16_t DetectSongKind(const uint8_t* bytes, size_t size);
void LoadSong();
void StartSong();
void SequencerTick();

}  // namespace trelmo
