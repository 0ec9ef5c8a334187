// SPDX-License-Identifier: BSD-3-Clause
// The module descriptor and the callbacks the player drives it through, against a scripted host.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/mixer_thread.h"
#include "host/plugin.h"
#include "song/song_loader.h"
#include "synth/wave_table.h"
#include "tests/host/fake_host.h"
#include "tests/support/song_player.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/soundsmith_writer.h"

namespace trelmo {
namespace {

using test::FakeHost;
using test::TempDir;
using Strings = std::vector<std::string>;

const std::string EchoSong = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP";
const std::string EchoBank = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.W";

std::string Title(const char* file) {
    char title[MaxPathLength + 16];
    std::memset(title, 'X', sizeof title);
    int length = 0;
    Module.GetFileInfo(file, title, &length);
    EXPECT_EQ(length, -1000);
    return title;
}

bool AnySlotInUse() {
    for (int i = 0; i < WaveSlotCount; ++i) {
        if (PluginEngine.WaveTable[i].inUse != 0) return true;
    }
    return false;
}

TEST(Descriptor, FieldsAndExtensionList) {
    EXPECT_EQ(Module.version, 0x100);
    EXPECT_STREQ(Module.description, "Trelmo 0.99a (x86)");
    EXPECT_EQ(Module.is_seekable, 0);
    EXPECT_EQ(Module.UsesOutputPlug, 1);
    // The player fills these; the library leaves them empty.
    EXPECT_EQ(Module.hMainWindow, nullptr);
    EXPECT_EQ(Module.outMod, nullptr);
    EXPECT_EQ(Module.SAVSAInit, nullptr);
    EXPECT_EQ(Module.dsp_dosamples, nullptr);
    EXPECT_EQ(Module.SetInfo, nullptr);
    // Pairs of zero-terminated strings, then one more zero.
    const char expected[] = "mtp\0MTP (SoundSmith) (*.MTP)\0ntg\0NoiseTracker GS (*.NTG)\0";
    EXPECT_EQ(std::memcmp(Module.FileExtensions, expected, sizeof expected), 0);
    EXPECT_EQ(Module.FileExtensions[sizeof expected - 2], '\0');
    EXPECT_EQ(Module.FileExtensions[sizeof expected - 1], '\0');
}

TEST(Descriptor, ConfigAndAboutBoxes) {
    FakeHost host;
    Module.Config(&host.window);
    Module.About(&host.window);
    const auto boxes = host.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Nothing to configure yet.");
    EXPECT_EQ(boxes[0].caption, "Configuration");
    EXPECT_EQ(boxes[0].type, 0u);  // a single OK button
    EXPECT_EQ(boxes[1].caption, "About Trelmo");
    EXPECT_EQ(boxes[1].type, 0u);
    // The pieces in order with LF CR line breaks; the credit and the two rights lines are ours.
    const std::string& about = boxes[1].text;
    const std::string middle =
        "\n\r\nPlays Apple IIgs SoundSmith/MegaTracker and NoiseTracker GS 1.x songs.\n\r"
        "(sorry, no EQ support)\n\r\n\r";
    const std::string end = "\n\r\n\rDesigned and Programmed in USA.";
    const size_t creditEnd = about.find(middle);
    ASSERT_NE(creditEnd, std::string::npos);
    EXPECT_EQ(about.rfind("Trelmo v0.99a ", 0), 0u);
    EXPECT_EQ(about[creditEnd - 1], '.');
    ASSERT_GT(about.size(), creditEnd + middle.size() + end.size());
    EXPECT_EQ(about.substr(about.size() - end.size()), end);
    const std::string rights =
        about.substr(creditEnd + middle.size(), about.size() - end.size() - creditEnd - middle.size());
    const size_t lineBreak = rights.find_first_of("\n\r");
    EXPECT_GT(lineBreak, 0u);  // two non-empty lines with one LF CR between them
    EXPECT_EQ(rights.substr(lineBreak, 2), "\n\r");
    EXPECT_LT(lineBreak + 2, rights.size());
    EXPECT_EQ(rights.find_first_of("\n\r", lineBreak + 2), std::string::npos);

    // Without a window, or a window that cannot show boxes, the box goes to standard error.
    testing::internal::CaptureStderr();
    Module.Config(nullptr);
    HostWindow mute{&host, host.window.postMessage, nullptr};
    Module.About(&mute);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Configuration"), std::string::npos);
    EXPECT_NE(printed.find("Nothing to configure yet."), std::string::npos);
    EXPECT_NE(printed.find("About Trelmo"), std::string::npos);
    EXPECT_NE(printed.find("Designed and Programmed in USA."), std::string::npos);
    EXPECT_EQ(host.Boxes().size(), 2u);
}

TEST(GetFileInfo, TitleRules) {
    // Before any Play the current file is empty.
    EXPECT_EQ(Title(nullptr), "");
    EXPECT_EQ(Title(""), "");
    EXPECT_EQ(Title("D:\\MUSIC\\SONG.MTP"), "SONG.MTP");
    EXPECT_EQ(Title("c:\\a\\b\\c\\TUNE.NTG"), "TUNE.NTG");
    EXPECT_EQ(Title("\\\\SERVER\\MUSIC\\SONG.MTP"), "\\\\SERVER\\MUSIC\\SONG.MTP");
    EXPECT_EQ(Title("MUSIC\\SONG.MTP"), "MUSIC\\SONG.MTP");
    EXPECT_EQ(Title("/home/me/songs/SONG.MTP"), "/home/me/songs/SONG.MTP");
    EXPECT_EQ(Title("D:\\MUSIC\\"), "");
    EXPECT_EQ(Title("D:SONG.MTP"), "SONG.MTP");
    EXPECT_EQ(Title("D:"), "");
    EXPECT_EQ(Title("D"), "D");

    // Null buffers: each one is simply left alone.
    Module.GetFileInfo("D:\\SONG.MTP", nullptr, nullptr);
    int length = 7;
    Module.GetFileInfo("D:\\SONG.MTP", nullptr, &length);
    EXPECT_EQ(length, -1000);
    char title[16] = "unchanged";
    Module.GetFileInfo("D:\\SONG.MTP", title, nullptr);
    EXPECT_STREQ(title, "SONG.MTP");

    // After a Play, no file means the file last played, even when it could not be played.
    FakeHost host;
    host.Attach(Module);
    EXPECT_EQ(Module.Play("D:\\MUSIC\\GONE.MTP"), -1);
    EXPECT_EQ(Title(nullptr), "GONE.MTP");
    EXPECT_EQ(Title(""), "GONE.MTP");
}

TEST(IsOurFile, DecidedByContentNotName) {
    TempDir dir;
    EXPECT_EQ(Module.IsOurFile(dir.Copy(EchoSong, "tune.dat").c_str()), 1);
    writers::NtgSongPlan ntg;
    EXPECT_EQ(Module.IsOurFile(dir.Write("noise.txt", writers::BuildNtgSong(ntg)).c_str()), 1);
    EXPECT_EQ(Module.IsOurFile(dir.Write("kov", {'K', 'O', 'V'}).c_str()), 1);
    EXPECT_EQ(Module.IsOurFile(dir.Write("FAKE.MTP", std::vector<uint8_t>(4000, 'x')).c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(dir.Write("EMPTY.MTP", {}).c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(dir.File("MISSING.MTP").c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(dir.Path().c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(nullptr), 0);
}

TEST(Play, CallsInOrderAndStopAfterTheThread) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    host.canWrite = 0;  // nothing renders: only Play's and Stop's own calls matter here
    host.openResult = 37;
    ASSERT_EQ(Module.Play(test::WriteShortSong(dir, "SHORT.MTP").c_str()), 0);
    EXPECT_EQ(MixerRunState.load(), MixerRunning);
    ASSERT_TRUE(host.WaitForCount("CanWrite", 3, std::chrono::seconds(5)));
    Module.Stop();
    EXPECT_EQ(test::HostThreadCalls(host.Calls()), (Strings{"Open", "SetInfo", "SAVSAInit", "VSASetInfo",
                                                            "OutSetVolume", "Close", "SAVSADeInit"}));
    std::vector<std::vector<int64_t>> args;
    for (const auto& call : host.Calls()) {
        if (call.name == "Open" || call.name == "SetInfo" || call.name == "SAVSAInit" ||
            call.name == "VSASetInfo" || call.name == "OutSetVolume") {
            args.push_back(call.args);
        }
    }
    EXPECT_EQ(args, (std::vector<std::vector<int64_t>>{
                        {44100, 2, 16, -1, -1}, {14, 44, 2, 1}, {37, 44100}, {44100, 2}, {-666}}));
    // The thread had ended before the output was closed, and called nothing afterwards.
    EXPECT_EQ(host.RunStateAtClose(), MixerEnded);
    EXPECT_EQ(host.Count("Write"), 0);
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();

    // A NoiseTracker GS song shows its own track count.
    host.ClearLog();
    writers::NtgSongPlan ntg;
    ntg.trackCount = 6;
    ASSERT_EQ(Module.Play(dir.Write("SIX.NTG", writers::BuildNtgSong(ntg)).c_str()), 0);
    Module.Stop();
    for (const auto& call : host.Calls()) {
        if (call.name == "SetInfo") {
            EXPECT_EQ(call.args, (std::vector<int64_t>{6, 44, 2, 1}));
        }
    }
    EXPECT_EQ(host.Count("SetInfo"), 1);
}

TEST(Play, FailuresSetNothingUp) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };

    // Load a real song first, so that each failure is also seen to release it.
    dir.Copy(EchoBank, "ECHO.W");
    ASSERT_EQ(Module.Play(dir.Copy(EchoSong, "ECHO.MTP").c_str()), 0);
    Module.Stop();
    ASSERT_TRUE(AnySlotInUse());
    ASSERT_NE(PluginEngine.SongBlock.data, nullptr);
    host.ClearLog();

    EXPECT_EQ(Module.Play(dir.File("MISSING.MTP").c_str()), -1);
    EXPECT_STREQ(CurrentFilePath, dir.File("MISSING.MTP").c_str());
    EXPECT_FALSE(AnySlotInUse());
    EXPECT_EQ(PluginEngine.SongBlock.data, nullptr);
    EXPECT_EQ(Module.Play(dir.Path().c_str()), -1);  // a folder cannot be read as a file
    EXPECT_EQ(Module.Play(dir.Write("JUNK.MTP", std::vector<uint8_t>(700, 'j')).c_str()), 1);
    EXPECT_EQ(Module.Play(nullptr), -1);
    settle();
    EXPECT_TRUE(host.Calls().empty()) << host.Calls().front().name;
    EXPECT_NE(MixerRunState.load(), MixerRunning);
    // Stop after a failed Play has no thread to wait for and no output to close.
    Module.Stop();
    EXPECT_TRUE(host.Calls().empty());

    // The output cannot be opened: the song is loaded, nothing else happens.
    host.openResult = -1;
    EXPECT_EQ(Module.Play(dir.File("ECHO.MTP").c_str()), 1);
    settle();
    EXPECT_EQ(test::HostThreadCalls(host.Calls()), Strings{"Open"});
    EXPECT_EQ(host.Count("CanWrite"), 0);
    EXPECT_NE(MixerRunState.load(), MixerRunning);
    EXPECT_TRUE(AnySlotInUse());
    Module.Stop();
    EXPECT_EQ(host.Count("Close"), 0);
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
}

TEST(Play, PathsUpToThePlatformLimit) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    host.canWrite = 0;
    // Folders nested until the song's path is exactly MaxPathLength characters long.
    std::string longest = dir.Path();
    while (MaxPathLength - longest.size() > 220) {
        longest += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(longest.c_str(), 0700), 0);
    }
    longest += "/" + std::string(MaxPathLength - longest.size() - 1, 'S');
    ASSERT_EQ(longest.size(), MaxPathLength);
    {
        writers::SoundSmithTune tune;
        const std::vector<uint8_t> bytes = tune.Bytes();
        std::ofstream out(longest, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }
    ASSERT_EQ(Module.Play(longest.c_str()), 0);
    Module.Stop();
    EXPECT_EQ(Title(nullptr), longest);

    // One character more cannot be held: refused before anything is opened.
    const std::string tooLong = longest + "x";
    host.ClearLog();
    EXPECT_EQ(Module.Play(tooLong.c_str()), -1);
    EXPECT_EQ(Title(nullptr), "");
    EXPECT_TRUE(host.Calls().empty());
}

TEST(Callbacks, PauseVolumePanAndTime) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    host.canWrite = 0;
    const std::string song = test::WriteShortSong(dir, "SHORT.MTP");
    EXPECT_EQ(Module.IsPaused(), 0);
    ASSERT_EQ(Module.Play(song.c_str()), 0);
    Module.Pause();
    EXPECT_EQ(Module.IsPaused(), 1);
    // Stop and Play leave the pause flag as it was.
    Module.Stop();
    EXPECT_EQ(Module.IsPaused(), 1);
    ASSERT_EQ(Module.Play(song.c_str()), 0);
    EXPECT_EQ(Module.IsPaused(), 1);
    Module.UnPause();
    EXPECT_EQ(Module.IsPaused(), 0);
    Module.Stop();
    std::vector<std::vector<int64_t>> pauses;
    for (const auto& call : host.Calls()) {
        if (call.name == "OutPause") pauses.push_back(call.args);
    }
    EXPECT_EQ(pauses, (std::vector<std::vector<int64_t>>{{1}, {0}}));

