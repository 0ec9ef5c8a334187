// SPDX-License-Identifier: BSD-3-Clause
#include "containers/inflate.h"

#include <array>

namespace trelmo::containers {
namespace {

constexpr int MaxBits = 15;

struct Bits {
    ByteView in;
    size_t at = 0;
    uint32_t held = 0;
    int count = 0;
    bool overrun = false;

    // n bits (at most 16), least significant first; past the end they read as 0 and overrun is set.
    uint32_t Take(int n) {
        while (count < n) {
            if (at >= in.size) {
                overrun = true;
                return 0;
            }
            held |= static_cast<uint32_t>(ReadU8(in, at++)) << count;
            count += 8;
        }
        const uint32_t value = held & ((1u << n) - 1u);
        held >>= n;
        count -= n;
        return value;
    }
};

// A canonical Huffman code: how many codes of each length, and the symbols in code order.
struct Code {
    std::array<uint16_t, MaxBits + 1> count{};
    std::array<uint16_t, 288> symbol{};
};

bool Build(Code& code, const uint8_t* lengths, size_t n) {
    code.count.fill(0);
    for (size_t i = 0; i < n; ++i) ++code.count[lengths[i]];
    int left = 1;  // an over-subscribed code cannot be decoded
    for (int length = 1; length <= MaxBits; ++length) {
        left = left * 2 - code.count[static_cast<size_t>(length)];
        if (left < 0) return false;
    }
    std::array<uint16_t, MaxBits + 2> offset{};
    for (size_t length = 1; length <= MaxBits; ++length)
        offset[length + 1] = static_cast<uint16_t>(offset[length] + code.count[length]);
    for (size_t i = 0; i < n; ++i) {
        if (lengths[i] != 0) code.symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    }
    return true;
}

// The next symbol, or -1 for a code that is not in the table or runs past the end.
int Decode(Bits& bits, const Code& code) {
    int value = 0, first = 0, index = 0;
    for (size_t length = 1; length <= MaxBits; ++length) {
        value |= static_cast<int>(bits.Take(1));
        if (bits.overrun) return -1;
        const int count = code.count[length];
        if (value - count < first) return code.symbol[static_cast<size_t>(index + value - first)];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                       33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool Codes(Bits& bits, const Code& literals, const Code& distances, size_t expected,
           std::vector<uint8_t>& out, std::string& error) {
    for (;;) {
        const int symbol = Decode(bits, literals);
        if (symbol < 0) return (error = "a damaged deflate stream", false);
        if (symbol == 256) return true;
        if (symbol < 256) {
            if (out.size() >= expected) return (error = "more bytes than the entry states", false);
            out.push_back(static_cast<uint8_t>(symbol));
            continue;
        }
        const size_t lengthSymbol = static_cast<size_t>(symbol - 257);
        if (lengthSymbol >= 29) return (error = "a damaged deflate stream", false);
        const size_t length = LengthBase[lengthSymbol] + bits.Take(LengthExtra[lengthSymbol]);
        const int distanceSymbol = Decode(bits, distances);
        if (distanceSymbol < 0 || distanceSymbol >= 30) return (error = "a damaged deflate stream", false);
        const size_t distance = DistanceBase[distanceSymbol] + bits.Take(DistanceExtra[distanceSymbol]);
        if (bits.overrun) return (error = "a truncated deflate stream", false);
        if (distance > out.size()) return (error = "a deflate stream that points before its start", false);
        if (length > expected - out.size()) return (error = "more bytes than the entry states", false);
        for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
}

bool Stored(Bits& bits, size_t expected, std::vector<uint8_t>& out, std::string& error) {
    bits.held = 0;  // a stored block starts at the next byte
    bits.count = 0;
    const uint16_t length = ReadU16Le(bits.in, bits.at);
    const uint16_t check = ReadU16Le(bits.in, bits.at + 2);
    if (!Contains(bits.in, bits.at, 4) || static_cast<uint16_t>(~check) != length)
        return (error = "a damaged stored block", false);
    bits.at += 4;
    if (!Contains(bits.in, bits.at, length)) return (error = "a truncated deflate stream", false);
    if (length > expected - out.size()) return (error = "more bytes than the entry states", false);
    for (size_t i = 0; i < length; ++i) out.push_back(ReadU8(bits.in, bits.at + i));
    bits.at += length;
    return true;
}

bool Dynamic(Bits& bits, Code& literals, Code& distances, std::string& error) {
    const size_t literalCount = bits.Take(5) + 257, distanceCount = bits.Take(5) + 1,
                 lengthCount = bits.Take(4) + 4;
    if (literalCount > 286 || distanceCount > 30) return (error = "a damaged deflate header", false);
    static constexpr uint8_t Order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t lengths[286 + 30] = {};
    for (size_t i = 0; i < lengthCount; ++i) lengths[Order[i]] = static_cast<uint8_t>(bits.Take(3));
    Code lengthCode;
    if (bits.overrun || !Build(lengthCode, lengths, 19)) return (error = "a damaged deflate header", false);
    const size_t total = literalCount + distanceCount;
    for (size_t i = 0; i < total;) {
        const int symbol = Decode(bits, lengthCode);
        if (symbol < 0) return (error = "a damaged deflate header", false);
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        size_t repeat = 0;
        if (symbol == 16) {
            if (i == 0) return (error = "a damaged deflate header", false);
            value = lengths[i - 1];
            repeat = 3 + bits.Take(2);
        } else {
            repeat = symbol == 17 ? 3 + bits.Take(3) : 11 + bits.Take(7);
        }
        if (bits.overrun || repeat > total - i) return (error = "a damaged deflate header", false);
        for (; repeat > 0; --repeat) lengths[i++] = value;
    }
    if (lengths[256] == 0 || !Build(literals, lengths, literalCount) ||
        !Build(distances, lengths + literalCount, distanceCount)) {
        return (error = "a damaged deflate header", false);
    }
    return true;
}

}  // namespace

bool Inflate(ByteView in, size_t expected, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    Bits bits{in};
    Code literals, distances;
    bool last = false;
    while (!last) {
        last = bits.Take(1) == 1;
        const uint32_t type = bits.Take(2);
        if (bits.overrun) return (error = "a truncated deflate stream", false);
        bool ok = false;
        if (type == 0) {
            ok = Stored(bits, expected, out, error);
        } else if (type == 1) {
            uint8_t lengths[288 + 30];
            for (size_t i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
            for (size_t i = 288; i < 288 + 30; ++i) lengths[i] = 5;
            Build(literals, lengths, 288);
            Build(distances, lengths + 288, 30);
            ok = Codes(bits, literals, distances, expected, out, error);
        } else if (type == 2) {
            ok = Dynamic(bits, literals, distances, error) &&
                 Codes(bits, literals, distances, expected, out, error);
        } else {
            error = "a damaged deflate stream";
        }
        if (!ok) return false;
    }
    if (out.size() != expected) return (error = "fewer bytes than the entry states", false);
    return true;
}

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

}  // namespace trelmo::containers
