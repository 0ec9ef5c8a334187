// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/asif.h"

#include <string>

#include "instruments/block_reader.h"
#include "instruments/messages.h"
#include "instruments/read_whole_file.h"
#include "instruments/song_files.h"
#include "instruments/wave_bank.h"
#include "synth/synth.h"

namespace trelmo {

namespace {

constexpr size_t FormLengthOffset = 4;
constexpr size_t FormTypeOffset = 8;
constexpr size_t FirstChunkOffset = 12;
constexpr size_t ChunkHeaderSize = 8;

// Inside an "INST" record (after its name).
constexpr size_t WaveCountA = 32;
constexpr size_t WaveCountB = 33;
constexpr size_t ControlA = 37;
constexpr size_t ControlB = 43;

// Inside a "WAVE" body (after its name): the size, 14 bytes this player has no use for, the bytes.
constexpr size_t WaveBytesOffset = 16;

// One pass over the chunks from the first one, until one tagged `tag` is found. Lengths come from
// the file and may be anything, so the walk is bounded by the chunk area (never beyond the file)
// and ends where a whole chunk header no longer fits. Odd lengths are followed directly by the next
// tag: the files this reads were written without pad bytes.
bool FindChunk(ByteView file, size_t areaEnd, const char tag[4], size_t& chunk) {
    uint64_t at = FirstChunkOffset;
    while (at + ChunkHeaderSize <= areaEnd) {
        const auto c = static_cast<size_t>(at);
        if (HasTag(file, c, tag)) {
            chunk = c;
            return true;
        }
        at += ChunkHeaderSize + static_cast<uint64_t>(ReadU32Be(file, c + 4));
    }
    return false;
}

// Both "INST" and "WAVE" bodies open with a length-prefixed name that nothing here reads.
size_t AfterName(ByteView file, size_t chunk) {
    return chunk + ChunkHeaderSize + 1 + ReadU8(file, chunk + ChunkHeaderSize);
}

}  // namespace

void LoadAsifInstrument(Synth& synth, const SongFiles& files, const MessageSink& messages,
                        const std::string& name, int16_t index, std::string& found, FilePlace* foundIn) {
    found.clear();
    FilePlace place = FilePlace::BesideSong;
    // Song loaders pass positions 0..14; anything outside the map has nowhere to go.
    if (index < 0 || index >= InstrumentMapSize) return;
    // The song's folder first, then the caller's; messages name the file beside the song.
    FilePlace places[2];
    const int placeCount = CompanionPlaces(files, places);
    FileBlock block{nullptr, 0, false};
    for (int p = 0; p < placeCount && !block.ok; ++p) {
        block = ReadCompanion(files, name, places[p], AsifFileLimit, found);
        place = places[p];
    }
    if (foundIn != nullptr) *foundIn = place;
    // The block goes if naming it runs out of memory.
    std::string shown;
    try {
        shown = block.ok && place != FilePlace::BesideSong ? found : CompanionPath(files, name);
    } catch (...) {
        ReleaseFileBlock(block);
        throw;
    }
    const char* path = shown.c_str();
    if (!block.ok) {
        found.clear();
        Report(messages, "Error: unable to load ASIF file %s\n", path);
        return;
    }
    const ByteView file = ViewOf(block);

    if (!HasTag(file, 0, "FORM")) {
        Report(messages, "Error: file %s missing FORM signature!\n", path);
        ReleaseFileBlock(block);
        return;
    }
    const uint64_t formEnd = FormTypeOffset + static_cast<uint64_t>(ReadU32Be(file, FormLengthOffset));
    if (!HasTag(file, FormTypeOffset, "ASIF")) {
        Report(messages, "Error: %s is not an ASIF file.\n", path);
        ReleaseFileBlock(block);
        return;
    }
    const size_t areaEnd = formEnd < file.size ? static_cast<size_t>(formEnd) : file.size;

    // The instrument comes first: a file whose instrument is unusable loads nothing at all.
    size_t inst = 0;
    const bool hasInst = FindChunk(file, areaEnd, "INST", inst);
    uint16_t loop = 0;  // a wave without an instrument record plays once
    if (hasInst) {
        // Record bytes beyond the file read as 0, so a record cut short fails this test.
        const size_t record = AfterName(file, inst);
        if (ReadU8(file, record + WaveCountA) != 1 || ReadU8(file, record + WaveCountB) != 1) {
            Report(messages, "Error: waveCounts must be 1 for file %s\n", path);
            ReleaseFileBlock(block);
            return;
        }
        loop = LoopFlagFromControls(static_cast<uint8_t>(ReadU8(file, record + ControlA) & 0xFE),
                                    static_cast<uint8_t>(ReadU8(file, record + ControlB) & 0xFE));
    }

    size_t chunk = 0;
    if (!FindChunk(file, areaEnd, "WAVE", chunk)) {
        ReleaseFileBlock(block);
        return;
    }
    const size_t w = AfterName(file, chunk);
    const int16_t size = ReadS16Le(file, w);
    if (size < 0) {
        Report(messages, "Error: couldn't allocate RAM for wave (whoa... a 512k GS works!)\n");
        ReleaseFileBlock(block);
        return;
    }
    // A wave that claims more bytes than the file holds is cut to the bytes present.
    const ByteView wave = SubView(file, w + WaveBytesOffset, static_cast<size_t>(size));
    const auto length = static_cast<uint32_t>(wave.size);

    // Unlike a wave bank, a zero byte does not shorten the sample: the wave keeps its size and the
    // rest of it holds the last sample before the zero (or the lowest level when there is none).
    uint8_t last = 0x80;
    bool ended = false;
    for (size_t i = 0; i < wave.size; ++i) {
        const uint8_t b = ReadU8(wave, i);
        if (!ended && b != 0) {
            last = static_cast<uint8_t>(b ^ 0x80);
        } else {
            ended = true;
        }
        WriteU8(wave, i, last);
    }

    synth.InstrumentMap[index] =
        static_cast<uint16_t>(AllocWaveSlot(synth, wave.data, length, 0, length - 1u, loop, 0));
    ReleaseFileBlock(block);
}

}  // namespace trelmo
