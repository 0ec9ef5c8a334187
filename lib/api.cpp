// SPDX-License-Identifier: BSD-3-Clause
// The C API's entry points for engines and songs: creating, loading, describing.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "instruments/find_file.h"
#include "lib/barrier.h"
#include "lib/handle.h"
#include "song/song_loader.h"

namespace trelmo::lib {

static_assert(TRELMO_MAX_SONG_BYTES == SongFileLimit);
static_assert(TRELMO_MAX_COMPANION_BYTES == WaveBankFileLimit && TRELMO_MAX_COMPANION_BYTES == AsifFileLimit);

namespace {

void ForwardMessage(void* context, const char* text) {
    auto* handle = static_cast<trelmo_engine*>(context);
    if (handle->messageCallback != nullptr) handle->messageCallback(handle->messageUser, text);
}

// The caller's companion-file callback while a song from memory loads.
struct MemoryFiles {
    trelmo_file_callback callback;
    void* user;
};

bool ReadFromCaller(void* context, const char* name, const void** data, size_t* size) {
    const auto* files = static_cast<const MemoryFiles*>(context);
    return files->callback != nullptr && files->callback(files->user, name, data, size) != 0;
}

// The song's file name without its folder.
std::string TitleOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Marks the engine as loading for as long as it lives, however the load ends.
class LoadingScope {
  public:
    explicit LoadingScope(trelmo_engine& handle) : handle_(handle) { handle_.loading = true; }
    ~LoadingScope() { handle_.loading = false; }
    LoadingScope(const LoadingScope&) = delete;
    LoadingScope& operator=(const LoadingScope&) = delete;

  private:
    trelmo_engine& handle_;
};

// Every song starts from the state of a newly created engine, whatever the engine played before.
int Load(trelmo_engine& handle, FileBlock file, SongFiles files) {
    Engine& engine = handle.engine;
    // The block is the caller's to release until the song holds it, whatever throws before then.
    struct Pending {
        FileBlock& block;
        bool held = true;
        ~Pending() {
            if (held) ReleaseFileBlock(block);
        }
    } pending{file};
    handle.loadProblem.clear();
    files.bankPath = handle.bankFile;
    files.instrumentsFolder = handle.instrumentsFolder;
    ReleaseSong(engine);
    for (WaveSlot& slot : engine.WaveTable) slot = WaveSlot{};
    ClearPlayState(engine);
    engine.SoundSmith = SoundSmithLayout{};
    engine.Ntg = NtgSongFacts{};
    engine.origins = InstrumentOrigins{};
    handle.minimumPasses = 0;
    const std::string title = TitleOf(files.songPath);
    // The song owns its block from here on, whatever throws.
    pending.held = false;
    {
        // The loader calls back into the caller: until the song is described, the engine has none.
        LoadingScope loading(handle);
        LoadSongFrom(engine, file, files);
        // The files of a song from memory are only lent for the load.
        engine.files = SongFiles{files.songPath};
        if (engine.SongKind != NoSong && engine.origins.bankProblem.empty()) DescribeSong(handle, title);
    }
    if (engine.SongKind == NoSong) {
        trelmo_unload(&handle);
        return Fail(&handle, TRELMO_ERROR_NOT_A_SONG, "%s: not a SoundSmith or NoiseTracker GS song",
                    title.c_str());
    }
    if (!engine.origins.bankProblem.empty()) {
        std::string problem = handle.bankFile + ": " + engine.origins.bankProblem;
        trelmo_unload(&handle);
        handle.loadProblem = std::move(problem);
        return Fail(&handle, TRELMO_ERROR_BANK, "wave bank %s", handle.loadProblem.c_str());
    }
    Rewind(handle);
    const std::string& warnings = handle.description.metadata[Warnings];
    if (warnings.empty()) {
        ClearError(handle);
    } else {
        Fail(&handle, TRELMO_OK, "%s: %s", title.c_str(), warnings.c_str());
    }
    return TRELMO_OK;
}

// The status for a file that could not be read, from the reason the reader kept (not from a second
// look at the path, which may have changed meanwhile); errno gets the system's reason, or 0.
int ReadError(int error, int& reason) {
    reason = error > 0 ? error : 0;
    switch (error) {
        case FileIsFolder:
        case FileIsFifo:
        case FileIsDevice:
        case FileIsSocket:
            return TRELMO_ERROR_NOT_A_FILE;
        case FileTooLarge:
            return TRELMO_ERROR_TOO_LARGE;
        case FileShrank:
            return TRELMO_ERROR_READ;
        case EIO:
            return TRELMO_ERROR_READ;
        case ENOMEM:
            return TRELMO_ERROR_MEMORY;
        case ENAMETOOLONG:
            return TRELMO_ERROR_PATH;
        default:
            return TRELMO_ERROR_OPEN;
    }
}

}  // namespace

int Fail(trelmo_engine* handle, int status, const char* format, ...) noexcept {
    if (handle == nullptr) return status;
    char* text = handle->lastError;
    const size_t size = sizeof handle->lastError;
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, size, format, arguments);
    va_end(arguments);
    if (length < 0) {
        text[0] = '\0';
    } else if (static_cast<size_t>(length) >= size) {
        // Cut where a character begins, so that the message stays UTF-8, and say it was cut.
        size_t end = size - 4;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        std::memcpy(text + end, "...", 4);
    }
    return status;
}

