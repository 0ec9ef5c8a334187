#include "tests/support/song_player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "song/player_state.h"
#include "song/song_loader.h"
#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"

namespace trelmo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelmo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << path;
    return path;
}

std::string TempDir::Copy(const std::string& from, const std::string& name) const {
    const std::string path = File(name);
    std::error_code error;
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing, error);
    EXPECT_FALSE(error) << "cannot copy " << from << ": " << error.message();
    return path;
}

void PrepareSong(const std::string& path) {
    ASSERT_LT(path.size(), sizeof(SongPath));
    std::memcpy(SongPath, path.c_str(), path.size() + 1);
    LoadSong();
    StartSong();
    ResetVoiceBank();
    SetTickRate(125);
}

uint64_t TicksToEnd(const std::string& path, uint64_t limit) {
    PrepareSong(path);
    uint64_t ticks = 0;
    while (Player.songEnded == 0 && ticks < limit) {
        SequencerTick();
        ++ticks;
    }
    return ticks;
}

Rendering PlaySong(const std::string& path, uint64_t maxFrames, bool keepPcm) {
    Rendering result;
    PrepareSong(path);
    while (Player.songEnded == 0 && result.frames < maxFrames) {
        SequencerTick();
        MixBlock();
        const uint32_t frames = TickLength;
        if (keepPcm) result.pcm.insert(result.pcm.end(), OutputBlock, OutputBlock + 2 * frames);
        result.frames += frames;
        ++result.ticks;
    }
    result.ended = Player.songEnded != 0;
    return result;
}

}  // namespace trelmo::test
