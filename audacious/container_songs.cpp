// SPDX-License-Identifier: BSD-3-Clause
#include "audacious/container_songs.h"

#include <libaudcore/audstrings.h>
#include <libaudcore/index.h>
#include <libaudcore/runtime.h>
#include <libaudcore/vfs.h>

#include <cstring>
#include <string>

#include "audacious/song_source.h"
#include "containers/container.h"
#include "containers/open_container.h"

namespace trelmo::audacious {
namespace {

// A raw 140K image is told only whole (its sector order is probed); every other container by
// its first blocks.
constexpr int64_t kProbeBytes = 143360 + 1;

}  // namespace

bool LooksLikeContainer(VFSFile& file) {
    if (file.ftell() != 0 && file.fseek(0, VFS_SEEK_SET) != 0) return false;
    Index<char> head;
    head.insert(0, static_cast<int>(kProbeBytes));
    int64_t filled = 0;
    while (filled < kProbeBytes) {
        const int64_t got = file.fread(head.begin() + filled, 1, kProbeBytes - filled);
        if (got <= 0) break;
        filled += got;
    }
    const ByteView bytes{reinterpret_cast<uint8_t*>(head.begin()), static_cast<size_t>(filled)};
    return containers::LooksLikeContainer(bytes);
}

int SubtuneOf(const char* uri) {
    int subtune = -1;
    uri_parse(uri, nullptr, nullptr, nullptr, &subtune);
    return subtune >= 1 ? subtune : -1;
}

Container OpenContainer(const char* uri, VFSFile& file, const LoadRequest& request) {
    Container container(trelmo_container_create());
    if (!container) return container;
    const char* subtune = nullptr;
    uri_parse(uri, nullptr, nullptr, &subtune, nullptr);
    const std::string whole(uri, static_cast<size_t>(subtune - uri));
    int status = TRELMO_ERROR_OPEN;
    StringBuf path =
        std::strncmp(whole.c_str(), "file://", 7) == 0 ? uri_to_filename(whole.c_str()) : StringBuf();
    if (path) {
        status = trelmo_container_open_file(container.get(), path);
    } else {
        Index<char> bytes;
        std::string reason;
        status = ReadWhole(file, static_cast<int64_t>(containers::MaxContainerBytes), bytes, request, reason);
        if (status != TRELMO_OK) {
            AUDERR("%s: %s%s%s\n", whole.c_str(), trelmo_status_message(status), reason.empty() ? "" : ": ",
                   reason.c_str());
            return nullptr;
        }
        status =
            trelmo_container_open_memory(container.get(), bytes.begin(), static_cast<size_t>(bytes.len()),
                                         SongFileName(whole.c_str()).c_str());
    }
    if (status != TRELMO_OK) {
        const char* reason = trelmo_container_last_error(container.get());
        AUDERR("%s: %s\n", whole.c_str(), *reason != '\0' ? reason : trelmo_status_message(status));
        return nullptr;
    }
    for (int i = 0; i < trelmo_container_skipped_count(container.get()); ++i)
        AUDDBG("%s: skipped %s\n", whole.c_str(), trelmo_container_skipped(container.get(), i));
    return container;
}

}  // namespace trelmo::audacious
