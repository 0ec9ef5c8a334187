#include "cli/song_tags.h"

namespace trelmo::cli {

namespace {

// Tags are UTF-8 text; song files hold bytes of the IIgs's own character set, so everything but
// printable ASCII becomes '?', and the padding of fixed-size name fields goes.
std::string TagText(const char* bytes) {
    std::string text;
    for (const char* c = bytes; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        text += u >= 0x20 && u < 0x7F ? *c : '?';
    }
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::string SoftwareName() {
    return std::string("trelmo ") + TRELMO_VERSION + " (libtrelmo " + trelmo_version() + ")";
}

SongTags MakeTags(const std::string& title, const trelmo_song_info& info) {
    SongTags tags;
    tags.title = TagText(title.c_str());
    tags.software = SoftwareName();
    std::string names;
    for (int i = 0; i < info.instrument_count; ++i) {
        const std::string name = TagText(info.instruments[i].name);
        if (name.empty()) continue;
        if (!names.empty()) names += ", ";
        names += name;
    }
    tags.comment = std::string(info.kind_name) + " song";
    if (!names.empty()) tags.comment += "; instruments: " + names;
    tags.comment += "; rendered by " + tags.software;
    return tags;
}

}  // namespace trelmo::cli
