// SPDX-License-Identifier: BSD-3-Clause
// Wave banks: which file a song uses, when a bank is refused, and how its waves become samples.
#include "instruments/wave_bank.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "instruments/read_whole_file.h"
#include "song/engine.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tests/support/temp_dir.h"
#include "tools/writers/wave_bank_writer.h"

namespace trelmo {
namespace {

using Bank = writers::WaveBankImage;
using Bytes = std::vector<uint8_t>;
using test::InDirectory;
using test::TempDir;

// A small valid bank whose single instrument's wave is `marker` bytes long, so that a test can tell
// which file was loaded.
Bytes MarkedBank(size_t marker) {
    Bank bank(1, 0x90);
    bank.SetInstrument(0, 10, 0, 0, 0);
    bank.bytes[2 + 256 * 10 + marker] = 0;
    return bank.bytes;
}

class WaveBank : public test::EngineTest {
  protected:
    // What LoadWaveBank reported for a song at songPath, with its result.
    std::string Load(const std::string& songPath, int16_t& result) {
        BankSearch search;
        result = LoadWaveBank(engine, SongFiles{songPath}, engine.messages, search);
        return log.Take();
    }

    // What LoadWaveBank reported for bank, read as the bank of a song in memory.
    std::string LoadBank(const Bytes& bank, int16_t& result) {
        const test::Companions files{{"SONG.W", bank}};
        BankSearch search;
        result = LoadWaveBank(engine, test::FilesFrom("SONG.MTP", files), engine.messages, search);
        return log.Take();
    }

    std::vector<int> Samples(int slot) {
        const WaveSlot& s = engine.WaveTable[slot];
        return std::vector<int>(s.data, s.data + s.length);
    }
};

// The bank a song at songPath reads: the file's path as found, "" when there is none.
std::string BankFor(const std::string& songPath) {
    Engine scratch;
    BankSearch search;
    LoadWaveBank(scratch, SongFiles{songPath}, MessageSink{}, search);
    return search.file;
}

TEST_F(WaveBank, LoopRuleComparesWholeControlBytes) {
    EXPECT_EQ(LoopFlagFromControls(0, 0), 1);  // two free-running oscillators
    EXPECT_EQ(LoopFlagFromControls(2, 6), 1);  // one-shot, then swap
    EXPECT_EQ(LoopFlagFromControls(6, 0), 1);
    EXPECT_EQ(LoopFlagFromControls(6, 6), 1);
    EXPECT_EQ(LoopFlagFromControls(0, 2), 0);
    EXPECT_EQ(LoopFlagFromControls(0, 6), 0);
    EXPECT_EQ(LoopFlagFromControls(2, 0), 0);
    EXPECT_EQ(LoopFlagFromControls(2, 2), 0);  // a one-shot pair plays once
    EXPECT_EQ(LoopFlagFromControls(6, 2), 0);
    EXPECT_EQ(LoopFlagFromControls(4, 0), 0);  // sync never loops
    EXPECT_EQ(LoopFlagFromControls(0, 4), 0);
    EXPECT_EQ(LoopFlagFromControls(0x10, 0), 0);  // stray high bits are not masked
    EXPECT_EQ(LoopFlagFromControls(6, 0x16), 0);
    // Exactly those four pairings loop among all 65,536.
    int looping = 0;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b)
            looping += LoopFlagFromControls(static_cast<uint8_t>(a), static_cast<uint8_t>(b));
    }
    EXPECT_EQ(looping, 4);
}

