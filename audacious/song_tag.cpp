#include "audacious/song_tag.h"

#include <limits>

#include <libaudcore/audstrings.h>
#include <libaudcore/tuple.h>

#include "audacious/song_source.h"

namespace trelmo::audacious {
namespace {

constexpr int kBitrateKbps = TRELMO_SAMPLE_RATE * TRELMO_CHANNELS * 16 / 1000;

// Instrument names are IIgs bytes, not UTF-8: the printable ASCII is kept, anything else shows
// as '?', and the padding at the end goes.
std::string Printable(const char *name) {
    std::string text;
    for (const char *c = name; *c != '\0'; ++c)
        text += *c >= 0x20 && *c < 0x7F ? *c : '?';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// The title is the file name without the song extension.
std::string Title(const char *uri) {
    std::string name = SongFileName(uri);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = name.substr(dot + 1);
        for (char &c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (extension == "MTP" || extension == "NTG") name.erase(dot);
    }
    return name;
}

}  // namespace

int LengthMilliseconds(uint64_t frames) {
    if (frames == std::numeric_limits<uint64_t>::max()) return -1;
    const uint64_t ms = frames / TRELMO_SAMPLE_RATE * 1000 + frames % TRELMO_SAMPLE_RATE * 1000 / TRELMO_SAMPLE_RATE;
    return ms > static_cast<uint64_t>(std::numeric_limits<int>::max()) ? -1 : static_cast<int>(ms);
}

std::string InstrumentComment(const trelmo_song_info &info) {
    std::string comment;
    for (int i = 0; i < info.instrument_count; ++i) {
        const trelmo_instrument &instrument = info.instruments[i];
        comment += std::to_string(instrument.number) + " " + Printable(instrument.name);
        if (instrument.source == TRELMO_SOURCE_MISSING) comment += " (missing)";
        comment += "\n";
    }
    if (info.missing_count > 0) {
        comment += std::to_string(info.missing_count) + (info.missing_count == 1 ? " instrument is" : " instruments are") +
                   " missing (looked for " + Printable(info.looked_for) + "); they play silent.\n";
    }
    if (!comment.empty()) comment.pop_back();
    return comment;
}

void FillTuple(trelmo_engine *engine, const char *uri, const char *innerPath, Tuple &tuple) {
    const trelmo_song_info *info = trelmo_song_info_get(engine);
    if (info == nullptr) return;
    const std::string title = innerPath != nullptr ? std::string(innerPath) : Title(uri);
    tuple.set_str(Tuple::Title, str_to_utf8(title.c_str(), static_cast<int>(title.size())));
    const int length = LengthMilliseconds(trelmo_length_frames(engine));
    if (length >= 0) tuple.set_int(Tuple::Length, length);
    tuple.set_format(info->kind_name, TRELMO_CHANNELS, TRELMO_SAMPLE_RATE, kBitrateKbps);
    const std::string comment = InstrumentComment(*info);
    if (!comment.empty()) tuple.set_str(Tuple::Comment, comment.c_str());
}

}  // namespace trelmo::audacious
