// SPDX-License-Identifier: BSD-3-Clause
// The 1.0 API's promises: records sized by the caller, the same answers without a song, options
// read back, the current-folder bank switched off, and IIgs text decoded once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "tools/writers/ntg_writer.h"
#include "trelmo/trelmo.h"

namespace {

const std::string Soundsmith = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/";

std::string ReadEcho() {
    std::ifstream in(Soundsmith + "ECHO.MTP", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Engine {
    trelmo_engine* e = trelmo_create();
    ~Engine() { trelmo_destroy(e); }
};

TEST(Api, RecordsAreFilledOnlyAsFarAsTheCallerSaysAndNotWithoutASong) {
    Engine engine;
    // A record of a later version: larger, with members this library does not know.
    struct Later {
        trelmo_song_info info;
        int added;
    } later;
    std::memset(&later, 0x55, sizeof later);
    later.info.size = sizeof later;
    trelmo_song_info small;
    TRELMO_INIT_RECORD(small);
    small.size = sizeof small - 1;
    trelmo_place place;
    TRELMO_INIT_RECORD(place);
    int levels[2] = {7, 7};
    trelmo_cell cell;
    EXPECT_EQ(trelmo_get_song_info(engine.e, &later.info), TRELMO_ERROR_NO_SONG);
    EXPECT_EQ(trelmo_get_place(engine.e, &place), TRELMO_ERROR_NO_SONG);
    EXPECT_EQ(trelmo_order_pattern(engine.e, 0), TRELMO_ERROR_NO_SONG);
    EXPECT_EQ(trelmo_pattern_cells(engine.e, 0, &cell, 1, sizeof cell), TRELMO_ERROR_NO_SONG);
    EXPECT_EQ(trelmo_track_levels(engine.e, levels, 2), TRELMO_ERROR_NO_SONG);
    EXPECT_EQ(levels[0] + levels[1], 0);
    EXPECT_EQ(trelmo_seek(engine.e, 10), TRELMO_ERROR_NO_SONG);
    EXPECT_STREQ(trelmo_last_error(engine.e), "cannot seek: no song is loaded");
    EXPECT_STREQ(trelmo_get_metadata(engine.e, "title"), "");

    ASSERT_EQ(trelmo_load_file(engine.e, (Soundsmith + "ECHO.MTP").c_str()), TRELMO_OK);
    EXPECT_STREQ(trelmo_last_error(engine.e), "") << "a load that finds everything clears the last error";
    EXPECT_EQ(trelmo_get_song_info(engine.e, &small), TRELMO_ERROR_ARGUMENT);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &later.info), TRELMO_OK);
    EXPECT_EQ(later.info.size, sizeof later);
    EXPECT_EQ(later.info.frames, 6635520u);
    EXPECT_EQ(later.added, 0x55555555) << "nothing is written beyond the record this library knows";
    EXPECT_STREQ(trelmo_get_metadata(engine.e, "type"), "mtp");
    EXPECT_STREQ(trelmo_get_metadata(engine.e, "no such key"), "");
}

TEST(Api, OptionsReadBackAndOutOfRangeValuesAreRefusedWithAMessage) {
    Engine engine;
    int loops = -1, separation = -1, folder = -1;
    uint32_t fade = 1;
    ASSERT_EQ(trelmo_get_loops(engine.e, &loops) | trelmo_get_stereo_separation(engine.e, &separation) |
                  trelmo_get_fade(engine.e, &fade) | trelmo_get_current_folder_bank(engine.e, &folder),
              TRELMO_OK);
    EXPECT_EQ(std::tuple(loops, separation, fade, folder), std::tuple(1, 100, 0u, 1))
        << "the plug-in's defaults";
    EXPECT_EQ(trelmo_set_stereo_separation(engine.e, 101), TRELMO_ERROR_ARGUMENT);
    EXPECT_STREQ(trelmo_last_error(engine.e), "stereo separation must be 0 to 100 percent, not 101");
    trelmo_set_loops(engine.e, 0);
    trelmo_set_fade(engine.e, 2500);
    trelmo_set_stereo_separation(engine.e, 40);
    trelmo_get_loops(engine.e, &loops);
    trelmo_get_fade(engine.e, &fade);
    trelmo_get_stereo_separation(engine.e, &separation);
    EXPECT_EQ(std::tuple(loops, separation, fade), std::tuple(0, 40, 2500u));
    EXPECT_EQ(trelmo_get_loops(nullptr, &loops), TRELMO_ERROR_ARGUMENT);
}

TEST(Api, TheCurrentFolderBankCanBeTurnedOffAndNamesAreDecodedAsTheIigsShowsThem) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "trelmo-api-test";
    fs::create_directories(dir / "songs");
    fs::copy_file(Soundsmith + "ECHO.W", dir / "DOC.DATA", fs::copy_options::overwrite_existing);
    fs::copy_file(Soundsmith + "ECHO.MTP", dir / "songs" / "TUNE.MTP", fs::copy_options::overwrite_existing);
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    Engine engine;
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    ASSERT_EQ(trelmo_load_file(engine.e, "songs/TUNE.MTP"), TRELMO_OK);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_OK);
    EXPECT_EQ(std::tuple(info.bank_used, info.bank_in_current_folder, info.missing_count),
              std::tuple(1, 1, 0));
    ASSERT_EQ(trelmo_set_current_folder_bank(engine.e, 0), TRELMO_OK);
    ASSERT_EQ(trelmo_load_file(engine.e, "songs/TUNE.MTP"), TRELMO_OK);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_OK);
    EXPECT_EQ(std::tuple(info.bank_used, info.missing_count), std::tuple(0, 9));
    EXPECT_EQ(std::string(trelmo_last_error(engine.e))
                  .rfind("TUNE.MTP: instruments missing, played silent: KILLERKICK, ", 0),
              0u)
        << trelmo_last_error(engine.e);
    fs::current_path(before);
    fs::remove_all(dir);

    // Names: bytes 128 and up in the Macintosh's set, controls visible, padding gone.
    std::string song = ReadEcho();
    ASSERT_FALSE(song.empty());
    const size_t at = song.find("KILLERKICK");
    ASSERT_NE(at, std::string::npos);
    song.replace(at, 10, "\x8e\xa5\x1b\xdb\xd2X \x7f  ");
    ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "X.MTP", nullptr, nullptr), TRELMO_OK);
    trelmo_instrument first;
    TRELMO_INIT_RECORD(first);
    ASSERT_EQ(trelmo_get_instrument(engine.e, 0, &first), TRELMO_OK);
    EXPECT_STREQ(first.name, "\u00e9\u2022\u241b\u00a4\u201cX \u2421");
    EXPECT_EQ(std::string(trelmo_get_metadata(engine.e, "message"))
                  .rfind(std::string(first.name) + "\nTYPEWRITER\n", 0),
              0u);
}