TEST_F(WaveBank, CandidatesAreTriedInOrderEachUnderAnyCase) {
    TempDir songs;
    TempDir elsewhere;
    InDirectory here(elsewhere.Path());
    const std::string song = songs / "TUNE.MTP";
    EXPECT_EQ(BankFor(song), "");

    elsewhere.Write("DOC.DATA", MarkedBank(5));
    EXPECT_EQ(BankFor(song), "DOC.DATA");  // the current directory comes last
    songs.Write("doc.data", MarkedBank(4));
    EXPECT_EQ(BankFor(song), songs / "doc.data");  // the song's own folder first
    songs.Write("TUNE.D", MarkedBank(3));
    EXPECT_EQ(BankFor(song), songs / "TUNE.D");
    // Each candidate is matched under any case before the next one is tried.
    songs.Write("tune.doc", MarkedBank(2));
    EXPECT_EQ(BankFor(song), songs / "tune.doc");
    // Each candidate is made from the base name, never from the previous candidate.
    songs.Write("TUNE.W.DOC", MarkedBank(7));
    EXPECT_EQ(BankFor(song), songs / "tune.doc");
    songs.Write("TUNE.W", MarkedBank(1));
    EXPECT_EQ(BankFor(song), songs / "TUNE.W");

    // LoadWaveBank reads the very file it names.
    int16_t result = 0;
    EXPECT_EQ(Load(song, result), "DOC DATA file found with 1 insts.\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[0]].length, 1u);
    FreeAllWaveSlots(engine);
    std::filesystem::remove(songs / "TUNE.W");
    std::filesystem::remove(songs / "tune.doc");
    EXPECT_EQ(Load(song, result), "DOC DATA file found with 1 insts.\n");
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[0]].length, 3u);
    FreeAllWaveSlots(engine);

    // A song in the current directory: DOC.DATA is tried once, as the bare name.
    std::filesystem::remove(songs / "TUNE.D");
    elsewhere.Write("LOCAL.D", MarkedBank(6));
    EXPECT_EQ(BankFor("local.mtp"), "LOCAL.D");
    EXPECT_EQ(BankFor("other.mtp"), "DOC.DATA");
    std::filesystem::remove(elsewhere / "DOC.DATA");
    EXPECT_EQ(BankFor("other.mtp"), "");
    EXPECT_EQ(Load("other.mtp", result), "");  // nothing found: nothing printed
    EXPECT_EQ(result, 0);
}

TEST_F(WaveBank, BaseNameLosesOnlyATrailingPeriodMTP) {
    TempDir dir;
    for (const char* name : {"tune.W", "TUNE.W", "A.MTP.W", "SONG.NTG.W", "X,MTP.W", "Y.MTPX.W"}) {
        dir.Write(name, MarkedBank(1));
    }
    EXPECT_EQ(BankFor(dir / "tune.mtp"), dir / "tune.W");
    EXPECT_EQ(BankFor(dir / "TUNE.MTP"), dir / "TUNE.W");
    EXPECT_EQ(BankFor(dir / "TUNE"), dir / "TUNE.W");
    EXPECT_EQ(BankFor(dir / "A.MTP.MTP"), dir / "A.MTP.W");
    EXPECT_EQ(BankFor(dir / "SONG.NTG"), dir / "SONG.NTG.W");
    EXPECT_EQ(BankFor(dir / "X,MTP"), dir / "X,MTP.W");
    EXPECT_EQ(BankFor(dir / "Y.MTPX"), dir / "Y.MTPX.W");
    EXPECT_EQ(BankFor(dir / "Y.mTpX"), dir / "Y.MTPX.W");  // no cut, then any case
}

