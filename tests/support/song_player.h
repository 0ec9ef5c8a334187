// SPDX-License-Identifier: BSD-3-Clause
// Songs loaded from a file or from memory, and the mixer thread's playing loop, for tests that
// play songs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "instruments/song_files.h"
#include "tests/support/temp_dir.h"

namespace trelmo {
struct Engine;
}

namespace trelmo::test {

// A song's companion files by name, as a song loaded from memory finds them (case is ignored).
using Companions = std::map<std::string, std::vector<uint8_t>>;

// Where a song called songName finds its companion files when they come from files.
SongFiles FilesFrom(const std::string& songName, const Companions& files);

// Loads the song at path into engine and starts it as Play and the mixer thread's start do:
// LoadSong, StartSong, ResetVoiceBank, SetTickRate(125). Ticks are then the caller's.
void PrepareSong(Engine& engine, const std::string& path);
// The same for a song in memory called name, whose companion files are files.
void PrepareSong(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                 const Companions& files = {});

// Runs the sequencer of the started song alone, without mixing, until songEnded or limit ticks.
// Returns the ticks run.
uint64_t TicksToEnd(Engine& engine, uint64_t limit);
// Loads and starts the song at path (PrepareSong), then runs its sequencer alone.
uint64_t TicksToEnd(Engine& engine, const std::string& path, uint64_t limit);
// The same for a song in memory called name that needs no companion files.
uint64_t TicksToEnd(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                    uint64_t limit);

struct Rendering {
    std::vector<int16_t> pcm;  // interleaved stereo, left first; empty unless kept
    uint64_t frames = 0;
    uint64_t ticks = 0;
    bool ended = false;  // songEnded was set
};

// Plays the started song the way the mixer thread does: SequencerTick and MixBlock per block until
// songEnded, the block of the last tick included. Stops early after maxFrames frames.
Rendering PlaySong(Engine& engine, uint64_t maxFrames, bool keepPcm = true);
// Loads and starts the song at path (PrepareSong), then plays it.
Rendering PlaySong(Engine& engine, const std::string& path, uint64_t maxFrames, bool keepPcm = true);
// The same for a song in memory called name that needs no companion files.
Rendering PlaySong(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                   uint64_t maxFrames, bool keepPcm = true);
// The same on a newly created engine of its own: what a song sounds like when nothing played before.
Rendering PlaySong(const std::string& path, uint64_t maxFrames, bool keepPcm = true);

}  // namespace trelmo::test
