// SPDX-License-Identifier: BSD-3-Clause
#include "audacious/song_source.h"

#include <libaudcore/audstrings.h>
#include <libaudcore/index.h>
#include <libaudcore/objects.h>
#include <libaudcore/vfs.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audacious/quitting.h"

namespace trelmo::audacious {
namespace {

using Clock = std::chrono::steady_clock;

// A read over HTTP returns only when it has all it asked for (or the transport gives up on a
// silent server), so over a trickle only a read of one byte ends soon. Reads start at one byte and
// double while the stream keeps up; a read that waits drops back to one byte, so that a stop, the
// deadline or Audacious's quitting is noticed within about one read.
constexpr int64_t kFirstPiece = 1;
constexpr int64_t kLargestPiece = 1 << 16;
constexpr auto kSlowRead = std::chrono::milliseconds(50);
constexpr auto kUnderrunPause = std::chrono::milliseconds(2);
constexpr auto kStall = std::chrono::seconds(3);

// One load's reading: when it must end, and why it failed first.
struct Reading {
    Clock::time_point deadline;
    bool (*stop)();
    int status = TRELMO_OK;
    std::string reason;

    bool Fail(int failure, std::string why) {
        if (status == TRELMO_OK) {
            status = failure;
            reason = std::move(why);
        }
        return true;
    }
    // True when reading must end now.
    bool Cut() {
        if (stop != nullptr && stop()) return Fail(TRELMO_ERROR_READ, "playback was stopped");
        if (Quitting()) return Fail(TRELMO_ERROR_READ, "Audacious is quitting");
        if (Clock::now() > deadline)
            return Fail(TRELMO_ERROR_READ, "not read whole within " + std::to_string(kLoadSeconds) + " s");
        return status != TRELMO_OK;
    }
};

// Everything file holds from where it stands, at most limit bytes: TRELMO_ERROR_TOO_LARGE beyond
// that (a stream can be endless), TRELMO_ERROR_READ when reading is cut or the stream ends short of
// the size its transport announced (a body that stops halfway is a damaged file, not a song).
int ReadAtMost(VFSFile& file, int64_t limit, Index<char>& bytes, Reading& reading, const std::string& label) {
    bytes.clear();
    const int64_t size = file.fsize() < 0 ? -1 : file.fsize() - std::max<int64_t>(file.ftell(), 0);
    if (size > limit) return TRELMO_ERROR_TOO_LARGE;
    int64_t filled = 0;
    int64_t piece = kFirstPiece;
    Clock::time_point lastData = Clock::now();
    for (;;) {
        if (reading.Cut()) {
            bytes.clear();
            return TRELMO_ERROR_READ;
        }
        if (filled == bytes.len()) {
            if (filled > limit) {
                bytes.clear();
                return TRELMO_ERROR_TOO_LARGE;
            }
            // Doubling, up to one byte beyond the limit: enough to tell that there is more.
            const int64_t grow = std::min(std::max<int64_t>(filled, 65536), limit + 1 - filled);
            bytes.insert(static_cast<int>(filled), static_cast<int>(grow));
        }
        const Clock::time_point asked = Clock::now();
        const int64_t got = file.fread(bytes.begin() + filled, 1, std::min(piece, bytes.len() - filled));
        if (got <= 0) {
            // HTTP's transport also answers nothing when its buffer runs dry before more has come,
            // and without an end when the connection fails: a stream that stalls has ended.
            if (file.feof() || asked - lastData > kStall) break;
            std::this_thread::sleep_for(kUnderrunPause);
            continue;
        }
        lastData = Clock::now();
        filled += got;
        piece = Clock::now() - asked > kSlowRead ? 1 : std::min(kLargestPiece, piece * 2);
    }
    bytes.remove(static_cast<int>(filled), static_cast<int>(bytes.len() - filled));
    if (size >= 0 && filled < size) {
        bytes.clear();
        reading.Fail(TRELMO_ERROR_READ, label + ": the stream ended after " + std::to_string(filled) +
                                            " of " + std::to_string(size) + " bytes");
        return TRELMO_ERROR_READ;
    }
    return TRELMO_OK;
}

// The companion files of one song start, by the URI each was asked for under; empty: none there.
using FetchedFiles = std::map<std::string, Index<char>>;

// What the last tag reads fetched, for the playback that follows them.
constexpr size_t kKeptSongs = 2;
std::mutex keptLock;
std::deque<std::pair<std::string, FetchedFiles>> kept;

FetchedFiles TakeKept(const std::string& uri) {
    std::lock_guard<std::mutex> hold(keptLock);
    for (auto entry = kept.begin(); entry != kept.end(); ++entry) {
        if (entry->first != uri) continue;
        FetchedFiles files = std::move(entry->second);
        kept.erase(entry);
        return files;
    }
    return FetchedFiles();
}

void Keep(const std::string& uri, FetchedFiles files) {
    std::lock_guard<std::mutex> hold(keptLock);
    kept.emplace_back(uri, std::move(files));
    if (kept.size() > kKeptSongs) kept.pop_front();
}

// The companion files of a song that is not a local file. A folder's listing is read once per
// song, on the first file the song asks for; transports that cannot list a folder (HTTP) are
// asked for the name as the song spells it, then in upper and in lower case.
struct CompanionFolder {
    std::string folder;  // the song's URI up to and including its last '/'
    bool listed = false;
    Index<String> entries;
    FetchedFiles fetched;
    Reading& reading;
};

// The file at uri, fetched at most once per song start; null when it is not there (or reading
// has failed).
const Index<char>* Fetch(CompanionFolder& companions, const std::string& uri) {
    auto known = companions.fetched.find(uri);
    if (known != companions.fetched.end()) return known->second.len() > 0 ? &known->second : nullptr;
    if (companions.reading.status != TRELMO_OK) return nullptr;
    Index<char> data;
    // Opened rather than read with VFSFile::read_file, whose check for a missing file asks the
    // transport a question that HTTP cannot answer.
    VFSFile file(uri.c_str(), "r");
    // A file beyond the size limit is not used, as the library would not use it.
    if (file && ReadAtMost(file, TRELMO_MAX_COMPANION_BYTES, data, companions.reading,
                           SongFileName(uri.c_str())) == TRELMO_ERROR_READ)
        return nullptr;
    const Index<char>& stored = companions.fetched.emplace(uri, std::move(data)).first->second;
    return stored.len() > 0 ? &stored : nullptr;
}

int SupplyCompanion(void* user, const char* name, const void** data, size_t* size) {
    auto& companions = *static_cast<CompanionFolder*>(user);
    if (!companions.listed) {
        String error;
        companions.entries = VFSFile::read_folder(companions.folder.c_str(), error);
        companions.listed = true;
    }
    // The library's rule picks the entry (case, type suffixes), as it does on a local disk.
    std::vector<std::string> names;
    for (const String& entry : companions.entries) names.push_back(SongFileName(entry));
    std::vector<const char*> pointers;
    for (const std::string& entryName : names) pointers.push_back(entryName.c_str());
    const int chosen = trelmo_match_file_name(name, pointers.data(), pointers.size());
    const Index<char>* found =
        chosen >= 0 ? Fetch(companions, std::string(companions.entries[chosen])) : nullptr;
    if (companions.entries.len() == 0) {
        std::string spellings[3] = {name, name, name};
        for (char& c : spellings[1]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : spellings[2]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& spelling : spellings) {
            found = Fetch(companions, companions.folder + std::string(str_encode_percent(spelling.c_str())));
            if (found != nullptr) break;
        }
    }
    if (found == nullptr) return 0;
    *data = found->begin();
    *size = static_cast<size_t>(found->len());
    return 1;
}

}  // namespace

std::string SongFileName(const char* uri) {
    const char* slash = std::strrchr(uri, '/');
    const char* base = slash != nullptr ? slash + 1 : uri;
    // A '?' starts a subtune number or a query, never part of a song's name.
    const char* end = std::strchr(base, '?');
    return std::string(str_decode_percent(base, end != nullptr ? static_cast<int>(end - base) : -1));
}

int LoadSong(trelmo_engine* engine, const char* uri, VFSFile& file, const LoadRequest& request,
             std::string& reason) {
    if (std::strncmp(uri, "file://", 7) == 0) {
        StringBuf path = uri_to_filename(uri);
        if (path) return trelmo_load_file(engine, path);
    }
    // is_our_file has read the first bytes; a stream that cannot seek back cannot be played.
    if (!file || (file.ftell() != 0 && file.fseek(0, VFS_SEEK_SET) != 0)) return TRELMO_ERROR_OPEN;
    Reading reading{Clock::now() + std::chrono::seconds(kLoadSeconds), request.stop, TRELMO_OK,
                    std::string()};
    Index<char> song;
    int status = ReadAtMost(file, TRELMO_MAX_SONG_BYTES, song, reading, "the song");
    if (status == TRELMO_OK && song.len() == 0) status = TRELMO_ERROR_READ;
    if (status != TRELMO_OK) {
        reason = reading.reason;
        return status;
    }
    CompanionFolder companions{std::string(), false, Index<String>(), TakeKept(uri), reading};
    const char* slash = std::strrchr(uri, '/');
    companions.folder.assign(uri, slash != nullptr ? static_cast<size_t>(slash - uri + 1) : 0);
    status = trelmo_load_memory(engine, song.begin(), static_cast<size_t>(song.len()),
                                SongFileName(uri).c_str(), SupplyCompanion, &companions);
    // A companion file that could not be read whole makes the song as damaged as a short song.
    if (status == TRELMO_OK && reading.status != TRELMO_OK) {
        trelmo_unload(engine);
        status = reading.status;
    }
    reason = reading.reason;
    if (status == TRELMO_OK && request.keepFiles) Keep(uri, std::move(companions.fetched));
    return status;
}

int ReadWhole(VFSFile& file, int64_t limit, Index<char>& bytes, const LoadRequest& request,
              std::string& reason) {
    if (!file || (file.ftell() != 0 && file.fseek(0, VFS_SEEK_SET) != 0)) return TRELMO_ERROR_OPEN;
    Reading reading{Clock::now() + std::chrono::seconds(kLoadSeconds), request.stop, TRELMO_OK,
                    std::string()};
    const int status = ReadAtMost(file, limit, bytes, reading, "the file");
    reason = reading.reason;
    return status;
}

}  // namespace trelmo::audacious
