// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/song_files.h"

#include <cstdlib>
#include <cstring>

#include "instruments/find_file.h"

namespace trelmo {

std::string SongFolder(const SongFiles& files) {
    return FolderOf(files.songPath);
}

std::string SongFileName(const SongFiles& files) {
    return WithoutTypeSuffix(files.songPath.substr(SongFolder(files).size()));
}

int CompanionPlaces(const SongFiles& files, FilePlace places[2]) {
    places[0] = FilePlace::BesideSong;
    places[1] = FilePlace::InstrumentsFolder;
    return files.instrumentsFolder.empty() ? 1 : 2;
}

namespace {

std::string FolderPath(const std::string& folder) {
    if (folder.empty()) return folder;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder : folder + '/';
}

std::string PlaceFolder(const SongFiles& files, FilePlace place) {
    switch (place) {
        case FilePlace::BesideSong:
            return SongFolder(files);
        case FilePlace::InstrumentsFolder:
            return FolderPath(files.instrumentsFolder);
        case FilePlace::CurrentFolder:
            break;
    }
    return std::string();
}

}  // namespace

bool HasSeparateCurrentFolder(const SongFiles& files) {
    return files.reader == nullptr && files.currentFolder && !SongFolder(files).empty();
}

std::string CompanionPath(const SongFiles& files, const std::string& name, FilePlace place) {
    return PlaceFolder(files, place) + name;
}

FileBlock ReadCompanion(const SongFiles& files, const std::string& name, FilePlace place, size_t limit,
                        std::string& found) {
    found.clear();
    // A song chooses these names: "../../private/X" or "/abs/path" must not reach other files.
    if (!IsPlainFileName(name)) return FileBlock{nullptr, 0, false};
    // The caller's folder is on disk, whether or not the song is.
    if (files.reader == nullptr || place == FilePlace::InstrumentsFolder) {
        if (place == FilePlace::InstrumentsFolder && files.instrumentsFolder.empty())
            return FileBlock{nullptr, 0, false};
        // Songs name their files as the IIgs knew them; on disk the case may differ.
        const std::string path = PlaceFolder(files, place) + name;
        found = FindFileIgnoringCase(path);
        return found.empty() ? FileBlock{nullptr, 0, false} : ReadWholeFile(found.c_str(), limit);
    }
    if (place != FilePlace::BesideSong) return FileBlock{nullptr, 0, false};
    const void* data = nullptr;
    size_t size = 0;
    if (!files.reader(files.context, name.c_str(), &data, &size) || (data == nullptr && size > 0)) {
        return FileBlock{nullptr, 0, false};
    }
    // The name first: a refusal names the file, and once the copy exists nothing may throw
    // before it is handed back.
    found = name;
    if (size > limit) return FileBlock{nullptr, 0, false, FileTooLarge};
    // The loaders convert samples in place, and the caller's bytes are only lent: copy them.
    auto* copy = static_cast<uint8_t*>(std::malloc(size + 1));
    if (copy == nullptr) {
        found.clear();
        return FileBlock{nullptr, 0, false};
    }
    if (size > 0) std::memcpy(copy, data, size);
    return FileBlock{copy, size, true};
}

}  // namespace trelmo
