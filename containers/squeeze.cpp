// SPDX-License-Identifier: BSD-3-Clause
#include "containers/squeeze.h"

namespace trelmo::containers {
namespace {

constexpr uint16_t MaxNodes = 256;
constexpr int StopSymbol = 256;
constexpr uint8_t RepeatMarker = 0x90;

}  // namespace

bool LooksSqueezed(ByteView bytes) {
    return ReadU8(bytes, 0) == 0x76 && ReadU8(bytes, 1) == 0xFF && bytes.size >= 4;
}

bool Unsqueeze(ByteView squeezed, size_t limit, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (!LooksSqueezed(squeezed)) {
        error = "not squeezed data";
        return false;
    }
    const uint16_t checksum = ReadU16Le(squeezed, 2);
    size_t pos = 4;
    while (pos < squeezed.size && ReadU8(squeezed, pos) != 0) ++pos;
    const size_t nodesAt = pos + 3;  // past the name's terminating zero and the node count
    const uint16_t nodes = ReadU16Le(squeezed, pos + 1);
    if (pos >= squeezed.size || nodes > MaxNodes || !Contains(squeezed, nodesAt, size_t{nodes} * 4)) {
        error = "its squeezed header is damaged";
        return false;
    }

    // A child is another node (0 and up) or a leaf: -1 - symbol, the stop code being symbol 256.
    // Every bit read moves one step, so even a tree that points back at itself ends with the data.
    const size_t bitsAt = nodesAt + size_t{nodes} * 4;
    const size_t bits = (squeezed.size - bitsAt) * 8;
    size_t bit = 0;
    bool repeat = false;
    uint8_t last = 0;
    uint16_t sum = 0;
    auto put = [&](uint8_t byte, size_t count) {
        if (count > limit - out.size()) return false;
        out.insert(out.end(), count, byte);
        sum = static_cast<uint16_t>(sum + byte * count);
        return true;
    };
    bool stopped = nodes == 0;  // an empty file has no tree at all
    while (!stopped) {
        int node = 0;
        int symbol = -1;
        while (symbol < 0) {
            if (bit == bits) {
                error = "its squeezed data ends before its stop code";
                return false;
            }
            const bool one = (ReadU8(squeezed, bitsAt + bit / 8) >> (bit % 8) & 1) != 0;
            ++bit;
            const auto child =
                static_cast<int16_t>(ReadU16Le(squeezed, nodesAt + size_t(node) * 4 + (one ? 2 : 0)));
            if (child < 0) {
                symbol = -1 - child;
            } else if (child >= nodes) {
                error = "its squeezed tree is damaged";
                return false;
            } else {
                node = child;
            }
        }
        bool fits = true;
        if (symbol > StopSymbol) {
            error = "its squeezed tree is damaged";
            return false;
        }
        if (symbol == StopSymbol) {
            stopped = true;
        } else if (repeat) {
            // After the marker: 0 stands for the marker's own byte (which does not become the byte
            // that runs repeat), n for n - 1 more of the last byte.
            repeat = false;
            if (symbol == 0) {
                fits = put(RepeatMarker, 1);
            } else {
                fits = put(last, static_cast<size_t>(symbol) - 1);
            }
        } else if (symbol == RepeatMarker) {
            repeat = true;
        } else {
            fits = put(last = static_cast<uint8_t>(symbol), 1);
        }
        if (!fits) {
            error = "it unpacks to more than the limit of " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    if (sum != checksum) {
        error = "its squeezed data fails its checksum";
        return false;
    }
    return true;
}

}  // namespace trelmo::containers
