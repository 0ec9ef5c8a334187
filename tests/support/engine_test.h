// SPDX-License-Identifier: BSD-3-Clause
// Tests that play on an engine: each test gets a newly created one, so nothing one test leaves in
// the wave table, the voices or the player state reaches the next.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "song/engine.h"
#include "tests/support/message_log.h"

namespace trelmo::test {

// Mixed into a fixture: engine is created with the fixture and destroyed with it.
struct FreshEngine {
    // On the heap: the mixing scratch alone is about a megabyte.
    std::unique_ptr<Engine> owned = std::make_unique<Engine>();
    Engine& engine = *owned;
};

// The engine's messages are collected in log.
class EngineTest : public ::testing::Test, protected FreshEngine {
  protected:
    EngineTest() { engine.messages = log.Sink(); }
    MessageLog log;
};

// Runs each case twice: with the mixer's vector free runs where the processor has them, and
// without. Instantiate with TRELMO_BOTH_MIX_PATHS(Suite).
class BothMixPaths : public ::testing::TestWithParam<bool>, protected FreshEngine {
  protected:
    void SetUp() override;
    void TearDown() override;
};
#define TRELMO_BOTH_MIX_PATHS(Suite)                  \
    INSTANTIATE_TEST_SUITE_P(                         \
        Paths, Suite, ::testing::Values(true, false), \
        [](const ::testing::TestParamInfo<bool>& path) { return path.param ? "Vector" : "Plain"; })

}  // namespace trelmo::test
