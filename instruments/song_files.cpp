#include "instruments/song_files.h"

#include <cstdlib>
#include <cstring>

#include "instruments/find_file.h"

namespace trelmo {

std::string SongFolder(const SongFiles& files) {
    return FolderOf(files.songPath);
}

bool HasSeparateCurrentFolder(const SongFiles& files) {
    return files.reader == nullptr && !SongFolder(files).empty();
}

std::string CompanionPath(const SongFiles& files, const std::string& name) {
    return SongFolder(files) + name;
}

FileBlock ReadCompanion(const SongFiles& files, const std::string& name, FilePlace place, size_t limit,
                        std::string& found) {
    found.clear();
    // A song chooses these names: "../../private/X" or "/abs/path" must not reach other files.
    if (!IsPlainFileName(name)) return FileBlock{nullptr, 0, false};
    if (files.reader == nullptr) {
        // Songs name their files as the IIgs knew them; on disk the case may differ.
        const std::string path = (place == FilePlace::BesideSong ? SongFolder(files) : std::string()) + name;
        found = FindFileIgnoringCase(path);
        return found.empty() ? FileBlock{nullptr, 0, false} : ReadWholeFile(found.c_str(), limit);
    }
    if (place != FilePlace::BesideSong) return FileBlock{nullptr, 0, false};
    const void* data = nullptr;
    size_t size = 0;
    if (!files.reader(files.context, name.c_str(), &data, &size) || (data == nullptr && size > 0)) {
        return FileBlock{nullptr, 0, false};
    }
    if (size > limit) return FileBlock{nullptr, 0, false, FileTooLarge};
    // The loaders convert samples in place, and the caller's bytes are only lent: copy them.
    auto* copy = static_cast<uint8_t*>(std::malloc(size + 1));
    if (copy == nullptr) return FileBlock{nullptr, 0, false};
    if (size > 0) std::memcpy(copy, data, size);
    found = name;
    return FileBlock{copy, size, true};
}

}  // namespace trelmo
