// Runs the built trelmo binary the way a user's shell would, and collects what it says.
#pragma once

#include <string>
#include <vector>

namespace trelmo::test {

struct TrelmoRun {
    int status = -1;      // exit status, or 128 + signal
    std::string out;      // standard output, bytes as written
    std::string err;      // standard error
};

// trelmo with args, in folder (when not empty), with extra environment entries "NAME=value" and
// standard input from /dev/null.
TrelmoRun RunTrelmo(const std::vector<std::string>& args, const std::string& folder = "",
                    const std::vector<std::string>& environment = {});

// The lines of text, without their line breaks.
std::vector<std::string> Lines(const std::string& text);

// The entries of a folder, hidden ones included, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

}  // namespace trelmo::test
