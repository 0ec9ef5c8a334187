// SPDX-License-Identifier: BSD-3-Clause
// The C API's song view, on songs written for the purpose: where the song is, its order list, its
// cells in one form for both kinds, and the tracks' levels.
#include <gtest/gtest.h>
#include <strings.h>
#include <trelmo/trelmo.h>

#include <set>
#include <utility>
#include <vector>

#include "tools/writers/note_names.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace {

using namespace trelmo::writers;

int GiveBank(void* user, const char* name, const void** data, size_t* size) {
    const auto* bank = static_cast<const std::vector<uint8_t>*>(user);
    if (strcasecmp(name, "TUNE.W") != 0) return 0;
    *data = bank->data();
    *size = bank->size();
    return 1;
}

class View : public ::testing::Test {
  protected:
    ~View() override { trelmo_destroy(engine); }

    // Speed 2. Position 0 plays pattern 1, which a break on row 5 ends early; position 1 plays
    // pattern 0 to its end. Track 0 plays a looping sine from the first row on.
    void LoadBreakSong() {
        SoundSmithTune tune;
        tune.speedByte = 2;
        tune.instruments = {{"SINE", 100}};
        tune.order = {1, 0};
        tune.patternCount = 2;
        tune.Row(1, 0, "C-4 13 40 | $80 | $82 3F 12");
        tune.Row(1, 5, "--- | --- | --- | $81");
        song = tune.Bytes();
        bank = WaveBankBytes({{SineCycle(64, 100), true}});
        ASSERT_EQ(trelmo_load_memory(engine, song.data(), song.size(), "TUNE.MTP", GiveBank, &bank),
                  TRELMO_OK);
    }

    trelmo_engine* engine = trelmo_create();
    std::vector<uint8_t> song, bank;
};

TEST_F(View, PlaceFollowsTheRowsThroughABreakToTheEnd) {
    LoadBreakSong();
    std::vector<std::pair<int, int>> rows;
    std::set<int> ticks;
    int16_t frames[2 * 64];
    trelmo_place place;
    TRELMO_INIT_RECORD(place);
    do {
        ASSERT_EQ(trelmo_get_place(engine, &place), TRELMO_OK);
        ASSERT_EQ(place.pattern, place.position == 0 ? 1 : 0);
        if (rows.empty() || rows.back() != std::pair{place.position, place.row})
            rows.emplace_back(place.position, place.row);
        ticks.insert(place.tick);
    } while (trelmo_render(engine, frames, 64) > 0);
    ASSERT_EQ(trelmo_get_place(engine, &place), TRELMO_OK);
    EXPECT_EQ(std::pair(place.position, place.row), std::pair(1, 63)) << "after the end: the last row played";

    std::vector<std::pair<int, int>> expected;
    for (int row = 0; row <= 5; ++row) expected.emplace_back(0, row);
    for (int row = 0; row < 64; ++row) expected.emplace_back(1, row);
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(ticks, (std::set<int>{0, 1}));
    EXPECT_EQ(trelmo_order_pattern(engine, 0), 1);
    EXPECT_EQ(trelmo_order_pattern(engine, 1), 0);
    EXPECT_EQ(trelmo_order_pattern(engine, 2), TRELMO_ERROR_ARGUMENT);
}

TEST_F(View, EachPositionStartsWhereThePlaceFirstShowsItInEveryPass) {
    LoadBreakSong();
    ASSERT_EQ(trelmo_set_loops(engine, 2), TRELMO_OK);
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    ASSERT_EQ(trelmo_get_song_info(engine, &info), TRELMO_OK);
    const uint64_t pass = info.frames;
    // Frame by frame: where the place turns to each position, and what the jump answers meanwhile.
    std::vector<uint64_t> seen, answered;
    int16_t frame[2];
    trelmo_place place;
    TRELMO_INIT_RECORD(place);
    for (uint64_t at = 0; trelmo_render(engine, frame, 1) == 1; ++at) {
        ASSERT_EQ(trelmo_get_place(engine, &place), TRELMO_OK);
        if (seen.size() == 2 * (at / pass) + static_cast<uint64_t>(place.position)) {
            seen.push_back(at);
            uint64_t start = 0;
            ASSERT_EQ(trelmo_order_position_frame(engine, place.position, &start), TRELMO_OK);
            answered.push_back(start);
        }
    }
    ASSERT_EQ(seen.size(), 4u) << "two positions in each of two passes";
    EXPECT_EQ(seen[0], 0u);
    EXPECT_EQ(seen[2], pass);
    EXPECT_EQ(answered, seen);
    uint64_t start = 0;
    ASSERT_EQ(trelmo_order_position_frame(engine, 1, &start), TRELMO_OK);
    EXPECT_EQ(start, seen[3]) << "after the end: the last pass";
    ASSERT_EQ(trelmo_seek(engine, seen[1]), TRELMO_OK);
    ASSERT_EQ(trelmo_order_position_frame(engine, 1, &start), TRELMO_OK);
    EXPECT_EQ(start, seen[1]) << "back in the first pass";
    ASSERT_EQ(trelmo_render(engine, frame, 1), 1u);
    ASSERT_EQ(trelmo_get_place(engine, &place), TRELMO_OK);
    EXPECT_EQ(std::pair(place.position, place.row), std::pair(1, 0))
        << "the jump lands on the position's first row";
    EXPECT_EQ(trelmo_order_position_frame(engine, 2, &start), TRELMO_ERROR_ARGUMENT);
    EXPECT_EQ(trelmo_order_position_frame(engine, -1, &start), TRELMO_ERROR_ARGUMENT);
    trelmo_unload(engine);
    EXPECT_EQ(trelmo_order_position_frame(engine, 0, &start), TRELMO_ERROR_NO_SONG);
}