const char* SystemReason(int error, char* buffer, size_t size) noexcept {
    const char* reason = FileErrorText(error);
    std::snprintf(buffer, size, "%s", reason);
    if (error > 0 && buffer[0] != '\0' && buffer[1] != '\0' &&
        std::islower(static_cast<unsigned char>(buffer[1]))) {
        buffer[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(buffer[0])));
    }
    return buffer;
}

}  // namespace trelmo::lib

using trelmo::lib::Fail;
using trelmo::lib::Guarded;

extern "C" {

#define TRELMO_TEXT(x) #x
#define TRELMO_VERSION_TEXT(a, b, c) TRELMO_TEXT(a) "." TRELMO_TEXT(b) "." TRELMO_TEXT(c)

const char* trelmo_version(void) {
    return TRELMO_VERSION_TEXT(TRELMO_VERSION_MAJOR, TRELMO_VERSION_MINOR, TRELMO_VERSION_PATCH);
}

#ifdef TRELMO_BUILD_VERSION
static_assert(std::string_view(TRELMO_BUILD_VERSION) ==
                  TRELMO_VERSION_TEXT(TRELMO_VERSION_MAJOR, TRELMO_VERSION_MINOR, TRELMO_VERSION_PATCH),
              "the header's version is not the build's (CMakeLists.txt project version)");
#endif

uint32_t trelmo_version_number(void) {
    return TRELMO_VERSION_NUMBER;
}

const char* trelmo_status_message(int status) {
    switch (status) {
        case TRELMO_OK:
            return "no error";
        case TRELMO_ERROR_ARGUMENT:
            return "invalid argument";
        case TRELMO_ERROR_MEMORY:
            return "out of memory";
        case TRELMO_ERROR_OPEN:
            return "cannot open the file";
        case TRELMO_ERROR_READ:
            return "cannot read the file";
        case TRELMO_ERROR_NOT_A_SONG:
            return "not a SoundSmith or NoiseTracker GS song";
        case TRELMO_ERROR_NO_SONG:
            return "no song is loaded";
        case TRELMO_ERROR_TOO_LARGE:
            return "the file is too large to be a song";
        case TRELMO_ERROR_NOT_A_FILE:
            return "not a regular file";
        case TRELMO_ERROR_PATH:
            return "the path is too long";
        case TRELMO_ERROR_BANK:
            return "the wave bank chosen cannot be used";
        case TRELMO_ERROR_INTERNAL:
            return "internal error";
        case TRELMO_ERROR_NOT_A_CONTAINER:
            return "not a disk image or an archive";
        case TRELMO_ERROR_CONTAINER:
            return "the disk image or archive cannot be read";
        default:
            return "unknown error";
    }
}

trelmo_engine* trelmo_create(void) {
    auto* handle = new (std::nothrow) trelmo_engine();
    if (handle == nullptr) return nullptr;
    handle->engine.messages = trelmo::MessageSink{trelmo::lib::ForwardMessage, handle};
    return handle;
}

void trelmo_destroy(trelmo_engine* handle) {
    delete handle;
}

const char* trelmo_last_error(const trelmo_engine* handle) {
    return handle == nullptr ? "" : handle->lastError;
}

void trelmo_set_message_callback(trelmo_engine* handle, trelmo_message_callback callback, void* user) {
    if (handle == nullptr) return;
    handle->messageCallback = callback;
    handle->messageUser = user;
}

int trelmo_load_file(trelmo_engine* handle, const char* path) {
    // A load from inside a load's own callbacks is refused: the engine is not there to load into.
    if (handle == nullptr || handle->loading) return TRELMO_ERROR_ARGUMENT;
    handle->loadProblem.clear();
    if (path == nullptr) return Fail(handle, TRELMO_ERROR_ARGUMENT, "no path given");
    return Guarded(
        handle, int{TRELMO_ERROR_MEMORY},
        [&] {
            const size_t length = std::strlen(path);
            if (length > trelmo::MaxPathLength) {
                trelmo_unload(handle);
                return Fail(handle, TRELMO_ERROR_PATH,
                            "cannot open %.64s...: the path is longer than the system allows", path);
            }
            std::memcpy(handle->engine.SongPath, path, length + 1);
            trelmo::SongFiles files{path};
            files.currentFolder = handle->currentFolderBank;
            trelmo::FileBlock file = trelmo::ReadWholeFile(path, trelmo::SongFileLimit);
            if (!file.ok) {
                trelmo_unload(handle);
                int reason = 0;
                const int status = trelmo::lib::ReadError(file.error, reason);
                char words[256];
                Fail(handle, status, "cannot %s %s: %s", status == TRELMO_ERROR_READ ? "read" : "open", path,
                     trelmo::lib::SystemReason(file.error, words, sizeof words));
                errno = reason;
                return status;
            }
            return trelmo::lib::Load(*handle, file, std::move(files));
        },
        [&] { trelmo_unload(handle); });
}

int trelmo_load_memory(trelmo_engine* handle, const void* data, size_t size, const char* name,
                       trelmo_file_callback files, void* user) {
    // A load from inside a load's own callbacks is refused: the engine is not there to load into.
    if (handle == nullptr || handle->loading) return TRELMO_ERROR_ARGUMENT;
    handle->loadProblem.clear();
    if (data == nullptr && size > 0) return Fail(handle, TRELMO_ERROR_ARGUMENT, "no song bytes given");
    if (name == nullptr) name = "";
    if (size > trelmo::SongFileLimit) {
        trelmo_unload(handle);
        return Fail(handle, TRELMO_ERROR_TOO_LARGE, "%s: %s bytes are far more than any song", name,
                    std::to_string(size).c_str());
    }
    return Guarded(
        handle, int{TRELMO_ERROR_MEMORY},
        [&] {
            trelmo::lib::MemoryFiles lent{files, user};
            trelmo::SongFiles songFiles{name, trelmo::lib::ReadFromCaller, &lent};
            auto* copy = static_cast<uint8_t*>(std::malloc(size + 1));
            if (copy == nullptr) {
                trelmo_unload(handle);
                return Fail(handle, TRELMO_ERROR_MEMORY, "%s: out of memory", name);
            }
            if (size > 0) std::memcpy(copy, data, size);
            handle->engine.SongPath[0] = '\0';
            return trelmo::lib::Load(*handle, trelmo::FileBlock{copy, size, true}, std::move(songFiles));
        },
        [&] { trelmo_unload(handle); });
}

void trelmo_unload(trelmo_engine* handle) {
    // A song being loaded is not the caller's to release from a callback.
    if (handle == nullptr || handle->loading) return;
    trelmo::ReleaseSong(handle->engine);
    // What the last song's load found (bank and instrument file names) goes with it.
    handle->engine.origins = trelmo::InstrumentOrigins{};
    handle->engine.files = trelmo::SongFiles{};
    handle->description = trelmo::lib::Description{};
    handle->passFrames = 0;
    handle->passTicks = 0;
    handle->minimumPasses = 0;
    handle->playhead = trelmo::lib::Playhead{};
}

static int SetPath(trelmo_engine* handle, const char* path, std::string trelmo_engine::*field) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (path != nullptr && std::strlen(path) > trelmo::MaxPathLength)
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "%.64s...: the path is longer than the system allows",
                    path);
    return Guarded(handle, int{TRELMO_ERROR_MEMORY}, [&] {
        handle->*field = path != nullptr ? path : "";
        return int{TRELMO_OK};
    });
}

