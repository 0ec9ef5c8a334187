// SPDX-License-Identifier: BSD-3-Clause
// ASIF instrument files: the chunk walk, the refusals with their exact words, and wave conversion.
#include "instruments/asif.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tests/support/temp_dir.h"
#include "tools/writers/asif_writer.h"

namespace trelmo {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TempDir;
using writers::Chunk;
using writers::InstBody;
using writers::WaveBody;

constexpr int16_t Position = 3;
constexpr uint16_t Untouched = 99;

class Asif : public test::EngineTest {
  protected:
    // Loads the instrument name as a song called song would find it into InstrumentMap[Position]
    // (which holds Untouched before) and returns what was reported.
    std::string LoadFrom(const SongFiles& song, const std::string& name) {
        engine.InstrumentMap[Position] = Untouched;
        std::string found;
        LoadAsifInstrument(engine, song, engine.messages, name, Position, found);
        return log.Take();
    }
    // Loads file as the instrument INST.ASIF of a song in memory.
    std::string LoadBytes(const Bytes& file) {
        const test::Companions files{{"INST.ASIF", file}};
        return LoadFrom(test::FilesFrom("SONG.MTP", files), "INST.ASIF");
    }

    // The samples of the slot now recorded at Position; empty when nothing was loaded.
    std::vector<int> Loaded() {
        const int slot = engine.InstrumentMap[Position];
        if (slot == Untouched || !WaveSlotInUse(engine, slot)) return {};
        const WaveSlot& s = engine.WaveTable[slot];
        return std::vector<int>(s.data, s.data + s.length);
    }

    bool NothingLoaded() {
        for (int i = 0; i < WaveSlotCount; ++i) {
            if (WaveSlotInUse(engine, i)) return false;
        }
        return engine.InstrumentMap[Position] == Untouched;
    }
};

// Named chunks, so that the loader has names to step over.
Bytes Inst(uint8_t controlA = 0x02, uint8_t controlB = 0x02) {
    return Chunk("INST", InstBody(1, 1, controlA, controlB, "PIANO"));
}
Bytes Wave(const Bytes& wave) {
    return Chunk("WAVE", WaveBody(wave, -1, "W"));
}

TEST_F(Asif, RefusalsPrintTheirMessageAndLoadNothing) {
    const std::string path = "INST.ASIF";

    EXPECT_EQ(LoadFrom(test::FilesFrom("SONG.MTP", {}), "MISSING"),
              "Error: unable to load ASIF file MISSING\n");
    EXPECT_TRUE(NothingLoaded());

    Bytes notForm = writers::Asif({Inst(), Wave({0x90})});
    notForm[0] = 'f';
    EXPECT_EQ(LoadBytes(notForm), "Error: file " + path + " missing FORM signature!\n");
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(LoadBytes(Bytes{'F', 'O'}), "Error: file " + path + " missing FORM signature!\n");
    EXPECT_EQ(LoadBytes(Bytes{}), "Error: file " + path + " missing FORM signature!\n");

    Bytes notAsif = writers::Asif({Inst(), Wave({0x90})});
    notAsif[11] = 'X';
    EXPECT_EQ(LoadBytes(notAsif), "Error: " + path + " is not an ASIF file.\n");
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(LoadBytes(Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'S'}),
              "Error: " + path + " is not an ASIF file.\n");

    const std::string badCounts = "Error: waveCounts must be 1 for file " + path + "\n";
    EXPECT_EQ(LoadBytes(writers::Asif({Chunk("INST", InstBody(2, 1, 2, 2, "PIANO")), Wave({0x90})})),
              badCounts);
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(LoadBytes(writers::Asif({Wave({0x90}), Chunk("INST", InstBody(1, 0, 2, 2, "PIANO"))})),
              badCounts);
    EXPECT_TRUE(NothingLoaded());
    // An instrument record cut off by the end of the file reads its counts as 0.
    EXPECT_EQ(
        LoadBytes(writers::Asif({Wave({0x90}), Chunk("INST", Bytes{5, 'S', 'H', 'O', 'R', 'T', 1, 1})})),
        badCounts);
    EXPECT_TRUE(NothingLoaded());

