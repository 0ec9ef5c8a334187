// SPDX-License-Identifier: BSD-3-Clause
// What every container reader gives: the files that a disk image or an archive holds, listed
// cheaply, then read one at a time. Every reader parses its bytes through
// instruments/block_reader.h, never reads outside them, never loops on a damaged structure, and
// never allocates more than a limit allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trelmo::containers {

// The largest whole container accepted, and the most one entry may hold once unpacked.
constexpr size_t MaxContainerBytes = size_t{64} << 20;
constexpr size_t MaxEntryBytes = size_t{64} << 20;

struct Entry {
    std::string path;  // inner path, folders separated by '/', no leading '/': "BLUE.HELMET/INTRO/ECHO.MUS"
    uint8_t fileType = 0;  // ProDOS file type ($D5 a SoundSmith song, ...); 0 where the container keeps none
    uint16_t auxType = 0;
    uint64_t size = 0;  // length of the data fork once unpacked, as the container states it
    bool isVolume =
        false;            // the entry is a whole disk (a NuFX disk record): read it, then open it as a volume
    std::string problem;  // why the entry cannot be read ("packed with Deflate, which is not supported");
                          // empty if it can
};

class Container {
  public:
    virtual ~Container() = default;
    // Folders are not listed; a damaged entry is listed with its problem, or left out when nothing
    // about it can be trusted (the rest of the container still lists).
    virtual const std::vector<Entry>& Entries() const = 0;
    // Reads entry index's data fork whole into out. False, with the reason in error, when it cannot
    // be read or would hold more than limit bytes.
    virtual bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const = 0;
    // At least the first count bytes of entry index (all of it when shorter), with its whole length
    // in size; an entry that Read refuses is refused the same way. What a file is can be told from
    // its first bytes: readers that can check an entry without copying all of it copy only those.
    virtual bool ReadStart(size_t index, size_t count, std::vector<uint8_t>& out, uint64_t& size,
                           std::string& error) const {
        (void)count;
        if (!Read(index, MaxEntryBytes, out, error)) return false;
        size = out.size();
        return true;
    }
    // Lets go of what a reader keeps from one read to the next (an open decompressor that walks the
    // entries in turn), once a run of reads is over: nested containers must not each hold one.
    virtual void Rest() const {}
};

// The checks each reader's Read begins with: out emptied, then false with the reason for an index
// that names no entry, an entry listed with its problem, or one that states more than limit bytes.
inline bool StartRead(const std::vector<Entry>& entries, size_t index, size_t limit,
                      std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (index >= entries.size()) {
        error = "no such entry";
        return false;
    }
    const Entry& entry = entries[index];
    if (!entry.problem.empty()) {
        error = entry.problem;
        return false;
    }
    if (entry.size > limit) {
        error = "it holds " + std::to_string(entry.size) + " bytes, more than the limit of " +
                std::to_string(limit);
        return false;
    }
    return true;
}

}  // namespace trelmo::containers
