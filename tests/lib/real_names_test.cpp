// SPDX-License-Identifier: BSD-3-Clause
// SoundSmith songs under the names they carry on their disks: each finds its instruments and plays
// exactly as the same song named after its bank, and each rule acts only where it should.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "trelmo/trelmo.h"

namespace {

using trelmo::test::TempDir;
using Bytes = std::vector<uint8_t>;

const std::string Corpus = TRELMO_CORPUS_DIR;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// ECHO.MTP with the names of its instruments blanked (length byte and name), all but keep of them.
Bytes EchoWithNamesStripped(int keep = 0) {
    Bytes song = ReadFile(Corpus + "/soundsmith/ECHO.MTP");
    for (int i = keep; i < 15; ++i) {
        for (size_t k = 0; k < 24; ++k) song[20 + 30 * static_cast<size_t>(i) + k] = 0;
    }
    return song;
}

struct Played {
    int status = TRELMO_ERROR_NO_SONG;
    trelmo_song_info info{};
    std::vector<trelmo_instrument> instruments;
    std::string messages, lookedFor;
    std::vector<int16_t> pcm;  // the first second
};

void Keep(void* user, const char* message) {
    *static_cast<std::string*>(user) += message;
}

Played Play(const std::string& path, const char* bank = nullptr, const char* folder = nullptr) {
    Played played;
    trelmo_engine* engine = trelmo_create();
    trelmo_set_message_callback(engine, Keep, &played.messages);
    trelmo_set_bank_file(engine, bank);
    trelmo_set_instruments_folder(engine, folder);
    played.status = trelmo_load_file(engine, path.c_str());
    TRELMO_INIT_RECORD(played.info);
    if (trelmo_get_song_info(engine, &played.info) == TRELMO_OK) {
        played.lookedFor = trelmo_get_metadata(engine, "looked_for");
        for (int i = 0; i < played.info.instrument_count; ++i) {
            trelmo_instrument in;  // numbers only: its strings go with the engine
            TRELMO_INIT_RECORD(in);
            if (trelmo_get_instrument(engine, i, &in) == TRELMO_OK) played.instruments.push_back(in);
        }
        played.pcm.resize(2 * 44100);
        played.pcm.resize(2 * trelmo_render(engine, played.pcm.data(), 44100));
    }
    trelmo_destroy(engine);
    return played;
}

bool AllFoundBy(const Played& played, int how) {
    return !played.instruments.empty() &&
           std::all_of(played.instruments.begin(), played.instruments.end(),
                       [&](auto& in) { return in.source == TRELMO_SOURCE_BANK && in.found_by == how; });
}

TEST(RealNames, SongsAsTheirDisksNameThemPlayExactlyAsTheirBankNamedPair) {
    const Played reference = Play(Corpus + "/soundsmith/ECHO.MTP");
    ASSERT_EQ(reference.status, TRELMO_OK);
    ASSERT_EQ(reference.info.missing_count, 0);
    const std::string bank = Corpus + "/soundsmith/ECHO.W";

    struct Layout {
        const char *song, *bank;
        Bytes bytes;
        int foundBy;
    };
    const Bytes echo = ReadFile(Corpus + "/wild/ECHO.MUS");
    const Layout layouts[] = {
        {"ECHO.MUS", "ECHO.WAVE", echo, TRELMO_FOUND_BY_SECOND_LOOK},
        {"ECHO.MUS#d50007", "ECHO.WAVE#060000", echo, TRELMO_FOUND_BY_SECOND_LOOK},
        {"GOLF.MTP#D50007", "golf.w#060000", echo,
         TRELMO_FOUND_BY_NAME},  // the suffix never reaches the bank's name
        // A game's song with every name blanked plays the bank's instrument at each position.
        {"MUSIC", "MUSIC.W", EchoWithNamesStripped(), TRELMO_FOUND_BY_POSITION},
        {"MUSIC", "WAVE", EchoWithNamesStripped(), TRELMO_FOUND_BY_POSITION},
    };
    for (const Layout& layout : layouts) {
        TempDir dir;
        dir.Write(layout.song, layout.bytes);
        dir.Copy(bank, layout.bank);
        const Played played = Play(dir / layout.song);
        ASSERT_EQ(played.status, TRELMO_OK) << layout.song;
        EXPECT_EQ(played.info.instrument_count, 9) << layout.song;
        EXPECT_TRUE(AllFoundBy(played, layout.foundBy)) << layout.song;
        EXPECT_EQ(played.info.frames, reference.info.frames) << layout.song;
        EXPECT_TRUE(played.pcm == reference.pcm) << layout.song;
        EXPECT_NE(played.messages.find("DOC DATA file found with 9 insts."), std::string::npos)
            << layout.song;
    }

    // The caller can name the bank, or a folder that holds it; both beat a wrong bank's absence.
    TempDir dir;
    const std::string song = dir.Write("ECHO.MUS", echo);
    const Played chosen = Play(song, bank.c_str());
    EXPECT_TRUE(AllFoundBy(chosen, TRELMO_FOUND_BY_CALLER));
    EXPECT_TRUE(chosen.pcm == reference.pcm);
    TempDir banks;
    banks.Copy(bank, "ECHO.WAVE");
    const Played inFolder = Play(song, nullptr, banks.Path().c_str());
    EXPECT_TRUE(AllFoundBy(inFolder, TRELMO_FOUND_BY_CALLER));
    EXPECT_TRUE(inFolder.pcm == reference.pcm);
}

TEST(RealNames, EachRuleActsOnlyWhereTheSongFoundNothing) {
    const std::string bank = Corpus + "/soundsmith/ECHO.W";
    const Bytes echo = ReadFile(Corpus + "/wild/ECHO.MUS");

    // One named instrument among blank ones keeps the named rule: only that one plays.
    TempDir one;
    one.Write("MUSIC", EchoWithNamesStripped(1));
    one.Copy(bank, "MUSIC.W");
    const Played named = Play(one / "MUSIC");
    ASSERT_EQ(named.instruments.size(), 1u);
    EXPECT_EQ(named.instruments[0].found_by, TRELMO_FOUND_BY_NAME);
    EXPECT_EQ(named.instruments[0].number, 1);

    // A WAVE beside a song whose ASIF file loads is not used.
    TempDir asif;
    Bytes song = EchoWithNamesStripped();
    const std::string flute = "CO.LOOP";
    song[20] = static_cast<uint8_t>(flute.size());
    std::copy(flute.begin(), flute.end(), song.begin() + 21);
    asif.Write("SONG.MUS", song);
    asif.Copy(Corpus + "/asif/CO.LOOP", "CO.LOOP");
    asif.Copy(bank, "WAVE");
    const Played fromAsif = Play(asif / "SONG.MUS");
    EXPECT_EQ(fromAsif.info.bank_used, 0);
    ASSERT_EQ(fromAsif.instruments.size(), 1u);
    EXPECT_EQ(fromAsif.instruments[0].source, TRELMO_SOURCE_ASIF);

    // A resource fork is another file; an unusable candidate is passed over without a word.
    TempDir fork;
    fork.Write("ECHO.MUS", echo);
    fork.Copy(bank, "ECHO.WAVE#060000r");
    fork.Write("WAVE", Bytes(10, 1));
    const Played silent = Play(fork / "ECHO.MUS");
    EXPECT_EQ(silent.info.bank_used, 0);
    EXPECT_EQ(silent.info.missing_count, 9);
    EXPECT_EQ(silent.messages.find("Invalid DOC DATA"), std::string::npos);
    EXPECT_NE(silent.lookedFor.find("ECHO.MUS.WAVE, ECHO.W, ECHO.WAVE, ECHO.DOC, ECHO.D, WAVE, WAVEBANK"),
              std::string::npos)
        << silent.lookedFor;
    fork.Copy(bank, "WAVEBANK");
    EXPECT_TRUE(AllFoundBy(Play(fork / "ECHO.MUS"), TRELMO_FOUND_BY_SECOND_LOOK));

    // A chosen bank that cannot be used stops the load and says why.
    TempDir bad;
    const std::string ten = bad.Write("TEN.W", Bytes(10, 1));
    trelmo_engine* engine = trelmo_create();
    for (const std::string& chosen : {ten, bad.Path()}) {
        trelmo_set_bank_file(engine, chosen.c_str());
        EXPECT_EQ(trelmo_load_file(engine, (Corpus + "/soundsmith/ECHO.MTP").c_str()), TRELMO_ERROR_BANK);
    }
    EXPECT_EQ(std::string(trelmo_load_problem(engine)), bad.Path() + ": is a folder, not a file");
    trelmo_destroy(engine);
}

TEST(RealNames, CallersPickFilesByTheLibrarysRule) {
    const char* names[] = {"echo.wave#060000", "ECHO.WAVE#060000r", "Echo.Wave", "ECHO.WAVE#06000"};
    // Loose matches: the one that sorts first byte by byte; the exact name beats them all.
    EXPECT_EQ(trelmo_match_file_name("ECHO.WAVE", names, 4), 2);
    EXPECT_EQ(trelmo_match_file_name("ECHO.WAVE", names, 2), 0);
    EXPECT_EQ(trelmo_match_file_name("ECHO.WAVE#060000r", names, 4), 1);
    EXPECT_EQ(trelmo_match_file_name("ECHO", names, 4), -1);
    EXPECT_EQ(trelmo_match_file_name("ECHO.WAVE", names + 3, 1), -1);  // five digits are no type
}

}  // namespace
