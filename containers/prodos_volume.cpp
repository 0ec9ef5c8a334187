// SPDX-License-Identifier: BSD-3-Clause
#include "containers/prodos_volume.h"

#include <algorithm>
#include <cstring>

#include "instruments/block_reader.h"

namespace trelmo::containers {

namespace {

// Storage types, the high nibble of an entry's first byte.
constexpr uint8_t Seedling = 1;
constexpr uint8_t Sapling = 2;
constexpr uint8_t Tree = 3;
constexpr uint8_t PascalArea = 4;
constexpr uint8_t Extended = 5;
constexpr uint8_t Folder = 0xD;
constexpr uint8_t FolderHeader = 0xE;
constexpr uint8_t VolumeHeader = 0xF;

constexpr size_t VolumeKeyBlock = 2;
constexpr size_t MinEntryLength = 0x27;
constexpr size_t PointersPerIndex = 256;

// Offsets inside an entry (a directory header shares the first ones).
constexpr size_t NameAt = 0x01;
constexpr size_t FileTypeAt = 0x10;
constexpr size_t KeyPointerAt = 0x11;
constexpr size_t EofAt = 0x15;
constexpr size_t FileCaseFlagsAt = 0x1C;  // the old version/min_version bytes, read as one word
constexpr size_t AuxTypeAt = 0x1F;
constexpr size_t VolumeCaseFlagsAt = 0x16;
constexpr size_t EntryLengthAt = 0x1F;
constexpr size_t EntriesPerBlockAt = 0x20;
constexpr size_t TotalBlocksAt = 0x25;

std::string Hex(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "$" + text;
}

// The name stored at entry (length in the low nibble of its first byte), with the GS/OS lower-case
// flags applied: when bit 15 of the flags word is set, bit 14 - i set makes character i lower case.
// Empty when it is no ProDOS name (letters, digits and '.'), so that nothing a damaged entry holds
// (a '/', a control character) ever reaches a path.
std::string EntryName(ByteView entry, uint16_t caseFlags) {
    const size_t length = ReadU8(entry, 0) & 0x0Fu;
    std::string name;
    for (size_t i = 0; i < length; ++i) {
        char c = static_cast<char>(ReadU8(entry, NameAt + i));
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter && !(c >= '0' && c <= '9') && c != '.') return {};
        if (letter && (caseFlags & 0x8000u) != 0 && (caseFlags & (0x4000u >> i)) != 0)
            c = static_cast<char>(c | 0x20);
        name.push_back(c);
    }
    return name;
}

// Pointer i of the index block at view: low bytes in the first half, high bytes in the second.
uint16_t IndexPointer(ByteView block, size_t i) {
    return static_cast<uint16_t>(ReadU8(block, i) | (ReadU8(block, PointersPerIndex + i) << 8));
}

bool ValidLayout(size_t entryLength, size_t entriesPerBlock) {
    return entryLength >= MinEntryLength && entriesPerBlock >= 1 &&
           4 + entryLength * entriesPerBlock <= ProdosBlockSize;
}

}  // namespace

bool HasProdosVolumeHeader(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    if (offset > bytes.size() || length > bytes.size() - offset ||
        length < (VolumeKeyBlock + 1) * ProdosBlockSize)
        return false;
    const ByteView block = SubView(ByteView{const_cast<uint8_t*>(bytes.data()), bytes.size()},
                                   offset + VolumeKeyBlock * ProdosBlockSize, ProdosBlockSize);
    const ByteView header = SubView(block, 4);
    return ReadU16Le(block, 0) == 0 && (ReadU8(header, 0) >> 4) == VolumeHeader &&
           (ReadU8(header, 0) & 0x0F) != 0 && !EntryName(header, 0).empty() &&
           ValidLayout(ReadU8(header, EntryLengthAt), ReadU8(header, EntriesPerBlockAt));
}

std::unique_ptr<ProdosVolume> ProdosVolume::Open(std::vector<uint8_t> bytes, size_t offset, size_t length,
                                                 std::string& error) {
    if (!HasProdosVolumeHeader(bytes, offset, length)) {
        error = "no ProDOS volume directory in block 2";
        return nullptr;
    }
    std::unique_ptr<ProdosVolume> volume(new ProdosVolume());
    volume->bytes_ = std::move(bytes);
    volume->offset_ = offset;
    const ByteView all{volume->bytes_.data(), volume->bytes_.size()};
    const ByteView header = SubView(all, offset + VolumeKeyBlock * ProdosBlockSize + 4, MinEntryLength);
    const size_t held = length / ProdosBlockSize;
    const size_t claimed = ReadU16Le(header, TotalBlocksAt);
    volume->blockCount_ = claimed == 0 ? held : std::min(claimed, held);
    if (claimed > held) {
        volume->AddNote("the volume claims " + std::to_string(claimed) + " blocks but only " +
                        std::to_string(held) + " are present; files beyond them cannot be read");
    }
    volume->volumeName_ = EntryName(header, ReadU16Le(header, VolumeCaseFlagsAt));
    volume->directoryBlocks_.assign(volume->blockCount_, false);
    volume->ListFolder(VolumeKeyBlock, volume->volumeName_, 0);
    volume->directoryBlocks_ = {};
    return volume;
}

