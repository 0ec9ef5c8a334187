#include "cli/file_output.h"

#include <sndfile.h>

#include <atomic>
#include <climits>

namespace trelmo::cli {

namespace {

int Descriptor = -1;
int SndFormat = 0;
SNDFILE* File = nullptr;
// Frames and the first error are written on the mixer thread and read by the waiting command.
std::atomic<uint64_t> Frames{0};
std::atomic<bool> Failed{false};
std::string Error;  // written before Failed is set, read after it is seen
int Paused = 0;

void Fail(const std::string& text) {
    if (Failed.load(std::memory_order_relaxed)) return;
    Error = text;
    Failed.store(true, std::memory_order_release);
}

int Open(int rate, int channels, int bits, int, int) {
    Frames.store(0);
    Failed.store(false);
    Error.clear();
    if (bits != 16 || channels < 1) {
        Fail("unexpected sample format");
        return -1;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SndFormat;
    File = sf_open_fd(Descriptor, SFM_WRITE, &info, SF_FALSE);
    if (File == nullptr) {
        Fail(sf_strerror(nullptr));
        return -1;
    }
    return 0;
}

void Close() {
    if (File == nullptr) return;
    if (sf_close(File) != 0) Fail("the file could not be finished");
    File = nullptr;
}

int Write(char* buffer, int bytes) {
    if (File == nullptr || bytes <= 0) return 0;
    const sf_count_t frames = bytes / 4;
    if (sf_writef_short(File, reinterpret_cast<short*>(buffer), frames) != frames) {
        Fail(sf_strerror(File));
        return -1;
    }
    Frames.fetch_add(static_cast<uint64_t>(frames), std::memory_order_release);
    return 0;
}

int CanWrite() { return INT_MAX; }
int IsPlaying() { return 0; }
int Pause(int pause) {
    const int previous = Paused;
    Paused = pause;
    return previous;
}
void SetVolume(int) {}
void SetPan(int) {}
void Flush(int) {}
int Milliseconds() { return static_cast<int>(Frames.load(std::memory_order_relaxed) * 1000 / 44100); }
void NoWindow(WindowHandle) {}
void Nothing() {}

char Description[] = "trelmo file writer";

Out_Module Module = {
    .version = 0x10,
    .description = Description,
    .id = 0,
    .hMainWindow = nullptr,
    .hDllInstance = nullptr,
    .Config = NoWindow,
    .About = NoWindow,
    .Init = Nothing,
    .Quit = Nothing,
    .Open = Open,
    .Close = Close,
    .Write = Write,
    .CanWrite = CanWrite,
    .IsPlaying = IsPlaying,
    .Pause = Pause,
    .SetVolume = SetVolume,
    .SetPan = SetPan,
    .Flush = Flush,
    .GetOutputTime = Milliseconds,
    .GetWrittenTime = Milliseconds,
};

}  // namespace

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

const char* Extension(FileFormat format) {
    switch (format) {
        case FileFormat::Wav: return "wav";
        case FileFormat::Flac: return "flac";
        case FileFormat::Ogg: return "ogg";
        case FileFormat::Raw: return "raw";
    }
    return "wav";
}

void PrepareFileOutput(int fd, FileFormat format) {
    Descriptor = fd;
    switch (format) {
        case FileFormat::Wav: SndFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_16; break;
        case FileFormat::Flac: SndFormat = SF_FORMAT_FLAC | SF_FORMAT_PCM_16; break;
        case FileFormat::Ogg: SndFormat = SF_FORMAT_OGG | SF_FORMAT_VORBIS; break;
        case FileFormat::Raw: SndFormat = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE; break;
    }
}

Out_Module* FileOutputModule() { return &Module; }

uint64_t FileFramesWritten() { return Frames.load(std::memory_order_acquire); }

std::string FileOutputError() { return Failed.load(std::memory_order_acquire) ? Error : std::string(); }

}  // namespace trelmo::cli
