// SPDX-License-Identifier: BSD-3-Clause
// Where a song's companion files (its wave bank, a shared DOC.DATA, its ASIF instruments) come
// from: the song's folder on disk, or a caller that hands the bytes over by name.
#pragma once

#include <cstddef>
#include <string>

#include "instruments/read_whole_file.h"

namespace trelmo {

// Hands over the companion file called name (matched without regard to case): true with the
// bytes, false when there is none. The bytes need only last until the next call.
using CompanionReader = bool (*)(void* context, const char* name, const void** data, size_t* size);

enum class FilePlace {
    BesideSong,         // in the song's own folder
    InstrumentsFolder,  // in the folder the caller named for instruments (on disk)
    CurrentFolder,      // in the process's current folder (a shared DOC.DATA only; on disk only)
};

struct SongFiles {
    std::string songPath;              // the song's path, or its name when it came from memory
    CompanionReader reader = nullptr;  // null: the files are on disk beside songPath
    void* context = nullptr;
    // Chosen by the caller: a wave bank used before any lookup, and a folder searched after the
    // song's own; empty when not chosen.
    std::string bankPath{};
    std::string instrumentsFolder{};
    bool currentFolder = true;  // a shared DOC.DATA may come from the current folder too
};

// The song's folder, ending in its separator; empty for a song from memory or without a folder.
std::string SongFolder(const SongFiles& files);

// The song's file name as the IIgs knew it: without its folder and without a ProDOS type suffix.
std::string SongFileName(const SongFiles& files);

// The places a companion file is looked for, in order: the song's folder, then the caller's.
int CompanionPlaces(const SongFiles& files, FilePlace places[2]);

// True when files can have a copy of name in the current folder that differs from the one beside
// the song (on disk, for a song that names a folder).
bool HasSeparateCurrentFolder(const SongFiles& files);

// Reads the companion file name from place, refusing one larger than limit bytes. found receives the
// path it was read from (on disk) or the name (from a reader); the block is not ok when there is no
// such file or it cannot be read, and its error then says why (0: there is no such file). A name
// that is not a plain file name (IsPlainFileName) names no file.
FileBlock ReadCompanion(const SongFiles& files, const std::string& name, FilePlace place, size_t limit,
                        std::string& found);

// How a message names the companion file name: its path in place.
std::string CompanionPath(const SongFiles& files, const std::string& name,
                          FilePlace place = FilePlace::BesideSong);

}  // namespace trelmo
