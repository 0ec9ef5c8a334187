// SPDX-License-Identifier: BSD-3-Clause
#include "containers/shrinkit_lzw.h"

#include <algorithm>
#include <array>
#include <memory>

namespace trelmo::containers {
namespace {

constexpr size_t ChunkSize = 4096;
constexpr uint16_t ClearCode = 0x100;
constexpr uint16_t FirstFreeCode = 0x101;
constexpr size_t TableSize = 4096;  // 12-bit codes
constexpr uint16_t NoCode = 0xFFFF;

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

// The table of strings learned so far. A string is its last byte and the code of the string
// before it; every prefix code is smaller than the code it belongs to, so following prefixes
// always ends, after at most TableSize steps.
class LzwTable {
  public:
    void Clear() {
        next_ = FirstFreeCode;
        previous_ = NoCode;
    }

    // Decodes codes from in, starting at byte pos, until exactly count bytes are in dest, then
    // leaves pos at the next whole byte (each chunk's codes start on a byte).
    bool Decode(ByteView in, size_t& pos, uint8_t* dest, size_t count, std::string& error) {
        uint32_t bits = 0;
        unsigned bitCount = 0;
        size_t produced = 0;
        while (produced < count) {
            const unsigned width = CodeWidth();
            while (bitCount < width) {
                if (pos >= in.size) {
                    error = "the packed data ends early";
                    return false;
                }
                bits |= static_cast<uint32_t>(ReadU8(in, pos++)) << bitCount;
                bitCount += 8;
            }
            const uint16_t code = static_cast<uint16_t>(bits & ((1u << width) - 1));
            bits >>= width;
            bitCount -= width;

            if (code == ClearCode) {
                Clear();
                continue;
            }
            if (previous_ == NoCode) {
                if (code > 0xFF) return Damaged(error);
                dest[produced++] = static_cast<uint8_t>(code);
                first_ = static_cast<uint8_t>(code);
                previous_ = code;
                continue;
            }
            if (code > next_ || (code == next_ && next_ >= TableSize)) return Damaged(error);

            size_t depth = 0;
            uint16_t walk = code;
            if (code == next_) {  // the string just being defined: the previous one plus its own first byte
                stack_[depth++] = first_;
                walk = previous_;
            }
            while (walk > 0xFF) {
                stack_[depth++] = suffix_[walk];
                walk = prefix_[walk];
            }
            stack_[depth++] = static_cast<uint8_t>(walk);
            first_ = static_cast<uint8_t>(walk);
            if (depth > count - produced) return Damaged(error);
            while (depth > 0) dest[produced++] = stack_[--depth];

            if (next_ < TableSize) {
                prefix_[next_] = previous_;
                suffix_[next_] = first_;
                ++next_;
            }
            previous_ = code;
        }
        return true;
    }

  private:
    // The encoder widens its codes as soon as the next code it may define no longer fits; the
    // decoder defines each code one step later, hence the +1.
    unsigned CodeWidth() const {
        const size_t defining = size_t{next_} + 1;
        if (defining < 0x200) return 9;
        if (defining < 0x400) return 10;
        if (defining < 0x800) return 11;
        return 12;
    }

    static bool Damaged(std::string& error) {
        error = "the packed data is damaged";
        return false;
    }

    std::array<uint16_t, TableSize> prefix_{};
    std::array<uint8_t, TableSize> suffix_{};
    std::array<uint8_t, TableSize + 1> stack_{};
    uint16_t next_ = FirstFreeCode;
    uint16_t previous_ = NoCode;
    uint8_t first_ = 0;
};

// Expands ShrinkIt's runs (delimiter, byte, count - 1) from in into a whole chunk.
bool ExpandRuns(const uint8_t* in, size_t length, uint8_t delimiter, uint8_t* chunk) {
    size_t out = 0;
    for (size_t i = 0; i < length;) {
        if (in[i] == delimiter) {
            if (length - i < 3) return false;
            const size_t run = size_t{in[i + 2]} + 1;
            if (run > ChunkSize - out) return false;
            std::fill_n(chunk + out, run, in[i + 1]);
            out += run;
            i += 3;
        } else {
            if (out == ChunkSize) return false;
            chunk[out++] = in[i++];
        }
    }
    return out == ChunkSize;
}

}  // namespace

uint16_t Crc16Ccitt(ByteView bytes, uint16_t seed) {
    uint16_t crc = seed;
    for (size_t i = 0; i < bytes.size; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ CrcTable[((crc >> 8) ^ bytes.data[i]) & 0xFF]);
    }
    return crc;
}

bool UnpackShrinkIt(ByteView packed, ShrinkItMethod method, size_t length, std::vector<uint8_t>& out,
                    std::string& error) {
    out.clear();
    const bool lzw1 = method == ShrinkItMethod::Lzw1;
    const size_t headerSize = lzw1 ? 4 : 2;
    if (length == 0) return true;
    if (!Contains(packed, 0, headerSize)) {
        error = "the packed data ends early";
        return false;
    }
    const uint16_t storedCrc = lzw1 ? ReadU16Le(packed, 0) : 0;
    const uint8_t delimiter = ReadU8(packed, headerSize - 1);
    size_t pos = headerSize;
    // Reserved for what typical data unpacks to; the rest grows only as real chunks unpack.
    out.reserve(std::min(length, ChunkSize + packed.size * 4));

    // The table is large: keep it off the stack.
    auto table = std::make_unique<LzwTable>();
    table->Clear();
    std::array<uint8_t, ChunkSize> runs{};
    std::array<uint8_t, ChunkSize> chunk{};
    uint16_t crc = 0;
    while (out.size() < length) {
        size_t runLength = 0;
        bool coded = false;
        if (lzw1) {
            runLength = ReadU16Le(packed, pos);
            const uint8_t flag = ReadU8(packed, pos + 2);
            if (!Contains(packed, pos, 3) || flag > 1) {
                error =
                    Contains(packed, pos, 3) ? "the packed data is damaged" : "the packed data ends early";
                return false;
            }
            coded = flag == 1;
            pos += 3;
            if (coded) table->Clear();  // LZW/1 learns every chunk afresh
        } else {
            if (!Contains(packed, pos, 2)) {
                error = "the packed data ends early";
                return false;
            }
            const uint16_t word = ReadU16Le(packed, pos);
            runLength = word & 0x1FFF;
            coded = (word & 0x8000) != 0;
            // With LZW the chunk's packed length follows; it is not trusted (some writers store it
            // big-endian): the codes themselves say where the chunk ends.
            pos += coded ? 4 : 2;
        }
        if (runLength > ChunkSize) {
            error = "the packed data is damaged";
            return false;
        }

        if (coded) {
            if (!table->Decode(packed, pos, runs.data(), runLength, error)) return false;
        } else {
            if (!Contains(packed, pos, runLength)) {
                error = "the packed data ends early";
                return false;
            }
            std::copy_n(packed.data + pos, runLength, runs.data());
            pos += runLength;
            if (!lzw1) table->Clear();  // a chunk that LZW could not shrink starts LZW/2's table afresh
        }

        if (runLength == ChunkSize) {
            chunk = runs;
        } else if (!ExpandRuns(runs.data(), runLength, delimiter, chunk.data())) {
            error = "the packed data is damaged";
            return false;
        }
        if (lzw1) crc = Crc16Ccitt(ByteView{chunk.data(), ChunkSize}, crc);
        const size_t take = std::min(ChunkSize, length - out.size());
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
    }
    if (lzw1 && crc != storedCrc) {
        error = "the unpacked data fails its CRC check";
        return false;
    }
    return true;
}

}  // namespace trelmo::containers