TEST_F(WaveBank, RefusalsEndTheSearchWithTheirMessage) {
    TempDir dir;
    const std::string song = dir / "TUNE.MTP";
    dir.Write("TUNE.DOC", MarkedBank(2));  // valid, but never reached after a refusal
    int16_t result = 1;

    for (uint16_t slot = 0; slot < 16; ++slot) engine.InstrumentMap[slot] = 99;
    Bank tooMany(16, 0x90, 16);  // long enough for 16: refused for its count alone
    dir.Write("TUNE.W", tooMany.bytes);
    EXPECT_EQ(Load(song, result), "Invalid DOC DATA file.  Bailing.\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(engine.InstrumentMap[0], 99);
    EXPECT_FALSE(WaveSlotInUse(engine, 0));

    // Shorter than count + wave image.
    dir.Write("TUNE.W", Bytes(65537, 0));
    EXPECT_EQ(Load(song, result), "Invalid DOC DATA file.  Bailing.\n");
    EXPECT_EQ(result, 0);
    dir.Write("TUNE.W", Bytes{0, 0});
    EXPECT_EQ(Load(song, result), "Invalid DOC DATA file.  Bailing.\n");

    // One byte short of the last descriptor pair, then exactly long enough.
    Bank three(3, 0x90);
    three.SetInstrument(0, 1, 0, 0, 0);
    three.SetInstrument(1, 2, 0, 0, 0);
    three.SetInstrument(2, 3, 0, 0, 0);
    const Bytes cut(three.bytes.begin(), three.bytes.end() - 1);
    ASSERT_EQ(three.bytes.size(), 65570u + 92 * 2 + 12);
    dir.Write("TUNE.W", cut);
    EXPECT_EQ(Load(song, result), "Invalid DOC DATA file.  Bailing.\n");
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(WaveSlotInUse(engine, 0));
    dir.Write("TUNE.W", three.bytes);
    EXPECT_EQ(Load(song, result), "DOC DATA file found with 3 insts.\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(engine.InstrumentMap[2], 2);
    FreeAllWaveSlots(engine);

    // No instruments: accepted, nothing loaded, the map untouched; a negative count prints as such.
    engine.InstrumentMap[0] = 99;
    dir.Write("TUNE.W", Bank(0).bytes);
    EXPECT_EQ(Load(song, result), "DOC DATA file found with 0 insts.\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(engine.InstrumentMap[0], 99);
    EXPECT_FALSE(WaveSlotInUse(engine, 0));
    dir.Write("TUNE.W", Bank(-2).bytes);
    EXPECT_EQ(Load(song, result), "DOC DATA file found with -2 insts.\n");
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(WaveSlotInUse(engine, 0));
}

// The banks the tests write carry exactly the samples they were given, in their own pages.
TEST_F(WaveBank, WrittenBanksLoadTheirSamples) {
    const std::vector<int8_t> first = {10, -20, 127, -127, 1};
    std::vector<int8_t> second(300, -5);
    second[299] = 99;
    int16_t result = 0;
    EXPECT_EQ(LoadBank(writers::WaveBankBytes({{first, true}, {second, false}}), result),
              "DOC DATA file found with 2 insts.\n");
    ASSERT_EQ(result, 1);
    EXPECT_EQ(Samples(engine.InstrumentMap[0]), std::vector<int>(first.begin(), first.end()));
    EXPECT_EQ(Samples(engine.InstrumentMap[1]), std::vector<int>(second.begin(), second.end()));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[0]].flags, 1);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[1]].flags, 0);
}

TEST_F(WaveBank, FifteenInstrumentsAreTheMost) {
    Bank full(15, 0x90);
    for (int k = 0; k < 15; ++k) full.SetInstrument(k, static_cast<uint8_t>(k), 0, 0, 0);
    int16_t result = 0;
    EXPECT_EQ(LoadBank(full.bytes, result), "DOC DATA file found with 15 insts.\n");
    EXPECT_EQ(result, 1);
    for (int k = 0; k < 15; ++k) {
        EXPECT_EQ(engine.InstrumentMap[k], k);
        EXPECT_EQ(engine.WaveTable[k].length, 256u);
    }
}

