// SPDX-License-Identifier: BSD-3-Clause
// Whole songs played the way the mixer thread plays them: a real song from start to end, and the
// pitch a note actually has in the rendered sound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "song/note_table.h"
#include "synth/voice_bank.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/note_names.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using SoundSmithPlay = test::EngineTest;

TEST_F(SoundSmithPlay, EchoPlaysFromStartToEnd) {
    test::PrepareSong(engine, std::string(TRELMO_CORPUS_DIR) + "/soundsmith/ECHO.MTP");
    const test::Rendering r = test::PlaySong(engine, 10'000'000);
    EXPECT_EQ(log.Take(), "DOC DATA file found with 9 insts.\n");
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.frames, 6'635'520u);  // 20 positions x 64 rows x 6 ticks x 864 frames
    // Both sides carry sound: the stereo table puts tracks 2 to 5 on the left, the rest right.
    uint64_t left = 0;
    uint64_t right = 0;
    for (size_t i = 0; i + 1 < r.pcm.size(); i += 2) {
        left += r.pcm[i] != 0 ? 1u : 0u;
        right += r.pcm[i + 1] != 0 ? 1u : 0u;
    }
    EXPECT_GT(left, r.frames / 4);
    EXPECT_GT(right, r.frames / 4);
}

// Frames per cycle of the left channel, from its rising zero crossings after the first skip frames.
double MeasuredPeriod(const std::vector<int16_t>& pcm, size_t skip) {
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (size_t f = skip + 1; 2 * f < pcm.size(); ++f) {
        const int a = pcm[2 * (f - 1)];
        const int b = pcm[2 * f];
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(f - 1) + static_cast<double>(-a) / (b - a);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (last - first) / (crossings - 1) : 0.0;
}

TEST_F(SoundSmithPlay, ANoteSoundsAtThePitchItsStepGives) {
    // A looping voice plays bytes 0 .. length - 2 and meets the last byte only as the blend partner,
    // so a 255-byte cycle followed by its own first byte loops seamlessly.
    std::vector<int8_t> wave = writers::SineCycle(255, 100);
    wave.push_back(wave[0]);
    const test::Companions bank{{"PITCH.W", writers::WaveBankBytes({{wave, true}})}};
    for (const char* name : {"C-4", "A-5", "E-7"}) {
        writers::SoundSmithTune tune;
        tune.speedByte = 6;
        tune.instruments = {{"SINE", 127}};
        tune.stereo[0] = 1;  // left
        tune.Row(0, 0, std::string(name) + " 10 00");
        test::PrepareSong(engine, tune.Bytes(), "PITCH.MTP", bank);
        const test::Rendering r = test::PlaySong(engine, 10'000'000);
        ASSERT_TRUE(r.ended);

        const uint32_t step = FrequencyToStep(NotePitch(writers::NoteByte(name)) * 51u);
        const double expected = 255.0 * 65536.0 / step;
        const double measured = MeasuredPeriod(r.pcm, 6 * 864 + 1000);
        EXPECT_NEAR(measured, expected, expected * 0.001) << name;
    }
}

}  // namespace
}  // namespace trelmo
