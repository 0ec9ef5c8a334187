// SPDX-License-Identifier: BSD-3-Clause
// The tags a rendered file carries: the formats store no title, so it comes from the file name; the
// comment names the kind of song, its instruments and the program that rendered it.
#pragma once

#include <string>

#include "cli/loaded_song.h"
#include "trelmo/trelmo.h"

namespace trelmo::cli {

struct SongTags {
    std::string title;
    std::string comment;
    std::string software;  // "trelmo 1.0.0 (libtrelmo 1.0.0)"
};

SongTags MakeTags(const std::string& title, const LoadedSong& song);

// The name and version line of --version, also written into every file.
std::string SoftwareName();

}  // namespace trelmo::cli