int trelmo_set_bank_file(trelmo_engine* handle, const char* path) {
    return SetPath(handle, path, &trelmo_engine::bankFile);
}

int trelmo_set_instruments_folder(trelmo_engine* handle, const char* path) {
    return SetPath(handle, path, &trelmo_engine::instrumentsFolder);
}

const char* trelmo_get_bank_file(const trelmo_engine* handle) {
    return handle != nullptr ? handle->bankFile.c_str() : "";
}

const char* trelmo_get_instruments_folder(const trelmo_engine* handle) {
    return handle != nullptr ? handle->instrumentsFolder.c_str() : "";
}

const char* trelmo_load_problem(trelmo_engine* handle) {
    return handle != nullptr ? handle->loadProblem.c_str() : "";
}

int trelmo_match_file_name(const char* wanted, const char* const* names, size_t count) {
    if (wanted == nullptr || names == nullptr) return -1;
    trelmo::FileNameChoice choice(wanted);
    int index = -1;
    for (size_t i = 0; i < count && i <= INT32_MAX; ++i) {
        if (names[i] != nullptr && choice.Better(names[i])) {
            choice.Take(names[i]);
            index = static_cast<int>(i);
        }
    }
    return index;
}

int trelmo_detect(const void* data, size_t size) {
    if (data == nullptr) return 0;
    return trelmo::DetectSongKind(static_cast<const uint8_t*>(data), size) != trelmo::NoSong ? 1 : 0;
}

}  // extern "C"
