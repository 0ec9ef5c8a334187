// Finding instrument and bank files by the names songs give them, on case-sensitive file systems too.
#pragma once

#include <string>

namespace trelmo {

// The folder part of path: everything up to and including the last '/' or '\' found from its last
// character back to its second (the first is never examined); empty when there is none.
std::string FolderOf(const std::string& path);

// The path of an existing file for the name: the name itself when it exists, otherwise the entry of
// its folder that matches the file part with ASCII letters compared without case (the one that sorts
// first byte by byte when several do). Empty when nothing matches.
std::string FindFileIgnoringCase(const std::string& path);

}  // namespace trelmo
