// SPDX-License-Identifier: BSD-3-Clause
// Writes SoundSmith songs with their wave banks for the benchmarks: music of a chosen density and
// length, so that speed can be measured on more than the one real song at hand.
#pragma once

#include <string>

namespace trelmo::bench {

enum class SongStyle {
    Dense,        // all 14 tracks sound all the time: looping instruments, notes every few rows
    Typical,      // drums, bass, chords and a lead, with rests and volume changes
    MostlySilent  // two tracks playing, the others silent
};

// Writes NAME.MTP and NAME.W into folder and returns the song's path. positions: patterns played
// (about 7.5 s each at the default speed and tempo).
std::string WriteGeneratedSong(const std::string& folder, const std::string& name, SongStyle style,
                               int positions);

// A private temporary folder, removed with its files by RemoveFolder.
std::string MakeTempFolder();
void RemoveFolder(const std::string& folder);

}  // namespace trelmo::bench
