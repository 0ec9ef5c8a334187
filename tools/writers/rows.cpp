// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/rows.h"

#include <sstream>
#include <stdexcept>

#include "tools/writers/note_names.h"

namespace trelmo::writers {

namespace {

uint8_t HexByte(const std::string& text) {
    if (text.empty()) return 0;
    size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 16);
    if (used != text.size() || value > 0xFF) throw std::invalid_argument("not a hex byte: " + text);
    return static_cast<uint8_t>(value);
}

}  // namespace

std::vector<CellBytes> ParseRow(const std::string& row) {
    std::vector<CellBytes> cells;
    std::stringstream all(row);
    std::string text;
    while (std::getline(all, text, '|')) {
        std::stringstream fields(text);
        std::string note, first, second, extra;
        fields >> note >> first >> second;
        if (fields >> extra) throw std::invalid_argument("a cell has three fields: " + text);
        CellBytes cell;
        if (!note.empty()) cell.note = NoteByte(note);
        cell.first = HexByte(first);
        cell.second = HexByte(second);
        cells.push_back(cell);
    }
    return cells;
}

}  // namespace trelmo::writers
