// SPDX-License-Identifier: BSD-3-Clause
// Hostile songs and hostile places: names that carry escape sequences, files that are not files,
// outputs that fail or must not be replaced, and names that point out of the song's folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/writers/save_file.h"

namespace trelmo::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    ASSERT_TRUE(writers::SaveFile(path, bytes)) << path;
}
using Names = std::vector<std::string>;
const std::string Corpus = TRELMO_CORPUS_DIR;
const std::string Trelmo = TRELMO_CLI_PATH;

// ECHO.MTP with its first instruments renamed (a name is at most 23 bytes).
void WriteEcho(const std::string& path, const Names& names) {
    Bytes song = ReadFile(Corpus + "/soundsmith/ECHO.MTP");
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t at = 20 + 30 * i;
        song[at] = static_cast<uint8_t>(names[i].size());
        for (size_t k = 0; k < 23; ++k)
            song[at + 1 + k] = k < names[i].size() ? static_cast<uint8_t>(names[i][k]) : 0;
    }
    WriteFile(path, song);
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Hostile, NamesReachTheTerminalOnlyAsPrintableText) {
    TempDir dir;
    WriteEcho(dir / "caf\xc3\xa9.MTP", {"\x1b[2J\x1b]0;pwn\a\r\nFAKE", std::string("BASS\0\x1b[31m", 10),
                                        "\xc2\x9b"
                                        "31m"});
    const TrelmoRun info = RunTrelmo({"info", "caf\xc3\xa9.MTP"}, dir.Path());
    const TrelmoRun render = RunTrelmo({"render", "caf\xc3\xa9.MTP", "-o", "x.raw"}, dir.Path());
    for (const std::string* text : {&info.out, &info.err, &render.out, &render.err}) {
        EXPECT_EQ(text->find_first_of(std::string("\x1b\a\r\0", 4)), std::string::npos) << *text;
        EXPECT_EQ(text->find("\xc2\x9b"), std::string::npos) << *text;
    }
    // Names are decoded by the library, control characters as their visible symbols.
    EXPECT_NE(info.out.find("\u241b[2J\u241b]0;pwn\u2407\u240d\u240aFAKE       missing"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("\u00ac\u00f5"
                            "31m"),
              std::string::npos)
        << "bytes 128 and up as the IIgs shows them";
    const nlohmann::json song =
        nlohmann::json::parse(RunTrelmo({"info", "--json", "-q", "caf\xc3\xa9.MTP"}, dir.Path()).out)[0];
    EXPECT_EQ(song["file"], "caf\xc3\xa9.MTP");
    EXPECT_EQ(song["instruments"][1]["name"], "BASS");
}

TEST(Hostile, FilesThatAreNotFilesOrFarTooLargeAreRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo.mtp").c_str(), 0600), 0);
    WriteFile(dir / "big.mtp", {'K', 'O', 'V'});
    ASSERT_EQ(truncate((dir / "big.mtp").c_str(), off_t{8} << 30), 0);
    WriteFile(dir / "ECHO.MTP", ReadFile(Corpus + "/soundsmith/ECHO.MTP"));
    const auto start = std::chrono::steady_clock::now();
    const TrelmoRun run = RunTrelmo({"info", "-q", "fifo.mtp", "big.mtp", "ECHO.MTP"}, dir.Path());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(run.status, 1);
    const Names lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 3u) << run.err;  // the third: ECHO.MTP's instruments are missing
    EXPECT_EQ(lines[0], "trelmo: fifo.mtp: not a regular file");
    EXPECT_EQ(lines[1], "trelmo: big.mtp: the file is too large to be a song");
}

