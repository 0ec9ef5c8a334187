// Finding instrument and bank files by the names songs give them, on case-sensitive file systems too.
#pragma once

#include <string>

namespace trelmo {

// The folder part of path: everything up to and including the last '/' or '\' found from its last
// character back to its second (the first is never examined); empty when there is none.
std::string FolderOf(const std::string& path);

// Whether a name that a song gives one of its files can stand for a file in the song's own folder.
// The name ends at its first NUL, as the loader reads it. Names with a '/' or '\\' and the names
// "." and ".." name no file: IIgs file names never hold a separator, and such a name would reach
// files outside the song's folder, chosen by whoever wrote the song.
bool IsPlainFileName(const std::string& name);

// The path of an existing file for the name: the name itself when it exists, otherwise the entry of
// its folder that matches the file part with ASCII letters compared without case (the one that sorts
// first byte by byte when several do). Empty when nothing matches.
std::string FindFileIgnoringCase(const std::string& path);

}  // namespace trelmo
