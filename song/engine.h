// SPDX-License-Identifier: BSD-3-Clause
// One engine: a synthesizer with the song it plays. Every engine operation works on an instance,
// and instances share nothing, so any number may play at once, each on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "instruments/block_reader.h"
#include "instruments/messages.h"
#include "instruments/song_files.h"
#include "instruments/wave_bank.h"
#include "song/ntg_song.h"
#include "song/player_state.h"
#include "song/soundsmith_song.h"
#include "synth/synth.h"

namespace trelmo {

#ifdef _WIN32
constexpr size_t MaxPathLength = 259;
#else
constexpr size_t MaxPathLength = 4095;
#endif

enum : int16_t { NoSong = -1, SoundSmithSong = 0, NoiseTrackerSong = 1 };

// Where a SoundSmith song's samples were looked for, and found: what a description of the song
// reports. The sequencer never reads it.
struct InstrumentOrigins {
    BankSearch bank;
    bool bankUsed = false;
    bool byPosition =
        false;  // the song's names were stripped: each position plays the bank's instrument there
    std::string asifFile[SoundSmithInstrumentCount];  // the ASIF file each instrument was read from
    FoundBy asifFoundBy[SoundSmithInstrumentCount]{};
    std::string bankProblem;  // why the bank the caller chose cannot be used; the song then does not load
};

struct Engine : Synth {
    // The file LoadSong reads; set by the plug-in's Play.
    char SongPath[MaxPathLength + 1]{};
    int16_t SongKind = NoSong;
    int16_t songLoaded = 0;
    // The whole song file, read in place by the loaders and sequencers; empty when no song is loaded.
    ByteView SongBlock{nullptr, 0};
    PlayerState Player{};
    SoundSmithLayout SoundSmith{};
    NtgSongFacts Ntg{};
    InstrumentOrigins origins;
    // Where the song being loaded finds its companion files.
    SongFiles files;
    MessageSink messages;

    Engine() = default;
    // An engine owns its song and samples: it is never copied.
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine();
};

}  // namespace trelmo
