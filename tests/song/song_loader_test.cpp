// SPDX-License-Identifier: BSD-3-Clause
// Kind detection, LoadSong's release of the previous song, StartSong and the shared note-on.
#include "song/song_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "song/note_table.h"
#include "song/ntg_song.h"
#include "song/player_state.h"
#include "song/trigger_note.h"
#include "synth/voice_bank.h"
#include "synth/wave_table.h"
#include "tests/support/engine_test.h"
#include "tests/support/song_player.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

namespace trelmo {
namespace {

using test::TempDir;
using writers::BankInstrument;
using writers::SoundSmithTune;

int16_t Kind(const std::string& text, size_t size) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.resize(size, 0);
    return DetectSongKind(bytes.data(), bytes.size());
}

// An NTG header: F, T, A at 2..4, M, O at 6..7 and E at 15; the other bytes are noise.
std::string NtgMagic() {
    return "xyFTAzMOabcdefgE";
}

int InUseSlots(const Engine& engine) {
    int n = 0;
    for (int i = 0; i < WaveSlotCount; ++i) n += WaveSlotInUse(engine, i) ? 1 : 0;
    return n;
}

using KindDetection = test::EngineTest;
using SongLoading = test::EngineTest;
using SongStart = test::EngineTest;
using NoteTrigger = test::EngineTest;

TEST_F(KindDetection, TellsTheThreeMagicFormsApart) {
    EXPECT_EQ(Kind("SONGOK", 600), SoundSmithSong);
    EXPECT_EQ(Kind("SON\x01\xFFK", 6), SoundSmithSong);  // bytes 3 and 4 are not examined
    EXPECT_EQ(Kind("SONGOX", 600), NoSong);
    EXPECT_EQ(Kind("SONGO", 5), NoSong);        // byte 5 lies beyond the file
    EXPECT_EQ(Kind("KOV", 3), SoundSmithSong);  // nothing after byte 2 is needed
    EXPECT_EQ(Kind("KOVxxxxxxxxxxxx", 600), SoundSmithSong);
    EXPECT_EQ(Kind("KO", 2), NoSong);
    EXPECT_EQ(Kind(NtgMagic(), 16), NoiseTrackerSong);
    EXPECT_EQ(Kind(NtgMagic(), 15), NoSong);  // byte 15 lies beyond the file
    std::string noE = NtgMagic();
    noE[15] = 'e';
    EXPECT_EQ(Kind(noE, 16), NoSong);
    EXPECT_EQ(Kind("songok", 600), NoSong);
    EXPECT_EQ(Kind("kov", 600), NoSong);
    EXPECT_EQ(Kind("xyftazmoabcdefge", 16), NoSong);
    EXPECT_EQ(DetectSongKind(nullptr, 0), NoSong);
}

TEST_F(SongLoading, ReleasesThePreviousSongWhateverTheNextFileIs) {
    SoundSmithTune three;
    three.instruments = {{"A", 10}, {"B", 20}, {"C", 30}};
    const std::vector<BankInstrument> bank3 = {{{10, 20, 30}, false}, {{40, 50}, true}, {{60}, false}};
    const test::Companions threeFiles{{"THREE.W", writers::WaveBankBytes(bank3)}};
    SoundSmithTune one;
    one.instruments = {{"A", 99}};
    const test::Companions oneFiles{{"ONE.W", writers::WaveBankBytes({{{1, 2, 3}, false}})}};

    test::PrepareSong(engine, three.Bytes(), "THREE.MTP", threeFiles);
    EXPECT_EQ(engine.SongKind, SoundSmithSong);
    EXPECT_EQ(engine.songLoaded, 1);
    EXPECT_EQ(InUseSlots(engine), 3);
    EXPECT_EQ(engine.InstrumentMap[2], 2);
    EXPECT_EQ(engine.WaveTable[2].defaultVolume, 30);

    // The second song names one instrument: the entries the first song filled must not survive.
    test::PrepareSong(engine, one.Bytes(), "ONE.MTP", oneFiles);
    EXPECT_EQ(InUseSlots(engine), 1);
    EXPECT_EQ(engine.InstrumentMap[0], 0);
    EXPECT_EQ(engine.WaveTable[0].defaultVolume, 99);
    for (int i = 1; i < InstrumentMapSize; ++i) EXPECT_EQ(engine.InstrumentMap[i], NoInstrumentSlot) << i;

    const TempDir dir;
    test::PrepareSong(engine, dir.File("MISSING.MTP"));
    EXPECT_EQ(engine.SongKind, NoSong);
    EXPECT_EQ(engine.SongBlock.data, nullptr);
    EXPECT_EQ(InUseSlots(engine), 0);

    test::PrepareSong(engine, three.Bytes(), "THREE.MTP", threeFiles);
    EXPECT_EQ(InUseSlots(engine), 3);
    test::PrepareSong(engine, std::vector<uint8_t>(700, 'J'), "JUNK.MTP");
    EXPECT_EQ(engine.SongKind, NoSong);
    EXPECT_EQ(engine.SongBlock.data, nullptr);
    EXPECT_EQ(InUseSlots(engine), 0);
    for (int i = 0; i < InstrumentMapSize; ++i) EXPECT_EQ(engine.InstrumentMap[i], NoInstrumentSlot) << i;
    EXPECT_EQ(engine.songLoaded, 1);  // stays set, so the next load still releases whatever is there
}

TEST_F(SongLoading, AFailedLoadPlaysNothingAndNeverEnds) {
    TempDir dir;
    SoundSmithTune tune;
    tune.speedByte = 1;
    tune.instruments = {{"A", 127}};
    tune.Row(0, 0, "C-4 10");
    const std::string junk = dir.Write("JUNK.MTP", {'S', 'O', 'N', 'G', 'O', 'X'});

    // A song that played before leaves nothing behind that could sound.
    test::PrepareSong(engine, tune.Bytes(), "GOOD.MTP",
                      {{"GOOD.W", writers::WaveBankBytes({{writers::SineCycle(64, 100), true}})}});
    EXPECT_TRUE(test::PlaySong(engine, 100000).ended);
    for (const std::string& path : {junk, dir.File("NONE.MTP")}) {
        test::PrepareSong(engine, path);
        const test::Rendering r = test::PlaySong(engine, 200000);
        EXPECT_FALSE(r.ended) << path;
        EXPECT_GE(r.frames, 200000u);
        bool silent = true;
        for (int16_t s : r.pcm) silent = silent && s == 0;
        EXPECT_TRUE(silent) << path;
        for (const TrackState& track : engine.Player.tracks) EXPECT_EQ(track.lastNote, 60);
    }
}

TEST_F(SongStart, ResetsEveryTrackAndReadsTheSongsStart) {
    SoundSmithTune tune;
    tune.speedByte = 0xA5;
    tune.patternCount = 4;
    tune.order = {3, 1};
    std::memset(&engine.Player, 0x5A, sizeof engine.Player);
    test::PrepareSong(engine, tune.Bytes(), "TUNE.MTP");
    EXPECT_EQ(engine.Player.speed, 5);
    EXPECT_EQ(engine.Player.rowOffset, 3 * 896);
    EXPECT_EQ(engine.Player.rowIndex | engine.Player.orderPosition | engine.Player.songEnded |
                  engine.Player.tickCounter,
              0);
    for (const TrackState& t : engine.Player.tracks) {
        EXPECT_EQ(t.instrument, -1);
        EXPECT_EQ(t.lastNote, 60);
        EXPECT_EQ(t.effect | t.effectParam | t.pitch | t.portamentoTarget | t.portamentoSpeed |
                      t.portamentoUp | t.vibratoSpeed | t.vibratoDepth | t.vibratoPosition,
                  0);
        EXPECT_EQ(t.arpeggio[0] | t.arpeggio[1] | t.arpeggio[2], 0u);
    }

    // NoiseTracker GS: tempo word at 16, pattern start at 606, first pattern = word 94 x word 38.
    std::vector<uint8_t> ntg(700, 0);
    const std::string magic = NtgMagic();
    std::memcpy(ntg.data(), magic.data(), magic.size());
    ntg[16] = 9;
    ntg[39] = 0x0E;  // 3584
    ntg[94] = 0x34;
    ntg[95] = 0x12;  // 0x1234
    test::PrepareSong(engine, ntg, "TUNE.NTG");
    ASSERT_EQ(engine.SongKind, NoiseTrackerSong);
    EXPECT_EQ(engine.Player.songTempo, NtgTempo(9));
    EXPECT_EQ(engine.Player.rowOffset, 0x1234 * 3584);
    EXPECT_EQ(engine.Player.patternBase, engine.SongBlock.data + 606);
}

TEST_F(NoteTrigger, StartsTheVoiceOnTheSlotWithTheNotesPitch) {
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    const int16_t once = AllocWaveSlot(engine, bytes, 5, 0, 4, 0, 0);
    const int16_t loop = AllocWaveSlot(engine, bytes, 4, 0, 3, 1, 0);
    const int16_t odd = AllocWaveSlot(engine, bytes, 3, 0, 2, 9, 0);  // loop bit and bit 3: not exactly 1
    ResetVoiceBank(engine);

    TriggerNote(engine, 3, 49, once, 200, 0xFF, false);
    EXPECT_EQ(engine.Player.tracks[3].lastNote, 49);
    EXPECT_EQ(engine.Player.tracks[3].pitch, 346);
    EXPECT_EQ(engine.VoiceBank[3].channel, 0xFF);
    EXPECT_EQ(engine.VoiceBank[3].frequency, 346u * 51u);
    EXPECT_EQ(engine.VoiceBank[3].slot, once);
    EXPECT_EQ(engine.VoiceBank[3].limit, 5u);
    EXPECT_EQ(engine.VoiceBank[3].end, 4u);
    EXPECT_EQ(engine.VoiceBank[3].mode & 1u, 0u);

    TriggerNote(engine, 4, 61, loop, 90, 0, true);
    EXPECT_EQ(engine.VoiceBank[4].mode & 1u, 1u);
    EXPECT_EQ(engine.VoiceBank[4].end, 3u);

    TriggerNote(engine, 5, 120, odd, 64, 0, false);  // above the table: its highest note
    EXPECT_EQ(engine.VoiceBank[5].mode & 1u, 0u);
    EXPECT_EQ(engine.VoiceBank[5].frequency, 9864u * 51u);
    EXPECT_EQ(engine.Player.tracks[5].lastNote, 120);
}

}  // namespace
}  // namespace trelmo
