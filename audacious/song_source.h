// Getting a song that Audacious names by URI into an engine, with its wave bank and ASIF
// instrument files from the same folder.
#pragma once

#include <string>

#include <trelmo/trelmo.h>

class VFSFile;

namespace trelmo::audacious {

// The song's file name from its URI, percent-decoded ("ECHO.MTP").
std::string SongFileName(const char *uri);

// Loads the song: a local file (file:// URI) straight from its path, so that the library finds
// its companion files beside it as it does for any path; any other URI through Audacious's VFS
// (file, already opened by Audacious), with the companion files read through the VFS from the
// same folder. Returns a trelmo_status.
int LoadSong(trelmo_engine *engine, const char *uri, VFSFile &file);

}  // namespace trelmo::audacious
