// SPDX-License-Identifier: BSD-3-Clause
#include "audacious/song_tag.h"

#include <libaudcore/audstrings.h>
#include <libaudcore/tuple.h>

#include <limits>

#include "audacious/song_source.h"

namespace trelmo::audacious {
namespace {

constexpr int kBitrateKbps = TRELMO_SAMPLE_RATE * TRELMO_CHANNELS * 16 / 1000;

// The title is the file name without the song extension.
std::string Title(const char* uri) {
    std::string name = SongFileName(uri);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = name.substr(dot + 1);
        for (char& c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (extension == "MTP" || extension == "NTG") name.erase(dot);
    }
    return name;
}

}  // namespace

int LengthMilliseconds(uint64_t frames) {
    if (frames == std::numeric_limits<uint64_t>::max()) return -1;
    const uint64_t ms =
        frames / TRELMO_SAMPLE_RATE * 1000 + frames % TRELMO_SAMPLE_RATE * 1000 / TRELMO_SAMPLE_RATE;
    return ms > static_cast<uint64_t>(std::numeric_limits<int>::max()) ? -1 : static_cast<int>(ms);
}

std::string InstrumentComment(trelmo_engine* engine) {
    // The names come from the library as UTF-8, decoded as every face shows them.
    std::string comment;
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    if (trelmo_get_song_info(engine, &info) != TRELMO_OK) return comment;
    for (int i = 0; i < info.instrument_count; ++i) {
        trelmo_instrument instrument;
        TRELMO_INIT_RECORD(instrument);
        if (trelmo_get_instrument(engine, i, &instrument) != TRELMO_OK) continue;
        comment += std::to_string(instrument.number) + " " + instrument.name;
        if (instrument.source == TRELMO_SOURCE_MISSING) comment += " (missing)";
        comment += "\n";
    }
    if (info.missing_count > 0) {
        comment += std::to_string(info.missing_count) +
                   (info.missing_count == 1 ? " instrument is" : " instruments are") +
                   " missing (looked for " + trelmo_get_metadata(engine, "looked_for") +
                   "); they play silent.\n";
    }
    if (!comment.empty()) comment.pop_back();
    return comment;
}

void FillTuple(trelmo_engine* engine, const char* uri, const char* innerPath, Tuple& tuple) {
    if (trelmo_get_metadata(engine, "type")[0] == '\0') return;
    const std::string title = innerPath != nullptr ? std::string(innerPath) : Title(uri);
    tuple.set_str(Tuple::Title, str_to_utf8(title.c_str(), static_cast<int>(title.size())));
    const int length = LengthMilliseconds(trelmo_length_frames(engine));
    if (length >= 0) tuple.set_int(Tuple::Length, length);
    tuple.set_format(trelmo_get_metadata(engine, "type_long"), TRELMO_CHANNELS, TRELMO_SAMPLE_RATE,
                     kBitrateKbps);
    // Paths in the comment are the system's bytes: made UTF-8 as Audacious wants its strings.
    const std::string comment = InstrumentComment(engine);
    if (!comment.empty())
        tuple.set_str(Tuple::Comment, str_to_utf8(comment.c_str(), static_cast<int>(comment.size())));
}

}  // namespace trelmo::audacious
