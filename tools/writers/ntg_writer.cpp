// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/ntg_writer.h"

#include <algorithm>
#include <stdexcept>

#include "tools/writers/byte_order.h"
#include "tools/writers/rows.h"

namespace trelmo::writers {

namespace {

constexpr uint32_t HeaderSize = 606;
constexpr uint32_t PageSize = 256;
constexpr uint32_t RecordSize = 32;

void Put16(Bytes& bytes, size_t at, uint32_t value) {
    PutLe(bytes, at, value, 2);
}
void Put24(Bytes& bytes, size_t at, uint32_t value) {
    PutLe(bytes, at, value, 3);
}
void Put32(Bytes& bytes, size_t at, uint32_t value) {
    PutLe(bytes, at, value, 4);
}

uint32_t Pages(size_t length) {
    return static_cast<uint32_t>((length + PageSize - 1) / PageSize);
}

// Start pages of one group: given ones as they are, the others one after another.
std::vector<uint32_t> PlaceGroup(const std::vector<NtgInstrumentPlan>& group, uint32_t* pagesUsed) {
    std::vector<uint32_t> pages;
    uint32_t next = 0;
    uint32_t end = 0;
    for (const NtgInstrumentPlan& instrument : group) {
        const uint32_t page = instrument.startPage ? *instrument.startPage : next;
        pages.push_back(page);
        end = std::max(end, page + Pages(instrument.sample.size()));
        if (!instrument.startPage) next = page + Pages(instrument.sample.size());
    }
    *pagesUsed = end;
    return pages;
}

}  // namespace

void NtgSongPlan::Cell(int pattern, int row, int track, uint8_t note, uint8_t control, uint8_t parameter) {
    const size_t rowBytes = size_t{trackCount} * 3;
    if (patterns.size() <= static_cast<size_t>(pattern)) patterns.resize(static_cast<size_t>(pattern) + 1);
    std::vector<uint8_t>& cells = patterns[static_cast<size_t>(pattern)];
    cells.resize(64 * rowBytes, 0);
    const size_t at = static_cast<size_t>(row) * rowBytes + static_cast<size_t>(track) * 3;
    if (at + 3 > cells.size()) throw std::out_of_range("cell outside the pattern");
    cells[at] = note;
    cells[at + 1] = control;
    cells[at + 2] = parameter;
}

void NtgSongPlan::Row(int pattern, int row, const std::string& cells) {
    int track = 0;
    for (const CellBytes& cell : ParseRow(cells))
        Cell(pattern, row, track++, cell.note, cell.first, cell.second);
}

std::vector<uint8_t> BuildNtgSong(const NtgSongPlan& song, NtgLayout* layout) {
    std::vector<uint8_t> bytes(HeaderSize, 0);
    bytes[2] = 'F';
    bytes[3] = 'T';
    bytes[4] = 'A';
    bytes[6] = 'M';
    bytes[7] = 'O';
    bytes[15] = 'E';

    const uint32_t patternSize = song.patternSize ? *song.patternSize : 64u * song.trackCount * 3u;
    const uint32_t patternLength = song.patternDataLength
                                       ? *song.patternDataLength
                                       : static_cast<uint32_t>(song.patterns.size()) * patternSize;
    const uint32_t recordCount = static_cast<uint32_t>(song.firstGroup.size() + song.secondGroup.size());
    uint32_t firstPagesUsed = 0;
    uint32_t secondPagesUsed = 0;
    const std::vector<uint32_t> firstPages = PlaceGroup(song.firstGroup, &firstPagesUsed);
    const std::vector<uint32_t> secondPages = PlaceGroup(song.secondGroup, &secondPagesUsed);
    const uint32_t firstGroupPages = song.firstGroupPages ? *song.firstGroupPages : firstPagesUsed;

    Put16(bytes, 16, song.tempo);
    Put16(bytes, 22, song.songLength ? *song.songLength : static_cast<uint32_t>(song.order.size()));
    Put16(
        bytes, 26,
        song.secondGroupRecords ? *song.secondGroupRecords : static_cast<uint32_t>(song.secondGroup.size()));
    Put16(bytes, 28,
          song.firstGroupRecords ? *song.firstGroupRecords : static_cast<uint32_t>(song.firstGroup.size()));
    Put16(bytes, 34, firstGroupPages);
    Put16(bytes, 36, song.firstGroupTracks);
    Put16(bytes, 38, patternSize);
    Put16(bytes, 40, song.trackCount);
    Put32(bytes, 42, patternLength);
    for (size_t k = 0; k < song.channels.size(); ++k) Put16(bytes, 64 + 2 * k, song.channels[k]);
    for (size_t p = 0; p < song.order.size() && p < 256; ++p) Put16(bytes, 94 + 2 * p, song.order[p]);

    // Pattern data: exactly patternLength bytes; cells that do not fit are left out.
    bytes.resize(size_t{HeaderSize} + patternLength, 0);
    for (size_t p = 0; p < song.patterns.size(); ++p) {
        for (size_t i = 0; i < song.patterns[p].size(); ++i) {
            const size_t at = p * patternSize + i;
            if (at < patternLength) bytes[HeaderSize + at] = song.patterns[p][i];
        }
    }

    const uint32_t recordsOffset = HeaderSize + patternLength;
    const uint32_t firstArea =
        (recordsOffset + RecordSize * recordCount + PageSize - 1) / PageSize * PageSize;
    const uint32_t secondArea = firstArea + PageSize * firstGroupPages;
    bytes.resize(firstArea, 0);

    const auto writeGroup = [&](const std::vector<NtgInstrumentPlan>& group,
                                const std::vector<uint32_t>& pages, uint32_t firstRecord, uint32_t area) {
        for (size_t i = 0; i < group.size(); ++i) {
            const NtgInstrumentPlan& instrument = group[i];
            const size_t record = recordsOffset + RecordSize * (firstRecord + i);
            const uint32_t length = instrument.lengthField ? *instrument.lengthField
                                                           : static_cast<uint32_t>(instrument.sample.size());
            Put24(bytes, record + 16, length);
            Put16(bytes, record + 19, pages[i]);
            Put8(bytes, record + 21, instrument.volume);
            Put8(bytes, record + 26, instrument.mode);
            for (size_t c = 0; c < instrument.name.size() && c < 16; ++c)
                Put8(bytes, record + c, static_cast<uint8_t>(instrument.name[c]));
            const size_t start = size_t{area} + size_t{PageSize} * pages[i];
            for (size_t b = 0; b < instrument.sample.size(); ++b)
                Put8(bytes, start + b, instrument.sample[b]);
        }
    };
    writeGroup(song.firstGroup, firstPages, 0, firstArea);
    writeGroup(song.secondGroup, secondPages, static_cast<uint32_t>(song.firstGroup.size()), secondArea);

    if (layout != nullptr) *layout = NtgLayout{recordsOffset, firstArea, secondArea};
    return bytes;
}

std::vector<uint8_t> NtgSquareWave(uint32_t length) {
    std::vector<uint8_t> wave(length);
    for (uint32_t i = 0; i < length; ++i) wave[i] = i < length / 2 ? 0xC0 : 0x40;
    return wave;
}

}  // namespace trelmo::writers
