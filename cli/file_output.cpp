// SPDX-License-Identifier: BSD-3-Clause
#include "cli/file_output.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trelmo/trelmo.h"

namespace trelmo::cli {

namespace {

int SndFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Wav:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        case FileFormat::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case FileFormat::Ogg:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case FileFormat::Raw:
            return SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

sf_count_t IoLength(void* user) {
    return static_cast<SoundFileIo*>(user)->length;
}

sf_count_t IoTell(void* user) {
    return static_cast<SoundFileIo*>(user)->position;
}

sf_count_t IoSeek(sf_count_t offset, int whence, void* user) {
    auto& io = *static_cast<SoundFileIo*>(user);
    const int64_t target = whence == SEEK_SET   ? offset
                           : whence == SEEK_CUR ? io.position + offset
                                                : io.length + offset;
    if (target == io.position) return io.position;
    if (!io.seekable || target < 0 || lseek(io.fd, io.base + target, SEEK_SET) < 0) return -1;
    io.position = target;
    return io.position;
}

sf_count_t IoRead(void* data, sf_count_t count, void* user) {
    auto& io = *static_cast<SoundFileIo*>(user);
    const ssize_t got = read(io.fd, data, static_cast<size_t>(count));
    if (got <= 0) return 0;
    io.position += got;
    return got;
}

// Writes everything or records why not: a full disk, a file-size limit, a reader that went away.
sf_count_t IoWrite(const void* data, sf_count_t count, void* user) {
    auto& io = *static_cast<SoundFileIo*>(user);
    const auto* bytes = static_cast<const char*>(data);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = write(io.fd, bytes + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (io.error == 0) io.error = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
    io.position += done;
    io.length = std::max(io.length, io.position);
    return done;
}

}  // namespace

SoundFile::~SoundFile() {
    if (file_ != nullptr) sf_close(file_);
}

bool SoundFile::Open(int fd, FileFormat format) {
    frames_ = 0;
    error_.clear();
    SF_INFO info{};
    info.samplerate = TRELMO_SAMPLE_RATE;
    info.channels = TRELMO_CHANNELS;
    info.format = SndFormat(format);
    io_ = SoundFileIo{};
    io_.fd = fd;
    const off_t start = lseek(fd, 0, SEEK_CUR);
    io_.seekable = start >= 0;
    io_.base = start >= 0 ? start : 0;
    const int flags = fcntl(fd, F_GETFL);
    if (format == FileFormat::Wav && (!io_.seekable || (flags >= 0 && (flags & O_APPEND) != 0))) {
        // The header's sizes are written last, back at the start: a pipe cannot go back, and a file
        // opened for appending would get them at its end.
        error_ = !io_.seekable
                     ? "WAV needs a file it can go back into, not a pipe; use --format raw, flac or ogg"
                     : "WAV cannot be appended to a file (>>); use --format raw, flac or ogg";
        return false;
    }
    SF_VIRTUAL_IO calls{IoLength, IoSeek, IoRead, IoWrite, IoTell};
    file_ = sf_open_virtual(&calls, SFM_WRITE, &info, &io_);
    if (file_ == nullptr) {
        error_ = io_.error != 0 ? std::strerror(io_.error) : sf_strerror(nullptr);
        return false;
    }
    return true;
}

void SoundFile::SetTags(const SongTags& tags) {
    if (file_ == nullptr) return;
    // Formats without a place for a tag refuse it; that is no error.
    sf_set_string(file_, SF_STR_TITLE, tags.title.c_str());
    sf_set_string(file_, SF_STR_COMMENT, tags.comment.c_str());
    sf_set_string(file_, SF_STR_SOFTWARE, tags.software.c_str());
}

bool SoundFile::Write(const int16_t* samples, size_t frames) {
    if (file_ == nullptr) return false;
    const auto count = static_cast<sf_count_t>(frames);
    if (sf_writef_short(file_, samples, count) != count || io_.error != 0) {
        error_ = io_.error != 0 ? std::strerror(io_.error) : sf_strerror(file_);
        return false;
    }
    frames_ += frames;
    return true;
}

bool SoundFile::Finish() {
    if (file_ == nullptr) return false;
    const int result = sf_close(file_);
    file_ = nullptr;
    // sf_close returns 0 even when the encoder's last writes failed; the writes themselves tell.
    if (io_.error != 0) {
        error_ = std::strerror(io_.error);
        return false;
    }
    if (result != 0) {
        error_ = "the file could not be finished";
        return false;
    }
    return true;
}

bool FormatFromName(const std::string& name, FileFormat& format) {
    if (name == "wav")
        format = FileFormat::Wav;
    else if (name == "flac")
        format = FileFormat::Flac;
    else if (name == "ogg")
        format = FileFormat::Ogg;
    else if (name == "raw")
        format = FileFormat::Raw;
    else
        return false;
    return true;
}

bool FormatFromExtension(const std::string& path, FileFormat& format) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (extension == "oga") extension = "ogg";
    if (extension == "pcm") extension = "raw";
    return FormatFromName(extension, format);
}

bool ExtensionDisagrees(const std::string& path, FileFormat format) {
    FileFormat named = format;
    return FormatFromExtension(path, named) && named != format;
}

const char* Extension(FileFormat format) {
    switch (format) {
        case FileFormat::Wav:
            return "wav";
        case FileFormat::Flac:
            return "flac";
        case FileFormat::Ogg:
            return "ogg";
        case FileFormat::Raw:
            return "raw";
    }
    return "wav";
}

}  // namespace trelmo::cli
