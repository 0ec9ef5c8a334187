// SPDX-License-Identifier: BSD-3-Clause
#include "tests/support/engine_test.h"

#include "synth/mix_gather.h"

namespace trelmo::test {

void BothMixPaths::SetUp() {
    AllowGatherMixing(GetParam());
    if (GetParam() && !GatherMixingAvailable()) GTEST_SKIP() << "no vector gathers on this processor";
}

void BothMixPaths::TearDown() {
    AllowGatherMixing(true);
}

}  // namespace trelmo::test
