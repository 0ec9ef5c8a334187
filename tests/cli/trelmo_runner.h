// SPDX-License-Identifier: BSD-3-Clause
// Runs the built trelmo binary the way a user's shell would, and collects what it says.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::test {

struct TrelmoRun {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // standard output, bytes as written
    std::string err;  // standard error
};

// trelmo with args, in folder (when not empty), with extra environment entries "NAME=value" and
// standard input from /dev/null.
TrelmoRun RunTrelmo(const std::vector<std::string>& args, const std::string& folder = "",
                    const std::vector<std::string>& environment = {});

// For runs that open a sound device: ALSA unloads its PulseAudio plug-in with blocks of its own still
// held, which the sanitizer build's leak check would count against trelmo. Its other checks stay on.
inline const std::string IgnoreSoundSystemLeaks = "ASAN_OPTIONS=detect_leaks=0";

// The lines of text, without their line breaks.
std::vector<std::string> Lines(const std::string& text);

// The entries of a folder, hidden ones included, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

// A sound file trelmo wrote, as 16-bit samples; not ok when it cannot be read whole.
struct SoundFile {
    SF_INFO info{};
    std::vector<int16_t> pcm;
    bool ok = false;
};
SoundFile ReadSound(const std::string& path);

}  // namespace trelmo::test
