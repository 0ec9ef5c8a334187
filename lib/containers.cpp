// SPDX-License-Identifier: BSD-3-Clause
// The C API's disk images and archives: opening one, listing its songs, loading a song with the
// files of its own folder in the container as its companions.
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "containers/open_container.h"
#include "instruments/read_whole_file.h"
#include "lib/handle.h"
#include "trelmo/trelmo.h"

struct trelmo_container {
    std::unique_ptr<trelmo::containers::OpenedContainer> opened;
    std::string name;                  // the container's path or name, for messages
    std::vector<size_t> songs;         // the songs' places among the container's files
    std::vector<std::string> paths;    // each song's inner path as UTF-8
    std::vector<std::string> skipped;  // as UTF-8
    std::string error;
};

namespace trelmo::lib {

namespace {

// Names in containers are bytes: kept as they are when they are UTF-8 already (zip files), else
// each byte above 0x7F is taken as Latin-1, so that every name is valid UTF-8 and stays distinct.
std::string AsUtf8(const std::string& bytes) {
    bool valid = true;
    for (size_t i = 0; i < bytes.size() && valid;) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const size_t follow = c < 0x80                          ? 0
                              : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 1
                              : (c & 0xF0) == 0xE0              ? 2
                              : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 3
                                                                : 4;
        if (follow == 4 || i + follow >= bytes.size() + (follow == 0 ? 1 : 0)) valid = follow == 0;
        for (size_t k = 1; k <= follow && valid; ++k) {
            valid = i + k < bytes.size() && (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
        }
        i += follow + 1;
    }
    if (valid) return bytes;
    std::string out;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            out += byte;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int Fail(trelmo_container& handle, int status, const std::string& reason) {
    handle.error = handle.name + ": " + reason;
    return status;
}

int Open(trelmo_container& handle, std::vector<uint8_t> bytes) {
    std::string error;
    handle.opened = containers::OpenContainer(std::move(bytes), handle.name, error);
    if (handle.opened == nullptr) {
        const bool none = error.rfind("not a disk image", 0) == 0;
        return Fail(handle, none ? TRELMO_ERROR_NOT_A_CONTAINER : TRELMO_ERROR_CONTAINER, error);
    }
    const auto& files = handle.opened->Files();
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].songKind < 0) continue;
        handle.songs.push_back(i);
        handle.paths.push_back(AsUtf8(files[i].path));
    }
    for (const std::string& skipped : handle.opened->Skipped()) handle.skipped.push_back(AsUtf8(skipped));
    return TRELMO_OK;
}

void Close(trelmo_container& handle) {
    handle.opened.reset();
    handle.songs.clear();
    handle.paths.clear();
    handle.skipped.clear();
    handle.error.clear();
}

// A song's companion files, served by name from its folder in the container while it loads.
struct Companions {
    const containers::OpenedContainer* opened;
    size_t song;
    std::vector<uint8_t> bytes;  // the file handed over last
};

int ReadCompanion(void* user, const char* name, const void** data, size_t* size) {
    auto& companions = *static_cast<Companions*>(user);
    const size_t file = companions.opened->FindBeside(companions.song, name);
    std::string error;
    if (file == companions.song || file >= companions.opened->Files().size() ||
        !companions.opened->Read(file, TRELMO_MAX_COMPANION_BYTES, companions.bytes, error)) {
        return 0;
    }
    *data = companions.bytes.data();
    *size = companions.bytes.size();
    return 1;
}

bool LowerEqual(const std::string& a, const char* b) {
    const size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// No exception leaves the library: what cannot be had is TRELMO_ERROR_MEMORY, anything else
// unforeseen TRELMO_ERROR_INTERNAL. The message is kept only if it can be had.
void Note(trelmo_container* handle, const char* reason) noexcept {
    if (handle == nullptr) return;
    try {
        handle->error = handle->name + ": " + reason;
    } catch (...) {
        handle->error.clear();
    }
}

template <typename Call>
int Guarded(trelmo_container* handle, Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        Note(handle, "out of memory");
        return TRELMO_ERROR_MEMORY;
    } catch (const std::exception& failure) {
        Note(handle, failure.what());
        return TRELMO_ERROR_CONTAINER;
    } catch (...) {
        Note(handle, "internal error");
        return TRELMO_ERROR_INTERNAL;
    }
}

}  // namespace

}  // namespace trelmo::lib

