// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/prodos_writer.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace trelmo::writers {

namespace {

constexpr size_t EntriesPerBlock = 13;
constexpr uint16_t VolumeDirectoryBlocks = 4;  // blocks 2 to 5
constexpr uint16_t BitmapBlock = 6;

bool AllZero(const Bytes& data, size_t from, size_t count) {
    return std::all_of(data.begin() + static_cast<std::ptrdiff_t>(from),
                       data.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](uint8_t b) { return b == 0; });
}

}  // namespace

uint16_t ProdosCaseFlags(const std::string& name) {
    uint16_t flags = 0;
    for (size_t i = 0; i < name.size() && i < 15; ++i) {
        if (std::islower(static_cast<unsigned char>(name[i])) != 0)
            flags = static_cast<uint16_t>(flags | (0x4000u >> i));
    }
    return flags == 0 ? uint16_t{0} : static_cast<uint16_t>(flags | 0x8000u);
}

ProdosVolumeWriter::ProdosVolumeWriter(const std::string& volumeName, uint16_t totalBlocks)
    : image_(size_t{totalBlocks} * BlockSize, 0), totalBlocks_(totalBlocks) {
    const uint16_t bitmapBlocks = static_cast<uint16_t>((totalBlocks + 4095) / 4096);
    nextFree_ = static_cast<uint16_t>(BitmapBlock + bitmapBlocks);
    if (nextFree_ > totalBlocks) throw std::length_error("a ProDOS volume needs more blocks");
    Folder root;
    for (uint16_t b = 0; b < VolumeDirectoryBlocks; ++b) {
        const uint16_t block = static_cast<uint16_t>(2 + b);
        root.blocks.push_back(block);
        PutLe(image_, block * BlockSize, b == 0 ? 0u : block - 1u, 2);
        PutLe(image_, block * BlockSize + 2, b + 1 == VolumeDirectoryBlocks ? 0u : block + 1u, 2);
    }
    root.headerOffset = 2 * BlockSize + 4;
    PutName(root.headerOffset, 0xF, volumeName, 0x16);
    Put8(image_, root.headerOffset + 0x1E, 0xC3);  // access: may be read, written, renamed, destroyed
    Put8(image_, root.headerOffset + 0x1F, EntryLength);
    Put8(image_, root.headerOffset + 0x20, EntriesPerBlock);
    PutLe(image_, root.headerOffset + 0x23, BitmapBlock, 2);
    PutLe(image_, root.headerOffset + 0x25, totalBlocks, 2);
    folders_.push_back(root);
    // The bitmap: a set bit is a free block; blocks 0 to nextFree_ - 1 are in use.
    for (size_t block = nextFree_; block < totalBlocks; ++block) {
        image_[BitmapBlock * BlockSize + block / 8] |= static_cast<uint8_t>(0x80u >> (block % 8));
    }
}

uint16_t ProdosVolumeWriter::Allocate() {
    if (nextFree_ >= totalBlocks_) throw std::length_error("the ProDOS volume is full");
    const uint16_t block = nextFree_++;
    image_[BitmapBlock * BlockSize + block / 8] &= static_cast<uint8_t>(~(0x80u >> (block % 8)));
    return block;
}

void ProdosVolumeWriter::PutName(size_t entryOffset, uint8_t storage, const std::string& name,
                                 size_t caseFlagsAt) {
    Put8(image_, entryOffset,
         static_cast<uint32_t>(storage << 4) | static_cast<uint32_t>(name.size() & 0x0F));
    for (size_t i = 0; i < name.size() && i < 15; ++i) {
        Put8(image_, entryOffset + 1 + i,
             static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(name[i]))));
    }
    PutLe(image_, entryOffset + caseFlagsAt, ProdosCaseFlags(name), 2);
}

size_t ProdosVolumeWriter::NewEntry(int folderNumber) {
    Folder& folder = folders_[static_cast<size_t>(folderNumber)];
    if (folder.used == folder.blocks.size() * EntriesPerBlock) {
        const uint16_t block = Allocate();
        const uint16_t last = folder.blocks.back();
        PutLe(image_, last * BlockSize + 2, block, 2);
        PutLe(image_, block * BlockSize, last, 2);
        folder.blocks.push_back(block);
        if (folder.parentEntryOffset != 0) {
            PutLe(image_, folder.parentEntryOffset + 0x13, static_cast<uint32_t>(folder.blocks.size()), 2);
            PutLe(image_, folder.parentEntryOffset + 0x15,
                  static_cast<uint32_t>(folder.blocks.size() * BlockSize), 3);
        }
    }
    const size_t slot = folder.used++;
    const size_t block = folder.blocks[slot / EntriesPerBlock];
    // The file count in the folder's header.
    const size_t countAt = folder.headerOffset + 0x21;
    PutLe(image_, countAt, static_cast<uint32_t>(image_[countAt] | image_[countAt + 1] << 8) + 1u, 2);
    return block * BlockSize + 4 + (slot % EntriesPerBlock) * EntryLength;
}

