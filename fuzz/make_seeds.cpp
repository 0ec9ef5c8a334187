// SPDX-License-Identifier: BSD-3-Clause
// Writes the fuzz targets' hand-made seed inputs with the song writers:
//   trelmo_make_seeds <fuzz/corpus folder>
// The real files of the shared corpus are copied beside them by hand; the seeds are committed, so
// this runs only when they are to be made again.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/writers/asif_writer.h"
#include "tools/writers/disk_image_writer.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/prodos_writer.h"
#include "tools/writers/save_file.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"
#include "tools/writers/waves.h"

using namespace trelmo::writers;

namespace {

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    return SaveFile(path, bytes);
}

std::vector<uint8_t> Concat(const std::string& text, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

// Every effect and note command once, on instruments that exist ("I1", "I2"), one that is missing
// and an empty position.
SoundSmithTune EffectsTune() {
    SoundSmithTune tune;
    tune.speedByte = 0x83;
    tune.instruments = {{"I1", 100}, {"I2", 200}, {"", 0}, {"MISSING", 50}};
    tune.patternCount = 2;
    tune.order = {0, 1, 0};
    tune.stereo[1] = 1;
    tune.stereo[3] = 0xFFFF;
    tune.Row(0, 0, "C-4 10 47 | E-4 21 10 | G-4 32 20 | C-5 43 C8");
    tune.Row(0, 1, "--- 04 37 | --- 05 40 | --- 06 90 | --- 0C 10");
    tune.Row(0, 2, "C-6 1C 08 | $80 00 00 | $82 00 00 | B-8 15 36");
    tune.Row(0, 3, "--- 01 FF | --- 02 FF | D-2 2F 00 | $7F 10 00");
    tune.Row(0, 4, "--- 0F C4 | $81 00 00");
    tune.Row(1, 0, "A-3 10 00 | C-4 40 00 | G#2 2F 9A");
    tune.Row(1, 5, "--- 0C 00 | --- 08 00 | --- 09 00 | --- 0A 00 | --- 0B 00 | --- 0D 00 | --- 0E 00");
    return tune;
}

NtgSongPlan TwoGroupSong() {
    NtgSongPlan song;
    song.trackCount = 4;
    song.firstGroupTracks = 2;
    song.order = {0, 1, 0};
    song.channels[0] = 1;
    song.channels[2] = 1;
    song.firstGroup.push_back({.sample = NtgSquareWave(64), .volume = 100, .mode = 3});
    song.firstGroup.push_back({.sample = NtgSquareWave(300), .volume = 200, .mode = 0});
    song.secondGroup.push_back({.sample = {0x00, 0x00, 0x90, 0x00, 0x70}, .volume = 64, .mode = 255});
    song.Row(0, 0, "C-4 01 00 | E-4 42 C8 | G-4 01 00 | C-5 81 7D");
    song.Row(0, 1, "--- 00 00 | STP 00 00 | --- 02 00 | B-8 C1 00");
    song.Row(0, 2, "D-3 80 00 | --- 40 20 | NXT 00 00 | F#10 01 00");
    song.Row(1, 0, "C-2 02 00 | C-3 03 00 | C-4 3F 00 | C-5 01 FF");
    song.Row(1, 63, "C-4 01 00 | --- 00 00 | --- 00 00 | --- 00 00");
    return song;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <fuzz/corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    bool ok = true;

    const SoundSmithTune effects = EffectsTune();
    ok &= Save(root + "/fuzz_song/soundsmith-effects", effects.Bytes());
    SoundSmithTune kov;
    kov.kovMagic = true;
    kov.speedByte = 0;
    kov.instruments = {{"I1", 64}};
    kov.Row(0, 0, "C-4 10 00 | D-4 10 00");
    kov.Row(0, 10, "$81 00 00");
    ok &= Save(root + "/fuzz_song/soundsmith-kov", kov.Bytes());

    ok &= Save(root + "/fuzz_song/ntg-two-groups", BuildNtgSong(TwoGroupSong()));
    NtgSongPlan wide = TwoGroupSong();
    wide.trackCount = 16;
    wide.firstGroupTracks = 16;
    wide.tempo = 0;
    ok &= Save(root + "/fuzz_song/ntg-16-tracks", BuildNtgSong(wide));

    const std::vector<int8_t> sine = SineCycle(256, 100);
    std::vector<int8_t> longWave(40000, 50);
    ok &= Save(root + "/fuzz_wave_bank/builder-three",
               WaveBankBytes({{sine, true}, {sine, false}, {{}, false}}));
    ok &= Save(root + "/fuzz_wave_bank/builder-long-wave", WaveBankBytes({{longWave, true}}));
    std::vector<uint8_t> cut = WaveBankBytes({{sine, true}, {sine, true}});
    cut.resize(65570 + 92 + 6);
    ok &= Save(root + "/fuzz_wave_bank/builder-cut-descriptors", cut);

    ok &= Save(root + "/fuzz_asif/builder-loop", AsifBytes(sine, true));
    ok &= Save(root + "/fuzz_asif/builder-once", AsifBytes(sine, false));

    ok &= Save(root + "/fuzz_host_files/drive-letter", Concat("D:\\MUSIC\\SONG.MTP", effects.Bytes()));
    ok &= Save(root + "/fuzz_host_files/unc",
               Concat("\\\\SERVER\\MUSIC\\SONG.NTG", BuildNtgSong(TwoGroupSong())));
    ok &= Save(root + "/fuzz_host_files/relative", Concat("MUSIC\\SONG.MTP", {'K', 'O', 'V'}));
    ok &= Save(root + "/fuzz_host_files/trailing-backslash", Concat("C:\\DIR\\", {'S', 'O', 'N', 'G', 'O'}));
    // Small volumes, so that mutations stay cheap: every storage type, folders, lower-case names.
    ProdosVolumeWriter small("Seeds", 64);
    const int folder = small.AddFolder(small.AddFolder(0, "Music"), "Deep");
    small.AddFile(0, "SEED", std::vector<uint8_t>(300, 0x41));
    small.AddFile(folder, "Song.Mtp", std::vector<uint8_t>(5000, 0x42), {.fileType = 0xD5, .auxType = 7});
    std::vector<uint8_t> holes(9000, 0);
    holes[8999] = 1;
    small.AddFile(folder, "SPARSE", holes, {.sparse = true});
    small.AddFile(0, "FORKS", std::vector<uint8_t>(700, 0x43), {.extended = true, .resourceFork = {1, 2, 3}});
    ok &= Save(root + "/fuzz_prodos/written-small.po", small.Image());
    ok &= Save(root + "/fuzz_prodos/written-small.2mg", TwoImgBytes(small.Image(), {.zeroDataLength = true}));
    ok &= Save(root + "/fuzz_prodos/written-small.dc42", DiskCopyBytes(small.Image()));
    ProdosVolumeWriter tree("TREE", 280);
    std::vector<uint8_t> sparseTree(140000, 0);
    sparseTree[139999] = 1;
    tree.AddFile(0, "BIG", sparseTree, {.sparse = true});
    ok &= Save(root + "/fuzz_prodos/written-tree.do", DosOrderBytes(tree.Image()));
    ProdosVolumeWriter loop("LOOP", 32);
    const ProdosVolumeWriter::Placed self = loop.AddFile(0, "SELF", std::vector<uint8_t>(2000, 0x44));
    loop.SetPointer(self.keyBlock, 1, self.keyBlock);
    loop.SetNextBlock(loop.FolderBlocks(0).back(), 2);
    ok &= Save(root + "/fuzz_prodos/written-loops.po", loop.Image());
    if (!ok) std::fprintf(stderr, "some seeds could not be written\n");
    return ok ? 0 : 1;
}
