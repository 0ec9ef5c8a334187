// SPDX-License-Identifier: BSD-3-Clause
// Songs inside disk images and archives, given to Audacious as subtunes: "GAME.2MG?3" is the third
// song listed in GAME.2MG, so that an image opens as one playlist entry per song.
#pragma once

#include <trelmo/trelmo.h>

#include <memory>

#include "audacious/song_source.h"

class VFSFile;

namespace trelmo::audacious {

struct ContainerDeleter {
    void operator()(trelmo_container* container) const { trelmo_container_destroy(container); }
};
using Container = std::unique_ptr<trelmo_container, ContainerDeleter>;

// True when the file, read from its start, is a disk image or archive the library reads. Reads at
// most a 140K disk's bytes, the most it takes to tell.
bool LooksLikeContainer(VFSFile& file);

// The subtune number in uri (1 for the first song), or -1 when it names the whole file.
int SubtuneOf(const char* uri);

// Opens the container that uri names (its subtune number aside): a local file by its path, any
// other through Audacious's VFS (file), read within the library's container size limit and as
// request allows (a stop, Audacious quitting, the load's deadline). Null, with the reason logged,
// when it cannot be listed.
Container OpenContainer(const char* uri, VFSFile& file, const LoadRequest& request);

}  // namespace trelmo::audacious
