// SPDX-License-Identifier: BSD-3-Clause
// What the fuzz targets share: companion files served from memory, the player's render loop, and a
// check that stops the run (so libFuzzer keeps the input) when a rule of the player is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/song_files.h"

namespace trelmo {
struct Engine;
}

namespace trelmo::fuzz {

// A song's companion files by name, handed over from memory.
struct NamedFile {
    std::string name;
    std::vector<uint8_t> bytes;
};
using FileList = std::vector<NamedFile>;

// Hands over the file of list (a const FileList*) called name, matched without regard to case: the
// library's file callback (1 with the bytes, 0 when there is none).
int LendFile(void* list, const char* name, const void** data, size_t* size);
// Where a song called songName finds its companion files when they come from list.
SongFiles FilesFrom(const char* songName, const FileList& list);

// A small well-formed ASIF instrument (a 256-byte wave), so that song inputs that name it get a
// real sample to play.
std::vector<uint8_t> SampleAsif(bool looping);

// A well-formed wave bank of 15 instruments: waves of every size code, looping and not, one empty,
// and two that share their pages.
std::vector<uint8_t> SampleBank();

// A folder of this process's own for the targets that are about files, created on first use and
// removed when the process exits.
const std::string& WorkDir();
// Writes the bytes as WorkDir()/name and returns the file's path.
std::string WriteWorkFile(const char* name, const uint8_t* data, size_t size);

// The engine a target works on, the same for the whole run, with its song released: a new one per
// input (a megabyte of mixing scratch to clear) would cost fifty times a small input's own work.
Engine& ReleasedEngine();

// Plays the loaded song the way the mixer thread does (StartSong, ResetVoiceBank, SetTickRate(125),
// then SequencerTick + MixBlock per block until songEnded), for at most maxTicks ticks. Only the first
// blocks are mixed at their full length; later ones are cut short so that one input stays cheap (the
// sequencer never reads back what the mixer did). rowTrace switches the NoiseTracker GS row trace on.
// Returns the ticks played.
int PlayLoadedSong(Engine& engine, int maxTicks, bool rowTrace = false);

// Starts every slot in use on a voice at a high pitch and mixes a few long blocks, so that each
// sample is read to its end and around its loop.
void PlayAllSlots(Engine& engine, uint8_t noteBase);

// Aborts with a message when a rule does not hold; libFuzzer then keeps the input as a crash.
void Require(bool holds, const char* rule);

}  // namespace trelmo::fuzz
