// SPDX-License-Identifier: BSD-3-Clause
// trelmo render and info, run as a user would, checked against the song played in this process.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/song_player.h"

namespace trelmo::test {
namespace {

const std::string Corpus = TRELMO_CORPUS_DIR;

std::vector<int16_t> AsSamples(const std::string& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<uint8_t>(bytes[2 * i]);
        const auto hi = static_cast<uint8_t>(bytes[2 * i + 1]);
        samples[i] = static_cast<int16_t>(lo | hi << 8);
    }
    return samples;
}

// ECHO.MTP with its bank in a private folder, and what the engine renders for it here.
struct EchoSong {
    TempDir folder;
    std::string song = folder.Copy(Corpus + "/soundsmith/ECHO.MTP", "ECHO.MTP");
    std::string bank = folder.Copy(Corpus + "/soundsmith/ECHO.W", "ECHO.W");
    Rendering reference = PlaySong(song, 44100ull * 60 * 30);
};

TEST(Render, WavAndFlacHoldExactlyWhatTheEngineRenders) {
    EchoSong echo;
    ASSERT_TRUE(echo.reference.ended);
    const uint64_t frames = echo.reference.frames;

    TrelmoRun wav = RunTrelmo({"render", "ECHO.MTP", "-q"}, echo.folder.Path());
    EXPECT_EQ(wav.status, 0) << wav.err;
    TrelmoRun flac = RunTrelmo({"render", "ECHO.MTP", "-o", "copy.flac"}, echo.folder.Path());
    EXPECT_EQ(flac.status, 0) << flac.err;
    // The plug-in's own messages stay on standard output; the summary goes to standard error.
    EXPECT_NE(flac.out.find("DOC DATA file found with 9 insts."), std::string::npos);
    EXPECT_NE(flac.err.find("ECHO.MTP -> copy.flac (2:30)"), std::string::npos) << flac.err;

    for (const std::string name : {"ECHO.wav", "copy.flac"}) {
        SCOPED_TRACE(name);
        const SoundFile file = ReadSound(echo.folder.File(name));
        ASSERT_TRUE(file.ok);
        EXPECT_EQ(file.info.samplerate, 44100);
        EXPECT_EQ(file.info.channels, 2);
        EXPECT_EQ(file.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
        EXPECT_EQ(static_cast<uint64_t>(file.info.frames), frames);
        EXPECT_TRUE(file.pcm == echo.reference.pcm);
    }
    EXPECT_EQ(ReadSound(echo.folder.File("ECHO.wav")).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(ReadSound(echo.folder.File("copy.flac")).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_EQ(FolderEntries(echo.folder.Path()),
              (std::vector<std::string>{"ECHO.MTP", "ECHO.W", "ECHO.wav", "copy.flac"}));
}

TEST(Render, RawOnStandardOutputCarriesOnlyTheAudio) {
    EchoSong echo;
    TrelmoRun raw = RunTrelmo({"render", echo.song, "-o", "-"});
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(raw.out.size(), echo.reference.frames * 4);
    EXPECT_TRUE(AsSamples(raw.out) == echo.reference.pcm);
    // The plug-in's diagnostics were moved to standard error, not mixed into the samples.
    EXPECT_NE(raw.err.find("DOC DATA file found with 9 insts."), std::string::npos);

    TrelmoRun quiet = RunTrelmo({"render", echo.song, "-o", "-", "--quiet"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, raw.out);
    EXPECT_EQ(quiet.err, "");

    // An Ogg Vorbis file is lossy, but holds the whole song at the right rate (the demo song: it is
    // shorter, and Vorbis encoding is slow).
    TrelmoRun ogg = RunTrelmo({"render", "-q", "--format", "ogg"}, echo.folder.Path());
    EXPECT_EQ(ogg.status, 0) << ogg.err;
    const SoundFile vorbis = ReadSound(echo.folder.File("demo.ogg"));
    EXPECT_EQ(vorbis.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_OGG);
    EXPECT_EQ(vorbis.info.samplerate, 44100);
    const nlohmann::json demo = nlohmann::json::parse(RunTrelmo({"info", "--json"}).out)[0];
    EXPECT_NEAR(static_cast<double>(vorbis.info.frames), demo["frames"].get<double>(), 4096);
}

TEST(Info, JsonDescribesTheSongAndItsLengthToTheFrame) {
    EchoSong echo;
    TrelmoRun info = RunTrelmo({"info", "--json", echo.song});
    ASSERT_EQ(info.status, 0) << info.err;
    const nlohmann::json songs = nlohmann::json::parse(info.out);
    ASSERT_EQ(songs.size(), 1u);
    const nlohmann::json& song = songs[0];
    EXPECT_EQ(song["kind"], "SoundSmith");
    EXPECT_EQ(song["form"], "SONGOK");
    EXPECT_EQ(song["patterns"], 6);
    EXPECT_EQ(song["positions"], 20);
    EXPECT_EQ(song["speed"], 6);
    EXPECT_EQ(song["tracks"], 14);
    EXPECT_EQ(song["waveBank"], echo.bank);
    EXPECT_EQ(song["frames"].get<uint64_t>(), echo.reference.frames);
    ASSERT_EQ(song["instruments"].size(), 9u);
    for (const nlohmann::json& instrument : song["instruments"]) {
        EXPECT_EQ(instrument["source"], "bank");
        EXPECT_GT(instrument["length"].get<uint32_t>(), 0u);
    }
    EXPECT_EQ(song["instruments"][0]["name"], "KILLERKICK");
    EXPECT_EQ(song["instruments"][6]["loops"], true);
    EXPECT_EQ(song["instruments"][6]["loopEnd"].get<uint32_t>() + 1,
              song["instruments"][6]["length"].get<uint32_t>());
    // The loader's message went to standard error, so the JSON parsed whole.
    EXPECT_NE(info.err.find("DOC DATA file found"), std::string::npos);

    // Without its bank the song's instruments are ASIF files, and none of them is there.
    TempDir alone;
    alone.Copy(Corpus + "/soundsmith/ECHO.MTP", "ECHO.MTP");
    // The song is still described (status 0), with one warning line.
    TrelmoRun missing = RunTrelmo({"info", "--json", "-q", "ECHO.MTP"}, alone.Path());
    EXPECT_EQ(missing.status, 0);
    const nlohmann::json bare = nlohmann::json::parse(missing.out)[0];
    EXPECT_EQ(bare["waveBank"], nullptr);
    EXPECT_EQ(bare["instruments"][0]["source"], "missing");
    EXPECT_EQ(bare["instruments"][0]["file"], "KILLERKICK");
    EXPECT_EQ(Lines(missing.err).size(), 1u);
}

TEST(Render, DemoSongIsBuiltInAndSoundsOnBothSides) {
    TempDir folder;
    TrelmoRun render = RunTrelmo({"render", "-o", "demo.wav"}, folder.Path());
    ASSERT_EQ(render.status, 0) << render.err;
    const SoundFile demo = ReadSound(folder.File("demo.wav"));
    ASSERT_TRUE(demo.ok);
    const double seconds = static_cast<double>(demo.info.frames) / 44100.0;
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 60.0);

    // Loud on both sides, but never so loud that the player's 16-bit sum wraps around: a wrap
    // shows as a jump between neighbouring samples far larger than any instrument makes.
    int peak[2] = {0, 0};
    int jump = 0;
    for (size_t i = 2; i < demo.pcm.size(); ++i) {
        peak[i % 2] = std::max(peak[i % 2], std::abs(static_cast<int>(demo.pcm[i])));
        jump = std::max(jump, std::abs(demo.pcm[i] - demo.pcm[i - 2]));
    }
    EXPECT_GT(peak[0], 8000);
    EXPECT_GT(peak[1], 8000);
    EXPECT_LT(jump, 20000);

    TrelmoRun info = RunTrelmo({"info", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const nlohmann::json song = nlohmann::json::parse(info.out)[0];
    EXPECT_EQ(song["kind"], "NoiseTracker GS");
    EXPECT_EQ(song["frames"].get<int64_t>(), demo.info.frames);
    EXPECT_GE(song["instruments"].size(), 4u);
}

}  // namespace
}  // namespace trelmo::test
