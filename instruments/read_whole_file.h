// Reads a whole file into one heap block owned by the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "instruments/block_reader.h"

namespace trelmo {

struct FileBlock {
    uint8_t* data;  // malloc'd; may be null for an empty file
    size_t size;
    bool ok;        // false: the file could not be opened, read whole, or held in memory
};

FileBlock ReadWholeFile(const char* path);
void ReleaseFileBlock(FileBlock& block);

inline ByteView ViewOf(const FileBlock& block) { return ByteView{block.data, block.size}; }

}  // namespace trelmo
