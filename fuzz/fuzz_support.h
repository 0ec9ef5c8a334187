// What the fuzz targets share: a private folder for the files they write, the player's render loop,
// and a check that stops the run (so libFuzzer keeps the input) when a rule of the player is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trelmo::fuzz {

// A folder of this process's own, created on first use and removed when the process exits.
const std::string& WorkDir();
// Writes the bytes as WorkDir()/name and returns the file's path.
std::string WriteWorkFile(const char* name, const uint8_t* data, size_t size);

// Writes a small well-formed ASIF instrument (a 256-byte wave) as WorkDir()/name, so that song
// inputs that name it get a real sample to play.
void WriteSampleAsif(const char* name, bool looping);

// Writes a well-formed wave bank of 15 instruments as WorkDir()/name: waves of every size code, looping
// and not, one empty, and two that share their pages.
void WriteSampleBank(const char* name);

// Plays the loaded song the way the mixer thread does (StartSong, ResetVoiceBank, SetTickRate(125),
// then SequencerTick + MixBlock per block until songEnded), for at most maxTicks ticks. Only the first
// blocks are mixed at their full length; later ones are mixed only every few ticks and cut short, so
// that one input stays cheap (the sequencer never reads back what the mixer did). rowTrace switches
// the NoiseTracker GS row trace on for the first rows.
// Returns the ticks played.
int PlayLoadedSong(int maxTicks, bool rowTrace = false);

// Starts every slot in use on a voice at a high pitch and mixes a few long blocks, so that each
// sample is read to its end and around its loop.
void PlayAllSlots(uint8_t noteBase);

// Releases the current song (LoadSong of a file that does not exist) and every wave slot.
void ReleaseEverything();

// Aborts with a message when a rule does not hold; libFuzzer then keeps the input as a crash.
void Require(bool holds, const char* rule);

}  // namespace trelmo::fuzz
