// SPDX-License-Identifier: BSD-3-Clause
#include "tests/support/song_player.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "song/engine.h"
#include "song/song_loader.h"
#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"

namespace trelmo::test {

namespace {

void Start(Engine& engine) {
    StartSong(engine);
    ResetVoiceBank(engine);
    SetTickRate(engine, 125);
}

bool ReadFromCompanions(void* context, const char* name, const void** data, size_t* size) {
    for (const auto& [fileName, bytes] : *static_cast<const Companions*>(context)) {
        if (strcasecmp(fileName.c_str(), name) == 0) {
            *data = bytes.data();
            *size = bytes.size();
            return true;
        }
    }
    return false;
}

}  // namespace

SongFiles FilesFrom(const std::string& songName, const Companions& files) {
    // The reader's context must outlive the load only: companion bytes are copied as they are read.
    return SongFiles{songName, ReadFromCompanions, const_cast<Companions*>(&files)};
}

void PrepareSong(Engine& engine, const std::string& path) {
    ASSERT_LT(path.size(), sizeof(engine.SongPath));
    std::memcpy(engine.SongPath, path.c_str(), path.size() + 1);
    LoadSong(engine);
    Start(engine);
}

void PrepareSong(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                 const Companions& files) {
    // The engine owns the block it plays and frees it with free().
    FileBlock block{static_cast<uint8_t*>(std::malloc(song.empty() ? 1 : song.size())), song.size(), true};
    ASSERT_NE(block.data, nullptr);
    if (!song.empty()) std::memcpy(block.data, song.data(), song.size());
    LoadSongFrom(engine, block, FilesFrom(name, files));
    Start(engine);
}

uint64_t TicksToEnd(Engine& engine, uint64_t limit) {
    uint64_t ticks = 0;
    while (engine.Player.songEnded == 0 && ticks < limit) {
        SequencerTick(engine);
        ++ticks;
    }
    return ticks;
}

uint64_t TicksToEnd(Engine& engine, const std::string& path, uint64_t limit) {
    PrepareSong(engine, path);
    return TicksToEnd(engine, limit);
}

Rendering PlaySong(Engine& engine, const std::string& path, uint64_t maxFrames, bool keepPcm) {
    PrepareSong(engine, path);
    return PlaySong(engine, maxFrames, keepPcm);
}

uint64_t TicksToEnd(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                    uint64_t limit) {
    PrepareSong(engine, song, name);
    return TicksToEnd(engine, limit);
}

Rendering PlaySong(Engine& engine, const std::vector<uint8_t>& song, const std::string& name,
                   uint64_t maxFrames, bool keepPcm) {
    PrepareSong(engine, song, name);
    return PlaySong(engine, maxFrames, keepPcm);
}

Rendering PlaySong(const std::string& path, uint64_t maxFrames, bool keepPcm) {
    const auto engine = std::make_unique<Engine>();
    return PlaySong(*engine, path, maxFrames, keepPcm);
}

Rendering PlaySong(Engine& engine, uint64_t maxFrames, bool keepPcm) {
    Rendering result;
    while (engine.Player.songEnded == 0 && result.frames < maxFrames) {
        SequencerTick(engine);
        MixBlock(engine);
        const uint32_t frames = engine.TickLength;
        if (keepPcm)
            result.pcm.insert(result.pcm.end(), engine.scratch.OutputBlock,
                              engine.scratch.OutputBlock + 2 * frames);
        result.frames += frames;
        ++result.ticks;
    }
    result.ended = engine.Player.songEnded != 0;
    return result;
}

}  // namespace trelmo::test
