#include "audacious/song_source.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <libaudcore/audstrings.h>
#include <libaudcore/index.h>
#include <libaudcore/objects.h>
#include <libaudcore/vfs.h>

namespace trelmo::audacious {
namespace {

// The companion files of a song that is not a local file. A folder's listing is read once per
// song, on the first file the song asks for; transports that cannot list a folder (HTTP) are
// asked for the name as the song spells it, then in upper and in lower case.
struct CompanionFolder {
    std::string folder;  // the song's URI up to and including its last '/'
    bool listed = false;
    Index<String> entries;
    Index<char> data;  // the file last handed to the library, kept until it asks again
};

// Everything file holds from where it stands; false (and nothing) when that is more than limit bytes.
// A stream (HTTP, a pipe) can be endless: reading it whole would hold the player and fill the memory.
bool ReadAtMost(VFSFile &file, int64_t limit, Index<char> &bytes) {
    bytes.clear();
    int64_t filled = 0;
    for (;;) {
        if (filled == bytes.len()) {
            if (filled > limit) {
                bytes.clear();
                return false;
            }
            // Doubling, up to one byte beyond the limit: enough to tell that there is more.
            const int64_t grow = std::min(std::max<int64_t>(filled, 65536), limit + 1 - filled);
            bytes.insert(static_cast<int>(filled), static_cast<int>(grow));
        }
        const int64_t got = file.fread(bytes.begin() + filled, 1, bytes.len() - filled);
        if (got <= 0) break;
        filled += got;
    }
    bytes.remove(static_cast<int>(filled), static_cast<int>(bytes.len() - filled));
    return true;
}

bool ReadCompanion(CompanionFolder &companions, const char *uri) {
    // Opened rather than read with VFSFile::read_file, whose check for a missing file asks the
    // transport a question that HTTP cannot answer.
    VFSFile file(uri, "r");
    if (!file || !ReadAtMost(file, TRELMO_MAX_COMPANION_BYTES, companions.data)) companions.data.clear();
    return companions.data.len() > 0;
}

int SupplyCompanion(void *user, const char *name, const void **data, size_t *size) {
    auto &companions = *static_cast<CompanionFolder *>(user);
    if (!companions.listed) {
        String error;
        companions.entries = VFSFile::read_folder(companions.folder.c_str(), error);
        companions.listed = true;
    }
    // The library's rule picks the entry (case, type suffixes), as it does on a local disk.
    std::vector<std::string> names;
    for (const String &entry : companions.entries) names.push_back(SongFileName(entry));
    std::vector<const char *> pointers;
    for (const std::string &entryName : names) pointers.push_back(entryName.c_str());
    const int chosen = trelmo_match_file_name(name, pointers.data(), pointers.size());
    bool found = chosen >= 0 && ReadCompanion(companions, companions.entries[chosen]);
    if (companions.entries.len() == 0) {
        std::string spellings[3] = {name, name, name};
        for (char &c : spellings[1]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char &c : spellings[2]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string &spelling : spellings) {
            const std::string uri = companions.folder + std::string(str_encode_percent(spelling.c_str()));
            if ((found = ReadCompanion(companions, uri.c_str()))) break;
        }
    }
    if (!found) return 0;
    *data = companions.data.begin();
    *size = static_cast<size_t>(companions.data.len());
    return 1;
}

}  // namespace

std::string SongFileName(const char *uri) {
    const char *slash = std::strrchr(uri, '/');
    const char *base = slash != nullptr ? slash + 1 : uri;
    // A '?' starts a subtune number or a query, never part of a song's name.
    const char *end = std::strchr(base, '?');
    return std::string(str_decode_percent(base, end != nullptr ? static_cast<int>(end - base) : -1));
}

int LoadSong(trelmo_engine *engine, const char *uri, VFSFile &file) {
    if (std::strncmp(uri, "file://", 7) == 0) {
        StringBuf path = uri_to_filename(uri);
        if (path) return trelmo_load_file(engine, path);
    }
    // is_our_file has read the first bytes; a stream that cannot seek back cannot be played.
    if (!file || (file.ftell() != 0 && file.fseek(0, VFS_SEEK_SET) != 0)) return TRELMO_ERROR_OPEN;
    Index<char> song;
    if (!ReadAtMost(file, TRELMO_MAX_SONG_BYTES, song)) return TRELMO_ERROR_TOO_LARGE;
    if (song.len() == 0) return TRELMO_ERROR_READ;
    CompanionFolder companions;
    const char *slash = std::strrchr(uri, '/');
    companions.folder.assign(uri, slash != nullptr ? static_cast<size_t>(slash - uri + 1) : 0);
    return trelmo_load_memory(engine, song.begin(), static_cast<size_t>(song.len()), SongFileName(uri).c_str(),
                              SupplyCompanion, &companions);
}

}  // namespace trelmo::audacious
