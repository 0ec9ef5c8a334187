// SPDX-License-Identifier: BSD-3-Clause
// The one way this project reads song, bank and instrument files: every access is checked against
// the block, a byte beyond it reads as 0, and a write beyond it is dropped. A damaged or hostile
// file can therefore never make a loader or sequencer touch memory outside its block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trelmo {

struct ByteView {
    uint8_t* data;
    size_t size;
};

inline bool Contains(ByteView view, size_t offset, size_t count = 1) {
    return offset <= view.size && count <= view.size - offset;
}

inline uint8_t ReadU8(ByteView view, size_t offset) {
    return offset < view.size ? view.data[offset] : uint8_t{0};
}

inline int8_t ReadS8(ByteView view, size_t offset) {
    return static_cast<int8_t>(ReadU8(view, offset));
}

inline uint16_t ReadU16Le(ByteView view, size_t offset) {
    return static_cast<uint16_t>(ReadU8(view, offset) | (ReadU8(view, offset + 1) << 8));
}

inline int16_t ReadS16Le(ByteView view, size_t offset) {
    return static_cast<int16_t>(ReadU16Le(view, offset));
}

inline uint32_t ReadU24Le(ByteView view, size_t offset) {
    return static_cast<uint32_t>(ReadU8(view, offset)) |
           (static_cast<uint32_t>(ReadU8(view, offset + 1)) << 8) |
           (static_cast<uint32_t>(ReadU8(view, offset + 2)) << 16);
}

inline uint32_t ReadU32Le(ByteView view, size_t offset) {
    return ReadU24Le(view, offset) | (static_cast<uint32_t>(ReadU8(view, offset + 3)) << 24);
}

inline uint32_t ReadU32Be(ByteView view, size_t offset) {
    return (static_cast<uint32_t>(ReadU8(view, offset)) << 24) |
           (static_cast<uint32_t>(ReadU8(view, offset + 1)) << 16) |
           (static_cast<uint32_t>(ReadU8(view, offset + 2)) << 8) |
           static_cast<uint32_t>(ReadU8(view, offset + 3));
}

inline void WriteU8(ByteView view, size_t offset, uint8_t value) {
    if (offset < view.size) view.data[offset] = value;
}

// Compares four bytes at offset with a four-character tag, exactly; bytes beyond the block never match.
inline bool HasTag(ByteView view, size_t offset, const char tag[4]) {
    if (!Contains(view, offset, 4)) return false;
    for (size_t i = 0; i < 4; ++i) {
        if (view.data[offset + i] != static_cast<uint8_t>(tag[i])) return false;
    }
    return true;
}

// The part of view from offset on, at most count bytes long; empty when offset lies beyond it.
inline ByteView SubView(ByteView view, size_t offset, size_t count = SIZE_MAX) {
    if (offset >= view.size) return ByteView{view.data + view.size, 0};
    const size_t left = view.size - offset;
    return ByteView{view.data + offset, count < left ? count : left};
}

}  // namespace trelmo