TEST_F(View, CellsOfBothKindsInOneForm) {
    LoadBreakSong();
    std::vector<trelmo_cell> cells(TRELMO_PATTERN_ROWS * TRELMO_MAX_TRACKS);
    EXPECT_LT(trelmo_pattern_cells(engine, 1, cells.data(), cells.size() - 1, sizeof(trelmo_cell)), 0);
    ASSERT_EQ(trelmo_pattern_cells(engine, 1, cells.data(), cells.size(), sizeof(trelmo_cell)), 64 * 14);
    const auto at = [&](int row, int track, int tracks) {
        return cells[static_cast<size_t>(row * tracks + track)];
    };
    const auto same = [](trelmo_cell a, trelmo_cell b) {
        return a.note == b.note && a.instrument == b.instrument && a.effect == b.effect &&
               a.parameter == b.parameter;
    };
    EXPECT_TRUE(same(at(0, 0, 14), {NoteByte("C-4"), 1, 3, 0x40}));
    EXPECT_TRUE(same(at(0, 1, 14), {TRELMO_NOTE_STOP, 0, 0, 0}));
    EXPECT_TRUE(same(at(0, 2, 14), {0, 0, 0, 0})) << "a command cell's other bytes are never read";
    EXPECT_TRUE(same(at(5, 3, 14), {TRELMO_NOTE_BREAK, 0, 0, 0}));

    NtgSongPlan ntg;
    ntg.trackCount = 3;
    ntg.firstGroup.push_back({.sample = NtgSquareWave(32), .volume = 100, .mode = 3});
    ntg.Row(0, 0, "C-4 41 20 | NXT 00 00 | STP 00 00");
    ntg.Row(0, 1, "--- 82 7D");
    const std::vector<uint8_t> bytes = BuildNtgSong(ntg);
    ASSERT_EQ(trelmo_load_memory(engine, bytes.data(), bytes.size(), "TUNE.NTG", nullptr, nullptr),
              TRELMO_OK);
    ASSERT_EQ(trelmo_pattern_cells(engine, 0, cells.data(), cells.size(), sizeof(trelmo_cell)), 64 * 3);
    EXPECT_TRUE(same(at(0, 0, 3), {NoteByte("C-4"), 1, 1, 0x20}));
    EXPECT_TRUE(same(at(0, 1, 3), {TRELMO_NOTE_BREAK, 0, 0, 0}));
    EXPECT_TRUE(same(at(0, 2, 3), {TRELMO_NOTE_STOP, 0, 0, 0}));
    EXPECT_TRUE(same(at(1, 0, 3), {0, 2, 2, 0x7D}));
    EXPECT_EQ(trelmo_pattern_cells(engine, 9, cells.data(), cells.size(), sizeof(trelmo_cell)), 64 * 3)
        << "beyond the data: empty cells";
    EXPECT_TRUE(same(at(0, 0, 3), {0, 0, 0, 0}));
}

TEST_F(View, LevelsFollowTheVoicesAndMuting) {
    LoadBreakSong();
    std::vector<int16_t> frames(2 * 4000);
    int levels[TRELMO_MAX_TRACKS];
    ASSERT_EQ(trelmo_track_levels(engine, levels, TRELMO_MAX_TRACKS), TRELMO_OK);
    EXPECT_EQ(levels[0], 0) << "before the first note";
    ASSERT_EQ(trelmo_render(engine, frames.data(), 4000), 4000u);
    ASSERT_EQ(trelmo_track_levels(engine, levels, TRELMO_MAX_TRACKS), TRELMO_OK);
    EXPECT_GT(levels[0], 50 * 50);
    EXPECT_LE(levels[0], TRELMO_LEVEL_MAX);
    for (int track = 1; track < TRELMO_MAX_TRACKS; ++track) EXPECT_EQ(levels[track], 0) << "track " << track;
    trelmo_set_mute_mask(engine, 1);
    ASSERT_EQ(trelmo_track_levels(engine, levels, TRELMO_MAX_TRACKS), TRELMO_OK);
    EXPECT_EQ(levels[0], 0) << "muted";
}

}  // namespace
