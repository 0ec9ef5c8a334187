// SPDX-License-Identifier: BSD-3-Clause
// Getting a song that Audacious names by URI into an engine, with its wave bank and ASIF
// instrument files from the same folder.
#pragma once

#include <trelmo/trelmo.h>

#include <cstdint>
#include <string>

class VFSFile;
template <class T>
class Index;

namespace trelmo::audacious {

// The song's file name from its URI, percent-decoded ("ECHO.MTP").
std::string SongFileName(const char* uri);

// What a load may take: reading over a stream stops when it is stopped (stop, polled between
// reads; null for none), when Audacious quits, or when the whole load has taken kLoadSeconds.
constexpr int kLoadSeconds = 20;
struct LoadRequest {
    bool (*stop)() = nullptr;
    // The companion files read are kept for the next load of the same URI: tags are read just
    // before a song plays, and a slow or endless server is then asked for each file once.
    bool keepFiles = false;
};

// Loads the song: a local file (file:// URI) straight from its path, so that the library finds
// its companion files beside it as it does for any path; any other URI through Audacious's VFS
// (file, already opened by Audacious), with the companion files read through the VFS from the
// same folder. Returns a trelmo_status; on failure reason may say more ("the stream ended after
// 15099 of 30198 bytes").
int LoadSong(trelmo_engine* engine, const char* uri, VFSFile& file, const LoadRequest& request,
             std::string& reason);

// All of file from its start, within limit bytes and as a load may take it (request): a trelmo_status,
// with reason saying more on failure. For a disk image or archive read through the VFS.
int ReadWhole(VFSFile& file, int64_t limit, Index<char>& bytes, const LoadRequest& request,
              std::string& reason);

}  // namespace trelmo::audacious
