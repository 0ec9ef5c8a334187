#include <gtest/gtest.h>
#include "synth/voice_bank.h"
#include "synth/tick_timing.h"
TEST(Smoke, Step) {
  EXPECT_EQ(trelmo::FrequencyToStep(44100), 0xFFFFu);
  EXPECT_EQ(trelmo::FrequencyToStep(82059), 121945u);
  EXPECT_EQ(trelmo::FrequencyToStep(22050), 0x7FFFu);
  trelmo::SetTickRate(125); EXPECT_EQ(trelmo::TickLength, 864u);
}
