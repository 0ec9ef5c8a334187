// SPDX-License-Identifier: BSD-3-Clause
// Damaged wave banks, ASIF files and unreadable files: each is refused or cut short as decided, prints
// exactly its message, and never makes a loader read beyond the file (the AddressSanitizer run of
// these tests sees every such read, since file blocks are exactly as long as the files).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "instruments/asif.h"
#include "instruments/read_whole_file.h"
#include "instruments/wave_bank.h"
#include "song/song_loader.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/asif_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using test::TempDir;
using writers::AsifBytes;
using writers::WaveBankBytes;

class Damaged : public test::EngineTest {
  protected:
    int SlotsInUse() {
        int n = 0;
        for (int i = 0; i < WaveSlotCount; ++i) n += WaveSlotInUse(engine, i) ? 1 : 0;
        return n;
    }

    // Between two loads of one test: the table as a song's release leaves it.
    void ClearWaveTable() { ReleaseSong(engine); }

    // Loads bytes as the bank of a song in memory; returns LoadWaveBank's result and what it reported.
    std::pair<int, std::string> LoadBank(const std::vector<uint8_t>& bytes) {
        ClearWaveTable();
        const test::Companions files{{"TUNE.W", bytes}};
        BankSearch search;
        const int result = LoadWaveBank(engine, test::FilesFrom("TUNE.MTP", files), engine.messages, search);
        return {result, log.Take()};
    }

    // Loads bytes as the ASIF file FLUTE into instrument position 3; returns what was reported.
    std::string LoadAsif(const std::vector<uint8_t>& bytes) {
        ClearWaveTable();
        const test::Companions files{{"FLUTE", bytes}};
        std::string found;
        LoadAsifInstrument(engine, test::FilesFrom("TUNE.MTP", files), engine.messages, "FLUTE", 3, found);
        return log.Take();
    }
};
using DamagedBank = Damaged;
using DamagedAsif = Damaged;
using DamagedFiles = Damaged;

const std::string Bailing = "Invalid DOC DATA file.  Bailing.\n";

TEST_F(DamagedBank, RefusedWhenTooShortForTheImageOrItsCount) {
    const std::vector<int8_t> wave = writers::SineCycle(64, 90);
    std::vector<uint8_t> three = WaveBankBytes({{wave, true}, {wave, false}, {wave, true}});
    const size_t needed = 65570 + 92 * 2 + 12;  // the third instrument's descriptor pair ends here
    three.resize(needed);
    EXPECT_EQ(LoadBank(three), std::make_pair(1, std::string("DOC DATA file found with 3 insts.\n")));
    EXPECT_EQ(SlotsInUse(), 3);

    three.resize(needed - 1);  // oscillator B's control byte of the last instrument is missing
    EXPECT_EQ(LoadBank(three), std::make_pair(0, Bailing));
    EXPECT_EQ(SlotsInUse(), 0);

    // Shorter than the wave image: refused whatever the count says, 0 and negative included.
    std::vector<uint8_t> stub(65537, 0);
    EXPECT_EQ(LoadBank(stub), std::make_pair(0, Bailing));
    stub.assign({0xFF, 0xFF});
    EXPECT_EQ(LoadBank(stub), std::make_pair(0, Bailing));
    EXPECT_EQ(LoadBank({}), std::make_pair(0, Bailing));
    EXPECT_EQ(SlotsInUse(), 0);

    // Exactly the image and no descriptor: fine for a count of 0, and for 16 the count decides.
    std::vector<uint8_t> image(65538, 0x55);
    image[0] = 0;
    image[1] = 0;
    EXPECT_EQ(LoadBank(image), std::make_pair(1, std::string("DOC DATA file found with 0 insts.\n")));
    image[0] = 16;
    EXPECT_EQ(LoadBank(image), std::make_pair(0, Bailing));
}

TEST_F(DamagedBank, WaveScanStopsAtTheEndOfTheFileAndEmptyWavesStayEmpty) {
    // One instrument on the last page, size code 7 (32768 bytes), in a file that ends with its
    // descriptor pair; no byte from the page to the end of the file is zero.
    std::vector<uint8_t> bank(65570 + 12, 0x55);
    bank[0] = 1;
    bank[1] = 0;
    bank[65570 + 1] = 255;   // page
    bank[65570 + 2] = 7;     // size code
    bank[65570 + 3] = 0x09;  // control A: not a looping pairing, and not zero
    bank[65576 + 3] = 0x09;
    const size_t pageStart = 2 + 255 * 256;
    EXPECT_EQ(LoadBank(bank).first, 1);
    const int slot = InstrumentSlot(engine, 0);
    ASSERT_TRUE(WaveSlotInUse(engine, slot));
    EXPECT_EQ(engine.WaveTable[slot].length, bank.size() - pageStart);
    EXPECT_EQ(engine.WaveTable[slot].data[0], static_cast<int8_t>(0x55 ^ 0x80));
    EXPECT_EQ(engine.WaveTable[slot].flags, 0);

    // A wave whose first byte is zero is an empty sample, still in a slot of its own.
    bank[pageStart] = 0;
    EXPECT_EQ(LoadBank(bank).first, 1);
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 0)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 0)].length, 0u);
}

// Where AsifBytes puts things: the INST chunk at 12 (record from 21), the WAVE chunk at 65, its size at
// 74 and its bytes from 90.
constexpr size_t InstRecord = 21;
constexpr size_t WaveChunk = 65;
constexpr size_t WaveSize = 74;
constexpr size_t WaveData = 90;

