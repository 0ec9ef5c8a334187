// SPDX-License-Identifier: BSD-3-Clause
// trelmo's answers to bad input: one line on standard error per problem, a non-zero status
// (2 for a wrong command line), the other songs still done, and no file left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/song_player.h"

namespace trelmo::test {
namespace {

const std::string Corpus = TRELMO_CORPUS_DIR;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(BadInput, EachProblemIsOneLineAndTheOtherSongsStillRender) {
    TempDir folder;
    folder.Copy(Corpus + "/soundsmith/ECHO.MTP", "ECHO.MTP");
    folder.Copy(Corpus + "/soundsmith/ECHO.W", "ECHO.W");
    mkdir(folder.File("bare").c_str(), 0777);
    folder.Copy(Corpus + "/soundsmith/ECHO.MTP", "bare/LONELY.MTP");
    folder.Write("NOTASONG.MTP", {'H', 'e', 'l', 'l', 'o', '\n'});

    TrelmoRun run = RunTrelmo(
        {"render", "-q", "--out-dir", "out", "MISSING.MTP", "NOTASONG.MTP", "bare/LONELY.MTP", "ECHO.MTP"},
        folder.Path());
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 3u) << run.err;
    EXPECT_EQ(lines[0], "trelmo: MISSING.MTP: cannot open: No such file or directory");
    EXPECT_EQ(lines[1], "trelmo: NOTASONG.MTP: not a SoundSmith or NoiseTracker GS song");
    // A song without its instruments is only a warning: it renders, its instruments silent.
    EXPECT_TRUE(Contains(lines[2], "bare/LONELY.MTP: instruments missing")) << lines[2];
    EXPECT_TRUE(Contains(lines[2], "KILLERKICK")) << lines[2];
    EXPECT_EQ(FolderEntries(folder.File("out")), (std::vector<std::string>{"ECHO.wav", "LONELY.wav"}));
    const SoundFile lonely = ReadSound(folder.File("out/LONELY.wav"));
    ASSERT_TRUE(lonely.ok);
    EXPECT_GT(lonely.info.frames, 0);
    EXPECT_TRUE(std::all_of(lonely.pcm.begin(), lonely.pcm.end(), [](int16_t s) { return s == 0; }));
    // --strict refuses it instead, and writes nothing.
    TrelmoRun strict =
        RunTrelmo({"render", "-q", "--strict", "-o", "strict.wav", "bare/LONELY.MTP"}, folder.Path());
    EXPECT_EQ(strict.status, 1);
    EXPECT_TRUE(Contains(strict.err, "bare/LONELY.MTP: instruments missing")) << strict.err;

    // An existing file is kept unless --force; an output that cannot be created is named.
    TrelmoRun again = RunTrelmo({"render", "-q", "--out-dir", "out", "ECHO.MTP"}, folder.Path());
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "trelmo: out/ECHO.wav: already exists (use --force to overwrite it)\n");
    TrelmoRun forced = RunTrelmo({"render", "-q", "--force", "--out-dir", "out", "ECHO.MTP"}, folder.Path());
    EXPECT_EQ(forced.status, 0) << forced.err;
    TrelmoRun unwritable = RunTrelmo({"render", "-q", "-o", "ECHO.W/inside.wav", "ECHO.MTP"}, folder.Path());
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "trelmo: ECHO.W/inside.wav: cannot write: Not a directory\n");
    TrelmoRun info = RunTrelmo({"info", "MISSING.MTP", "ECHO.MTP"}, folder.Path());
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, "trelmo: MISSING.MTP: cannot open: No such file or directory\n");
    EXPECT_TRUE(Contains(info.out, "ECHO.MTP\n  kind         SoundSmith"));

    // Nothing half-written anywhere: no temporary files beside the outputs.
    EXPECT_EQ(FolderEntries(folder.Path()),
              (std::vector<std::string>{"ECHO.MTP", "ECHO.W", "NOTASONG.MTP", "bare", "out"}));
    EXPECT_EQ(FolderEntries(folder.File("out")), (std::vector<std::string>{"ECHO.wav", "LONELY.wav"}));
}

// A bank the user names must be usable (a folder or a 10-byte file is one line with its reason),
// and stems must sound.
TEST(BadInput, UnusableBanksAndSilentStemsAreOneLineAndWriteNothing) {
    TempDir folder;
    folder.Copy(Corpus + "/wild/ECHO.MUS", "ECHO.MUS");
    folder.Write("TEN.W", std::vector<uint8_t>(10, 1));
    // Stems of tracks that all stay silent are no success either.
    folder.Copy(Corpus + "/wild/ECHO.WAVE", "ECHO.WAVE");
    const TrelmoRun stems =
        RunTrelmo({"render", "-q", "--stems", "--mute", "1-13", "ECHO.MUS"}, folder.Path());
    EXPECT_EQ(stems.status, 1);
    EXPECT_EQ(stems.err, "trelmo: ECHO.MUS: no track left that sounds, so no stem was written\n");
    std::remove(folder.File("ECHO.WAVE").c_str());
    for (const char* bank : {".", "TEN.W"}) {
        TrelmoRun run =
            RunTrelmo({"render", "-q", "--bank", bank, "-o", "out.wav", "ECHO.MUS"}, folder.Path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Lines(run.err),
                  std::vector<std::string>{"trelmo: ECHO.MUS: wave bank " + std::string(bank) + ": " +
                                           (bank[0] == '.'
                                                ? "is a folder, not a file"
                                                : "not a wave bank: 10 bytes, a bank has at least 65538")});
    }
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"ECHO.MUS", "TEN.W"}));
}

