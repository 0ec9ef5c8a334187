// SPDX-License-Identifier: BSD-3-Clause
// trelmo's listener options, run as a user would and checked against the library's own rendering:
// stereo width, start and end, loops and fade, stems, tags, parallel renders, and the command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/temp_dir.h"
#include "trelmo/trelmo.h"

namespace {

namespace fs = std::filesystem;
using trelmo::test::ReadSound;
constexpr size_t Rate = TRELMO_SAMPLE_RATE;

// A private folder holding ECHO.MTP and ECHO.W.
struct Folder : trelmo::test::TempDir {
    fs::path path{Path()};
    Folder() {
        for (const char* file : {"ECHO.MTP", "ECHO.W"})
            Copy(std::string(TRELMO_CORPUS_DIR) + "/soundsmith/" + file, file);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(path / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Runs a shell command line in the folder, with trelmo as $T; its exit status.
    int Run(const std::string& line) const {
        std::ofstream(path / "run.sh")
            << "cd '" << path.string() << "' && T='" TRELMO_CLI_PATH "' && " << line << "\n";
        const int status = std::system(("bash '" + (path / "run.sh").string() + "'").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

std::vector<int16_t> Samples(const std::string& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The whole song as the library renders it with its defaults (the plug-in's exact sound).
std::vector<int16_t> Reference(const Folder& folder) {
    trelmo_engine* engine = trelmo_create();
    EXPECT_EQ(trelmo_load_file(engine, (folder.path / "ECHO.MTP").c_str()), TRELMO_OK);
    std::vector<int16_t> pcm(2 * trelmo_length_frames(engine));
    EXPECT_EQ(trelmo_render(engine, pcm.data(), pcm.size() / 2), pcm.size() / 2);
    trelmo_destroy(engine);
    return pcm;
}

TEST(Listening, StereoStartEndLoopsAndFadeShapeTheRenderAsAsked) {
    const Folder folder;
    const std::vector<int16_t> reference = Reference(folder);
    ASSERT_EQ(folder.Run("$T render -q -o - --stereo 100 --loops 1 ECHO.MTP > full.raw"
                         " && $T render -q -o - --stereo 0 ECHO.MTP > mono.raw"
                         " && $T render -q -o - --start 1:00 --end 75.5 ECHO.MTP > part.raw"
                         " && $T render -q -o - --loops 2 --fade 3 ECHO.MTP > twice.raw"),
              0);
    EXPECT_TRUE(Samples(folder.Read("full.raw")) == reference)
        << "the defaults must give the plug-in's sound";

    const std::vector<int16_t> mono = Samples(folder.Read("mono.raw"));
    ASSERT_EQ(mono.size(), reference.size());
    size_t differing = 0;
    size_t sounding = 0;
    for (size_t f = 0; f < mono.size() / 2; ++f) {
        differing += mono[2 * f] != mono[2 * f + 1];
        sounding += mono[2 * f] != 0;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(sounding, Rate);

    const std::vector<int16_t> part = Samples(folder.Read("part.raw"));
    const std::vector<int16_t> stretch(reference.begin() + 2 * 60 * Rate,
                                       reference.begin() + 2 * (75 * Rate + Rate / 2));
    EXPECT_TRUE(part == stretch) << part.size() << " samples, expected " << stretch.size();

    // Two passes: the first is the song itself, the second fades to silence at its end.
    const std::vector<int16_t> twice = Samples(folder.Read("twice.raw"));
    ASSERT_EQ(twice.size(), 2 * reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), twice.begin()));
    EXPECT_EQ(twice[twice.size() - 2], 0);
    int loudEnd = 0;
    for (size_t i = twice.size() - 2 * Rate / 10; i < twice.size(); ++i)
        loudEnd = std::max(loudEnd, std::abs(twice[i]));
    EXPECT_LT(loudEnd, 1000) << "the last tenth of a second of a 3 s fade is nearly silent";
}

TEST(Listening, StemsAddUpToTheMixAndTheFirstIsItsTrackAlone) {
    const Folder folder;
    const std::vector<int16_t> reference = Reference(folder);
    ASSERT_EQ(
        folder.Run(
            "$T render -q --stems --out-dir stems ECHO.MTP && $T render -q -o solo1.wav --solo 1 ECHO.MTP"),
        0);
    std::vector<int32_t> sum(reference.size());
    int stems = 0;
    for (int track = 1; track <= TRELMO_MAX_TRACKS; ++track) {
        char name[32];
        std::snprintf(name, sizeof name, "ECHO.track%02d.wav", track);
        if (!fs::exists(folder.path / "stems" / name)) continue;
        const std::vector<int16_t> stem = ReadSound(folder / ("stems/" + std::string(name))).pcm;
        ASSERT_EQ(stem.size(), reference.size()) << name;
        for (size_t i = 0; i < stem.size(); ++i) sum[i] += stem[i];
        if (stems++ == 0) {
            EXPECT_TRUE(stem == ReadSound(folder / "solo1.wav").pcm) << name;
        }
    }
    EXPECT_GE(stems, 2);
    size_t off = 0;
    for (size_t i = 0; i < sum.size(); ++i)
        off += std::abs(reference[i]) < 32767 && std::abs(sum[i] - reference[i]) > 1;
    EXPECT_EQ(off, 0u);
}

TEST(Listening, FlacAndOggCarryTitleAndCommentForSoxi) {
    const Folder folder;
    ASSERT_EQ(folder.Run("$T render -q -o e.flac ECHO.MTP && $T render -q -o e.ogg ECHO.MTP"
                         " && soxi -a e.flac > flac.txt && soxi -a e.ogg > ogg.txt"),
              0);
    for (const char* tags : {"flac.txt", "ogg.txt"}) {
        std::string text = folder.Read(tags);
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_NE(text.find("title=echo\n"), std::string::npos) << text;
        EXPECT_NE(text.find("comment=soundsmith song; instruments: killerkick, typewriter"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("rendered by trelmo "), std::string::npos) << text;
    }
}

TEST(Listening, ParallelRendersMatchOneAtATimeAndReportInSongOrder) {
    const Folder folder;
    ASSERT_EQ(folder.Run("for s in A B C D; do cp ECHO.MTP $s.MTP; cp ECHO.W $s.W; done; echo x > BAD.MTP"),
              0);
    EXPECT_EQ(
        folder.Run("$T render --jobs 3 --out-dir p A.MTP BAD.MTP B.MTP C.MTP D.MTP > out.txt 2> err.txt"), 1);
    EXPECT_EQ(folder.Run("$T render -q --jobs 1 --out-dir s A.MTP D.MTP"), 0);
    EXPECT_EQ(folder.Read("p/A.wav"), folder.Read("s/A.wav"));
    EXPECT_EQ(folder.Read("p/D.wav"), folder.Read("s/D.wav"));
    EXPECT_EQ(folder.Read("err.txt"),
              "A.MTP -> p/A.wav (2:30)\ntrelmo: BAD.MTP: not a SoundSmith or NoiseTracker GS song\n"
              "B.MTP -> p/B.wav (2:30)\nC.MTP -> p/C.wav (2:30)\nD.MTP -> p/D.wav (2:30)\n");
}

TEST(Listening, CommandLineRoughEdges) {
    const Folder folder;
    EXPECT_EQ(folder.Run("$T rendr 2> unknown.txt"), 2);
    EXPECT_EQ(folder.Read("unknown.txt").rfind("trelmo: unknown command 'rendr'; did you mean 'render'?", 0),
              0u);
    EXPECT_EQ(folder.Run("$T render --stereo 120 2> range.txt"), 2);
    EXPECT_EQ(folder.Read("range.txt").rfind("trelmo: --stereo", 0), 0u);
    EXPECT_EQ(folder.Run("$T render -q -o x.ogg -f wav ECHO.MTP 2> warned.txt"), 0);
    EXPECT_EQ(folder.Read("warned.txt"), "trelmo: warning: x.ogg will hold wav, whatever its name says\n");
    // A reader that has had enough ends the render without a word, as it would end cat.
    for (const char* format : {"raw", "ogg"}) {
        EXPECT_EQ(folder.Run(std::string("$T render -o - -f ") + format +
                             " ECHO.MTP 2> pipe.txt | head -c 1000 > /dev/null;"
                             " exit ${PIPESTATUS[0]}"),
                  141);
        EXPECT_EQ(folder.Read("pipe.txt"), "DOC DATA file found with 9 insts.\n") << format;
    }
}

TEST(Listening, BashCompletionOffersCommandsOptionsAndSongs) {
    const Folder folder;
    ASSERT_EQ(
        folder.Run(
            "source /usr/share/bash-completion/bash_completion && source '" TRELMO_SOURCE_DIR
            "/cli/trelmo.bash-completion' && offer() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1));"
            " COMP_LINE=\"$*\"; COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _trelmo; echo \"${COMPREPLY[*]}\"; };"
            " { offer trelmo ren; offer trelmo render --st; offer trelmo play E; offer trelmo render -f ''; "
            "} > offered.txt"),
        0);
    EXPECT_EQ(folder.Read("offered.txt"),
              "render\n--start --stereo --stems --strict\nECHO.MTP\nwav flac ogg raw\n");
}

// Plays ECHO.MTP into a private PulseAudio server whose sink writes every frame it plays into a pipe,
// presses the right arrow after three seconds, and compares the recording with the full render.
TEST(Listening, TheRightArrowJumpsFiveSecondsToExactlyTheRenderedFrames) {
#ifdef TRELMO_SANITIZED
    // A recording in real time cannot be compared frame for frame when the sanitizers slow trelmo
    // down enough for the sound server to run dry; the plain build checks it.
    GTEST_SKIP() << "real-time recording is not exact under the sanitizers";
#endif
    const Folder folder;
    ASSERT_EQ(
        folder.Run(
            R"(export HOME=$PWD XDG_RUNTIME_DIR=$PWD PULSE_RUNTIME_PATH=$PWD PULSE_SERVER=unix:$PWD/native
printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > .asoundrc && mkfifo sink.pipe
printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s/native\nload-module module-pipe-sink sink_name=t file=%s/sink.pipe rate=44100 channels=2 format=s16le use_system_clock_for_timing=yes\nset-default-sink t\n' $PWD $PWD > server.pa
cat sink.pipe > rec.raw & recorder=$!
pulseaudio -n -F server.pa --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:$PWD/server.log & server=$!
for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done
(sleep 3; printf '\033[C'; sleep 2; printf q) | ASAN_OPTIONS=detect_leaks=0 script -qec "$T play ECHO.MTP" /dev/null > screen.txt
status=$?; sleep 0.5; kill $server; wait $server; wait $recorder; exit $status)"),
        0)
        << folder.Read("server.log");
    const std::vector<int16_t> reference = Reference(folder);
    const std::vector<int16_t> recording = Samples(folder.Read("rec.raw"));
    const auto firstSound = [](const std::vector<int16_t>& pcm) {
        return static_cast<size_t>(std::find_if(pcm.begin(), pcm.end(), [](int16_t v) { return v != 0; }) -
                                   pcm.begin()) /
               2;
    };
    const auto sameFrames = [&](size_t at, size_t from) {
        size_t n = 0;
        while (2 * (at + n) + 1 < recording.size() && 2 * (from + n) + 1 < reference.size() &&
               recording[2 * (at + n)] == reference[2 * (from + n)] &&
               recording[2 * (at + n) + 1] == reference[2 * (from + n) + 1]) {
            ++n;
        }
        return n;
    };
    ASSERT_GE(firstSound(recording), firstSound(reference));
    const size_t start = firstSound(recording) - firstSound(reference);
    const size_t jump = sameFrames(start, 0);
    ASSERT_GT(jump, 2 * Rate) << "the song's beginning was not heard unchanged";
    // The key is read between two device callbacks; the jump lands five seconds on, within one of them.
    size_t best = 0;
    size_t resumed = 0;
    for (size_t from = jump + 5 * Rate - Rate / 10; from < jump + 5 * Rate + Rate / 10; ++from) {
        const size_t n = sameFrames(start + jump, from);
        if (n > best) {
            best = n;
            resumed = from;
        }
    }
    EXPECT_GT(best, Rate) << "after the jump, a second of the recording is the render's frames from "
                          << resumed;
    EXPECT_NEAR(static_cast<double>(resumed), static_cast<double>(jump + 5 * Rate), Rate / 20.0);
    EXPECT_NE(folder.Read("screen.txt").find("playing  0:0"), std::string::npos);
}

}  // namespace