TEST_F(WaveBank, WavesEndAtAZeroByteTheirSizeOrTheFile) {
    Bank bank(6, 0x90);
    bank.SetWave(1, {0x90, 0xA0, 0x00, 0x55});
    bank.SetInstrument(0, 1, 7, 0x00, 0x00);  // a zero byte ends the wave
    bank.SetWave(2, {0x00, 0x40});
    bank.SetInstrument(1, 2, 0, 0x03, 0x07);         // empty; controls act as 2 and 6
    bank.SetInstrument(2, 0, 7 | 0xF8, 0x12, 0x00);  // 32 KB with no zero; high size bits ignored
    for (size_t i = 0; i < 32768; ++i) bank.bytes[2 + 128 * 256 + i] = static_cast<uint8_t>(0x81 + i % 100);
    bank.bytes[2 + 128 * 256 + 32768] = 0x90;
    bank.SetInstrument(3, 128, 7, 0x06, 0x00);  // exactly its size, then stops though no zero follows
    bank.SetWave(5, {0x90, 0x80, 0x70, 0x00});
    bank.SetInstrument(4, 5, 0, 0x02, 0x02);
    bank.SetInstrument(5, 5, 0, 0x06, 0x06);  // shares the page of the wave before it

    int16_t result = 0;
    EXPECT_EQ(LoadBank(bank.bytes, result), "DOC DATA file found with 6 insts.\n");
    ASSERT_EQ(result, 1);
    for (int k = 0; k < 6; ++k) ASSERT_EQ(engine.InstrumentMap[k], k);

    EXPECT_EQ(Samples(0), (std::vector<int>{0x10, 0x20}));
    EXPECT_EQ(engine.WaveTable[0].loopEnd, 1u);
    EXPECT_EQ(engine.WaveTable[0].flags, 1);
    EXPECT_EQ(engine.WaveTable[0].loopStart, 0u);
    EXPECT_EQ(engine.WaveTable[0].defaultVolume, 0);

    EXPECT_EQ(engine.WaveTable[1].length, 0u);
    EXPECT_EQ(engine.WaveTable[1].loopEnd, 0xFFFFFFFFu);
    EXPECT_TRUE(WaveSlotInUse(engine, 1));
    EXPECT_EQ(engine.WaveTable[1].flags, 1);  // 0x03 and 0x07 lose bit 0: one-shot then swap

    // Page 0 runs on into page 1, whose bytes the first instrument already turned to 0x10 0x20 and
    // a zero: so the first zero ends this wave inside page 1, 258 bytes in.
    EXPECT_EQ(engine.WaveTable[2].length, 256u + 2u);
    EXPECT_EQ(engine.WaveTable[2].data[0], 0x10);                         // 0x90 XOR 0x80
    EXPECT_EQ(engine.WaveTable[2].data[256], static_cast<int8_t>(0x90));  // converted twice: as stored
    EXPECT_EQ(engine.WaveTable[2].flags, 0);                              // 0x12 matches no row

    EXPECT_EQ(engine.WaveTable[3].length, 32768u);
    EXPECT_EQ(engine.WaveTable[3].data[0], 0x01);
    EXPECT_EQ(engine.WaveTable[3].data[32767], static_cast<int8_t>((0x81 + 32767 % 100) ^ 0x80));
    EXPECT_EQ(engine.WaveTable[3].flags, 1);

    EXPECT_EQ(Samples(4), (std::vector<int>{0x10, 0x00, -0x10}));
    EXPECT_EQ(engine.WaveTable[4].flags, 0);
    // The shared page now starts 0x10 0x00: the former 0x80 ends the wave after one byte, which is
    // converted back to its stored value.
    EXPECT_EQ(Samples(5), (std::vector<int>{-0x70}));
    EXPECT_EQ(engine.WaveTable[5].flags, 1);
}

