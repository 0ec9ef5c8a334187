// SPDX-License-Identifier: BSD-3-Clause
// ProDOS volumes: the real 800K image, every storage type and name rule on written volumes, the
// wrappers, and hostile volumes that must list what can be trusted, refuse the rest, and end.
#include "containers/prodos_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "containers/disk_image.h"
#include "tools/writers/disk_image_writer.h"
#include "tools/writers/prodos_writer.h"

namespace trelmo::containers {
namespace {

using Bytes = std::vector<uint8_t>;
using Writer = writers::ProdosVolumeWriter;

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8) * 13);  // no two 256-byte halves alike
    return data;
}

// Each listed path with what reading it gives: its bytes, or "!" and the reason.
std::map<std::string, std::string> ReadEverything(const Container& volume) {
    std::map<std::string, std::string> read;
    for (size_t i = 0; i < volume.Entries().size(); ++i) {
        Bytes out;
        std::string error;
        const bool ok = volume.Read(i, MaxEntryBytes, out, error);
        EXPECT_TRUE(ok || !error.empty()) << volume.Entries()[i].path;
        EXPECT_FALSE(ok && !volume.Entries()[i].problem.empty()) << volume.Entries()[i].path;
        if (ok) {
            EXPECT_EQ(out.size(), volume.Entries()[i].size);
        }
        read[volume.Entries()[i].path] = ok ? std::string(out.begin(), out.end()) : "!" + error;
    }
    return read;
}

// Appended, not prefixed: GCC 12 warns wrongly (-Wrestrict) about a literal + std::to_string at -O3.
std::string Numbered(char letter, int n) {
    std::string name(1, letter);
    return name += std::to_string(n);
}

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Notes(const Container& volume) {
    std::string all;
    for (const std::string& note : dynamic_cast<const ProdosVolume&>(volume).Notes()) all += note + "\n";
    return all;
}

TEST(ProdosVolume, RealImageGivesItsSongsExactly) {
    std::string error;
    const auto image = OpenDiskImage(FileBytes(TRELMO_CORPUS_DIR "/images/BLUE_HELMET.FTA"), error);
    ASSERT_NE(image, nullptr) << error;
    const auto read = ReadEverything(*image);
    EXPECT_EQ(read.at("BLUE.HELMET/INTRO/ECHO.MUS"), Text(FileBytes(TRELMO_CORPUS_DIR "/wild/ECHO.MUS")));
    EXPECT_EQ(read.at("BLUE.HELMET/INTRO/ECHO.WAVE"), Text(FileBytes(TRELMO_CORPUS_DIR "/wild/ECHO.WAVE")));
    EXPECT_TRUE(read.count("BLUE.HELMET/INTRO/Finder.Data"));  // lower-case flags in a real file
    for (const Entry& entry : image->Entries()) {
        if (entry.path != "BLUE.HELMET/INTRO/ECHO.MUS") continue;
        EXPECT_EQ(entry.fileType, 0xD5);
        EXPECT_EQ(entry.auxType, 0x0007);
    }
    EXPECT_EQ(Notes(*image), "");
    Bytes out;
    EXPECT_FALSE(image->Read(0, 10, out, error));
    EXPECT_NE(error.find("more than the limit of 10"), std::string::npos) << error;
}

// A volume with every kind of file; with the bytes each must read as.
struct Sample {
    Writer writer{"Songs.Disk", 1600};
    std::map<std::string, std::string> expected;
    Writer::Placed last;
    void Add(int folder, const std::string& path, const std::string& name, const Bytes& data,
             Writer::FileOptions options = {}) {
        last = writer.AddFile(folder, name, data, options);
        expected["Songs.Disk/" + path + name] = Text(data);
    }
    uint16_t sparseTree = 0, sparseWave = 0;
    Sample() {
        Bytes holes = Pattern(300 * 1024, 3);
        std::fill(holes.begin() + 1024, holes.begin() + 260 * 1024,
                  0);  // a whole index block's worth of zeros
        const int music = writer.AddFolder(0, "Music");
        Add(0, "", "EMPTY", {});
        Add(0, "", "SEED", Pattern(300, 1));
        Add(music, "Music/", "Echo.Mus", Pattern(30198, 2), {0xD5, 0x0007});
        Add(music, "Music/", "TREE", Pattern(200 * 1024 + 5, 4));
        Add(music, "Music/", "SPARSE.TREE", holes, {.sparse = true});
        sparseTree = last.keyBlock;
        Add(music, "Music/", "Sparse.Wave", Bytes(66580, 0), {0xD8, 0x0002, true});
        sparseWave = last.keyBlock;
        Add(music, "Music/", "TWO.FORKS", Pattern(5000, 5),
            {.extended = true, .resourceFork = Pattern(700, 6)});
        Add(0, "", "SEED.HOLE", Pattern(1500, 7), {.storage = 1});  // a seedling past its block reads zeros
        expected["Songs.Disk/SEED.HOLE"] = Text(Pattern(512, 7)) + std::string(988, '\0');
        int folder = music;
        std::string path = "Music/";
        for (int depth = 0; depth < 20; ++depth) {
            folder = writer.AddFolder(folder, Numbered('D', depth));
            path += Numbered('D', depth) + "/";
        }
        for (int i = 0; i < 30; ++i)
            Add(folder, path, Numbered('F', i), Pattern(10 + static_cast<size_t>(i), 8));
    }
};

