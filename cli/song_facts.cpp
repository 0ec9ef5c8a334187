#include "cli/song_facts.h"

#include <cerrno>
#include <cstring>

#include "cli/stdout_redirect.h"
#include "instruments/block_reader.h"
#include "instruments/find_file.h"
#include "instruments/read_whole_file.h"
#include "instruments/wave_bank.h"
#include "song/ntg_song.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "song/soundsmith_song.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"

namespace trelmo::cli {

namespace {

// Longer than any song can be (128 positions x 64 rows x 15 ticks at the slowest tempo is far
// less); a damaged song that never ends stops here.
constexpr uint64_t MaxTicks = 1u << 22;
constexpr size_t SoundSmithRecords = 20;
constexpr size_t SoundSmithRecordSize = 30;

std::string SoundSmithName(int i) {
    const size_t record = SoundSmithRecords + SoundSmithRecordSize * static_cast<size_t>(i);
    size_t length = ReadU8(SongBlock, record);
    if (length > 23) length = 23;
    std::string name;
    for (size_t k = 0; k < length; ++k) name += static_cast<char>(ReadU8(SongBlock, record + 1 + k));
    return name;
}

// NoiseTracker GS keeps a 16-byte label in each instrument record; shown when it is plain text.
std::string NtgName(uint32_t record) {
    std::string name;
    for (size_t k = 0; k < 16; ++k) {
        const uint8_t c = ReadU8(SongBlock, record + k);
        if (c == 0) break;
        if (c < 32 || c > 126) return "";
        name += static_cast<char>(c);
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

void DescribeSlot(int mapIndex, InstrumentFacts& instrument) {
    const int slot = InstrumentSlot(mapIndex);
    if (!WaveSlotInUse(slot)) return;
    const WaveSlot& wave = WaveTable[slot];
    instrument.length = wave.length;
    instrument.loopStart = wave.loopStart;
    instrument.loopEnd = wave.loopEnd;
    instrument.loops = wave.flags == 1;
    instrument.volume = wave.defaultVolume;
}

void DescribeSoundSmith(const std::string& path, SongFacts& facts) {
    facts.kind = "SoundSmith";
    facts.form = ReadU8(SongBlock, 0) == 'K' ? "KOV" : "SONGOK";
    facts.patterns = static_cast<int>(SoundSmith.patternDataLength / CellsPerPattern);
    facts.positions = SoundSmithSongLength();
    facts.speed = SoundSmithInitialSpeed();
    facts.tempo = 125;
    facts.tracks = VoiceCount;
    const std::string folder = FolderOf(path);
    for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
        const std::string name = SoundSmithName(i);
        if (name.empty()) continue;
        InstrumentFacts instrument;
        instrument.number = i + 1;
        instrument.name = name;
        if (WaveSlotInUse(InstrumentSlot(i))) {
            instrument.source = facts.bankUsed ? "bank" : "asif";
            instrument.file = facts.bankUsed ? facts.bankFile : FindFileIgnoringCase(folder + name);
            DescribeSlot(i, instrument);
        } else {
            instrument.source = "missing";
            instrument.file = facts.bankUsed ? facts.bankFile : folder + name;
            facts.missing.push_back(name);
        }
        facts.instruments.push_back(instrument);
    }
}

void DescribeNtg(SongFacts& facts) {
    const NtgSongFacts& song = NtgSong();
    facts.kind = "NoiseTracker GS";
    facts.patterns = song.patternSize == 0 ? 0 : static_cast<int>(song.patternDataLength / song.patternSize);
    facts.positions = song.songLength;
    facts.tempoWord = ReadU16Le(SongBlock, 16);
    facts.tempo = NtgTempo(static_cast<uint32_t>(facts.tempoWord));
    facts.tracks = song.trackCount;
    const uint32_t records = NtgHeaderSize + song.patternDataLength;
    const uint32_t count = song.recordCount < InstrumentMapSize ? song.recordCount : InstrumentMapSize;
    for (uint32_t i = 0; i < count; ++i) {
        InstrumentFacts instrument;
        instrument.number = static_cast<int>(i + 1);
        instrument.name = NtgName(records + 32 * i);
        instrument.source = "song";
        DescribeSlot(static_cast<int>(i), instrument);
        facts.instruments.push_back(instrument);
    }
}

}  // namespace

bool ReadSongFacts(const std::string& path, int diagnosticsFd, SongFacts& facts, std::string& error) {
    facts = SongFacts{};
    if (path.size() > MaxPathLength) {
        error = "path too long";
        return false;
    }
    errno = 0;
    FileBlock block = ReadWholeFile(path.c_str());
    if (!block.ok) {
        const int reason = errno;
        error = std::string("cannot open: ") + std::strerror(reason != 0 ? reason : ENOENT);
        return false;
    }
    const int16_t kind = DetectSongKind(block.data, block.size);
    ReleaseFileBlock(block);
    if (kind == NoSong) {
        error = "not a SoundSmith or NoiseTracker GS song";
        return false;
    }

    if (kind == SoundSmithSong) {
        // Whether the bank that belongs to the song is usable decides where every instrument's
        // samples come from; the loader does not say, so the bank is tried once on its own.
        facts.bankFile = FindWaveBank(path.c_str());
        if (!facts.bankFile.empty()) {
            StdoutRedirect silence(-1);
            FreeAllWaveSlots();
            ResetWaveTable();
            facts.bankUsed = LoadWaveBank(path.c_str()) == 1;
            FreeAllWaveSlots();
            ResetWaveTable();
        }
    }
    {
        StdoutRedirect diagnostics(diagnosticsFd);
        std::memcpy(SongPath, path.c_str(), path.size() + 1);
        LoadSong();
    }
    if (SongKind == SoundSmithSong) {
        DescribeSoundSmith(path, facts);
    } else if (SongKind == NoiseTrackerSong) {
        DescribeNtg(facts);
    } else {
        error = "cannot be loaded";
        return false;
    }

    // The length: every tick the mixer thread would render is one block of TickLength frames.
    StartSong();
    ResetVoiceBank();
    SetTickRate(125);
    uint64_t ticks = 0;
    while (Player.songEnded == 0 && ticks < MaxTicks) {
        SequencerTick();
        facts.frames += TickLength;
        ++ticks;
    }
    facts.ends = Player.songEnded != 0;
    return true;
}

}  // namespace trelmo::cli
