// An output module that writes what the plug-in delivers to a sound file with libsndfile. It always
// has room and never plays anything, so the plug-in renders as fast as the machine allows.
#pragma once

#include <cstdint>
#include <string>

#include "host/winamp.h"

namespace trelmo::cli {

enum class FileFormat { Wav, Flac, Ogg, Raw };

// "wav", "flac", "ogg", "raw" -> format; false for anything else.
bool FormatFromName(const std::string& name, FileFormat& format);
// The format a file name's extension asks for; false when it names none.
bool FormatFromExtension(const std::string& path, FileFormat& format);
const char* Extension(FileFormat format);

// The next Open writes to fd (left open by Close) in format.
void PrepareFileOutput(int fd, FileFormat format);
Out_Module* FileOutputModule();

uint64_t FileFramesWritten();
// Empty while all is well; otherwise what went wrong (opening, writing or finishing the file).
std::string FileOutputError();

}  // namespace trelmo::cli
