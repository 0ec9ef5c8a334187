// SPDX-License-Identifier: BSD-3-Clause
// Any container's bytes opened by what they hold, never by their name, with nesting flattened as it
// is found (a zip holding a 2IMG or a ShrinkIt archive, a NuFX disk record holding a ProDOS volume,
// gzip around anything): one list of files, each named by the chain of its inner paths. Each file
// is recognised by its first bytes as a loose file is; a song's companions are looked for among the
// files of its own folder inside the container, and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

// Containers inside containers are opened this deep and no deeper (a zip of a zip of ...), and all
// the bytes unpacked while listing, nested containers included, stay within MaxUnpackedBytes.
constexpr int MaxNestingDepth = 4;
constexpr size_t MaxUnpackedBytes = size_t{256} << 20;

// True when the first bytes show one of the containers OpenContainer knows (zip and gzip only
// where this build reads them): the Audacious plug-in and the page tell containers by it.
bool LooksLikeContainer(ByteView bytes);

// Whether this build reads zip and gzip files.
bool ZipSupported();

class OpenedContainer {
  public:
    struct File {
        std::string path;   // "BLUE.HELMET/INTRO/ECHO.MUS"; through nesting "GAME.2MG/VOL/ECHO.MUS"
        size_t nameAt = 0;  // where the file's own name begins in path (its folder ends there)
        uint8_t fileType = 0;
        uint16_t auxType = 0;
        uint64_t size = 0;
        int16_t songKind = -1;  // as DetectSongKind tells a loose file; -1 for anything else
        size_t layer = 0, index = 0;
    };

    const std::vector<File>& Files() const { return files_; }
    // What was skipped while listing, and why: "GAME/BROKEN: its blocks lie beyond the volume".
    const std::vector<std::string>& Skipped() const { return skipped_; }

    bool Read(size_t file, size_t limit, std::vector<uint8_t>& out, std::string& error) const;
    // The file in the same folder as file that stands for name, chosen as on disk (an exact name,
    // else the loose match that sorts first); Files().size() when none does.
    size_t FindBeside(size_t file, const std::string& name) const;

  private:
    friend std::unique_ptr<OpenedContainer> OpenContainer(std::vector<uint8_t>, const std::string&,
                                                          std::string&);
    void List(size_t layer, const std::string& prefix, int depth);
    std::unique_ptr<Container> OpenNested(std::vector<uint8_t>& bytes, const std::string& name,
                                          std::string& error) const;

    std::vector<std::unique_ptr<Container>> layers_;
    std::vector<File> files_;
    std::vector<std::string> skipped_;
    size_t unpacked_ = 0;
};

// The container in bytes, named name (the container file's name: a bare gzip file lists its one
// file under it). Null, with the reason, when the bytes are no container or cannot be listed at all.
std::unique_ptr<OpenedContainer> OpenContainer(std::vector<uint8_t> bytes, const std::string& name,
                                               std::string& error);

// The zip and gzip reader where the build has one (containers/zip_archive.cpp gives it); null
// otherwise, and zip and gzip files are then "not supported in this build".
using ArchiveOpener = std::unique_ptr<Container> (*)(std::vector<uint8_t> bytes, const std::string& name,
                                                     std::string& error);
ArchiveOpener ZipOpener();

}  // namespace trelmo::containers
