// SPDX-License-Identifier: BSD-3-Clause
// Song loading, kind detection and the per-tick dispatch to the loaded song's sequencer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "instruments/read_whole_file.h"
#include "song/engine.h"

namespace trelmo {

// The kind test looks at no byte beyond this many from the start of a file.
constexpr size_t SongKindBytes = 16;

int16_t DetectSongKind(const uint8_t* bytes, size_t size);

// Releases the engine's song and reads the file at its SongPath, with companion files beside it.
void LoadSong(Engine& engine);
// Releases the engine's song and loads the one in file, which the engine then owns, with companion
// files from files.
void LoadSongFrom(Engine& engine, FileBlock file, const SongFiles& files);
// Releases the song and its samples; the engine then holds no song.
void ReleaseSong(Engine& engine);
void StartSong(Engine& engine);
void SequencerTick(Engine& engine);

}  // namespace trelmo
