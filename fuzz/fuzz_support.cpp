// SPDX-License-Identifier: BSD-3-Clause
#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "song/engine.h"
#include "song/player_state.h"
#include "song/song_loader.h"
#include "song/trigger_note.h"
#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tools/writers/asif_writer.h"
#include "tools/writers/wave_bank_writer.h"

namespace trelmo::fuzz {

namespace {

std::string Folder;

void RemoveFolder() {
    if (Folder.empty()) return;
    if (DIR* dir = opendir(Folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            unlink((Folder + "/" + entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(Folder.c_str());
}

// Blocks mixed at their full length before later ones are cut short.
constexpr int FullBlocks = 2;
constexpr uint32_t ShortBlockFrames = 4;
// Later blocks are mixed only every few ticks: the sequencer never reads what the mixer did.
constexpr int MixEvery = 16;
// The NoiseTracker GS row trace, when on, prints the first rows only: every line is made alike.
constexpr int TracedTicks = 64;

}  // namespace

int LendFile(void* list, const char* name, const void** data, size_t* size) {
    for (const NamedFile& file : *static_cast<const FileList*>(list)) {
        if (strcasecmp(file.name.c_str(), name) == 0) {
            *data = file.bytes.data();
            *size = file.bytes.size();
            return 1;
        }
    }
    return 0;
}

SongFiles FilesFrom(const char* songName, const FileList& list) {
    return SongFiles{songName,
                     [](void* context, const char* name, const void** data, size_t* size) {
                         return LendFile(context, name, data, size) != 0;
                     },
                     const_cast<FileList*>(&list)};
}

const std::string& WorkDir() {
    if (Folder.empty()) {
        // Inputs written to files are read back: memory-backed files keep that cheap.
        const char* base = std::getenv("TMPDIR");
        if (base == nullptr || *base == 0) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/trelmo-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        Folder = pattern;
        std::atexit(RemoveFolder);
    }
    return Folder;
}

std::string WriteWorkFile(const char* name, const uint8_t* data, size_t size) {
    std::string path = WorkDir() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "the work folder takes files");
    if (size > 0) Require(std::fwrite(data, 1, size, file) == size, "the work file is written whole");
    std::fclose(file);
    return path;
}

std::vector<uint8_t> SampleAsif(bool looping) {
    std::vector<int8_t> square(256);
    for (size_t i = 0; i < square.size(); ++i) square[i] = i < 128 ? 100 : -100;
    return writers::AsifBytes(square, looping);
}

std::vector<uint8_t> SampleBank() {
    constexpr int Count = 15;
    writers::WaveBankImage bank(Count);
    size_t page = 0;
    for (int k = 0; k < Count; ++k) {
        const int code = k % 8;  // 256 << code bytes
        const size_t pages = size_t{1} << code;
        const size_t start = k == 14 ? 0 : page;  // the last shares page 0
        if (k != 14) page += pages;
        if (page > 256) page = 0;
        // The larger waves end early: converting 64 KB of bank for every input cost a third of the
        // song target's time, and the sequencers treat a short wave as they treat a long one.
        const size_t length = k == 3 ? 0 : std::min<size_t>((256u << code) - (k % 3 == 0 ? 0u : 17u), 300);
        std::vector<uint8_t> wave;
        for (size_t i = 0; i < length && 256 * start + i < 65536; ++i) {
            wave.push_back(static_cast<uint8_t>(1 + (i * 37 + static_cast<size_t>(k)) % 255));
        }
        bank.SetWave(static_cast<uint8_t>(start), wave);
        // Free-running or one-shot A; a swap B makes a one-shot A loop.
        bank.SetInstrument(k, static_cast<uint8_t>(start), static_cast<uint8_t>(code),
                           k % 2 == 0 ? 0x00 : 0x02, k % 4 == 1 ? 0x06 : 0x00);
    }
    return bank.bytes;
}

Engine& ReleasedEngine() {
    static const auto engine = std::make_unique<Engine>();
    ReleaseSong(*engine);
    return *engine;
}

int PlayLoadedSong(Engine& engine, int maxTicks, bool rowTrace) {
    StartSong(engine);
    engine.Player.rowTrace = rowTrace ? 1 : 0;
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
    int ticks = 0;
    while (ticks < maxTicks && engine.Player.songEnded == 0) {
        SequencerTick(engine);
        ++ticks;
        if (ticks == TracedTicks) engine.Player.rowTrace = 0;
        if (ticks <= FullBlocks) {
            MixBlock(engine);
        } else if (ticks % MixEvery == 0) {
            const uint32_t length = engine.TickLength;
            engine.TickLength = std::min(length, ShortBlockFrames);
            MixBlock(engine);
            engine.TickLength = length;
        }
    }
    engine.Player.rowTrace = 0;
    return ticks;
}

void PlayAllSlots(Engine& engine, uint8_t noteBase) {
    ResetVoiceBank(engine);
    uint8_t voice = 0;
    for (int16_t slot = 0; slot < WaveSlotCount && voice < VoiceCount; ++slot) {
        if (!WaveSlotInUse(engine, slot)) continue;
        const int note = 60 + (noteBase + voice * 7) % 48;  // 60 .. 107
        TriggerNote(engine, voice, note, slot, 127, static_cast<uint8_t>(voice % 2 ? 0xFF : 0), false);
        ++voice;
    }
    const uint32_t length = engine.TickLength;
    engine.TickLength = 256;
    MixBlock(engine);
    // About 68 sample bytes per frame: 512 frames run through the longest wave (32768 bytes) and on
    // around its loop or into its end.
    for (uint8_t v = 0; v < voice; ++v) SetVoiceFrequency(engine, v, 3000000);
    MixBlock(engine);
    MixBlock(engine);
    engine.TickLength = length;
}

void Require(bool holds, const char* rule) {
    if (holds) return;
    std::fprintf(stderr, "rule broken: %s\n", rule);
    std::abort();
}

}  // namespace trelmo::fuzz
