// SPDX-License-Identifier: BSD-3-Clause
// The description of a loaded song: its kind, header facts, where each instrument's samples came
// from, and the length of one pass through its order list.
#include <algorithm>

#include "lib/handle.h"
#include "lib/iigs_text.h"
#include "song/ntg_song.h"
#include "song/song_loader.h"
#include "song/soundsmith_song.h"

namespace trelmo::lib {

namespace {

constexpr uint32_t NtgRecordSize = 32;
constexpr size_t NtgLabelLength = 16;

// NoiseTracker GS keeps a 16-byte label in each instrument record; a label with control bytes in it
// is left-over memory, not a name.
std::string NtgName(const Engine& engine, uint32_t record) {
    std::string name;
    for (size_t k = 0; k < NtgLabelLength; ++k) {
        const uint8_t c = ReadU8(engine.SongBlock, record + k);
        if (c == 0) break;
        if (c < 32 || c == 127) return "";
        name += static_cast<char>(c);
    }
    return name;
}

int FoundByOf(FoundBy how) {
    switch (how) {
        case FoundBy::Name:
            return TRELMO_FOUND_BY_NAME;
        case FoundBy::SecondLook:
            return TRELMO_FOUND_BY_SECOND_LOOK;
        case FoundBy::Position:
            return TRELMO_FOUND_BY_POSITION;
        case FoundBy::Caller:
            return TRELMO_FOUND_BY_CALLER;
    }
    return TRELMO_FOUND_BY_NAME;
}

void AddInstrument(const Engine& engine, Description& d, int mapIndex, const std::string& rawName, int source,
                   std::string file, FoundBy how = FoundBy::Name) {
    InstrumentFacts instrument;
    instrument.number = mapIndex + 1;
    instrument.source = source;
    instrument.foundBy = source == TRELMO_SOURCE_MISSING ? TRELMO_FOUND_BY_NAME : FoundByOf(how);
    instrument.rawName = rawName;
    instrument.name = DecodeIigsText(rawName);
    instrument.file = std::move(file);
    const int slot = InstrumentSlot(engine, mapIndex);
    if (source != TRELMO_SOURCE_MISSING && WaveSlotInUse(engine, slot)) {
        const WaveSlot& wave = engine.WaveTable[slot];
        instrument.length = wave.length;
        instrument.loopStart = wave.loopStart;
        instrument.loopEnd = wave.loopEnd;
        instrument.loops = wave.flags == 1 ? 1 : 0;
        instrument.volume = wave.defaultVolume;
    }
    d.instruments.push_back(std::move(instrument));
}

void DescribeSoundSmith(const Engine& engine, Description& d) {
    trelmo_song_info& info = d.info;
    const InstrumentOrigins& origins = engine.origins;
    d.metadata[Type] = "mtp";
    d.metadata[TypeLong] = "SoundSmith";
    d.metadata[Form] = ReadU8(engine.SongBlock, 0) == 'K' ? "KOV" : "SONGOK";
    info.patterns = static_cast<int>(engine.SoundSmith.patternDataLength / CellsPerPattern);
    info.positions = SoundSmithSongLength(engine);
    info.speed = SoundSmithInitialSpeed(engine);
    info.tempo = 125;
    info.tracks = VoiceCount;
    d.metadata[Bank] = origins.bank.file;
    info.bank_used = origins.bankUsed ? 1 : 0;
    info.bank_in_current_folder = origins.bank.currentFolder ? 1 : 0;
    if (origins.byPosition) {
        // Stripped names: the positions the bank fills play its instruments, and have no name to show.
        for (int i = 0; i < origins.bank.instruments && i < SoundSmithInstrumentCount; ++i) {
            AddInstrument(engine, d, i, std::string(), TRELMO_SOURCE_BANK, origins.bank.file,
                          FoundBy::Position);
        }
        return;
    }
    std::string missingAsif;
    for (int i = 0; i < SoundSmithInstrumentCount; ++i) {
        if (!SoundSmithInstrumentNamed(engine, i)) continue;
        const std::string name = SoundSmithInstrumentName(engine, i);
        const bool present = WaveSlotInUse(engine, InstrumentSlot(engine, i));
        std::string file = origins.bankUsed ? origins.bank.file : origins.asifFile[i];
        if (file.empty()) file = CompanionPath(engine.files, name);
        int source = origins.bankUsed ? TRELMO_SOURCE_BANK : TRELMO_SOURCE_ASIF;
        if (!present) {
            source = TRELMO_SOURCE_MISSING;
            ++info.missing_count;
            if (!origins.bankUsed) missingAsif += (missingAsif.empty() ? "" : ", ") + DecodeIigsText(name);
        }
        AddInstrument(engine, d, i, name, source, std::move(file),
                      origins.bankUsed ? origins.bank.foundBy : origins.asifFoundBy[i]);
    }
    if (info.missing_count > 0) {
        // A bank that was used names its instruments itself; otherwise every name tried, in the
        // order tried: the bank's names, the instruments' own files, the names songs carry on disks.
        std::string& lookedFor = d.metadata[LookedFor];
        if (origins.bankUsed) {
            lookedFor = origins.bank.file;
        } else {
            lookedFor = origins.bank.lookedFor;
            for (const std::string& more : {missingAsif, origins.bank.secondLookFor}) {
                if (!more.empty()) lookedFor += (lookedFor.empty() ? "" : ", ") + more;
            }
        }
        if (!origins.bankUsed && !origins.bank.unreadable.empty())
            lookedFor += "; " + origins.bank.unreadable;
    }
}

void DescribeNtg(const Engine& engine, Description& d) {
    trelmo_song_info& info = d.info;
    const NtgSongFacts& song = engine.Ntg;
    d.metadata[Type] = "ntg";
    d.metadata[TypeLong] = "NoiseTracker GS";
    // Counted in the pattern data the file really holds: a damaged header may claim up to 4 GB.
    const uint64_t held = engine.SongBlock.size > NtgHeaderSize ? engine.SongBlock.size - NtgHeaderSize : 0;
    const uint64_t data = std::min<uint64_t>(song.patternDataLength, held);
    info.patterns = song.patternSize == 0 ? 0 : static_cast<int>(data / song.patternSize);
    info.positions = song.songLength;
    info.tempo_word = ReadU16Le(engine.SongBlock, 16);
    info.tempo = NtgTempo(static_cast<uint32_t>(info.tempo_word));
    info.tracks = song.trackCount;
    const uint32_t records = NtgHeaderSize + song.patternDataLength;
    const uint32_t count = std::min<uint32_t>(song.recordCount, InstrumentMapSize);
    for (uint32_t i = 0; i < count; ++i) {
        AddInstrument(engine, d, static_cast<int>(i), NtgName(engine, records + NtgRecordSize * i),
                      TRELMO_SOURCE_SONG, std::string());
    }
}

// The texts a player shows: the instruments' names as a tracker's message, and what is missing.
void DescribeTexts(Description& d) {
    std::string& message = d.metadata[Message];
    std::string missing;
    for (const InstrumentFacts& instrument : d.instruments) {
        message += instrument.name + "\n";
        if (instrument.source == TRELMO_SOURCE_MISSING)
            missing += (missing.empty() ? "" : ", ") + instrument.name;
    }
    if (!message.empty()) message.pop_back();
    if (d.info.missing_count > 0) {
        d.metadata[Warnings] =
            "instruments missing, played silent: " + missing + " (looked for " + d.metadata[LookedFor] + ")";
    }
}

// Runs the sequencer alone over one pass: every tick is one block of TickLength frames. Notes
// where each position starts: with the pass for the first, else with the tick that reads its
// first row (where the song's place first shows it).
uint64_t MeasurePass(Engine& engine, uint64_t tickLimit, bool& ends, std::vector<uint64_t>& starts,
                     uint64_t& ticks) {
    StartSong(engine);
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
    if (!starts.empty()) starts[0] = 0;
    uint64_t frames = 0;
    ticks = 0;
    while (engine.Player.songEnded == 0 && ticks < tickLimit) {
        const int position = engine.Player.orderPosition;
        const int row = engine.Player.rowIndex;
        SequencerTick(engine);
        // Every row read moves the row on or the position on.
        const bool rowRead = engine.Player.rowIndex != row || engine.Player.orderPosition != position;
        if (rowRead && row == 0 && position >= 0 && static_cast<size_t>(position) < starts.size() &&
            starts[static_cast<size_t>(position)] == NotReached) {
            starts[static_cast<size_t>(position)] = frames;
        }
        frames += engine.TickLength;
        ++ticks;
    }
    ends = engine.Player.songEnded != 0;
    return frames;
}

}  // namespace

void ClearPlayState(Engine& engine) {
    for (Voice& voice : engine.VoiceBank) voice = Voice{};
    engine.TickLength = InitialTickLength;
    engine.currentTempo = 0;
    engine.Player = PlayerState{};
}

void DescribeSong(trelmo_engine& handle, const std::string& title) {
    Engine& engine = handle.engine;
    Description& d = handle.description;
    d = Description{};
    d.info.kind = engine.SongKind;
    d.metadata[Title] = title;
    if (engine.SongKind == SoundSmithSong) {
        DescribeSoundSmith(engine, d);
    } else if (engine.SongKind == NoiseTrackerSong) {
        DescribeNtg(engine, d);
    }
    DescribeTexts(d);
    d.info.instrument_count = static_cast<int>(d.instruments.size());
    bool ends = true;
    d.positionStarts.assign(static_cast<size_t>(std::max(d.info.positions, 0)), NotReached);
    handle.passFrames = MeasurePass(engine, handle.passTickLimit, ends, d.positionStarts, handle.passTicks);
    d.info.frames = handle.passFrames;
    d.info.ends = ends ? 1 : 0;
    ClearPlayState(engine);
}

}  // namespace trelmo::lib
