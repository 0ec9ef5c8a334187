// SPDX-License-Identifier: BSD-3-Clause
// Many playbacks in a row, stopped at random moments (also right at the song's end): never a hang,
// never a second mixer thread, nothing left behind. CI also runs this under ThreadSanitizer.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "host/mixer_thread.h"
#include "host/plugin.h"
#include "synth/tick_timing.h"
#include "tests/host/fake_host.h"
#include "tests/support/song_player.h"

namespace trelmo {
namespace {

int ThreadCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

// The kernel may list a thread for a moment after it has been joined, so allow it that moment.
int SettledThreadCount(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = ThreadCount();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        count = ThreadCount();
    }
    return count;
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

TEST(Stress, ThousandPlayStopCyclesAtRandomMoments) {
    test::TempDir dir;
    test::FakeHost host;
    host.Attach(Module);
    host.logCalls = false;
    const std::string song = test::WriteShortSong(dir, "SHORT.MTP");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&random](int below) {
        return static_cast<int>(random() % static_cast<unsigned>(below));
    };

    const int threadsBefore = ThreadCount();
    size_t heapAfterWarmUp = 0;
    int waitedForEnd = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        // Room for all, for one block at a time, or for none (the thread then sleeps and polls).
        const int block = static_cast<int>(PluginEngine.TickLength * 4);
        const int rooms[] = {1 << 30, block, block - 1};
        host.canWrite = rooms[pick(3)];
        host.playingPolls = pick(2);
        ASSERT_EQ(Module.Play(song.c_str()), 0);
        EXPECT_LE(ThreadCount(), threadsBefore + 1);  // never a second mixer thread

        switch (pick(4)) {
            case 0:  // at once
                break;
            case 1:  // at some moment while it plays or just as it ends
                std::this_thread::sleep_for(std::chrono::microseconds(pick(4000)));
                break;
            case 2:  // paused for a while first
                Module.Pause();
                std::this_thread::sleep_for(std::chrono::microseconds(pick(2000)));
                Module.UnPause();
                break;
            default:  // right after the end-of-song message, with the next Play straight after
                host.canWrite = 1 << 30;
                ASSERT_TRUE(host.WaitForEndMessages(waitedForEnd + 1, std::chrono::seconds(30)));
                // Earlier cycles may have reached the end on their own before their Stop.
                waitedForEnd = host.EndMessages();
                break;
        }
        Module.Stop();
        // After Stop the plug-in runs no thread and holds the output no longer.
        ASSERT_EQ(SettledThreadCount(threadsBefore), threadsBefore);
        ASSERT_FALSE(host.OutputOpen());
        ASSERT_EQ(MixerRunState.load(), MixerEnded);
        waitedForEnd = host.EndMessages();
        if (cycle == 9) heapAfterWarmUp = HeapInUse();
    }
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
    EXPECT_GT(host.EndMessages(), 0);
    // Every playback released what it took: the heap holds no more than after the first cycles.
    EXPECT_LE(HeapInUse(), heapAfterWarmUp + 16 * 1024);
}

}  // namespace
}  // namespace trelmo
