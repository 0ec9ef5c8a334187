// SPDX-License-Identifier: BSD-3-Clause
#include "cli/song_tags.h"

#include "cli/printable.h"

namespace trelmo::cli {

std::string SoftwareName() {
    return std::string("trelmo ") + TRELMO_VERSION + " (libtrelmo " + trelmo_version() + ")";
}

SongTags MakeTags(const std::string& title, const LoadedSong& song) {
    SongTags tags;
    // Tags are UTF-8: the library's texts are, and a file name is made so.
    tags.title = Printable(title);
    tags.software = SoftwareName();
    std::string names;
    const std::string message = song.Metadata("message");
    for (size_t at = 0; at <= message.size();) {
        size_t end = message.find('\n', at);
        if (end == std::string::npos) end = message.size();
        if (end > at) names += (names.empty() ? "" : ", ") + message.substr(at, end - at);
        at = end + 1;
    }
    tags.comment = song.Metadata("type_long") + " song";
    if (!names.empty()) tags.comment += "; instruments: " + names;
    tags.comment += "; rendered by " + tags.software;
    return tags;
}

}  // namespace trelmo::cli
