// SPDX-License-Identifier: BSD-3-Clause
// What the listener chooses about how a song sounds and which stretch of it is heard: passes through
// the order list, fade-out, stereo width, muted tracks, start and end. Parsed from the command line
// and handed to each song's engine.
#pragma once

#include <cstdint>
#include <string>

#include "trelmo/trelmo.h"

namespace trelmo::cli {

struct SoundSettings {
    int loops = 1;           // --loops: passes through the order list; 0 for ever
    double fadeSeconds = 0;  // --fade
    int stereo = 100;        // --stereo: percent of the IIgs's hard left and right
    std::string mute;        // --mute: track list as the user wrote it
    std::string solo;        // --solo
    uint32_t muteMask = 0;   // worked out by Resolve: bit (track - 1)
};

// Works out the mute mask from --mute and --solo. False with a message for a bad list.
bool ResolveTracks(SoundSettings& settings, std::string& error);

// "1,3,5-7" -> bits 0, 2, 4, 5, 6. Tracks count from 1 to TRELMO_MAX_TRACKS, as info shows them.
bool ParseTrackList(const std::string& text, uint32_t& mask, std::string& error);

// Every track, as a mute mask.
constexpr uint32_t AllTracks = (1u << TRELMO_MAX_TRACKS) - 1;

// The time an option such as --start gives: "83", "83.5", "1:23" or "1:23.5" -> frames, rounded to
// the nearest; frames is left as it is when the option was not given (text empty). False with a
// message naming the option when the text is not a time.
// Digits with an optional decimal fraction ("83", "83.5"): no sign, blank, exponent or hex.
bool IsDecimalNumber(const std::string& text);

bool ParseTime(const char* option, const std::string& text, uint64_t& frames, std::string& error);

// Gives the engine the settings; they stay for the songs it loads later.
void ApplySettings(trelmo_engine* engine, const SoundSettings& settings);

}  // namespace trelmo::cli
