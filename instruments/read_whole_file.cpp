#include "instruments/read_whole_file.h"

#include <cstdio>
#include <cstdlib>

namespace trelmo {

namespace {

// The file's size, or -1 when it cannot be told (a directory or a stream has none that stays put).
long FileSize(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

}  // namespace

FileBlock ReadWholeFile(const char* path) {
    FileBlock block{nullptr, 0, false};
    if (path == nullptr) return block;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return block;
    const long size = FileSize(file);
    if (size < 0) {
        std::fclose(file);
        return block;
    }
    // A folder opens like a file on some systems and reports a size that means nothing (LONG_MAX
    // on Linux); it fails its first read, so try one byte before asking the heap for that size.
    if (size > 0 && (std::fgetc(file) == EOF || std::fseek(file, 0, SEEK_SET) != 0)) {
        std::fclose(file);
        return block;
    }
    const auto bytes = static_cast<size_t>(size);
    // One byte more than asked keeps malloc from returning null for an empty file.
    auto* data = static_cast<uint8_t*>(std::malloc(bytes + 1));
    if (data == nullptr) {
        std::fclose(file);
        return block;
    }
    const size_t got = bytes > 0 ? std::fread(data, 1, bytes, file) : 0;
    std::fclose(file);
    if (got != bytes) {  // a short read would leave part of the block undefined
        std::free(data);
        return block;
    }
    block.data = data;
    block.size = bytes;
    block.ok = true;
    return block;
}

void ReleaseFileBlock(FileBlock& block) {
    std::free(block.data);
    block = FileBlock{nullptr, 0, false};
}

}  // namespace trelmo
