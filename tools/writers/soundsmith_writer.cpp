// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/soundsmith_writer.h"

#include <stdexcept>

#include "tools/writers/byte_order.h"
#include "tools/writers/rows.h"

namespace trelmo::writers {

namespace {

constexpr int CellsPerPattern = 896;  // 64 rows x 14 tracks
constexpr size_t PatternData = 600;

}  // namespace

void SoundSmithTune::Put(int pattern, int row, int track, uint8_t note, uint8_t effect, uint8_t param) {
    const auto cells = static_cast<size_t>(patternCount * CellsPerPattern);
    if (pattern < 0 || row < 0 || row >= 64 || track < 0 || track >= 14 || pattern >= patternCount)
        throw std::out_of_range("cell outside the patterns");
    if (notes.size() < cells) {
        notes.resize(cells);
        effects.resize(cells);
        params.resize(cells);
    }
    const auto index = static_cast<size_t>(pattern * CellsPerPattern + row * 14 + track);
    notes[index] = note;
    effects[index] = effect;
    params[index] = param;
}

void SoundSmithTune::Row(int pattern, int row, const std::string& cells) {
    int track = 0;
    for (const CellBytes& cell : ParseRow(cells))
        Put(pattern, row, track++, cell.note, cell.first, cell.second);
}

std::vector<uint8_t> SoundSmithTune::Bytes() const {
    const auto length =
        static_cast<size_t>(patternDataLength >= 0 ? patternDataLength : patternCount * CellsPerPattern);
    writers::Bytes out(PatternData + 3 * length + 28, 0);
    const char* magic = kovMagic ? "KOV" : "SONGOK";
    for (size_t i = 0; magic[i] != 0; ++i) out[i] = static_cast<uint8_t>(magic[i]);
    PutLe(out, 6, static_cast<uint32_t>(length), 2);
    out[8] = speedByte;
    for (size_t i = 0; i < instruments.size() && i < 15; ++i) {
        const size_t record = 20 + 30 * i;
        const std::string& name = instruments[i].name;
        out[record] = static_cast<uint8_t>(name.size());
        for (size_t c = 0; c < name.size() && c < 23; ++c)
            out[record + 1 + c] = static_cast<uint8_t>(name[c]);
        out[record + 24] = instruments[i].volume;
    }
    PutLe(out, 470, static_cast<uint32_t>(songLength >= 0 ? songLength : static_cast<int>(order.size())), 2);
    for (size_t i = 0; i < order.size() && i < 128; ++i) out[472 + i] = order[i];
    for (size_t i = 0; i < length && i < notes.size(); ++i) {
        out[PatternData + i] = notes[i];
        out[PatternData + length + i] = effects[i];
        out[PatternData + 2 * length + i] = params[i];
    }
    for (size_t t = 0; t < 14; ++t) PutLe(out, PatternData + 3 * length + 2 * t, stereo[t], 2);
    return out;
}

}  // namespace trelmo::writers
