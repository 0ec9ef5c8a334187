// The description of a loaded song: its kind, header facts, where each instrument's samples came
// from, and the length of one pass through its order list.
#include <algorithm>

#include "lib/handle.h"
#include "song/ntg_song.h"
#include "song/song_loader.h"
#include "song/soundsmith_song.h"

namespace trelmo::lib {

namespace {

constexpr uint32_t NtgRecordSize = 32;
constexpr size_t NtgLabelLength = 16;

// NoiseTracker GS keeps a 16-byte label in each instrument record; shown when it is plain text.
std::string NtgName(const Engine& engine, uint32_t record) {
    std::string name;
    for (size_t k = 0; k < NtgLabelLength; ++k) {
        const uint8_t c = ReadU8(engine.SongBlock, record + k);
        if (c == 0) break;
        if (c < 32 || c > 126) return "";
        name += static_cast<char>(c);
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

int FoundByOf(FoundBy how) {
    switch (how) {
        case FoundBy::Name: return TRELMO_FOUND_BY_NAME;
        case FoundBy::SecondLook: return TRELMO_FOUND_BY_SECOND_LOOK;
        case FoundBy::Position: return TRELMO_FOUND_BY_POSITION;
        case FoundBy::Caller: return TRELMO_FOUND_BY_CALLER;
    }
    return TRELMO_FOUND_BY_NAME;
}

void AddInstrument(const Engine& engine, Description& d, int mapIndex, std::string name, int source, std::string file,
                   FoundBy how = FoundBy::Name) {
    trelmo_instrument instrument{};
    instrument.number = mapIndex + 1;
    instrument.source = source;
    instrument.found_by = source == TRELMO_SOURCE_MISSING ? TRELMO_FOUND_BY_NAME : FoundByOf(how);
    const int slot = InstrumentSlot(engine, mapIndex);
    if (source != TRELMO_SOURCE_MISSING && WaveSlotInUse(engine, slot)) {
        const WaveSlot& wave = engine.WaveTable[slot];
        instrument.length = wave.length;
        instrument.loop_start = wave.loopStart;
        instrument.loop_end = wave.loopEnd;
        instrument.loops = wave.flags == 1 ? 1 : 0;
        instrument.volume = wave.defaultVolume;
    }
    d.instruments.push_back(instrument);
    d.names.push_back(std::move(name));
    d.files.push_back(std::move(file));
}

void DescribeSoundSmith(const Engine& engine, Description& d) {
    trelmo_song_info& info = d.info;
    const InstrumentOrigins& origins = engine.origins;
    info.kind_name = "SoundSmith";
    d.form = ReadU8(engine.SongBlock, 0) == 'K' ? "KOV" : "SONGOK";
    info.patterns = static_cast<int>(engine.SoundSmith.patternDataLength / CellsPerPattern);
    info.positions = SoundSmithSongLength(engine);
    info.speed = SoundSmithInitialSpeed(engine);
    info.tempo = 125;
    info.tracks = VoiceCount;
    d.bankFile = origins.bank.file;
    info.bank_used = origins.bankUsed ? 1 : 0;
    info.bank_in_current_folder = origins.bank.currentFolder ? 1 : 0;
    if (origins.byPosition) {
        // Stripped names: the positions the bank fills play its instruments, and have no name to show.
        for (int i = 0; i < origins.bank.instruments && i < SoundSmithInstrumentCount; ++i) {
            AddInstrument(engine, d, i, std::string(), TRELMO_SOURCE_BANK, origins.bank.file, FoundBy::Position);
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
            if (!origins.bankUsed) missingAsif += (missingAsif.empty() ? "" : ", ") + name;
        }
        AddInstrument(engine, d, i, name, source, file, origins.bankUsed ? origins.bank.foundBy : origins.asifFoundBy[i]);
    }
    if (info.missing_count > 0) {
        // A bank that was used names its instruments itself; otherwise every name tried, in the
        // order tried: the bank's names, the instruments' own files, the names songs carry on disks.
        if (origins.bankUsed) {
            d.lookedFor = origins.bank.file;
        } else {
            d.lookedFor = origins.bank.lookedFor;
            for (const std::string& more : {missingAsif, origins.bank.secondLookFor}) {
                if (!more.empty()) d.lookedFor += (d.lookedFor.empty() ? "" : ", ") + more;
            }
        }
        if (!origins.bankUsed && !origins.bank.unreadable.empty()) d.lookedFor += "; " + origins.bank.unreadable;
    }
}

void DescribeNtg(const Engine& engine, Description& d) {
    trelmo_song_info& info = d.info;
    const NtgSongFacts& song = engine.Ntg;
    info.kind_name = "NoiseTracker GS";
    info.patterns = song.patternSize == 0 ? 0 : static_cast<int>(song.patternDataLength / song.patternSize);
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

// Runs the sequencer alone over one pass: every tick is one block of TickLength frames. Notes
// where each position starts: with the pass for the first, else with the tick that reads its
// first row (where the song's place first shows it).
uint64_t MeasurePass(Engine& engine, uint64_t tickLimit, bool& ends, std::vector<uint64_t>& starts, uint64_t& ticks) {
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

void DescribeSong(trelmo_engine& handle) {
    Engine& engine = handle.engine;
    Description& d = handle.description;
    d = Description{};
    d.info.kind = engine.SongKind;
    if (engine.SongKind == SoundSmithSong) {
        DescribeSoundSmith(engine, d);
    } else if (engine.SongKind == NoiseTrackerSong) {
        DescribeNtg(engine, d);
    }
    for (size_t i = 0; i < d.instruments.size(); ++i) {
        d.instruments[i].name = d.names[i].c_str();
        d.instruments[i].file = d.files[i].c_str();
    }
    d.info.form = d.form.c_str();
    d.info.bank_file = d.bankFile.c_str();
    d.info.looked_for = d.lookedFor.c_str();
    d.info.instrument_count = static_cast<int>(d.instruments.size());
    d.info.instruments = d.instruments.data();
    bool ends = true;
    d.positionStarts.assign(static_cast<size_t>(std::max(d.info.positions, 0)), NotReached);
    handle.passFrames = MeasurePass(engine, handle.passTickLimit, ends, d.positionStarts, handle.passTicks);
    d.info.frames = handle.passFrames;
    d.info.ends = ends ? 1 : 0;
    ClearPlayState(engine);
}

}  // namespace trelmo::lib