    host.ClearLog();
    host.outputTime = 4321;
    EXPECT_EQ(Module.GetOutputTime(), 4321);
    EXPECT_EQ(Module.GetLength(), -1000);
    Module.SetVolume(200);
    Module.SetPan(-50);
    EXPECT_EQ(test::HostThreadCalls(host.Calls()), (Strings{"GetOutputTime", "OutSetVolume", "OutSetPan"}));
    EXPECT_EQ(host.Calls()[1].args, std::vector<int64_t>{200});
    EXPECT_EQ(host.Calls()[2].args, std::vector<int64_t>{-50});

    // These have nothing to do and call nothing.
    host.ClearLog();
    char bands[10] = {};
    ASSERT_NE(PluginEngine.SongBlock.data, nullptr);
    Module.Init();
    Module.SetOutputTime(5000);
    Module.EQSet(1, bands, 10);
    EXPECT_EQ(Module.InfoBox(song.c_str(), &host.window), 0);
    Module.Quit();
    EXPECT_EQ(Module.GetLength(), -1000);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_TRUE(host.Boxes().empty());
    // Quit lets go of the song that stayed loaded after Stop.
    EXPECT_EQ(PluginEngine.SongKind, NoSong);
    EXPECT_EQ(PluginEngine.SongBlock.data, nullptr);
}

}  // namespace
}  // namespace trelmo
