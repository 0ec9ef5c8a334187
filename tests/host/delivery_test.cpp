// SPDX-License-Identifier: BSD-3-Clause
// What reaches the player's output is exactly the song as rendered, block for block.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "host/plugin.h"
#include "tests/host/fake_host.h"
#include "tests/support/song_player.h"

namespace trelmo {
namespace {

TEST(Delivery, EchoReachesWriteBitIdentical) {
    test::TempDir dir;
    dir.Copy(std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.W", "ECHO.W");
    const std::string song = dir.Copy(std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP", "ECHO.MTP");

    test::FakeHost host;
    host.Attach(Module);
    host.logCalls = false;
    host.keepPcm = true;
    host.canWrite = 4 * 4410;  // a tenth of a second of room: blocks go one at a time
    ASSERT_EQ(Module.Play(song.c_str()), 0);
    ASSERT_TRUE(host.WaitForEndMessages(1, std::chrono::minutes(5)));
    Module.Stop();
    const std::vector<uint8_t> delivered = host.Pcm();
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();

    const test::Rendering reference = test::PlaySong(song, uint64_t{1} << 26);
    ASSERT_TRUE(reference.ended);
    EXPECT_EQ(reference.frames, 6635520u);
    ASSERT_EQ(delivered.size(), reference.pcm.size() * sizeof(int16_t));
    // Little-endian signed 16-bit, left first: the block's own bytes.
    EXPECT_EQ(std::memcmp(delivered.data(), reference.pcm.data(), delivered.size()), 0);
    EXPECT_EQ(host.Count("Write"), static_cast<int>(reference.ticks));
}

}  // namespace
}  // namespace trelmo
