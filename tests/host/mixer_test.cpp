// SPDX-License-Identifier: BSD-3-Clause
// Block delivery and the mixer thread's life, against a scripted host.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/mixer_thread.h"
#include "host/plugin.h"
#include "song/player_state.h"
#include "synth/mix_block.h"
#include "synth/tick_timing.h"
#include "tests/host/fake_host.h"
#include "tests/support/song_player.h"
#include "tools/writers/ntg_writer.h"

namespace trelmo {
namespace {

using test::FakeHost;
using test::HostCall;
using test::TempDir;
using Clock = std::chrono::steady_clock;
using Args = std::vector<int64_t>;

int64_t BlockAddress() {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(PluginEngine.scratch.OutputBlock));
}

// Where the sequencer stands; any tick moves at least one of these.
std::tuple<int, int, int, int> SongPosition() {
    return {PluginEngine.Player.tickCounter, PluginEngine.Player.rowIndex, PluginEngine.Player.rowOffset,
            PluginEngine.Player.orderPosition};
}

std::vector<HostCall> Named(const std::vector<HostCall>& calls, const std::string& name) {
    std::vector<HostCall> found;
    for (const HostCall& call : calls) {
        if (call.name == name) found.push_back(call);
    }
    return found;
}

TEST(RenderBlock, RoomForAWholeBlockOrNothing) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    test::PrepareSong(PluginEngine, test::WriteShortSong(dir, "SHORT.MTP"));
    const int block = static_cast<int>(PluginEngine.TickLength * 4);

    host.canWrite = block - 1;
    auto before = SongPosition();
    RenderBlock();
    EXPECT_EQ(SongPosition(), before);  // no tick was played
    EXPECT_EQ(host.Count("Write") + host.Count("dsp_dosamples") + host.Count("GetWrittenTime"), 0);

    host.canWrite = block;
    RenderBlock();
    EXPECT_NE(SongPosition(), before);
    EXPECT_EQ(host.Count("Write"), 1);

    // The room is compared as unsigned: a negative answer is taken as plenty.
    host.canWrite = -1;
    RenderBlock();
    EXPECT_EQ(host.Count("Write"), 2);

    // A DSP may double the frames, so it needs twice the room.
    host.dspActive = 1;
    host.canWrite = 2 * block - 1;
    before = SongPosition();
    RenderBlock();
    EXPECT_EQ(SongPosition(), before);
    EXPECT_EQ(host.Count("Write"), 2);
    host.canWrite = 2 * block;
    RenderBlock();
    EXPECT_EQ(host.Count("Write"), 3);
    EXPECT_NE(SongPosition(), before);
}

TEST(RenderBlock, OneTimeStampPerBlockAndTheDspDecidesTheSize) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    test::PrepareSong(PluginEngine, test::WriteShortSong(dir, "SHORT.MTP"));
    const int64_t frames = PluginEngine.TickLength;

    const std::vector<int> dspAnswers = {-1, static_cast<int>(2 * frames), 100, 0, 1 << 30};
    for (int answer : dspAnswers) {
        host.dspResult = answer;
        RenderBlock();
    }
    const auto calls = host.Calls();
    std::vector<std::string> names;
    for (const HostCall& call : calls) names.push_back(call.name);
    std::vector<std::string> expected;
    for (size_t i = 0; i < dspAnswers.size(); ++i) {
        for (const char* name : {"dsp_isactive", "CanWrite", "GetWrittenTime", "SAAddPCMData",
                                 "VSAAddPCMData", "dsp_dosamples", "Write"}) {
            expected.push_back(name);
        }
    }
    ASSERT_EQ(names, expected);

    const auto times = Named(calls, "GetWrittenTime");
    const auto sa = Named(calls, "SAAddPCMData");
    const auto vsa = Named(calls, "VSAAddPCMData");
    const auto dsp = Named(calls, "dsp_dosamples");
    const auto writes = Named(calls, "Write");
    // The DSP's answer is the frame count written; never more than the block holds.
    const std::vector<int64_t> bytes = {4 * frames, 8 * frames, 400, 0, 4 * int64_t{OutputBlockFrames}};
    for (size_t i = 0; i < dspAnswers.size(); ++i) {
        const int64_t t = times[i].args[0];
        EXPECT_EQ(sa[i].args, (Args{BlockAddress(), 2, 16, t}));
        EXPECT_EQ(vsa[i].args, (Args{BlockAddress(), 2, 16, t}));
        EXPECT_EQ(dsp[i].args, (Args{BlockAddress(), frames, 16, 2, 44100}));
        EXPECT_EQ(writes[i].args, (Args{BlockAddress(), bytes[i]}));
        if (i > 0) {
            EXPECT_NE(t, times[i - 1].args[0]);
        }
    }
}