void ProdosVolume::ListFolder(uint16_t keyBlock, const std::string& prefix, int depth) {
    if (depth > MaxProdosFolderDepth) {
        AddNote("folder " + prefix + " is nested more than " + std::to_string(MaxProdosFolderDepth) +
                " levels deep; not listed");
        return;
    }
    const ByteView all{bytes_.data(), bytes_.size()};
    size_t entryLength = 0;
    size_t entriesPerBlock = 0;
    size_t skipped = 0;
    uint16_t block = keyBlock;
    for (bool first = true; block != 0; first = false) {
        if (block >= blockCount_) {
            AddNote("folder " + prefix + " continues at block " + std::to_string(block) +
                    ", beyond the volume; the rest of it is not listed");
            break;
        }
        if (directoryBlocks_[block]) {
            AddNote("folder " + prefix + " leads back to block " + std::to_string(block) +
                    ", already read; the rest of it is not listed");
            break;
        }
        directoryBlocks_[block] = true;
        const ByteView view = SubView(all, offset_ + size_t{block} * ProdosBlockSize, ProdosBlockSize);
        if (first) {
            const ByteView header = SubView(view, 4);
            const uint8_t storage = static_cast<uint8_t>(ReadU8(header, 0) >> 4);
            entryLength = ReadU8(header, EntryLengthAt);
            entriesPerBlock = ReadU8(header, EntriesPerBlockAt);
            if (storage != (depth == 0 ? VolumeHeader : FolderHeader) ||
                !ValidLayout(entryLength, entriesPerBlock)) {
                AddNote("folder " + prefix + " has a damaged header; not listed");
                return;
            }
        }
        for (size_t e = first ? 1 : 0; e < entriesPerBlock; ++e) {
            const ByteView entry = SubView(view, 4 + e * entryLength, entryLength);
            const uint8_t storage = static_cast<uint8_t>(ReadU8(entry, 0) >> 4);
            if (storage == 0 || storage == PascalArea) continue;
            const std::string name = EntryName(entry, ReadU16Le(entry, FileCaseFlagsAt));
            if (name.empty()) {
                ++skipped;
                continue;
            }
            if (Full()) return;
            const std::string path = prefix + "/" + name;
            if (storage == Folder) {
                ListFolder(ReadU16Le(entry, KeyPointerAt), path, depth + 1);
                if (full_) return;
            } else {
                listingBytes_ += path.size();
                AddFileEntry(entry, path);
            }
        }
        block = ReadU16Le(view, 2);
    }
    if (skipped != 0) {
        AddNote("folder " + prefix + " has " + std::to_string(skipped) +
                " entries without a valid name; left out");
    }
}

void ProdosVolume::AddNote(std::string note) {
    if (notes_.size() < MaxProdosNotes) {
        notes_.push_back(std::move(note));
    } else if (notes_.size() == MaxProdosNotes) {
        notes_.push_back("more of the volume is damaged than these notes tell");
    }
}

bool ProdosVolume::Full() {
    if (!full_ && (entries_.size() >= MaxProdosEntries || listingBytes_ >= MaxProdosListingBytes)) {
        full_ = true;
        AddNote("the volume lists more than " + std::to_string(entries_.size()) +
                " files; the rest are not listed");
    }
    return full_;
}

void ProdosVolume::AddFileEntry(ByteView entry, const std::string& path) {
    const uint8_t storage = static_cast<uint8_t>(ReadU8(entry, 0) >> 4);
    Entry listed;
    listed.path = path;
    listed.fileType = ReadU8(entry, FileTypeAt);
    listed.auxType = ReadU16Le(entry, AuxTypeAt);
    Fork fork;
    fork.storage = storage;
    fork.key = ReadU16Le(entry, KeyPointerAt);
    fork.eof = ReadU24Le(entry, EofAt);
    if (storage == Extended) {
        // The extended key block holds the data fork's own mini-entry first; the resource fork's
        // follows at +256 and is not read.
        fork.extendedKey = fork.key;
        if (fork.key == 0 || fork.key >= blockCount_) {
            fork.storage = 0;
            listed.problem = "its extended key block " + std::to_string(fork.key) + " lies beyond the volume";
        } else {
            const ByteView block = SubView(ByteView{bytes_.data(), bytes_.size()},
                                           offset_ + size_t{fork.key} * ProdosBlockSize, ProdosBlockSize);
            fork.storage = ReadU8(block, 0);
            fork.key = ReadU16Le(block, 1);
            fork.eof = ReadU24Le(block, 5);
        }
    }
    listed.size = fork.eof;
    if (listed.problem.empty()) {
        const uint64_t volumeBytes = uint64_t{blockCount_} * ProdosBlockSize;
        if (fork.storage < Seedling || fork.storage > Tree) {
            listed.problem = "its storage type " + Hex(fork.storage) + " is not one of a file";
        } else if (fork.key == 0 || fork.key >= blockCount_) {
            listed.problem = "its key block " + std::to_string(fork.key) + " lies beyond the volume";
        } else if (fork.eof > volumeBytes) {
            listed.problem = "it claims " + std::to_string(fork.eof) +
                             " bytes, more than the whole volume holds (" + std::to_string(volumeBytes) + ")";
        }
    }
    if (!listed.problem.empty()) fork.storage = 0;
    entries_.push_back(std::move(listed));
    forks_.push_back(fork);
}

