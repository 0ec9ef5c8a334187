#include "cli/file_output.h"

#include <sndfile.h>

#include "trelmo/trelmo.h"

namespace trelmo::cli {

namespace {

int SndFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Wav: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        case FileFormat::Flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case FileFormat::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case FileFormat::Raw: return SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
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
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        error_ = sf_strerror(nullptr);
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
    if (sf_writef_short(file_, samples, count) != count) {
        error_ = sf_strerror(file_);
        return false;
    }
    frames_ += frames;
    return true;
}

bool SoundFile::Finish() {
    if (file_ == nullptr) return false;
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) {
        error_ = "the file could not be finished";
        return false;
    }
    return true;
}

bool FormatFromName(const std::string& name, FileFormat& format) {
    if (name == "wav") format = FileFormat::Wav;
    else if (name == "flac") format = FileFormat::Flac;
    else if (name == "ogg") format = FileFormat::Ogg;
    else if (name == "raw") format = FileFormat::Raw;
    else return false;
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
        case FileFormat::Wav: return "wav";
        case FileFormat::Flac: return "flac";
        case FileFormat::Ogg: return "ogg";
        case FileFormat::Raw: return "raw";
    }
    return "wav";
}

}  // namespace trelmo::cli