extern "C" {

trelmo_container* trelmo_container_create(void) {
    return new (std::nothrow) trelmo_container();
}

void trelmo_container_destroy(trelmo_container* container) {
    delete container;
}

int trelmo_container_open_file(trelmo_container* container, const char* path) {
    if (container == nullptr || path == nullptr) return TRELMO_ERROR_ARGUMENT;
    return trelmo::lib::Guarded(container, [&] {
        trelmo::lib::Close(*container);
        container->name = path;
        std::vector<uint8_t> bytes;
        const int error = trelmo::ReadWholeFileInto(path, trelmo::containers::MaxContainerBytes, bytes);
        if (error != 0) {
            const int status = error == trelmo::FileTooLarge                 ? TRELMO_ERROR_TOO_LARGE
                               : error < 0 && error != trelmo::FileShrank    ? TRELMO_ERROR_NOT_A_FILE
                               : error == trelmo::FileShrank || error == EIO ? TRELMO_ERROR_READ
                                                                             : TRELMO_ERROR_OPEN;
            return trelmo::lib::Fail(*container, status, trelmo::FileErrorText(error));
        }
        return trelmo::lib::Open(*container, std::move(bytes));
    });
}

int trelmo_container_open_memory(trelmo_container* container, const void* data, size_t size,
                                 const char* name) {
    if (container == nullptr || (data == nullptr && size > 0)) return TRELMO_ERROR_ARGUMENT;
    return trelmo::lib::Guarded(container, [&] {
        trelmo::lib::Close(*container);
        container->name = name != nullptr ? name : "";
        if (size > trelmo::containers::MaxContainerBytes) {
            return trelmo::lib::Fail(*container, TRELMO_ERROR_TOO_LARGE, "larger than any container may be");
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        std::vector<uint8_t> copy;
        trelmo::ReserveLargeBlock(copy, size);
        copy.assign(bytes, bytes + size);
        return trelmo::lib::Open(*container, std::move(copy));
    });
}

const char* trelmo_container_last_error(const trelmo_container* container) {
    return container != nullptr ? container->error.c_str() : "";
}

int trelmo_container_song_count(const trelmo_container* container) {
    return container != nullptr ? static_cast<int>(container->songs.size()) : 0;
}

int trelmo_container_get_song(const trelmo_container* container, int index, trelmo_container_song* song) {
    if (container == nullptr || !trelmo::lib::RecordFits(song, sizeof(trelmo_container_song)) || index < 0 ||
        static_cast<size_t>(index) >= container->songs.size()) {
        return TRELMO_ERROR_ARGUMENT;
    }
    const auto& file = container->opened->Files()[container->songs[static_cast<size_t>(index)]];
    trelmo_container_song facts{};
    facts.path = container->paths[static_cast<size_t>(index)].c_str();
    facts.kind = file.songKind;
    facts.bytes = file.size;
    facts.file_type = file.fileType;
    facts.aux_type = file.auxType;
    trelmo::lib::CopyRecord(song, facts);
    return TRELMO_OK;
}

int trelmo_container_find_song(const trelmo_container* container, const char* path) {
    if (container == nullptr || path == nullptr) return -1;
    int loose = -1;
    for (size_t i = 0; i < container->paths.size(); ++i) {
        if (container->paths[i] == path) return static_cast<int>(i);
        if (loose < 0 && trelmo::lib::LowerEqual(container->paths[i], path)) loose = static_cast<int>(i);
    }
    return loose;
}

int trelmo_container_skipped_count(const trelmo_container* container) {
    return container != nullptr ? static_cast<int>(container->skipped.size()) : 0;
}

const char* trelmo_container_skipped(const trelmo_container* container, int index) {
    if (container == nullptr || index < 0 || static_cast<size_t>(index) >= container->skipped.size())
        return nullptr;
    return container->skipped[static_cast<size_t>(index)].c_str();
}

int trelmo_container_load(const trelmo_container* container, int index, trelmo_engine* engine) {
    if (container == nullptr || engine == nullptr || index < 0 ||
        static_cast<size_t>(index) >= container->songs.size()) {
        return TRELMO_ERROR_ARGUMENT;
    }
    auto* handle = const_cast<trelmo_container*>(container);
    return trelmo::lib::Guarded(handle, [&] {
        const size_t file = container->songs[static_cast<size_t>(index)];
        const auto& opened = *container->opened;
        trelmo::lib::Companions companions{&opened, file, {}};
        std::vector<uint8_t> song;
        std::string error;
        if (!opened.Read(file, TRELMO_MAX_SONG_BYTES, song, error)) {
            return trelmo::lib::Fail(*handle, TRELMO_ERROR_CONTAINER,
                                     opened.Files()[file].path + ": " + error);
        }
        const std::string& path = opened.Files()[file].path;
        const std::string name = path.substr(opened.Files()[file].nameAt);
        const int status = trelmo_load_memory(engine, song.data(), song.size(), name.c_str(),
                                              trelmo::lib::ReadCompanion, &companions);
        // The song tells where it came from; a failure to say so leaves the song as it loaded.
        if (status == TRELMO_OK) {
            try {
                engine->description.metadata[trelmo::lib::Container] = trelmo::lib::AsUtf8(container->name);
            } catch (...) {
                engine->description.metadata[trelmo::lib::Container].clear();
            }
        }
        return status;
    });
}

}  // extern "C"