    const std::string noRam = "Error: couldn't allocate RAM for wave (whoa... a 512k GS works!)\n";
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Chunk("WAVE", WaveBody({0x90}, 0x8000))})), noRam);
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Chunk("WAVE", WaveBody({0x90}, 0xFFFF))})), noRam);
    EXPECT_TRUE(NothingLoaded());

    // No wave at all: silently nothing.
    EXPECT_EQ(LoadBytes(writers::Asif({Inst()})), "");
    EXPECT_TRUE(NothingLoaded());
}

TEST_F(Asif, ZeroByteHoldsTheLastSampleToTheEndOfTheWave) {
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Wave({0x90, 0xA0, 0x00, 0x55})})), "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x10, 0x20, 0x20, 0x20}));
    const WaveSlot& first = engine.WaveTable[engine.InstrumentMap[Position]];
    EXPECT_EQ(first.loopStart, 0u);
    EXPECT_EQ(first.loopEnd, 3u);
    EXPECT_EQ(first.flags, 0);
    EXPECT_EQ(first.defaultVolume, 0);
    FreeAllWaveSlots(engine);

    // A zero first: the lowest level, not silence.
    LoadBytes(writers::Asif({Inst(), Wave({0x00, 0x40, 0x50})}));
    EXPECT_EQ(Loaded(), (std::vector<int>{-128, -128, -128}));
    FreeAllWaveSlots(engine);

    LoadBytes(writers::Asif({Inst(), Wave({0xFF, 0x01, 0x80})}));
    EXPECT_EQ(Loaded(), (std::vector<int>{0x7F, -0x7F, 0}));
    FreeAllWaveSlots(engine);

    // An empty wave is still an instrument, of length 0.
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Wave({})})), "");
    ASSERT_NE(engine.InstrumentMap[Position], Untouched);
    EXPECT_TRUE(WaveSlotInUse(engine, engine.InstrumentMap[Position]));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].length, 0u);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].loopEnd, 0xFFFFFFFFu);
}

TEST_F(Asif, LoopComesFromTheInstrumentsControlBytes) {
    struct {
        uint8_t a, b;
        uint16_t flags;
    } rows[] = {{0x03, 0x07, 1}, {0x07, 0x01, 1}, {0x06, 0x0C, 0},
                {0x02, 0x02, 0}, {0x00, 0x00, 1}, {0x08, 0x08, 0}};
    for (const auto& row : rows) {
        LoadBytes(writers::Asif({Inst(row.a, row.b), Wave({0x90, 0x91})}));
        ASSERT_EQ(Loaded().size(), 2u);
        EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].flags, row.flags)
            << int{row.a} << "/" << int{row.b};
        FreeAllWaveSlots(engine);
    }
    // A wave without an instrument record plays once.
    EXPECT_EQ(LoadBytes(writers::Asif({Wave({0x90, 0x91})})), "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x10, 0x11}));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].flags, 0);
}

TEST_F(Asif, ChunkWalkFindsTheFirstTagsExactlyAndWithoutPadBytes) {
    // An odd-length chunk is followed directly by the next tag.
    LoadBytes(writers::Asif(
        {Chunk("NAME", {3, 'A', 'B'}), Inst(0x06, 0x06), Chunk("ANNO", {1}), Wave({0x91, 0x92, 0x93})}));
    EXPECT_EQ(Loaded(), (std::vector<int>{0x11, 0x12, 0x13}));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].flags, 1);
    FreeAllWaveSlots(engine);

    // Order does not matter; only the first WAVE and the first INST count.
    EXPECT_EQ(LoadBytes(writers::Asif({Wave({0x95}), Chunk("WAVE", WaveBody({0x96, 0x97})), Inst(0, 0),
                                       Chunk("INST", InstBody(2, 2, 2, 2, "PIANO"))})),
              "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x15}));
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].flags, 1);
    FreeAllWaveSlots(engine);

    // Tags are case-sensitive: "inst" with bad counts is skipped, "Wave" is no wave.
    EXPECT_EQ(LoadBytes(writers::Asif({Chunk("inst", InstBody(2, 2, 0, 0, "PIANO")), Wave({0x98})})), "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x18}));
    FreeAllWaveSlots(engine);
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Chunk("Wave", WaveBody({0x98}))})), "");
    EXPECT_TRUE(NothingLoaded());

    // Chunks beyond the FORM length are not part of the file.
    const Bytes inst = Inst();
    EXPECT_EQ(LoadBytes(writers::Asif({inst, Wave({0x98})}, static_cast<int64_t>(4 + inst.size()))), "");
    EXPECT_TRUE(NothingLoaded());
}