TEST_F(DamagedAsif, TruncatedHeadersAreRefusedWithTheirMessages) {
    const std::vector<uint8_t> good = AsifBytes(writers::SineCycle(32, 80), true);
    const std::string path = "FLUTE";
    std::string out = LoadAsif({'F', 'O', 'R'});
    EXPECT_EQ(out, "Error: file " + path + " missing FORM signature!\n");
    out = LoadAsif({good.begin(), good.begin() + 10});
    EXPECT_EQ(out, "Error: " + path + " is not an ASIF file.\n");
    EXPECT_EQ(LoadAsif({good.begin(), good.begin() + 12}), "");  // no chunk at all: nothing, quietly
    EXPECT_EQ(SlotsInUse(), 0);
    EXPECT_EQ(engine.InstrumentMap[3], NoInstrumentSlot);

    // An instrument record cut off by the end of the file reads its wave counts as 0.
    out = LoadAsif({good.begin(), good.begin() + InstRecord + 32});
    EXPECT_EQ(out, "Error: waveCounts must be 1 for file " + path + "\n");
    EXPECT_EQ(SlotsInUse(), 0);
}

TEST_F(DamagedAsif, LengthsPastTheEndAreCutToTheFile) {
    const std::vector<uint8_t> good = AsifBytes(writers::SineCycle(200, 80), true);
    ASSERT_EQ(good.size(), WaveData + 200);

    // A FORM length far beyond the file: the chunks are still walked up to the file's end.
    std::vector<uint8_t> form = good;
    form[4] = form[5] = form[6] = form[7] = 0xFF;
    EXPECT_EQ(LoadAsif(form), "");
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 3)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].length, 200u);

    // A wave that claims more bytes than the file holds keeps the bytes present.
    std::vector<uint8_t> cut = good;
    cut.resize(WaveData + 150);
    EXPECT_EQ(LoadAsif(cut), "");
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 3)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].length, 150u);
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].flags, 1);

    // A chunk length that jumps past the end ends the walk: a WAVE behind a huge INST is not found.
    std::vector<uint8_t> jump = good;
    jump[16] = 0x7F;
    EXPECT_EQ(LoadAsif(jump), "");
    EXPECT_EQ(SlotsInUse(), 0);

    // A chunk header that does not fit (the file ends inside the WAVE chunk's length field).
    std::vector<uint8_t> stub(good.begin(), good.begin() + WaveChunk + 6);
    EXPECT_EQ(LoadAsif(stub), "");
    EXPECT_EQ(SlotsInUse(), 0);
}

TEST_F(DamagedAsif, EmptyWavesAndWavesWithoutAnInstrumentLoad) {
    std::vector<uint8_t> empty = AsifBytes({}, true);
    EXPECT_EQ(LoadAsif(empty), "");
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 3)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].length, 0u);

    // The INST chunk renamed: the wave loads on its own and plays once, whatever the controls said.
    std::vector<uint8_t> noInst = AsifBytes(writers::SineCycle(40, 80), true);
    noInst[12] = 'i';
    EXPECT_EQ(LoadAsif(noInst), "");
    ASSERT_TRUE(WaveSlotInUse(engine, InstrumentSlot(engine, 3)));
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].length, 40u);
    EXPECT_EQ(engine.WaveTable[InstrumentSlot(engine, 3)].flags, 0);

    // A size of 0x8000 or more reads as negative.
    std::vector<uint8_t> negative = AsifBytes(writers::SineCycle(40, 80), true);
    negative[WaveSize + 1] = 0x80;
    EXPECT_EQ(LoadAsif(negative), "Error: couldn't allocate RAM for wave (whoa... a 512k GS works!)\n");
    EXPECT_EQ(SlotsInUse(), 0);
}

TEST_F(DamagedFiles, EmptyFilesAndFoldersAreReadAsDecided) {
    TempDir dir;
    const std::string empty = dir.Write("EMPTY", {});
    FileBlock block = ReadWholeFile(empty.c_str());
    EXPECT_TRUE(block.ok);
    EXPECT_EQ(block.size, 0u);
    ReleaseFileBlock(block);

    // A folder opens like a file on Linux and claims a huge size; it must fail, not ask for that memory.
    block = ReadWholeFile(dir.Path().c_str());
    EXPECT_FALSE(block.ok);
    ReleaseFileBlock(block);
    EXPECT_EQ(Module.IsOurFile(dir.Path().c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(empty.c_str()), 0);
    EXPECT_EQ(Module.IsOurFile(dir.File("MISSING").c_str()), 0);
}

TEST_F(DamagedFiles, PathsLongerThanThePlatformAllowsAreRefusedOrCut) {
    const std::string longPath = "D:\\" + std::string(MaxPathLength + 100, 'A');
    EXPECT_EQ(Module.IsOurFile(longPath.c_str()), 0);
    EXPECT_EQ(Module.Play(longPath.c_str()), -1);
    std::vector<char> title(longPath.size() + 16, '\x7f');
    int length = 0;
    Module.GetFileInfo(longPath.c_str(), title.data(), &length);
    EXPECT_EQ(length, -1000);
    const size_t written = std::string(title.data(), title.size()).find('\0');
    ASSERT_NE(written, std::string::npos);
    EXPECT_LE(written, MaxPathLength);
    EXPECT_EQ(title[MaxPathLength + 1], '\x7f');  // nothing written beyond the limit and its zero
}

}  // namespace
}  // namespace trelmo