TEST(RenderBlock, ATempoChangeSetsTheLengthOfItsOwnBlock) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    writers::NtgSongPlan song;
    song.tempo = 50;  // far slower than the 125 every song starts at
    test::PrepareSong(PluginEngine, dir.Write("SLOW.NTG", writers::BuildNtgSong(song)));
    const uint32_t startLength = PluginEngine.TickLength;
    host.canWrite = static_cast<int>(startLength * 4);  // room for a block of the old length
    RenderBlock();
    ASSERT_NE(PluginEngine.TickLength, startLength);
    const auto writes = Named(host.Calls(), "Write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[1], int64_t{PluginEngine.TickLength} * 4);
}

TEST(MixerThread, TheSongsEndIsReportedOnceAndTheThreadEnds) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    const std::string song = test::WriteShortSong(dir, "SHORT.MTP");
    const uint64_t ticks = test::PlaySong(song, 1u << 24, false).ticks;
    host.playingPolls = 3;  // the output still plays for three polls after the last block
    ASSERT_EQ(Module.Play(song.c_str()), 0);
    ASSERT_TRUE(host.WaitForEndMessages(1, std::chrono::seconds(10)));
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (MixerRunState.load() != MixerEnded && Clock::now() < deadline) std::this_thread::yield();
    EXPECT_EQ(MixerRunState.load(), MixerEnded);
    const int callsAtEnd = static_cast<int>(host.Calls().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(static_cast<int>(host.Calls().size()), callsAtEnd);  // an ended thread polls no more

    const auto calls = host.Calls();
    EXPECT_EQ(Named(calls, "Write").size(), ticks);
    // After the last block: CanWrite and IsPlaying about every 10 ms until the output has played
    // out, then the message.
    size_t last = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == "Write") last = i;
    }
    std::vector<std::string> tail;
    for (size_t i = last + 1; i < calls.size(); ++i) tail.push_back(calls[i].name);
    EXPECT_EQ(tail, (std::vector<std::string>{"CanWrite", "IsPlaying", "CanWrite", "IsPlaying", "CanWrite",
                                              "IsPlaying", "CanWrite", "IsPlaying", "postMessage"}));
    const auto polls = Named(calls, "IsPlaying");
    for (size_t i = 1; i < polls.size(); ++i) {
        EXPECT_GE(polls[i].when - polls[i - 1].when, std::chrono::milliseconds(9));
    }
    EXPECT_EQ(Named(calls, "postMessage").back().args, (Args{1026, 0, 0}));

    // Stop still follows, returns at once and shuts down in order.
    Module.Stop();
    EXPECT_EQ(test::HostThreadCalls(host.Calls()).back(), "SAVSADeInit");
    EXPECT_EQ(host.EndMessages(), 1);
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
}

TEST(MixerThread, WithoutRoomItSleepsInsteadOfSpinning) {
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    host.canWrite = 0;
    ASSERT_EQ(Module.Play(test::WriteShortSong(dir, "SHORT.MTP").c_str()), 0);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int polls = host.Count("CanWrite");
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // Each poll without room is followed by a sleep of at least a millisecond.
    EXPECT_GE(polls, 5);
    EXPECT_LE(polls, elapsed + 2);
    EXPECT_EQ(host.Count("Write"), 0);
    // Once there is room, blocks flow again.
    host.canWrite = 1 << 30;
    EXPECT_TRUE(host.WaitForCount("Write", 5, std::chrono::seconds(5)));
    Module.Stop();
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
}

TEST(MixerThread, StopMixerAndStartMixerStates) {
    // No thread behind 0 or 2: StopMixer must not wait.
    MixerRunState = MixerStopRequested;
    StopMixer();
    EXPECT_EQ(MixerRunState.load(), MixerStopRequested);
    MixerRunState = MixerEnded;
    StopMixer();
    EXPECT_EQ(MixerRunState.load(), MixerEnded);

    // Stop right as the song ends waits the few ms the thread needs to finish, so a new Play never
    // meets the old thread.
    TempDir dir;
    FakeHost host;
    host.Attach(Module);
    const std::string song = test::WriteShortSong(dir, "SHORT.MTP");
    for (int round = 1; round <= 3; ++round) {
        ASSERT_EQ(Module.Play(song.c_str()), 0);
        ASSERT_TRUE(host.WaitForEndMessages(round, std::chrono::seconds(10)));
        Module.Stop();
        EXPECT_EQ(host.RunStateAtClose(), MixerEnded);
    }
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
}

}  // namespace
}  // namespace trelmo
