// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/squeeze_writer.h"

#include <algorithm>
#include <array>
#include <queue>
#include <vector>

namespace trelmo::writers {
namespace {

constexpr int Stop = 256;
constexpr uint8_t Marker = 0x90;

std::vector<int> RunLengthEncoded(const Bytes& data) {
    std::vector<int> symbols;
    for (size_t i = 0; i < data.size();) {
        const uint8_t byte = data[i];
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == byte && run < 255) ++run;
        if (byte == Marker) {
            symbols.insert(symbols.end(), {Marker, 0});
            i += 1;
        } else if (run >= 3) {
            symbols.insert(symbols.end(), {byte, Marker, static_cast<int>(run)});
            i += run;
        } else {
            symbols.push_back(byte);
            i += 1;
        }
    }
    symbols.push_back(Stop);
    return symbols;
}

}  // namespace

Bytes SqueezeBytes(const Bytes& data, const std::string& name) {
    const std::vector<int> symbols = RunLengthEncoded(data);
    std::array<size_t, 257> counts{};
    for (int s : symbols) ++counts[static_cast<size_t>(s)];

    // Huffman's tree: a node's two children are encoded as the file stores them (a node index, or
    // -1 - symbol for a leaf). Nodes are numbered from the root, which the decoder starts at.
    struct Item {
        size_t weight;
        int code;  // -1 - symbol, or the index of a built node
        bool operator>(const Item& other) const { return weight > other.weight; }
    };
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    for (int s = 0; s <= Stop; ++s) {
        if (counts[static_cast<size_t>(s)] > 0) queue.push({counts[static_cast<size_t>(s)], -1 - s});
    }
    std::vector<std::array<int, 2>> built;
    if (queue.size() == 1) built.push_back({queue.top().code, queue.top().code});
    while (queue.size() > 1) {
        const Item a = queue.top();
        queue.pop();
        const Item b = queue.top();
        queue.pop();
        built.push_back({a.code, b.code});
        queue.push({a.weight + b.weight, static_cast<int>(built.size() - 1)});
    }
    // The last node built is the root: renumber so that it is node 0.
    std::vector<std::array<int, 2>> nodes(built.rbegin(), built.rend());
    const int last = static_cast<int>(built.size()) - 1;
    for (auto& node : nodes) {
        for (int& child : node) child = child >= 0 ? last - child : child;
    }
    std::array<std::vector<bool>, 257> codes;
    std::vector<std::pair<int, std::vector<bool>>> walk{{0, {}}};
    while (!walk.empty()) {
        auto [node, path] = walk.back();
        walk.pop_back();
        for (int side = 0; side < 2; ++side) {
            std::vector<bool> next = path;
            next.push_back(side == 1);
            const int child = nodes[static_cast<size_t>(node)][static_cast<size_t>(side)];
            if (child < 0) {
                codes[static_cast<size_t>(-1 - child)] = next;
            } else {
                walk.emplace_back(child, next);
            }
        }
    }

    Bytes out{0x76, 0xFF};
    unsigned sum = 0;
    for (uint8_t b : data) sum += b;
    PutLe(out, out.size(), sum & 0xFFFF, 2);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    PutLe(out, out.size(), static_cast<uint32_t>(nodes.size()), 2);
    for (const auto& node : nodes) {
        PutLe(out, out.size(), static_cast<uint16_t>(node[0]), 2);
        PutLe(out, out.size(), static_cast<uint16_t>(node[1]), 2);
    }
    size_t bit = 0;
    const size_t start = out.size();
    for (int s : symbols) {
        for (bool one : codes[static_cast<size_t>(s)]) {
            if (bit % 8 == 0) out.push_back(0);
            if (one) out[start + bit / 8] = static_cast<uint8_t>(out[start + bit / 8] | 1u << (bit % 8));
            ++bit;
        }
    }
    return out;
}

}  // namespace trelmo::writers
