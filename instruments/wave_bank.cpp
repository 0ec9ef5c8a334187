// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/wave_bank.h"

#include <string>
#include <vector>

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

// The song's name without a trailing ".MTP" (letters in either case, the period exact), without its
// folder and without a ProDOS type suffix: the banks that belong to it carry this name.
bool EndsInMtp(const std::string& name) {
    const size_t n = name.size();
    return n >= 4 && name[n - 4] == '.' && (name[n - 3] == 'M' || name[n - 3] == 'm') &&
           (name[n - 2] == 'T' || name[n - 2] == 't') && (name[n - 1] == 'P' || name[n - 1] == 'p');
}

std::string BankStem(const SongFiles& files) {
    std::string stem = SongFileName(files);
    if (EndsInMtp(stem)) stem.resize(stem.size() - 4);
    return stem;
}

struct Candidate {
    std::string name;
    FilePlace place;
};

void AddLookedFor(const SongFiles& files, std::string& lookedFor, const Candidate& candidate) {
    if (!lookedFor.empty()) lookedFor += ", ";
    // Names beside the song are shown bare, as the song knows them; elsewhere the path says where.
    lookedFor += candidate.place == FilePlace::BesideSong
                     ? candidate.name
                     : CompanionPath(files, candidate.name, candidate.place);
}

// The names of a song's bank as the song's own name gives them, in the order they are tried: each
// in the song's folder, then in the caller's folder, and DOC.DATA last in the current folder.
// DOC.DATA beside the song comes before DOC.DATA in the current directory: a player's current
// directory is arbitrary, so a shared bank kept with its songs would otherwise never be found.
std::vector<Candidate> FirstLookCandidates(const SongFiles& files) {
    const std::string stem = BankStem(files);
    const std::string names[] = {stem + ".W", stem + ".DOC", stem + ".D", "DOC.DATA"};
    FilePlace places[2];
    const int placeCount = CompanionPlaces(files, places);
    std::vector<Candidate> candidates;
    for (int p = 0; p < placeCount; ++p) {
        for (const std::string& name : names) candidates.push_back({name, places[p]});
    }
    // Without a folder of its own the song's folder is the current one.
    if (HasSeparateCurrentFolder(files)) candidates.push_back({"DOC.DATA", FilePlace::CurrentFolder});
    return candidates;
}

// The names that songs copied off their disks give their banks: "ECHO.MUS" beside "ECHO.WAVE", a
// game's "MUSIC" beside "WAVE".
std::vector<Candidate> SecondLookCandidates(const SongFiles& files) {
    const std::string songName = SongFileName(files);
    std::vector<std::string> names = {BankStem(files) + ".WAVE"};
    const size_t period = songName.rfind('.');
    if (!EndsInMtp(songName) && period != std::string::npos && period > 0 && period + 1 < songName.size()) {
        const std::string stem = songName.substr(0, period);
        for (const char* suffix : {".W", ".WAVE", ".DOC", ".D"}) names.push_back(stem + suffix);
    }
    names.push_back("WAVE");
    names.push_back("WAVEBANK");
    FilePlace places[2];
    const int placeCount = CompanionPlaces(files, places);
    std::vector<Candidate> candidates;
    for (int p = 0; p < placeCount; ++p) {
        for (const std::string& name : names) candidates.push_back({name, places[p]});
    }
    return candidates;
}