// Damaged or hostile input is answered with what is true of it: the patterns a file really holds,
// the companion that was refused, and the path the system cannot name.
TEST(Api, DamagedInputIsDescribedAsItIs) {
    Engine engine;
    trelmo::writers::NtgSongPlan plan;
    std::vector<uint8_t> ntg = trelmo::writers::BuildNtgSong(plan);
    for (size_t k = 42; k < 46; ++k) ntg[k] = 0xFF;  // the pattern data length
    ASSERT_EQ(trelmo_load_memory(engine.e, ntg.data(), ntg.size(), "X.NTG", nullptr, nullptr), TRELMO_OK);
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    ASSERT_EQ(trelmo_get_song_info(engine.e, &info), TRELMO_OK);
    EXPECT_GE(info.patterns, 0);
    EXPECT_LE(info.patterns, static_cast<int>(ntg.size() / (64 * plan.trackCount * 3)));

    std::string song = ReadEcho();
    ASSERT_FALSE(song.empty());
    static std::vector<uint8_t> huge(TRELMO_MAX_COMPANION_BYTES + 1);
    const auto lendHuge = [](void*, const char* name, const void** data, size_t* size) {
        if (std::strcmp(name, "ECHO.W") != 0) return 0;
        *data = huge.data();
        *size = huge.size();
        return 1;
    };
    ASSERT_EQ(trelmo_load_memory(engine.e, song.data(), song.size(), "ECHO.MTP", lendHuge, nullptr),
              TRELMO_OK);
    EXPECT_NE(std::string(trelmo_get_metadata(engine.e, "looked_for")).find("ECHO.W: is far larger"),
              std::string::npos)
        << trelmo_get_metadata(engine.e, "looked_for");

    const std::string longName = "/tmp/" + std::string(300, 'x') + ".MTP";
    EXPECT_EQ(trelmo_load_file(engine.e, longName.c_str()), TRELMO_ERROR_PATH);
}

}  // namespace