TEST(Hostile, OutputsThatFailLeaveNothingAndNothingButRegularFilesIsReplaced) {
    TempDir dir;
    for (const char* name : {"ECHO.MTP", "ECHO.W"})
        WriteFile(dir / name, ReadFile(Corpus + "/soundsmith/" + name));
    ASSERT_EQ(RunTrelmo({"render", "-q", "ECHO.MTP", "-o", "whole.flac"}, dir.Path()).status, 0);
    // A file-size limit that only the encoder's last writes at close run into.
    struct stat whole {};
    ASSERT_EQ(stat((dir / "whole.flac").c_str(), &whole), 0);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{static_cast<rlim_t>(whole.st_size - 100), saved.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const TrelmoRun cut = RunTrelmo({"render", "-q", "ECHO.MTP", "-o", "cut.flac"}, dir.Path());
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(Lines(cut.err), Names{"trelmo: cut.flac: cannot write: File too large"});

    const std::string in = "cd " + dir.Path() + " && ";
    EXPECT_EQ(RunTrelmo({"render", "-q", "ECHO.MTP", "-o", "-", "-f", "wav"}, dir.Path()).status,
              1);  // a pipe
    EXPECT_EQ(Shell(in + Trelmo + " render -q ECHO.MTP -o - -f wav 2>/dev/null >>appended.wav"), 1);
    for (const char* command : {" info -q", " info --json -q", " about", " --version"}) {
        EXPECT_EQ(Shell(Trelmo + command + " >/dev/full 2>/dev/null"), 1) << command;
    }
    EXPECT_EQ(Shell(in + "mkfifo fifo && (timeout 60 cat fifo >/dev/null 2>&1 &) && " + Trelmo +
                    " render -q ECHO.MTP -o fifo -f raw --force"),
              0);
    struct stat fifo {};
    EXPECT_TRUE(stat((dir / "fifo").c_str(), &fifo) == 0 && S_ISFIFO(fifo.st_mode));
    // Two songs of one name in one command: the first song's file stays, although the second (without
    // its bank, so silent and quicker) finishes first when they render at once.
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
    WriteFile(dir / "sub/ECHO.MTP", ReadFile(dir / "ECHO.MTP"));
    EXPECT_EQ(
        RunTrelmo({"render", "-q", "-j", "2", "--force", "--out-dir", "out", "ECHO.MTP", "sub/ECHO.MTP"},
                  dir.Path())
            .status,
        1);
    EXPECT_EQ(FolderEntries(dir / "out"), Names{"ECHO.wav"});
    const SoundFile kept = ReadSound(dir / "out/ECHO.wav");
    EXPECT_TRUE(std::any_of(kept.pcm.begin(), kept.pcm.end(), [](int16_t v) { return v != 0; }));
    const std::string longest = std::string(251, 'n') + ".raw";
    EXPECT_EQ(RunTrelmo({"render", "-q", "ECHO.MTP", "-o", longest}, dir.Path()).status, 0);
    EXPECT_EQ(FolderEntries(dir.Path()),
              (Names{"ECHO.MTP", "ECHO.W", "appended.wav", "fifo", longest, "out", "sub", "whole.flac"}));
}

TEST(Hostile, InstrumentNamesStayInTheSongsFolderAndABankFromElsewhereIsNamed) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "songs").c_str(), 0700) | mkdir((dir / "private").c_str(), 0700), 0);
    WriteFile(dir / "private/X", ReadFile(Corpus + "/asif/CO.LOOP"));
    WriteEcho(dir / "songs/TUNE.MTP", {"../private/X"});
    const nlohmann::json song =
        nlohmann::json::parse(RunTrelmo({"info", "--json", "-q", "songs/TUNE.MTP"}, dir.Path()).out)[0];
    EXPECT_EQ(song["instruments"][0]["source"], "missing");

    WriteFile(dir / "DOC.DATA", ReadFile(Corpus + "/soundsmith/ECHO.W"));
    EXPECT_NE(RunTrelmo({"info", "-q", "songs/TUNE.MTP"}, dir.Path())
                  .out.find("wave bank    " + dir / "DOC.DATA (current folder)"),
              std::string::npos);
    EXPECT_NE(RunTrelmo({"render", "songs/TUNE.MTP", "-o", "t.raw"}, dir.Path())
                  .err.find("songs/TUNE.MTP: wave bank " +
                            dir / "DOC.DATA from the current folder, not from beside the song"),
              std::string::npos);
}

// Out of memory (an engine wanted by a render's worker, or by info itself): one message, no file.
TEST(Hostile, OutOfMemoryIsOneMessageAndNoFile) {
#ifdef TRELMO_SANITIZED
    GTEST_SKIP() << "the sanitizer's runtime must be the first library loaded";
#endif
    TempDir dir;
    for (const Names& args : {Names{"render", "--out-dir", "out"}, Names{"info"}}) {
        const TrelmoRun run = RunTrelmo(args, dir.Path(), {"LD_PRELOAD=" TRELMO_NO_ENGINE_MEMORY});
        EXPECT_EQ(run.status, 1) << args[0] << run.err;
        EXPECT_EQ(run.err.substr(run.err.rfind("trelmo:")), "trelmo: out of memory\n") << args[0];
    }
    EXPECT_EQ(FolderEntries(dir / "out"), Names{});
}

}  // namespace
}  // namespace trelmo::test
