// SPDX-License-Identifier: BSD-3-Clause
#include "cli/sound_settings.h"

#include <cmath>
#include <cstdlib>

namespace trelmo::cli {

namespace {

bool ParseTrack(const std::string& text, int& track) {
    if (text.empty() || text.size() > 2) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    track = std::atoi(text.c_str());
    return track >= 1 && track <= TRELMO_MAX_TRACKS;
}

}  // namespace

bool IsDecimalNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == 0) return false;
    if (i == text.size()) return true;
    if (text[i] != '.') return false;
    const size_t fraction = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > fraction && i == text.size();
}

namespace {

// Times are written as people write them: digits, a decimal fraction, an optional minutes part;
// no signs, blanks, exponents or hexadecimal, which strtod alone would take.
bool TimeFrames(const std::string& text, uint64_t& frames) {
    const size_t colon = text.find(':');
    const std::string minutesText = colon == std::string::npos ? "0" : text.substr(0, colon);
    const std::string secondsText = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!IsDecimalNumber(secondsText) || minutesText.find_first_not_of("0123456789") != std::string::npos ||
        minutesText.empty() || minutesText.size() > 9) {
        return false;
    }
    const unsigned long minutes = std::strtoul(minutesText.c_str(), nullptr, 10);
    const double seconds = std::strtod(secondsText.c_str(), nullptr);
    if (colon != std::string::npos && seconds >= 60) return false;
    const double total = (static_cast<double>(minutes) * 60 + seconds) * TRELMO_SAMPLE_RATE;
    if (total > 1e15) return false;
    frames = static_cast<uint64_t>(std::llround(total));
    return true;
}

}  // namespace

bool ParseTrackList(const std::string& text, uint32_t& mask, std::string& error) {
    mask = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        const bool ok = dash == std::string::npos ? ParseTrack(item, first) && ParseTrack(item, last)
                                                  : ParseTrack(item.substr(0, dash), first) &&
                                                        ParseTrack(item.substr(dash + 1), last);
        if (!ok || first > last) {
            error = "'" + item + "' is not a track or range of tracks (1 to " +
                    std::to_string(TRELMO_MAX_TRACKS) + ", such as 3 or 5-7)";
            return false;
        }
        for (int t = first; t <= last; ++t) mask |= 1u << (t - 1);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool ResolveTracks(SoundSettings& settings, std::string& error) {
    uint32_t muted = 0;
    uint32_t solo = 0;
    if (!settings.mute.empty() && !ParseTrackList(settings.mute, muted, error)) {
        error = "--mute: " + error;
        return false;
    }
    if (!settings.solo.empty() && !ParseTrackList(settings.solo, solo, error)) {
        error = "--solo: " + error;
        return false;
    }
    // Soloing mutes every other track; a track both soloed and muted stays muted.
    settings.muteMask = (settings.solo.empty() ? 0 : AllTracks & ~solo) | muted;
    return true;
}

bool ParseTime(const char* option, const std::string& text, uint64_t& frames, std::string& error) {
    // Empty is "not given": the command line refuses an empty time before it gets here.
    if (text.empty() || TimeFrames(text, frames)) return true;
    error = std::string(option) + ": '" + text + "' is not a time (seconds, or minutes:seconds)";
    return false;
}

void ApplySettings(trelmo_engine* engine, const SoundSettings& settings) {
    trelmo_set_loops(engine, settings.loops);
    trelmo_set_fade(engine, static_cast<uint32_t>(std::lround(settings.fadeSeconds * 1000)));
    trelmo_set_stereo_separation(engine, settings.stereo);
    trelmo_set_mute_mask(engine, settings.muteMask);
}

}  // namespace trelmo::cli
