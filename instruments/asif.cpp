#include "instruments/asif.h"

#include <cstdio>
#include <string>

#include "instruments/block_reader.h"
#include "instruments/find_file.h"
#include "instruments/read_whole_file.h"
#include "instruments/wave_bank.h"
#include "synth/wave_table.h"

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

void LoadAsifInstrument(const char* path, int16_t index) {
    // Song loaders pass positions 0..14; anything outside the map has nowhere to go.
    if (path == nullptr || index < 0 || index >= InstrumentMapSize) return;
    // Songs name their instrument files as the IIgs knew them; on disk the case may differ.
    const std::string found = FindFileIgnoringCase(path);
    FileBlock block = found.empty() ? FileBlock{nullptr, 0, false} : ReadWholeFile(found.c_str());
    if (!block.ok) {
        std::printf("Error: unable to load ASIF file %s\n", path);
        return;
    }
    const ByteView file = ViewOf(block);

    if (!HasTag(file, 0, "FORM")) {
        std::printf("Error: file %s missing FORM signature!\n", path);
        ReleaseFileBlock(block);
        return;
    }
    const uint64_t formEnd = FormTypeOffset + static_cast<uint64_t>(ReadU32Be(file, FormLengthOffset));
    if (!HasTag(file, FormTypeOffset, "ASIF")) {
        std::printf("Error: %s is not an ASIF file.\n", path);
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
            std::printf("Error: waveCounts must be 1 for file %s\n", path);
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
        std::printf("Error: couldn't allocate RAM for wave (whoa... a 512k GS works!)\n");
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

    InstrumentMap[index] = static_cast<uint16_t>(AllocWaveSlot(wave.data, length, 0, length - 1u, loop, 0));
    ReleaseFileBlock(block);
}

}  // namespace trelmo
