// SPDX-License-Identifier: BSD-3-Clause
// Reads a whole file, or its first bytes, into one heap block owned by the caller.
//
// Only regular files are read. A FIFO, a device, a socket or a folder could block the reader
// forever, change state when opened, or never end; each is refused without being read, with its
// own reason. Files are opened without blocking and never become the controlling terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "instruments/block_reader.h"

namespace trelmo {

// Reasons beyond the system's error numbers. They are negative, so they never meet an errno value
// (which is always positive) in FileBlock::error.
enum FileError : int {
    FileIsFolder = -1,
    FileIsFifo = -2,
    FileIsDevice = -3,
    FileIsSocket = -4,
    FileTooLarge = -5,  // larger than the limit the caller gave
    FileShrank = -6,    // ended before the size it had when opened: cut short while being read
};

// The largest file accepted of each kind, each far above any real one, so that a damaged or
// hostile file (an 8 GB sparse file with a song header) is refused at once instead of filling the
// memory and holding the player while it is read:
// - songs: a SoundSmith song's three pattern arrays are at most 65535 bytes each (under 200 KB);
//   a NoiseTracker GS song addresses at most 256 patterns of 65535 bytes and a first sample area of
//   65535 pages (16 MB each); real songs of either kind are a few hundred KB.
// - wave banks: the format is 65570 + 92 x 15 = 66950 bytes; nothing after that is ever read.
// - ASIF instruments: the wave size is a signed 16-bit number, so one wave is under 32 KB; the
//   limit leaves ample room for chunks that are skipped.
constexpr size_t SongFileLimit = size_t{64} << 20;
constexpr size_t WaveBankFileLimit = size_t{16} << 20;
constexpr size_t AsifFileLimit = size_t{16} << 20;

struct FileBlock {
    uint8_t* data;  // malloc'd; may be null for an empty file
    size_t size;
    bool ok;        // false: the file could not be opened, read whole, or held in memory
    int error = 0;  // when !ok: an errno value or a FileError; 0 for a null path
};

// The whole file, refused with FileTooLarge when it holds more than limit bytes.
FileBlock ReadWholeFile(const char* path, size_t limit);
// The whole file within the largest limit of any kind (songs').
FileBlock ReadWholeFile(const char* path);
// At most count bytes from the start of the file (fewer when it is shorter): enough to tell a
// file's kind without reading the rest.
FileBlock ReadFileStart(const char* path, size_t count);
void ReleaseFileBlock(FileBlock& block);
// Reserves room for size bytes in out; a block of many MB is backed by huge pages where the system
// offers them, so that filling it costs one page fault in 512 (copying a 32 MB disk image into
// fresh memory is then ten times faster).
void ReserveLargeBlock(std::vector<uint8_t>& out, size_t size);

// The whole file into out (which holds nothing on failure): 0, or the reason as FileBlock::error
// gives it (ENOENT for a null path). A container of tens of MB is then read once, not copied.
int ReadWholeFileInto(const char* path, size_t limit, std::vector<uint8_t>& out);

// Words for a FileBlock's error: the system's text for an errno value, ours for a FileError.
const char* FileErrorText(int error);

inline ByteView ViewOf(const FileBlock& block) {
    return ByteView{block.data, block.size};
}

}  // namespace trelmo