int ProdosVolumeWriter::AddFolder(int parent, const std::string& name) {
    const size_t entry = NewEntry(parent);
    const uint16_t block = Allocate();
    PutName(entry, 0xD, name, 0x1C);
    Put8(image_, entry + 0x10, 0x0F);
    PutLe(image_, entry + 0x11, block, 2);
    PutLe(image_, entry + 0x13, 1, 2);
    PutLe(image_, entry + 0x15, BlockSize, 3);
    Put8(image_, entry + 0x1E, 0xC3);
    const Folder& parentFolder = folders_[static_cast<size_t>(parent)];
    PutLe(image_, entry + 0x25, parentFolder.blocks.front(), 2);

    Folder folder;
    folder.blocks.push_back(block);
    folder.headerOffset = block * BlockSize + 4;
    folder.parentEntryOffset = entry;
    PutName(folder.headerOffset, 0xE, name, 0x1C);
    Put8(image_, folder.headerOffset + 0x10, 0x75);
    Put8(image_, folder.headerOffset + 0x1E, 0xC3);
    Put8(image_, folder.headerOffset + 0x1F, EntryLength);
    Put8(image_, folder.headerOffset + 0x20, EntriesPerBlock);
    PutLe(image_, folder.headerOffset + 0x23, static_cast<uint32_t>(entry / BlockSize), 2);
    Put8(image_, folder.headerOffset + 0x25,
         static_cast<uint32_t>((entry % BlockSize - 4) / EntryLength + 1));
    Put8(image_, folder.headerOffset + 0x26, EntryLength);
    folders_.push_back(folder);
    return static_cast<int>(folders_.size() - 1);
}

void ProdosVolumeWriter::WriteFork(const Bytes& data, const FileOptions& options, uint8_t& storage,
                                   uint16_t& key, uint16_t& blocksUsed) {
    const size_t blocks = (data.size() + BlockSize - 1) / BlockSize;
    storage = static_cast<uint8_t>(options.storage != 0 ? options.storage
                                   : blocks <= 1        ? 1
                                   : blocks <= 256      ? 2
                                                        : 3);
    blocksUsed = 0;
    // One data block: gives its number, or 0 for a hole.
    auto dataBlock = [&](size_t k) -> uint16_t {
        if (k >= blocks) return 0;
        const size_t from = k * BlockSize;
        const size_t count = std::min(BlockSize, data.size() - from);
        if (options.sparse && AllZero(data, from, count)) return 0;
        const uint16_t block = Allocate();
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), count,
                    image_.begin() + block * BlockSize);
        ++blocksUsed;
        return block;
    };
    key = Allocate();
    ++blocksUsed;
    if (storage == 1) {
        std::copy_n(data.begin(), std::min(BlockSize, data.size()), image_.begin() + key * BlockSize);
        return;
    }
    if (storage == 2) {
        for (size_t k = 0; k < std::min<size_t>(blocks, 256); ++k) SetPointer(key, k, dataBlock(k));
        return;
    }
    for (size_t j = 0; j * 256 < blocks && j < 128; ++j) {
        if (options.sparse &&
            AllZero(data, j * 256 * BlockSize, std::min(256 * BlockSize, data.size() - j * 256 * BlockSize)))
            continue;
        const uint16_t index = Allocate();
        ++blocksUsed;
        SetPointer(key, j, index);
        for (size_t i = 0; i < 256; ++i) SetPointer(index, i, dataBlock(j * 256 + i));
    }
}

ProdosVolumeWriter::Placed ProdosVolumeWriter::AddFile(int folder, const std::string& name, const Bytes& data,
                                                       const FileOptions& options) {
    Placed placed;
    placed.entryOffset = NewEntry(folder);
    uint8_t storage = 0;
    uint16_t blocksUsed = 0;
    if (options.extended) {
        placed.keyBlock = Allocate();
        const size_t at = placed.keyBlock * BlockSize;
        uint16_t dataBlocks = 0;
        uint16_t resourceBlocks = 0;
        uint8_t forkStorage = 0;
        uint16_t forkKey = 0;
        WriteFork(data, options, forkStorage, forkKey, dataBlocks);
        Put8(image_, at, forkStorage);
        PutLe(image_, at + 1, forkKey, 2);
        PutLe(image_, at + 3, dataBlocks, 2);
        PutLe(image_, at + 5, static_cast<uint32_t>(data.size()), 3);
        FileOptions resource = options;
        resource.storage = 0;
        WriteFork(options.resourceFork, resource, forkStorage, forkKey, resourceBlocks);
        Put8(image_, at + 0x100, forkStorage);
        PutLe(image_, at + 0x101, forkKey, 2);
        PutLe(image_, at + 0x103, resourceBlocks, 2);
        PutLe(image_, at + 0x105, static_cast<uint32_t>(options.resourceFork.size()), 3);
        storage = 5;
        blocksUsed = static_cast<uint16_t>(1 + dataBlocks + resourceBlocks);
    } else {
        WriteFork(data, options, storage, placed.keyBlock, blocksUsed);
    }
    const size_t entry = placed.entryOffset;
    PutName(entry, storage, name, 0x1C);
    Put8(image_, entry + 0x10, options.fileType);
    PutLe(image_, entry + 0x11, placed.keyBlock, 2);
    PutLe(image_, entry + 0x13, blocksUsed, 2);
    PutLe(image_, entry + 0x15, static_cast<uint32_t>(options.extended ? BlockSize : data.size()), 3);
    Put8(image_, entry + 0x1E, 0xE3);
    PutLe(image_, entry + 0x1F, options.auxType, 2);
    PutLe(image_, entry + 0x25, folders_[static_cast<size_t>(folder)].blocks.front(), 2);
    return placed;
}

uint16_t ProdosVolumeWriter::Pointer(uint16_t indexBlock, size_t i) const {
    return static_cast<uint16_t>(image_[indexBlock * BlockSize + i] | image_[indexBlock * BlockSize + 256 + i]
                                                                          << 8);
}

void ProdosVolumeWriter::SetPointer(uint16_t indexBlock, size_t i, uint16_t target) {
    Put8(image_, indexBlock * BlockSize + i, target & 0xFFu);
    Put8(image_, indexBlock * BlockSize + 256 + i, target >> 8);
}

void ProdosVolumeWriter::SetNextBlock(uint16_t directoryBlock, uint16_t next) {
    PutLe(image_, directoryBlock * BlockSize + 2, next, 2);
}

}  // namespace trelmo::writers