// Finds the first candidate bank that can be read, and reads it. Each candidate is tried by its
// exact name first and then by any spelling that differs in case or carries a type suffix.
FileBlock ReadBankFile(const SongFiles& files, BankSearch& search) {
    for (const Candidate& candidate : FirstLookCandidates(files)) {
        if (candidate.place != FilePlace::CurrentFolder) AddLookedFor(files, search.lookedFor, candidate);
        std::string found;
        FileBlock block = ReadCompanion(files, candidate.name, candidate.place, WaveBankFileLimit, found);
        if (block.ok) {
            search.file.swap(found);  // a swap cannot throw while the block is held
            search.currentFolder = candidate.place == FilePlace::CurrentFolder;
            search.foundBy =
                candidate.place == FilePlace::InstrumentsFolder ? FoundBy::Caller : FoundBy::Name;
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

namespace {

// Loads a bank that was read and found valid; the block is released.
int16_t LoadBankBlock(Synth& synth, FileBlock& block, const MessageSink& messages, BankSearch& search) {
    const ByteView bank = ViewOf(block);
    const int16_t count = ReadS16Le(bank, 0);
    Report(messages, "DOC DATA file found with %d insts.\n", static_cast<int>(count));

    // A wave may run on past the wave image into the descriptor table and convert it, so every
    // descriptor is taken as stored before the first wave is touched.
    uint8_t descriptors[MaxBankInstruments][DescriptorPairSize];
    const int instruments = count > 0 ? count : 0;
    search.instruments = instruments;
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
        synth.InstrumentMap[k] =
            static_cast<uint16_t>(AllocWaveSlot(synth, wave.data, length, 0, length - 1u, loop, 0));
    }

    ReleaseFileBlock(block);
    return 1;
}

// A bank found under a name the song does not give it, or given by the caller, must hold something.
bool HoldsInstruments(ByteView bank) {
    const int16_t count = ReadS16Le(bank, 0);
    return count >= 1 && BankIsValid(bank, count);
}

}  // namespace

int16_t LoadWaveBank(Synth& synth, const SongFiles& files, const MessageSink& messages, BankSearch& search) {
    search = BankSearch{};
    FileBlock block = ReadBankFile(files, search);
    if (!block.ok) {
        if (!search.unreadable.empty()) Report(messages, "Error: wave bank %s\n", search.unreadable.c_str());
        return 0;
    }
    if (!BankIsValid(ViewOf(block), ReadS16Le(ViewOf(block), 0))) {
        Report(messages, "Invalid DOC DATA file.  Bailing.\n");
        search.refused = true;
        ReleaseFileBlock(block);
        return 0;
    }
    return LoadBankBlock(synth, block, messages, search);
}

int16_t LoadSecondLookBank(Synth& synth, const SongFiles& files, const MessageSink& messages,
                           BankSearch& search) {
    for (const Candidate& candidate : SecondLookCandidates(files)) {
        AddLookedFor(files, search.secondLookFor, candidate);
        std::string found;
        FileBlock block = ReadCompanion(files, candidate.name, candidate.place, WaveBankFileLimit, found);
        if (!block.ok) continue;
        if (!HoldsInstruments(ViewOf(block))) {
            ReleaseFileBlock(block);
            continue;
        }
        search.file.swap(found);  // a swap cannot throw while the block is held
        search.currentFolder = false;
        search.refused = false;
        search.foundBy =
            candidate.place == FilePlace::InstrumentsFolder ? FoundBy::Caller : FoundBy::SecondLook;
        return LoadBankBlock(synth, block, messages, search);
    }
    return 0;
}

int16_t LoadChosenBank(Synth& synth, const std::string& path, const MessageSink& messages, BankSearch& search,
                       std::string& problem) {
    search = BankSearch{};
    search.lookedFor = path;
    search.file = path;  // named before the block is held: nothing may throw while it is
    FileBlock block = ReadWholeFile(path.c_str(), WaveBankFileLimit);
    if (!block.ok) {
        search.file.clear();
        problem = FileErrorText(block.error);
        return 0;
    }
    const ByteView bank = ViewOf(block);
    if (!HoldsInstruments(bank)) {
        search.file.clear();
        const int16_t count = ReadS16Le(bank, 0);
        const size_t size = bank.size;
        ReleaseFileBlock(block);
        problem = size < WaveImageOffset + WaveImageSize
                      ? "not a wave bank: " + std::to_string(size) + " bytes, a bank has at least " +
                            std::to_string(WaveImageOffset + WaveImageSize)
                      : "not a usable wave bank: it claims " + std::to_string(count) +
                            " instruments (a bank holds 1 to 15, each described in full)";
        return 0;
    }
    search.foundBy = FoundBy::Caller;
    return LoadBankBlock(synth, block, messages, search);
}

}  // namespace trelmo
