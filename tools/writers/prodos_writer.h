// SPDX-License-Identifier: BSD-3-Clause
// ProDOS volumes built in memory, block by block, for what real images rarely show: tree and
// sparse files, deep folders, two-fork files, lower-case names; and, since every place is known,
// damage made on purpose (a pointer aimed back, a chain that loops, a name no ProDOS would write).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writers/byte_order.h"

namespace trelmo::writers {

class ProdosVolumeWriter {
  public:
    static constexpr size_t BlockSize = 512;
    static constexpr size_t EntryLength = 0x27;

    // An empty volume of totalBlocks blocks (at most 65535). Names are given as shown: lower-case
    // letters are stored upper case, with the GS/OS lower-case flags set.
    ProdosVolumeWriter(const std::string& volumeName, uint16_t totalBlocks);

    struct FileOptions {
        uint8_t fileType = 0x06;
        uint16_t auxType = 0;
        bool sparse = false;    // blocks of zeros are left out (pointer 0), as GS/OS saves them
        bool extended = false;  // a two-fork file: data is its data fork
        Bytes resourceFork{};   // with extended
        int storage = 0;        // 0: by size; 1, 2 or 3 forces seedling, sapling or tree
    };
    struct Placed {
        uint16_t keyBlock = 0;   // of the entry (the extended key block of a two-fork file)
        size_t entryOffset = 0;  // of the entry's first byte in the image
    };

    // A folder in folder parent (0: the volume directory); returns its number for AddFolder/AddFile.
    int AddFolder(int parent, const std::string& name);
    Placed AddFile(int folder, const std::string& name, const Bytes& data, const FileOptions& options);
    Placed AddFile(int folder, const std::string& name, const Bytes& data) {
        return AddFile(folder, name, data, FileOptions{});
    }

    // The volume as written so far (bitmap and counts up to date); change it freely to damage it.
    Bytes& Image() { return image_; }
    // The blocks of a folder's directory chain, in order (folder 0: the volume directory).
    const std::vector<uint16_t>& FolderBlocks(int folder) const {
        return folders_[static_cast<size_t>(folder)].blocks;
    }
    // Where the entry of a folder (not the volume directory) lies in its parent.
    size_t FolderEntryOffset(int folder) const {
        return folders_[static_cast<size_t>(folder)].parentEntryOffset;
    }
    uint16_t Pointer(uint16_t indexBlock, size_t i) const;
    void SetPointer(uint16_t indexBlock, size_t i, uint16_t target);
    void SetNextBlock(uint16_t directoryBlock, uint16_t next);

  private:
    struct Folder {
        std::vector<uint16_t> blocks;
        size_t used = 1;  // entry slots used in the chain, the header's included
        size_t headerOffset = 0;
        size_t parentEntryOffset = 0;  // 0 for the volume directory
    };
    uint16_t Allocate();
    size_t NewEntry(int folder);
    void PutName(size_t entryOffset, uint8_t storage, const std::string& name, size_t caseFlagsAt);
    // Writes a fork; gives its storage type, key block and blocks used.
    void WriteFork(const Bytes& data, const FileOptions& options, uint8_t& storage, uint16_t& key,
                   uint16_t& blocksUsed);

    Bytes image_;
    uint16_t totalBlocks_;
    uint16_t nextFree_;
    std::vector<Folder> folders_;
};

// The GS/OS lower-case flags word for a name shown as name (0 when it is all upper case).
uint16_t ProdosCaseFlags(const std::string& name);

}  // namespace trelmo::writers
