// SPDX-License-Identifier: BSD-3-Clause
// The one place where the GStreamer plug-in speaks to libtrelmo: an engine with its song, the
// element's settings in the library's terms, and what the song's tags say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct trelmo_engine;

namespace trelmo::gst {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr size_t kBytesPerFrame = kChannels * sizeof(int16_t);
// The song's length when it plays for ever.
constexpr uint64_t kEndless = UINT64_MAX;

extern const size_t kMaxSongBytes;
extern const size_t kMaxCompanionBytes;
// The status of a song beyond kMaxSongBytes.
extern const int kTooLargeStatus;

// The element's properties, in GStreamer's terms.
struct Settings {
    int stereoSeparation = 100;  // percent
    int loops = 0;               // repeats after the first pass; -1 for ever
    uint32_t fadeMilliseconds = 0;
    uint32_t muteMask = 0;
};

// Hands over a song's companion files (wave bank, DOC.DATA, ASIF files) by name.
class CompanionSource {
  public:
    virtual ~CompanionSource() = default;
    // True with the file's bytes (at most kMaxCompanionBytes) when a file that MatchFileName takes
    // for that name exists.
    virtual bool Read(const char* name, std::vector<uint8_t>& bytes) = 0;
};

// What the tags and the bus say about a loaded song; texts are UTF-8.
struct SongFacts {
    std::string kindName;     // "SoundSmith" or "NoiseTracker GS"
    std::string instruments;  // "1 KICK, 2 BASS (missing), ..."
    std::string message;      // the library's message: the instrument names one per line, as trackers show it
    std::string missing;      // empty, or a sentence naming the missing instruments and the files looked for
};

// Which of names stands for the companion file wanted, by the library's rule (the case of ASCII
// letters, ProDOS type suffixes): its index, or -1.
int MatchFileName(const char* wanted, const std::vector<std::string>& names);

// Whether the first bytes of a file are those of a song.
bool LooksLikeSong(const uint8_t* bytes, size_t size);

class Song {
  public:
    // log receives the loaders' messages, one line each.
    using Log = void (*)(const char* line);
    explicit Song(Log log);
    ~Song();
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;

    // Each returns 0 or a negative library status (Message tells it in words).
    int LoadFile(const char* path);
    int LoadMemory(const void* data, size_t size, const char* name, CompanionSource* companions);
    static std::string Message(int status);

    void Apply(const Settings& settings);
    SongFacts Facts() const;
    // Frames as the settings play the song, or kEndless.
    uint64_t Length() const;
    uint64_t Position() const;
    void Seek(uint64_t frame);
    // Up to frames frames; fewer only at the end, 0 after it.
    size_t Render(int16_t* out, size_t frames);

  private:
    static void Forward(void* user, const char* message);

    Log log_;
    trelmo_engine* engine_;
};

}  // namespace trelmo::gst