TEST(ProdosVolume, EveryStorageTypeAndWrapperReadsBack) {
    Sample sample;
    std::string error;
    const auto raw = OpenProdosVolume(sample.writer.Image(), error);
    ASSERT_NE(raw, nullptr) << error;
    EXPECT_EQ(ReadEverything(*raw), sample.expected);
    EXPECT_EQ(Notes(*raw), "");
    // Sparse blocks are left out of the written volume, so the holes are really read as holes.
    EXPECT_EQ(sample.writer.Pointer(sample.sparseTree, 1), 0);  // 128 KB without an index block
    EXPECT_NE(sample.writer.Pointer(sample.sparseTree, 2), 0);
    EXPECT_EQ(sample.writer.Pointer(sample.sparseWave, 7), 0);
    const auto& wave = *std::find_if(raw->Entries().begin(), raw->Entries().end(),
                                     [](const Entry& e) { return e.path == "Songs.Disk/Music/Sparse.Wave"; });
    EXPECT_EQ(wave.fileType, 0xD8);
    EXPECT_EQ(wave.auxType, 0x0002);

    const Bytes& blocks = sample.writer.Image();
    writers::TwoImgOptions zeroLength{
        .zeroDataLength = true, .zeroBlockCount = true, .headerLength = 52, .comment = {'h', 'i'}};
    for (const Bytes& image : {writers::TwoImgBytes(blocks), writers::TwoImgBytes(blocks, zeroLength),
                               writers::DiskCopyBytes(blocks), writers::DiskCopyBytes(blocks, "x", true)}) {
        const auto wrapped = OpenDiskImage(image, error);
        ASSERT_NE(wrapped, nullptr) << error;
        EXPECT_EQ(ReadEverything(*wrapped), sample.expected);
    }
    EXPECT_NE(Notes(*OpenDiskImage(writers::DiskCopyBytes(blocks, "x", true), error)).find("checksum"),
              std::string::npos);
}

TEST(ProdosVolume, FloppiesOpenInEitherSectorOrder) {
    Writer writer("FLOPPY", 280);
    writer.AddFile(0, "SONG", Pattern(20000, 9));
    const Bytes prodosOrder = writer.Image();
    const Bytes dosOrder = writers::DosOrderBytes(prodosOrder);
    EXPECT_NE(dosOrder, prodosOrder);
    EXPECT_EQ(ReorderDosSectors(dosOrder), prodosOrder);
    std::string error;
    const auto expected = ReadEverything(*OpenProdosVolume(prodosOrder, error));
    ASSERT_EQ(expected.at("FLOPPY/SONG"), Text(Pattern(20000, 9)));
    for (const Bytes& image :
         {dosOrder, writers::TwoImgBytes(dosOrder, {.format = 0}), writers::TwoImgBytes(dosOrder)}) {
        const auto opened = OpenDiskImage(image, error);
        ASSERT_NE(opened, nullptr) << error;
        EXPECT_EQ(ReadEverything(*opened), expected);
    }
}

TEST(ProdosVolume, NoDiskImageIsRefusedWithItsReason) {
    std::string error;
    EXPECT_EQ(OpenDiskImage(Bytes(143360, 0), error), nullptr);
    EXPECT_NE(error.find("not a disk image"), std::string::npos) << error;
    EXPECT_EQ(OpenDiskImage(Bytes(100, 0xFF), error), nullptr);
    EXPECT_EQ(OpenDiskImage(writers::TwoImgBytes(Bytes(143360, 0), {.format = 2}), error), nullptr);
    EXPECT_NE(error.find("nibbles"), std::string::npos) << error;
    EXPECT_EQ(OpenDiskImage(writers::DiskCopyBytes(Bytes(409600, 0)), error), nullptr);
    EXPECT_NE(error.find("DiskCopy image holds no ProDOS volume"), std::string::npos) << error;
    EXPECT_EQ(OpenDiskImage(Bytes(MaxContainerBytes + 1, 0), error), nullptr);
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
}