TEST_F(Asif, LengthsPointingPastTheFileAreCutShort) {
    // A wave that claims 100 bytes where the file holds 3: the 3 are the sample.
    LoadBytes(writers::Asif({Inst(), Chunk("WAVE", WaveBody({0x90, 0xA0, 0xB0}, 100))}));
    EXPECT_EQ(Loaded(), (std::vector<int>{0x10, 0x20, 0x30}));
    FreeAllWaveSlots(engine);
    // The wave's bytes begin beyond the end of the file: an empty sample.
    Bytes headerOnly = writers::Asif({Inst(), Chunk("WAVE", WaveBody({}, 40))});
    headerOnly.resize(headerOnly.size() - 6);
    EXPECT_EQ(LoadBytes(headerOnly), "");
    ASSERT_NE(engine.InstrumentMap[Position], Untouched);
    EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].length, 0u);
    FreeAllWaveSlots(engine);

    // Huge FORM and chunk lengths end the walk instead of wrapping around or running on.
    EXPECT_EQ(LoadBytes(writers::Asif({Chunk("JUNK", {}), Inst(), Wave({0x90})}, 0xFFFFFFFF)), "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x10}));
    FreeAllWaveSlots(engine);
    Bytes hugeChunk = writers::Asif({Chunk("JUNK", {1, 2}), Inst(), Wave({0x90})});
    hugeChunk[16] = hugeChunk[17] = hugeChunk[18] = hugeChunk[19] = 0xFF;
    EXPECT_EQ(LoadBytes(hugeChunk), "");
    EXPECT_TRUE(NothingLoaded());
    hugeChunk[19] = 0xF6;  // -10 if it were taken as signed: the walk would step back forever
    EXPECT_EQ(LoadBytes(hugeChunk), "");
    EXPECT_TRUE(NothingLoaded());
    // A chunk header cut by the end of the area is not read.
    EXPECT_EQ(LoadBytes(writers::Asif({Inst(), Bytes{'W', 'A', 'V', 'E', 0, 0}})), "");
    EXPECT_TRUE(NothingLoaded());
}

TEST_F(Asif, FileNameMatchesUnderAnyCase) {
    TempDir dir;
    dir.Write("Strings.Asif", writers::Asif({Inst(), Wave({0x90, 0x91})}));
    const SongFiles song{dir / "SONG.MTP"};
    EXPECT_EQ(LoadFrom(song, "STRINGS.ASIF"), "");
    EXPECT_EQ(Loaded(), (std::vector<int>{0x10, 0x11}));
    FreeAllWaveSlots(engine);
    // The message names the file as the song named it, beside the song.
    EXPECT_EQ(LoadFrom(song, "STRINGS.AS"), "Error: unable to load ASIF file " + (dir / "STRINGS.AS") + "\n");
}

TEST_F(Asif, RealInstrumentsLoad) {
    // Read from the files: a WAVE chunk before the INST chunk, wave sizes 8154 and 10940 with a
    // final zero byte, control bytes 6/7 (swap pair: loops) and 2/2 (one-shot pair: plays once).
    const std::string corpus = TRELMO_CORPUS_DIR;
    struct {
        const char* file;
        uint32_t length;
        uint16_t flags;
        std::vector<int> head;
        int last;
    } files[] = {{"CO.LOOP", 8154, 1, {-0x31, -0x21, -0x13, 0x13}, -0x1E},
                 {"APPLE.2.ROM.03", 10940, 0, {-0x03, -0x04, -0x02, 0x01}, -0x0A}};
    for (const auto& real : files) {
        SCOPED_TRACE(real.file);
        EXPECT_EQ(LoadFrom(SongFiles{corpus + "/asif/SONG.MTP"}, real.file), "");
        const std::vector<int> samples = Loaded();
        ASSERT_EQ(samples.size(), real.length);
        EXPECT_EQ(std::vector<int>(samples.begin(), samples.begin() + 4), real.head);
        // The closing zero byte repeats the sample before it.
        EXPECT_EQ(samples[real.length - 2], real.last);
        EXPECT_EQ(samples[real.length - 1], real.last);
        EXPECT_EQ(engine.WaveTable[engine.InstrumentMap[Position]].flags, real.flags);
    }
}

}  // namespace
}  // namespace trelmo
