// SPDX-License-Identifier: BSD-3-Clause
// trelmo play through a real sound server: a private PulseAudio daemon with a null sink (no sound
// card needed), whose monitor is recorded and compared with the offline render.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/song_player.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/save_file.h"

namespace trelmo::test {
namespace {

using namespace std::chrono_literals;
using namespace writers;
constexpr int Rate = 44100;

// Starts a program with standard output to output and standard error to log.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const std::string& output, const std::string& log) {
    const pid_t child = fork();
    if (child == 0) {
        // The daemon and the recorder go when the test goes, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
        std::FILE* out = std::fopen(output.c_str(), "wb");
        std::FILE* messages = std::fopen(log.c_str(), "wb");
        if (out == nullptr || messages == nullptr) _exit(126);
        dup2(fileno(out), 1);
        dup2(fileno(messages), 2);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

void Finish(pid_t child, int signal) {
    if (child <= 0) return;
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
}

// A PulseAudio daemon of our own, in a private folder. Its one sink writes everything it plays, in
// real time, into a pipe, which is recorded. (A null sink's monitor was tried first: its recordings
// lacked the first few hundredths of a second of each stream, so they could not show a whole song.)
class SoundServer {
  public:
    SoundServer() {
        const std::string config =
            "load-module module-native-protocol-unix auth-anonymous=1 socket=" + folder_.File("native") +
            "\nload-module module-pipe-sink sink_name=trelmo_test file=" + folder_.File("sink.pipe") +
            " rate=44100 channels=2 format=s16le use_system_clock_for_timing=yes"
            "\nset-default-sink trelmo_test\n";
        folder_.Write("server.pa", std::vector<uint8_t>(config.begin(), config.end()));
        // ALSA, which PortAudio uses, reaches PulseAudio through its pulse plug-in.
        const std::string alsa = "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
        folder_.Write(".asoundrc", std::vector<uint8_t>(alsa.begin(), alsa.end()));
        environment_ = {"HOME=" + folder_.Path(), "XDG_RUNTIME_DIR=" + folder_.Path(),
                        "PULSE_RUNTIME_PATH=" + folder_.Path(), "PULSE_SERVER=unix:" + folder_.File("native"),
                        IgnoreSoundSystemLeaks};
        daemon_ = Spawn({"pulseaudio", "-n", "-F", folder_.File("server.pa"), "--daemonize=no",
                         "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr"},
                        environment_, folder_.File("server.log"), folder_.File("server.log"));
        for (int i = 0; i < 100 && !ready_; ++i) {
            std::this_thread::sleep_for(100ms);
            const pid_t probe = Spawn({"pactl", "info"}, environment_, "/dev/null", "/dev/null");
            int status = 1;
            waitpid(probe, &status, 0);
            ready_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
    }
    ~SoundServer() {
        Finish(recorder_, SIGTERM);
        Finish(daemon_, SIGTERM);
    }

    bool Ready() const { return ready_; }
    // The server dies as a crashed one would, without a word to its clients.
    void Crash() {
        Finish(daemon_, SIGKILL);
        daemon_ = -1;
    }
    const std::vector<std::string>& Environment() const { return environment_; }
    const TempDir& Folder() const { return folder_; }

    void StartRecording() {
        recorder_ = Spawn({"cat", folder_.File("sink.pipe")}, environment_, folder_.File("recording.raw"),
                          folder_.File("recorder.log"));
        std::this_thread::sleep_for(500ms);
    }
    std::vector<int16_t> StopRecording() {
        std::this_thread::sleep_for(700ms);
        Finish(recorder_, SIGTERM);
        recorder_ = -1;
        std::ifstream in(folder_.File("recording.raw"), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

  private:
    TempDir folder_;
    std::vector<std::string> environment_;
    pid_t daemon_ = -1;
    pid_t recorder_ = -1;
    bool ready_ = false;
};

// Correlation of recording frames from at with reference frames from from, over count frames of
// one channel.
double Correlation(const std::vector<int16_t>& recording, size_t at, const std::vector<int16_t>& reference,
                   size_t from, size_t count, int channel) {
    double both = 0;
    double mine = 0;
    double theirs = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t r = 2 * (at + i) + static_cast<size_t>(channel);
        const size_t f = 2 * (from + i) + static_cast<size_t>(channel);
        if (r >= recording.size() || f >= reference.size()) break;
        const double a = recording[r];
        const double b = reference[f];
        both += a * b;
        mine += a * a;
        theirs += b * b;
    }
    return mine == 0 || theirs == 0 ? 0 : both / std::sqrt(mine * theirs);
}

size_t FirstSound(const std::vector<int16_t>& samples, size_t from = 0) {
    for (size_t i = 2 * from; i < samples.size(); ++i) {
        if (samples[i] != 0) return i / 2;
    }
    return samples.size() / 2;
}

// The recording frame where reference frame from is heard, searched near guess by cross-correlation.
size_t Align(const std::vector<int16_t>& recording, size_t guess, const std::vector<int16_t>& reference,
             size_t from) {
    size_t best = guess;
    double bestScore = -2;
    const size_t low = guess > 3000 ? guess - 3000 : 0;
    for (size_t at = low; at < guess + 3000; ++at) {
        const double score = Correlation(recording, at, reference, from, 8192, 0);
        if (score > bestScore) {
            bestScore = score;
            best = at;
        }
    }
    return best;
}

// The recording frame where the reference's first frame is heard: found at the reference's first sound.
size_t SongStart(const std::vector<int16_t>& recording, const std::vector<int16_t>& reference) {
    const size_t sound = FirstSound(reference);
    return Align(recording, FirstSound(recording), reference, sound) - sound;
}

std::vector<int16_t> ShortSong(const std::string& path) {
    // Two square-wave voices, one on each side, a new note on every row; 24 rows at 8 rows a second.
    NtgSongPlan song;
    song.tempo = 35;
    song.trackCount = 2;
    song.channels[0] = 1;
    song.firstGroup.push_back({.sample = NtgSquareWave(64), .volume = 90, .mode = 3});
    // No stretch of it repeats, so it lines up with a recording in one place only.
    for (int row = 0; row < 23; ++row) {
        song.Cell(0, row, 0, static_cast<uint8_t>(49 + row * 7 % 12), NtgControl(1), 0);
        song.Cell(0, row, 1, static_cast<uint8_t>(37 + row * 5 % 11), NtgControl(1), 0);
    }
    song.Row(0, 23, "NXT 00 00 | NXT 00 00");
    EXPECT_TRUE(SaveFile(path, BuildNtgSong(song)));
    return PlaySong(path, 44100 * 10).pcm;
}

TEST(Play, TheSoundServerHearsExactlyTheRenderedSong) {
    SoundServer server;
    ASSERT_TRUE(server.Ready()) << "no PulseAudio daemon could be started (scripts/setup.sh installs it)";
    const std::string song = server.Folder().File("SHORT.NTG");
    const std::vector<int16_t> reference = ShortSong(song);
    const size_t frames = reference.size() / 2;
    ASSERT_GT(frames, size_t{Rate});

    server.StartRecording();
    const TrelmoRun play = RunTrelmo({"play", song}, "", server.Environment());
    const std::vector<int16_t> recording = server.StopRecording();
    EXPECT_EQ(play.status, 0) << play.err;
    EXPECT_NE(play.err.find("SHORT.NTG (0:02)"), std::string::npos) << play.err;

    const size_t start = SongStart(recording, reference);
    ASSERT_LT(start + frames, recording.size() / 2) << "the recording is shorter than the song";
    EXPECT_GT(Correlation(recording, start, reference, 0, frames, 0), 0.99);
    EXPECT_GT(Correlation(recording, start, reference, 0, frames, 1), 0.99);
    // The song's end is played out, not cut off, and nothing follows it.
    EXPECT_GT(Correlation(recording, start + frames - Rate / 4, reference, frames - Rate / 4, Rate / 4, 0),
              0.99);
    EXPECT_EQ(FirstSound(recording, start + frames + 64), recording.size() / 2);
}

TEST(Play, ASoundServerThatGoesAwayEndsPlayWithOneLineAndStatusOne) {
    SoundServer server;
    ASSERT_TRUE(server.Ready()) << "no PulseAudio daemon could be started (scripts/setup.sh installs it)";
    const std::string song = server.Folder().File("SHORT.NTG");
    ShortSong(song);
    const std::string err = server.Folder().File("play.err");
    const pid_t play =
        Spawn({TRELMO_CLI_PATH, "play", song, song, song}, server.Environment(), "/dev/null", err);
    std::this_thread::sleep_for(1500ms);
    server.Crash();
    int status = -1;
    for (int i = 0; i < 800 && waitpid(play, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
    if (status == -1) Finish(play, SIGKILL);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << "not ended with status 1 8 s after the crash";

    // trelmo's own lines (the sound library may print some of its own): the queued songs never start.
    std::ifstream in(err);
    std::vector<std::string> ours;
    for (const std::string& line : Lines(std::string(std::istreambuf_iterator<char>(in), {}))) {
        if (line.rfind("trelmo:", 0) == 0 || line.find("(0:02)") != std::string::npos) ours.push_back(line);
    }
    EXPECT_EQ(ours,
              (std::vector<std::string>{song + " (0:02)", "trelmo: cannot play " + song +
                                                              ": the sound device stopped taking samples"}));
}

// Runs trelmo in a terminal of its own, so that it reads single keys.
class TerminalRun {
  public:
    TerminalRun(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
        child_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (child_ == 0) {
            for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
            std::vector<char*> argv{const_cast<char*>(TRELMO_CLI_PATH)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(TRELMO_CLI_PATH, argv.data());
            _exit(127);
        }
        // The status line is redrawn all the time; the terminal must be read or trelmo would block.
        reader_ = std::thread([this] {
            char buffer[4096];
            ssize_t got;
            while ((got = read(terminal_, buffer, sizeof buffer)) > 0)
                text_.append(buffer, static_cast<size_t>(got));
        });
    }
    ~TerminalRun() {
        if (child_ > 0 && !exited_) {
            kill(child_, SIGTERM);  // lets it remove its temporary demo song
            if (Wait(2000ms) < 0) Finish(child_, SIGKILL);
        }
        close(terminal_);
        if (reader_.joinable()) reader_.join();
    }
    void Press(char key) { ASSERT_EQ(write(terminal_, &key, 1), 1); }
    // Waits up to limit for the program to end; its exit status, or -1 when it is still running.
    int Wait(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (waitpid(child_, &status, WNOHANG) == child_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    std::string Text() {
        close(terminal_);
        terminal_ = -1;
        if (reader_.joinable()) reader_.join();
        return text_;
    }

  private:
    int terminal_ = -1;
    pid_t child_ = -1;
    bool exited_ = false;
    std::thread reader_;
    std::string text_;
};

// n and p walk the songs as the page's keys do; p on the first song starts it again.
TEST(Play, NAndPChooseTheNextAndThePreviousSong) {
    SoundServer server;
    ASSERT_TRUE(server.Ready()) << "no PulseAudio daemon could be started (scripts/setup.sh installs it)";
    const std::string first = server.Folder().File("ONE.NTG"), second = server.Folder().File("TWO.NTG");
    ShortSong(first);
    ShortSong(second);
    // Looping for ever, a song ends only by a key, however slow the machine.
    TerminalRun play({"play", "--loops", "0", first, second}, server.Environment());
    for (const char key : {'p', 'n', 'p', 'q'}) {
        std::this_thread::sleep_for(700ms);
        play.Press(key);
    }
    EXPECT_EQ(play.Wait(3000ms), 0);
    std::vector<std::string> started;
    for (const std::string& line : Lines(play.Text())) {
        if (line.find(".NTG (looping") != std::string::npos)
            started.push_back(line.substr(line.rfind('/') + 1, 7));
    }
    EXPECT_EQ(started, (std::vector<std::string>{"ONE.NTG", "ONE.NTG", "TWO.NTG", "ONE.NTG"}));
}

TEST(Play, SpacePausesAndResumesWhereItStoppedAndQQuits) {
    SoundServer server;
    ASSERT_TRUE(server.Ready()) << "no PulseAudio daemon could be started (scripts/setup.sh installs it)";
    const TrelmoRun render = RunTrelmo({"render", "-q", "-o", "-"});
    ASSERT_EQ(render.status, 0);
    std::vector<int16_t> reference(render.out.size() / 2);
    std::memcpy(reference.data(), render.out.data(), reference.size() * 2);

    server.StartRecording();
    int status = -1;
    std::string shown;
    {
        TerminalRun play({"play"}, server.Environment());
        std::this_thread::sleep_for(4500ms);
        play.Press(' ');
        std::this_thread::sleep_for(1500ms);
        play.Press(' ');
        std::this_thread::sleep_for(2000ms);
        const auto quit = std::chrono::steady_clock::now();
        play.Press('q');
        status = play.Wait(3000ms);
        EXPECT_LT(std::chrono::steady_clock::now() - quit, 1000ms);
        if (status >= 0) shown = play.Text();
    }
    const std::vector<int16_t> recording = server.StopRecording();
    EXPECT_EQ(status, 0);
    EXPECT_NE(shown.find("paused"), std::string::npos);

    // The recording: the song's beginning, silence while paused, then the song again from the
    // very frame where it stopped, until q.
    const size_t start = SongStart(recording, reference);
    size_t gap = start + Rate;  // the pause: the longest run of silent frames after a second of music
    size_t gapLength = 0;
    for (size_t i = start + Rate, run = 0; i < recording.size() / 2; ++i) {
        run = recording[2 * i] == 0 && recording[2 * i + 1] == 0 ? run + 1 : 0;
        if (run > gapLength) {
            gapLength = run;
            gap = i + 1 - run;
        }
    }
    EXPECT_GT(gapLength, size_t{Rate}) << "no pause of a second or more was heard";
    EXPECT_LT(gapLength, size_t{Rate} * 5 / 2);
    const size_t before = gap - start;
    ASSERT_GT(before, size_t{Rate});
    EXPECT_GT(Correlation(recording, start, reference, 0, before, 0), 0.99);
    const size_t resumed = Align(recording, gap + gapLength, reference, before);
    EXPECT_NEAR(static_cast<double>(resumed), static_cast<double>(gap + gapLength), 64.0);
    EXPECT_GT(Correlation(recording, resumed, reference, before, Rate, 0), 0.99);
    EXPECT_GT(Correlation(recording, resumed, reference, before, Rate, 1), 0.99);
    // After q nothing more was played: well under the song's 49 seconds were heard in all.
    const size_t heard = FirstSound(recording, resumed) + (recording.size() / 2 - resumed);
    EXPECT_LT(heard - start, size_t{Rate} * 12);
}

}  // namespace
}  // namespace trelmo::test