TEST(BadInput, CommandLineMistakesAreUsageErrors) {
    TempDir folder;
    const std::vector<std::vector<std::string>> mistakes = {
        {"render", "--bogus"},
        {"render", "-o", "a.wav", "one.MTP", "two.MTP"},
        {"render", "-o", "song.xyz"},
        {"render", "--format", "mp3"},
        {"render", "-o", "a.wav", "--out-dir", "x"},
        // Times and seconds as people write them, not all that strtod takes.
        {"render", "--start", "0x10"},
        {"render", "--start", ""},
        {"render", "--end", "5 "},
        {"play", "--start", "1e1"},
        {"render", "--fade", "nan"},
        {"frobnicate"},
        {},
    };
    for (const std::vector<std::string>& args : mistakes) {
        const TrelmoRun run = RunTrelmo(args, folder.Path());
        std::string shown;
        for (const std::string& arg : args) shown += arg + " ";
        EXPECT_EQ(run.status, 2) << shown << run.err;
        EXPECT_FALSE(run.err.empty()) << shown;
    }
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());
    EXPECT_EQ(RunTrelmo({"--help"}).status, 0);
    const TrelmoRun version = RunTrelmo({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(Contains(version.out, "trelmo 1.0.0 (libtrelmo 1.0.0)")) << version.out;
    const TrelmoRun about = RunTrelmo({"about"});
    EXPECT_EQ(about.status, 0);
    EXPECT_TRUE(
        Contains(about.out, "Plays Apple IIgs SoundSmith/MegaTracker and NoiseTracker GS 1.x songs.\n"));
    EXPECT_FALSE(Contains(about.out, "\r"));
}

TEST(BadInput, NoSoundDeviceIsOneLine) {
    // ALSA is pointed at a sound server that is not there; a machine with a sound card of its own
    // would still offer that card, so there the case cannot be made.
    struct stat cards {};
    if (stat("/dev/snd", &cards) == 0) GTEST_SKIP() << "this machine has sound devices";
    TempDir home;
    const std::string alsa = "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
    home.Write(".asoundrc", std::vector<uint8_t>(alsa.begin(), alsa.end()));
    const TrelmoRun run = RunTrelmo(
        {"play", "-q"}, home.Path(),
        {"HOME=" + home.Path(), "PULSE_SERVER=unix:" + home.File("nobody"), IgnoreSoundSystemLeaks});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "trelmo: cannot play: no sound device\n");
}

TEST(BadInput, CtrlCStopsARenderAndLeavesOnlyWholeFiles) {
    TempDir folder;
    folder.Copy(Corpus + "/soundsmith/ECHO.W", "ECHO.W");
    std::string script = std::string("'") + TRELMO_CLI_PATH + "' render -q --out-dir out";
    for (int i = 0; i < 40; ++i) {
        const std::string name = "SONG" + std::to_string(i) + ".MTP";
        folder.Copy(Corpus + "/soundsmith/ECHO.MTP", name);
        folder.Copy(Corpus + "/soundsmith/ECHO.W", "SONG" + std::to_string(i) + ".W");
        script += " " + name;
    }
    // The signal comes while some song is being written, as a Ctrl-C would.
    script += " 2>err.txt & sleep 0.7; kill -INT $!; wait $!; echo $? >status.txt\n";
    folder.Write("interrupt.sh", std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(std::system(("cd '" + folder.Path() + "' && bash interrupt.sh").c_str()), 0);
    std::ifstream status(folder.File("status.txt"));
    int code = -1;
    status >> code;
    EXPECT_EQ(code, 130);
    const std::vector<std::string> written = FolderEntries(folder.File("out"));
    EXPECT_LT(written.size(), 40u);
    for (const std::string& name : written) {
        EXPECT_EQ(name.front(), 'S') << "a temporary file was left behind: " << name;
        const SoundFile sound = ReadSound(folder.File("out/" + name));
        EXPECT_TRUE(sound.ok) << name;
        EXPECT_EQ(sound.info.frames, 6635520) << name;  // every file left is the whole song
    }
}

TEST(BadInput, AReaderThatGoesAwayEndsTheRenderCleanly) {
    // trelmo render -o - | head -c 100: the writes fail once the pipe is closed; the render stops
    // quietly, as cat would, with SIGPIPE's status, instead of rendering on to the end.
    TempDir folder;
    folder.Copy(Corpus + "/soundsmith/ECHO.MTP", "ECHO.MTP");
    folder.Copy(Corpus + "/soundsmith/ECHO.W", "ECHO.W");
    const std::string script = std::string("'") + TRELMO_CLI_PATH +
                               "' render -q -o - ECHO.MTP 2>err.txt | head -c 100 >/dev/null\n"
                               "echo ${PIPESTATUS[0]} >status.txt\n";
    folder.Write("pipe.sh", std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(std::system(("cd '" + folder.Path() + "' && bash pipe.sh").c_str()), 0);
    std::ifstream status(folder.File("status.txt"));
    int code = -1;
    status >> code;
    EXPECT_EQ(code, 141);
    std::ifstream err(folder.File("err.txt"));
    std::string line;
    EXPECT_FALSE(std::getline(err, line)) << line;
}

}  // namespace
}  // namespace trelmo::test
