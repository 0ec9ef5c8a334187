// Temporary song folders and the mixer thread's playing loop, for tests that play songs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::test {

// A private folder (mkdtemp) that is removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes as the file name in the folder and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    // Copies an existing file into the folder under name and returns its path.
    std::string Copy(const std::string& from, const std::string& name) const;

  private:
    std::string path_;
};

// Loads the song at path and starts it as Play and the mixer thread's start do: LoadSong,
// StartSong, ResetVoiceBank, SetTickRate(125). Ticks are then the caller's.
void PrepareSong(const std::string& path);

// Loads and starts the song at path (PrepareSong), then runs the sequencer alone, without mixing,
// until songEnded or limit ticks. Returns the ticks run.
uint64_t TicksToEnd(const std::string& path, uint64_t limit);

struct Rendering {
    std::vector<int16_t> pcm;  // interleaved stereo, left first; empty unless kept
    uint64_t frames = 0;
    uint64_t ticks = 0;
    bool ended = false;  // songEnded was set
};

// Plays the song at path the way the mixer thread does: PrepareSong, then SequencerTick and
// MixBlock per block until songEnded, the block of the last tick included. Stops early after
// maxFrames frames.
Rendering PlaySong(const std::string& path, uint64_t maxFrames, bool keepPcm = true);

}  // namespace trelmo::test
