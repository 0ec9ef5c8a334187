#include "instruments/wave_bank.h"


#include "instruments/block_reader.h"
#include "instruments/messages.h"
#include "instruments/read_whole_file.h"
#include "instruments/song_files.h"
#include "synth/synth.h"

namespace trelmo {

namespace {

// File layout: a signed 16-bit count, the DOC's 64 KB wave image from offset 2, and from 0x10022 one
// 92-byte record per instrument whose first 12 bytes describe its two oscillators.
constexpr size_t WaveImageOffset = 2;
constexpr size_t WaveImageSize = 65536;
constexpr size_t DescriptorOffset = 65570;
constexpr size_t DescriptorStride = 92;
constexpr size_t DescriptorPairSize = 12;
constexpr int MaxBankInstruments = 15;

// Offsets inside one 6-byte oscillator descriptor.
constexpr size_t PageByte = 1;
constexpr size_t SizeCodeByte = 2;
constexpr size_t ControlByte = 3;
constexpr size_t OscillatorB = 6;

// The song's name without a trailing ".MTP" (letters in either case, the period exact) and without
// its folder: the banks that belong to it carry this name.
std::string BankStem(const SongFiles& files) {
    std::string stem = files.songPath.substr(SongFolder(files).size());
    const size_t n = stem.size();
    if (n >= 4 && stem[n - 4] == '.' && (stem[n - 3] == 'M' || stem[n - 3] == 'm') &&
        (stem[n - 2] == 'T' || stem[n - 2] == 't') && (stem[n - 1] == 'P' || stem[n - 1] == 'p')) {
        stem.resize(n - 4);
    }
    return stem;
}

// Finds the first candidate bank that can be read, and reads it. The candidates are tried in a
// fixed order, each by its exact name first and then by any spelling of it that differs in case.
// DOC.DATA beside the song comes before DOC.DATA in the current directory: a player's current
// directory is arbitrary, so a shared bank kept with its songs would otherwise never be found.
FileBlock ReadBankFile(const SongFiles& files, BankSearch& search) {
    const std::string stem = BankStem(files);
    struct Candidate {
        std::string name;
        FilePlace place;
    };
    const Candidate candidates[] = {{stem + ".W", FilePlace::BesideSong},
                                    {stem + ".DOC", FilePlace::BesideSong},
                                    {stem + ".D", FilePlace::BesideSong},
                                    {"DOC.DATA", FilePlace::BesideSong},
                                    {"DOC.DATA", FilePlace::CurrentFolder}};
    // Without a folder of its own the last two are the same file.
    const size_t count = HasSeparateCurrentFolder(files) ? 5 : 4;
    for (size_t i = 0; i < count; ++i) {
        if (i < 4) search.lookedFor += (i == 0 ? "" : ", ") + candidates[i].name;
        std::string found;
        FileBlock block = ReadCompanion(files, candidates[i].name, candidates[i].place, WaveBankFileLimit, found);
        if (block.ok) {
            search.file = found;
            search.currentFolder = candidates[i].place == FilePlace::CurrentFolder;
            return block;
        }
        // A bank that is there but cannot be read is not the same as no bank: say which and why.
        if (block.error != 0 && search.unreadable.empty()) {
            search.unreadable = found + ": " + FileErrorText(block.error);
        }
    }
    return FileBlock{nullptr, 0, false};
}

// A bank must hold the whole wave image and every descriptor pair its count announces.
bool BankIsValid(ByteView bank, int16_t count) {
    if (count > MaxBankInstruments) return false;
    if (bank.size < WaveImageOffset + WaveImageSize) return false;
    if (count > 0) {
        const size_t needed =
            DescriptorOffset + DescriptorStride * static_cast<size_t>(count - 1) + DescriptorPairSize;
        if (bank.size < needed) return false;
    }
    return true;
}

// Turns the wave at start into signed samples in place and returns its length: the first zero byte
// ends it (as it stops the DOC's oscillator), and so do its size and the end of the file.
uint32_t ConvertWave(ByteView bank, size_t start, uint32_t size) {
    uint32_t n = 0;
    while (n < size && start + n < bank.size) {
        const uint8_t b = ReadU8(bank, start + n);
        if (b == 0) break;
        WriteU8(bank, start + n, static_cast<uint8_t>(b ^ 0x80));
        ++n;
    }
    return n;
}

}  // namespace

uint16_t LoopFlagFromControls(uint8_t a, uint8_t b) {
    // Whole bytes are compared: a sync oscillator (4) or any stray high bit never loops.
    switch (a) {
        case 0:
            return b == 0 ? 1 : 0;  // two free-running oscillators
        case 2:
            return b == 6 ? 1 : 0;  // one-shot A handing over to a swap B
        case 6:
            return (b == 0 || b == 6) ? 1 : 0;  // swap A with a swap or free-running B
        default:
            return 0;
    }
}

int16_t LoadWaveBank(Synth& synth, const SongFiles& files, const MessageSink& messages, BankSearch& search) {
    search = BankSearch{};
    FileBlock block = ReadBankFile(files, search);
    if (!block.ok) {
        if (!search.unreadable.empty()) Report(messages, "Error: wave bank %s\n", search.unreadable.c_str());
        return 0;
    }
    const ByteView bank = ViewOf(block);

    const int16_t count = ReadS16Le(bank, 0);
    if (!BankIsValid(bank, count)) {
        Report(messages, "Invalid DOC DATA file.  Bailing.\n");
        search.refused = true;
        ReleaseFileBlock(block);
        return 0;
    }
    Report(messages, "DOC DATA file found with %d insts.\n", static_cast<int>(count));

    // A wave may run on past the wave image into the descriptor table and convert it, so every
    // descriptor is taken as stored before the first wave is touched.
    uint8_t descriptors[MaxBankInstruments][DescriptorPairSize];
    const int instruments = count > 0 ? count : 0;
    for (int k = 0; k < instruments; ++k) {
        const size_t at = DescriptorOffset + DescriptorStride * static_cast<size_t>(k);
        for (size_t i = 0; i < DescriptorPairSize; ++i) descriptors[k][i] = ReadU8(bank, at + i);
    }

    for (int k = 0; k < instruments; ++k) {
        const uint8_t* pair = descriptors[k];
        const size_t start = WaveImageOffset + 256u * pair[PageByte];
        const uint32_t size = 256u << (pair[SizeCodeByte] & 7u);
        const uint16_t loop =
            LoopFlagFromControls(static_cast<uint8_t>(pair[ControlByte] & 0xFE),
                                 static_cast<uint8_t>(pair[OscillatorB + ControlByte] & 0xFE));
        // Waves converted earlier in this load stay converted: a wave that shares their bytes sees
        // them as they are now, as it would in the DOC's memory.
        const uint32_t length = ConvertWave(bank, start, size);
        const ByteView wave = SubView(bank, start, length);
        synth.InstrumentMap[k] = static_cast<uint16_t>(AllocWaveSlot(synth, wave.data, length, 0, length - 1u, loop, 0));
    }

    ReleaseFileBlock(block);
    return 1;
}

}  // namespace trelmo