// Damage on the written sample: what is read of every other file must not change.
TEST(ProdosVolume, HostileVolumesListTheRestAndEnd) {
    struct Case {
        const char* what;
        std::function<void(Sample&)> damage;
        const char* path;  // the entry that must fail (or be gone, with "-"), and why
        const char* reason;
    };
    const Case cases[] = {
        {"index block points at itself",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "LOOP", Pattern(5000, 1));
             s.writer.SetPointer(p.keyBlock, 3, p.keyBlock);
         },
         "Songs.Disk/LOOP", "used twice"},
        {"two pointers to one block",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "TWICE", Pattern(400000, 1));
             s.writer.SetPointer(p.keyBlock, 1, s.writer.Pointer(p.keyBlock, 0));
         },
         "Songs.Disk/TWICE", "used twice"},
        {"pointer beyond the volume",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "FAR", Pattern(5000, 1));
             s.writer.SetPointer(p.keyBlock, 2, 60000);
         },
         "Songs.Disk/FAR", "beyond the volume"},
        {"16 MB on an 800K disk",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "HUGE", Pattern(5000, 1));
             s.writer.Image()[p.entryOffset + 0x17] = 0xFF;
         },
         "Songs.Disk/HUGE", "more than the whole volume"},
        {"unknown storage type",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "ODD", Pattern(50, 1));
             s.writer.Image()[p.entryOffset] = 0x73;
         },
         "Songs.Disk/ODD", "storage type $7"},
        {"a name with a slash",
         [](Sample& s) {
             auto p = s.writer.AddFile(0, "A.B", Pattern(50, 1));
             s.writer.Image()[p.entryOffset + 2] = '/';
         },
         "-Songs.Disk/A/B", "without a valid name"},
        {"directory chain loops",
         [](Sample& s) { s.writer.SetNextBlock(s.writer.FolderBlocks(0).back(), 3); }, "",
         "leads back to block 3"},
        {"folder that holds the volume",
         [](Sample& s) {
             auto f = s.writer.AddFolder(0, "BACK");
             s.writer.SetNextBlock(s.writer.FolderBlocks(f).front(), 2);
         },
         "", "leads back to block 2"},
        {"folder key beyond the volume",
         [](Sample& s) {
             s.writer.Image()[s.writer.FolderEntryOffset(s.writer.AddFolder(0, "GONE")) + 0x12] = 0xF0;
         },
         "-Songs.Disk/GONE/X", "beyond the volume"},
    };
    for (const Case& c : cases) {
        Sample sample;
        c.damage(sample);
        std::string error;
        const auto volume = OpenProdosVolume(sample.writer.Image(), error);
        ASSERT_NE(volume, nullptr) << c.what << ": " << error;
        auto read = ReadEverything(*volume);
        const std::string path = c.path;
        if (!path.empty() && path[0] != '-') {
            ASSERT_TRUE(read.count(path)) << c.what;
            EXPECT_NE(read[path].find(c.reason), std::string::npos) << c.what << ": " << read[path];
            read.erase(path);
        } else {
            EXPECT_NE(Notes(*volume).find(c.reason), std::string::npos) << c.what << ": " << Notes(*volume);
        }
        EXPECT_EQ(read, sample.expected) << c.what;
    }
}

TEST(ProdosVolume, CutImagesAndDeepNestingAreTold) {
    Sample sample;
    Bytes cut = sample.writer.Image();
    cut.resize(300 * 512);
    std::string error;
    const auto volume = OpenDiskImage(cut, error);
    ASSERT_NE(volume, nullptr) << error;
    EXPECT_NE(Notes(*volume).find("claims 1600 blocks but only 300"), std::string::npos);
    EXPECT_EQ(ReadEverything(*volume).at("Songs.Disk/Music/TREE")[0], '!');

    Writer deep("DEEP", 400);
    for (int depth = 0, folder = 0; depth < MaxProdosFolderDepth + 5; ++depth)
        folder = deep.AddFolder(folder, "D");
    EXPECT_NE(Notes(*OpenProdosVolume(deep.Image(), error)).find("nested more than 64 levels"),
              std::string::npos);
}

}  // namespace
}  // namespace trelmo::containers