TEST_F(WaveBank, AWaveRunningPastTheImageStopsAtTheFileEndAndSparesLaterDescriptors) {
    // The last page with a 32 KB size runs out of the wave image, over both descriptor pairs (all
    // non-zero here) and up to the end of the file.
    Bank bank(2, 0x90);
    for (size_t i = 65538; i < bank.bytes.size(); ++i) bank.bytes[i] = 0x11;
    bank.SetInstrument(0, 255, 7, 0x02, 0x02);
    bank.SetInstrument(1, 1, 8, 0x06, 0x06);  // size code 0 without a zero byte
    bank.SetWave(1, Bytes(255, 0x90));
    bank.bytes[2 + 256 + 255] = 0;
    int16_t result = 0;
    EXPECT_EQ(LoadBank(bank.bytes, result), "DOC DATA file found with 2 insts.\n");
    const size_t fileSize = 65570 + 92 + 12;
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[0]].length, fileSize - (2 + 255 * 256));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[0]].flags, 0);
    // Instrument 1's descriptors were converted with that wave, but it is read as it was stored:
    // page 1 (not 0x81), size 256, loop from the two swap oscillators (not 0x86).
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[1]].length, 255u);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[1]].data[0], 0x10);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[1]].flags, 1);
}

// The real banks: counts, wave lengths and loop flags as read from each file's descriptor table
// and wave image (first zero byte within the wave's size), and every sample as its stored byte
// XOR 0x80.
struct RealBank {
    const char* file;
    std::vector<uint32_t> lengths;
    std::vector<int> loops;
};

TEST_F(WaveBank, RealBanksLoadTheirInstruments) {
    const std::string corpus = TRELMO_CORPUS_DIR;
    const RealBank banks[] = {
        {"soundsmith/ECHO.W",
         {1173, 1218, 3986, 2958, 3096, 2506, 8156, 1684, 7679},
         {0, 0, 0, 0, 0, 0, 1, 1, 0}},
        {"wavebanks/ANIM50.W", {28926, 8008, 3400, 4997, 9800, 1277, 759}, {0, 0, 0, 0, 0, 0, 0}},
        {"wavebanks/DELTA.W",
         {1173, 1218, 3986, 2958, 3096, 2506, 8156, 2158, 7679, 20479},
         {0, 0, 0, 0, 0, 0, 1, 1, 0, 0}},
        {"wavebanks/GAME.W", {4863, 500, 2450, 5367}, {0, 0, 0, 0}},
        {"wavebanks/MAG04.W", {16384, 4000, 3400, 2000, 7712, 9794, 9900, 8192}, {1, 0, 0, 0, 0, 0, 0, 1}},
        {"wavebanks/MAG05.W", {3400, 4000, 2000, 7712, 32356, 5500}, {0, 0, 0, 0, 0, 0}},
    };
    for (const RealBank& real : banks) {
        SCOPED_TRACE(real.file);
        FileBlock file = ReadWholeFile((corpus + "/" + real.file).c_str());
        const Bytes raw(file.data, file.data + file.size);
        ReleaseFileBlock(file);
        ASSERT_GT(raw.size(), 65570u);
        int16_t result = 0;
        const std::string printed = LoadBank(raw, result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(printed, "DOC DATA file found with " + std::to_string(real.lengths.size()) + " insts.\n");
        for (size_t k = 0; k < real.lengths.size(); ++k) {
            SCOPED_TRACE(k);
            const int slot = engine.InstrumentMap[k];
            ASSERT_TRUE(WaveSlotInUse(engine, slot));
            const WaveSlot& s = engine.WaveTable[slot];
            EXPECT_EQ(s.length, real.lengths[k]);
            EXPECT_EQ(s.loopEnd, real.lengths[k] - 1);
            EXPECT_EQ(s.flags, real.loops[k]);
            const size_t start = 2 + 256 * static_cast<size_t>(raw[65570 + 92 * k + 1]);
            size_t mismatches = 0;
            for (uint32_t i = 0; i < s.length; ++i) {
                if (s.data[i] != static_cast<int8_t>(raw[start + i] ^ 0x80)) ++mismatches;
            }
            EXPECT_EQ(mismatches, 0u);
        }
    }
}

}  // namespace
}  // namespace trelmo
