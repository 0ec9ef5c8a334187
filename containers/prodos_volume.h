// SPDX-License-Identifier: BSD-3-Clause
// A ProDOS volume given as its 512-byte blocks in ProDOS order: the files of the volume directory
// and of every folder under it, listed as "VOLUME/FOLDER/FILE" with the GS/OS lower-case flags
// applied, each readable whole (the data fork of an extended file; a block pointer of zero is a
// block of zeros).
//
// A damaged or hostile volume is read as far as it can be trusted: a directory chain or folder that
// points back is followed only once, a file whose blocks lie beyond the volume, are used twice, or
// that claims more bytes than the whole volume holds is listed with its problem, and an entry
// whose name is no ProDOS name is left out. The listing is bounded (MaxProdosEntries entries,
// MaxProdosListingBytes of paths, MaxProdosFolderDepth levels). What was cut short is told in Notes().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

constexpr size_t ProdosBlockSize = 512;
// Folders deeper than this, and entries beyond this count, are not listed: far beyond real volumes,
// they keep a hostile volume's listing small.
constexpr int MaxProdosFolderDepth = 64;
constexpr size_t MaxProdosEntries = 100000;
constexpr size_t MaxProdosNotes = 100;
constexpr size_t MaxProdosListingBytes = size_t{16} << 20;  // the listed paths, all together

class ProdosVolume : public Container {
  public:
    // The volume whose blocks are bytes[offset, offset + length): a disk image's bytes are kept as
    // they are, without a copy. False (with the reason) when there is no ProDOS volume directory.
    static std::unique_ptr<ProdosVolume> Open(std::vector<uint8_t> bytes, size_t offset, size_t length,
                                              std::string& error);

    const std::vector<Entry>& Entries() const override { return entries_; }
    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override;
    bool ReadStart(size_t index, size_t count, std::vector<uint8_t>& out, uint64_t& size,
                   std::string& error) const override;

    // The volume's name as shown (lower-case flags applied), and what was left out or cut short
    // while listing, one sentence each.
    const std::string& VolumeName() const { return volumeName_; }
    const std::vector<std::string>& Notes() const { return notes_; }
    // Adds a note; past MaxProdosNotes of them, one last note says that there are more.
    void AddNote(std::string note);

    // Where a data fork lies: its storage type (1 seedling, 2 sapling, 3 tree), key block and length.
    struct Fork {
        uint8_t storage = 0;
        uint16_t key = 0;
        uint32_t eof = 0;
        uint16_t extendedKey = 0;  // the extended key block of a two-fork file, which the fork may not reuse
    };

  private:
    ProdosVolume() = default;
    void ListFolder(uint16_t keyBlock, const std::string& prefix, int depth);
    void AddFileEntry(ByteView entry, const std::string& path);
    bool Full();
    // Reads as Read does, checking every block of the fork, but copies only its first copied bytes.
    bool ReadFork(size_t index, size_t limit, size_t copied, std::vector<uint8_t>& out,
                  std::string& error) const;

    std::vector<uint8_t> bytes_;
    size_t offset_ = 0;
    size_t blockCount_ = 0;              // blocks that both the header claims and the bytes hold
    std::vector<bool> directoryBlocks_;  // blocks already read as directory blocks, while listing
    size_t listingBytes_ = 0;
    bool full_ = false;
    std::string volumeName_;
    std::vector<Entry> entries_;
    std::vector<Fork> forks_;  // one per entry
    std::vector<std::string> notes_;
};

// Bare ProDOS-order volume bytes (the blocks from block 0 on) as a container; null, with the
// reason, when they hold no ProDOS volume directory. A NuFX disk record's bytes are opened this way.
std::unique_ptr<Container> OpenProdosVolume(std::vector<uint8_t> blocks, std::string& error);

// True when blocks[offset...] shows a ProDOS volume directory header in block 2: how a disk image's
// sector order is told apart.
bool HasProdosVolumeHeader(const std::vector<uint8_t>& bytes, size_t offset, size_t length);

}  // namespace trelmo::containers
