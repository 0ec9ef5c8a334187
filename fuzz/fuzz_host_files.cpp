// SPDX-License-Identifier: BSD-3-Clause
// IsOurFile and GetFileInfo, called through the module record the plug-in exports, on arbitrary paths
// and contents. The input is a path (up to its first zero byte) followed by a file's contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/plugin.h"
#include "host/winamp.h"
#include "song/song_loader.h"

using namespace trelmo;

extern "C" In_Module* winampGetInModule2();

namespace {

In_Module* Plugin = nullptr;

bool IsSuffixOf(const char* tail, const std::string& whole) {
    const size_t n = std::strlen(tail);
    return n <= whole.size() && whole.compare(whole.size() - n, n, tail) == 0;
}

void CheckTitle(const char* file, const std::string& expectedSource) {
    std::vector<char> title(MaxPathLength + 64, '\x7f');
    int length = 0;
    Plugin->GetFileInfo(file, title.data(), &length);
    fuzz::Require(length == -1000, "a song's length is unknown");
    const void* end = std::memchr(title.data(), 0, title.size());
    fuzz::Require(end != nullptr, "the title ends with a zero byte");
    fuzz::Require(std::strlen(title.data()) <= MaxPathLength, "the title is at most a path long");
    // A title too long for the limit is cut, so it need not reach the path's end; it still comes from it.
    if (expectedSource.size() <= MaxPathLength) {
        fuzz::Require(IsSuffixOf(title.data(), expectedSource), "the title is the path or its end");
    } else {
        fuzz::Require(expectedSource.find(title.data()) != std::string::npos,
                      "the title comes from the path");
    }
    Plugin->GetFileInfo(file, nullptr, nullptr);
    Plugin->GetFileInfo(file, nullptr, &length);
    Plugin->GetFileInfo(file, title.data(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Plugin = winampGetInModule2();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);
    const size_t pathLength = strnlen(text, size);
    const std::string path(text, pathLength);
    const uint8_t* content = pathLength < size ? data + pathLength + 1 : data + size;
    const size_t contentSize = static_cast<size_t>(data + size - content);

    // Any path at all as the file whose title is asked for; nothing is opened.
    CheckTitle(path.c_str(), path);
    CheckTitle(nullptr, std::string(CurrentFilePath));
    CheckTitle("", std::string(CurrentFilePath));

    // The contents decide, whatever the name.
    const std::string file = fuzz::WriteWorkFile("anything.mtp", content, contentSize);
    const int16_t kind = DetectSongKind(content, contentSize);
    fuzz::Require(
        Plugin->IsOurFile(file.c_str()) == (kind == SoundSmithSong || kind == NoiseTrackerSong ? 1 : 0),
        "IsOurFile answers by the kind of the contents");

    // The path as a name inside the work folder: missing files, the folder itself, its parent.
    std::string name;
    for (char c : path.substr(0, 200)) name += (c == '/') ? '_' : c;
    const std::string inside = fuzz::WorkDir() + "/" + name;
    const int ours = Plugin->IsOurFile(inside.c_str());
    fuzz::Require(ours == 0 || ours == 1, "IsOurFile answers 0 or 1");
    fuzz::Require(Plugin->IsOurFile(fuzz::WorkDir().c_str()) == 0, "a folder is not a song");
    return 0;
}
