// SPDX-License-Identifier: BSD-3-Clause
// Sound files written with libsndfile: WAV, FLAC, Ogg Vorbis or headerless raw PCM, 44100 Hz stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/song_tags.h"

struct sf_private_tag;

namespace trelmo::cli {

enum class FileFormat { Wav, Flac, Ogg, Raw };

// "wav", "flac", "ogg", "raw" -> format; false for anything else.
bool FormatFromName(const std::string& name, FileFormat& format);
// The format a file name's extension asks for; false when it names none.
bool FormatFromExtension(const std::string& path, FileFormat& format);
const char* Extension(FileFormat format);
// The extension's format disagrees with format: the name says one thing and the file holds another.
bool ExtensionDisagrees(const std::string& path, FileFormat format);

// Where a SoundFile's bytes go: the encoder reads, writes and seeks through these, so that every
// write is checked, the encoder's last writes at close included (sf_close reports none of them).
struct SoundFileIo {
    int fd = -1;
    bool seekable = false;
    int64_t base = 0;      // where the file starts in fd: standard output may already hold bytes
    int64_t position = 0;  // from base
    int64_t length = 0;    // the furthest byte written, from base
    int error = 0;         // the first write's errno that failed; 0 while all went through
};

class SoundFile {
  public:
    SoundFile() = default;
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Starts a file in format on fd, which stays open after Finish. False with Error() set; a WAV
    // file is refused on a pipe and on a descriptor opened for appending, where its header could
    // never be completed.
    bool Open(int fd, FileFormat format);
    // Writes the tags the format can hold (none in raw); call before the first Write.
    void SetTags(const SongTags& tags);
    // Appends frames of interleaved stereo. False with Error() set.
    bool Write(const int16_t* samples, size_t frames);
    // Completes the file (headers, the encoder's last data). False with Error() set.
    bool Finish();
    uint64_t Frames() const { return frames_; }
    // The bytes the file holds once finished.
    uint64_t Bytes() const { return static_cast<uint64_t>(io_.length); }
    const std::string& Error() const { return error_; }

  private:
    sf_private_tag* file_ = nullptr;
    SoundFileIo io_;
    uint64_t frames_ = 0;
    std::string error_;
};

}  // namespace trelmo::cli