bool ProdosVolume::Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const {
    return ReadFork(index, limit, SIZE_MAX, out, error);
}

bool ProdosVolume::ReadStart(size_t index, size_t count, std::vector<uint8_t>& out, uint64_t& size,
                             std::string& error) const {
    if (!ReadFork(index, MaxEntryBytes, count, out, error)) return false;
    size = forks_[index].eof;
    return true;
}

bool ProdosVolume::ReadFork(size_t index, size_t limit, size_t copied, std::vector<uint8_t>& out,
                            std::string& error) const {
    if (!StartRead(entries_, index, std::min(limit, MaxEntryBytes), out, error)) return false;
    const Fork& fork = forks_[index];

    // Each block may serve a file once: a block met twice (an index that points back at itself,
    // two pointers to one block) marks the file as damaged rather than repeating its bytes.
    std::vector<bool> used(blockCount_, false);
    std::string problem;
    auto claim = [&](uint16_t block) {
        if (block >= blockCount_) {
            problem = "it points to block " + std::to_string(block) + ", beyond the volume";
        } else if (used[block]) {
            problem = "its block " + std::to_string(block) + " is used twice";
        } else {
            used[block] = true;
        }
        return problem.empty();
    };
    const ByteView all{const_cast<uint8_t*>(bytes_.data()), bytes_.size()};
    auto blockView = [&](uint16_t block) {
        return SubView(all, offset_ + size_t{block} * ProdosBlockSize, ProdosBlockSize);
    };

    // Written in place, so that a caller that reads file after file into one vector reuses its room.
    std::vector<uint8_t>& data = out;
    data.assign(std::min<size_t>(fork.eof, copied), 0);
    const size_t blocks = (size_t{fork.eof} + ProdosBlockSize - 1) / ProdosBlockSize;
    // Copies the data block of the file's block number k (if it lies within what is copied); zero
    // is a hole, left as zeros.
    auto copy = [&](size_t k, uint16_t block) {
        if (block == 0) return true;
        if (!claim(block)) return false;
        const size_t at = k * ProdosBlockSize;
        const ByteView source = blockView(block);
        if (at < data.size())
            std::memcpy(data.data() + at, source.data, std::min(source.size, data.size() - at));
        return true;
    };

    bool whole = fork.extendedKey == 0 || claim(fork.extendedKey);
    if (whole && fork.storage == Seedling) {
        // Bytes past the first block of a seedling were never written: zeros, as ProDOS reads them.
        whole = blocks == 0 ? claim(fork.key) : copy(0, fork.key);
    } else if (whole && fork.storage == Sapling) {
        whole = claim(fork.key);
        const ByteView index1 = blockView(fork.key);
        for (size_t k = 0; whole && k < std::min(blocks, PointersPerIndex); ++k)
            whole = copy(k, IndexPointer(index1, k));
    } else if (whole && fork.storage == Tree) {
        whole = claim(fork.key);
        const ByteView master = blockView(fork.key);
        const size_t indexes = (blocks + PointersPerIndex - 1) / PointersPerIndex;
        for (size_t j = 0; whole && j < std::min(indexes, PointersPerIndex); ++j) {
            const uint16_t indexBlock = IndexPointer(master, j);
            if (indexBlock == 0) continue;  // a hole of 128 KB
            whole = claim(indexBlock);
            const ByteView index2 = blockView(indexBlock);
            for (size_t i = 0; whole && i < PointersPerIndex && j * PointersPerIndex + i < blocks; ++i) {
                whole = copy(j * PointersPerIndex + i, IndexPointer(index2, i));
            }
        }
    }
    if (!whole) {
        out.clear();
        error = problem;
        return false;
    }
    return true;
}

std::unique_ptr<Container> OpenProdosVolume(std::vector<uint8_t> blocks, std::string& error) {
    const size_t length = blocks.size();
    return ProdosVolume::Open(std::move(blocks), 0, length, error);
}

}  // namespace trelmo::containers
