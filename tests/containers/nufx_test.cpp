// SPDX-License-Identifier: BSD-3-Clause
// NuFX, Binary II, zip and gzip: real ShrinkIt archives against nulib2, archives that nulib2 makes
// from the corpus, and damaged or hostile archives.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "containers/binary_ii.h"
#include "containers/nufx_archive.h"
#include "containers/shrinkit_lzw.h"
#include "containers/squeeze.h"
#include "containers/zip_archive.h"
#include "containers/zip_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/writers/squeeze_writer.h"

namespace trelmo::containers {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string Images = TRELMO_CORPUS_DIR "/images/", Wild = TRELMO_CORPUS_DIR "/wild/";

Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
std::string Quote(const std::string& text) {
    return "'" + text + "'";
}
std::string Nulib2(const std::string& arguments) {
    return std::string(TRELMO_NULIB2) + " " + arguments;
}

// Standard output of a shell command.
Bytes Shell(const std::string& command) {
    Bytes out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (int c; (c = fgetc(pipe)) != EOF;) out.push_back(static_cast<uint8_t>(c));
        pclose(pipe);
    }
    return out;
}

Bytes ReadEntry(const Container& container, size_t index) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(container.Read(index, MaxEntryBytes, out, error))
        << container.Entries()[index].path << ": " << error;
    return out;
}
std::string ReadError(const Container& container, size_t index, size_t limit = MaxEntryBytes) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(container.Read(index, limit, out, error) || !out.empty());
    return error;
}

std::unique_ptr<Container> OpenNufx(Bytes bytes) {
    std::string error;
    auto container = OpenNufxArchive(std::move(bytes), error);
    EXPECT_TRUE(container) << error;
    return container;
}

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes BinaryIIHeader(const std::string& name, uint8_t type, uint8_t storage, size_t length,
                     uint8_t flags = 0) {
    Bytes header(BinaryIIHeaderSize);
    header[0] = 0x0A, header[1] = 0x47, header[2] = 0x4C, header[0x12] = 0x02, header[0x7D] = flags;
    header[4] = type, header[7] = storage;
    PutU32(header, 0x14, static_cast<uint32_t>(length));
    header[0x17] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), header.begin() + 0x18);
    return header;
}

TEST(NufxArchive, EveryRecordOfTheRealArchivesUnpacksAsNulib2Does) {
    // LZW/1 (P8 ShrinkIt, with stored records among them) and LZW/2 (GS/ShrinkIt, in folders).
    for (const char* name : {"BLACKSPRING.V3.SHK", "NETWORK.SHK", "ProARC.SHK", "SRI.LANKA.shk"}) {
        const std::string archive = Images + name;
        const Bytes names = Shell(Nulib2("-t " + Quote(archive)));
        std::istringstream listing(std::string(names.begin(), names.end()));
        auto container = OpenNufx(Slurp(archive));
        ASSERT_TRUE(container);
        size_t index = 0;
        for (std::string stored; std::getline(listing, stored); ++index) {
            ASSERT_LT(index, container->Entries().size()) << archive;
            const Bytes expected = Shell(Nulib2("-p " + Quote(archive) + " " + Quote(stored)));
            ASSERT_FALSE(expected.empty()) << stored;
            EXPECT_EQ(ReadEntry(*container, index), expected) << archive << ": " << stored;
            EXPECT_EQ(container->Entries()[index].size, expected.size());
        }
        EXPECT_EQ(index, container->Entries().size()) << archive;
    }
}

TEST(NufxArchive, ArchivesNulib2MakesFromTheCorpusGiveBackTheExactBytes) {
    test::TempDir dir;
    const Bytes song = Slurp(Wild + "ECHO.MUS"), bank = Slurp(Wild + "ECHO.WAVE");
    dir.Write("ECHO.MUS#d50007", song);
    dir.Write("ECHO.WAVE#c10000", bank);
    const std::string in = "cd " + Quote(dir.Path()) + " && ";
    for (const char* flags : {"-ae", "-a0e"}) {  // LZW/2, stored
        Shell(in + "rm -f out.shk && " +
              Nulib2(std::string(flags) + " out.shk ECHO.MUS#d50007 ECHO.WAVE#c10000 >/dev/null"));
        const Bytes archive = Slurp(dir / "out.shk");
        // The same archive wrapped in Binary II (.bxy) lists the same.
        Bytes wrapped = BinaryIIHeader("OUT.BXY", 0xE0, 1, archive.size());
        wrapped.insert(wrapped.end(), archive.begin(), archive.end());
        for (const Bytes& bytes : {archive, wrapped}) {
            auto container = OpenNufx(bytes);
            ASSERT_TRUE(container);
            ASSERT_EQ(container->Entries().size(), 2u) << flags;
            const Entry& first = container->Entries()[0];
            EXPECT_EQ(first.path + " " + std::to_string(first.fileType) + " " + std::to_string(first.auxType),
                      "ECHO.MUS 213 7");
            EXPECT_EQ(container->Entries()[1].fileType, 0xC1);
            EXPECT_EQ(ReadEntry(*container, 0), song) << flags;
            EXPECT_EQ(ReadEntry(*container, 1), bank) << flags;
        }
    }
    // A disk-image record: the 800K game disk's blocks.
    const Bytes image = Slurp(Images + "BLUE_HELMET.FTA");
    const Bytes blocks(image.begin() + 64, image.end());
    dir.Write("disk.po", blocks);
    Shell(in + Nulib2("-ak disk.sdk disk.po >/dev/null"));
    auto disk = OpenNufx(Slurp(dir / "disk.sdk"));
    ASSERT_TRUE(disk && disk->Entries().size() == 1);
    EXPECT_TRUE(disk->Entries()[0].isVolume && disk->Entries()[0].size == 819200u);
    EXPECT_EQ(ReadEntry(*disk, 0), blocks);
    // Deflate, which ShrinkIt never wrote, is named and refused; the LZW/2 record beside it reads.
    Shell(in + Nulib2("-aze mixed.shk ECHO.MUS#d50007 >/dev/null") + " && " +
          Nulib2("-ae mixed.shk ECHO.WAVE#c10000"));
    auto mixed = OpenNufx(Slurp(dir / "mixed.shk"));
    ASSERT_TRUE(mixed && mixed->Entries().size() == 2);
    EXPECT_EQ(mixed->Entries()[0].problem, "packed with Deflate, which is not supported");
    EXPECT_EQ(ReadError(*mixed, 0), "packed with Deflate, which is not supported");
    EXPECT_EQ(ReadEntry(*mixed, 1), bank);
}

TEST(BinaryII, ListsFilesWithTheirTypesSkipsFoldersAndUnsqueezes) {
    const Bytes song = Slurp(Wild + "ECHO.MUS"), bank = Slurp(Wild + "ECHO.WAVE");
    Bytes archive = BinaryIIHeader("SONGS", 0x0F, 0x0D, 1024);  // BLU leaves a length on folders
    auto add = [&archive](const Bytes& header, const Bytes& data) {
        archive.insert(archive.end(), header.begin(), header.end());
        archive.insert(archive.end(), data.begin(), data.end());
        archive.resize((archive.size() + 127) / 128 * 128);
    };
    add(BinaryIIHeader("SONGS/ECHO.MUS", 0xD5, 2, song.size()), song);
    // The bank has long runs of zeros and $90 bytes: every case of the run-length step.
    const Bytes squeezed = trelmo::writers::SqueezeBytes(bank, "echo.wave");
    add(BinaryIIHeader("SONGS/ECHO.WAVE.QQ", 0xC1, 1, squeezed.size(), 0x80), squeezed);
    Bytes damaged = squeezed;
    damaged[2] ^= 1;  // the checksum
    add(BinaryIIHeader("BAD.QQ", 0x04, 1, damaged.size(), 0x80), damaged);
    std::string error;
    auto container = OpenBinaryII(archive, error);
    ASSERT_TRUE(container && container->Entries().size() == 3) << error;
    EXPECT_EQ(container->Entries()[0].path + " " + std::to_string(container->Entries()[0].fileType),
              "SONGS/ECHO.MUS 213");
    EXPECT_EQ(ReadEntry(*container, 0), song);
    EXPECT_EQ(container->Entries()[1].path + " " + std::to_string(container->Entries()[1].size),
              "SONGS/ECHO.WAVE 66580");
    EXPECT_EQ(ReadEntry(*container, 1), bank);
    EXPECT_EQ(ReadError(*container, 2), "its squeezed data fails its checksum");

    // Bounded whatever the stream claims: a bomb stops at the limit, a tree that points back at
    // itself ends with its data.
    Bytes out;
    EXPECT_FALSE(Unsqueeze({const_cast<uint8_t*>(squeezed.data()), squeezed.size()}, 1000, out, error));
    EXPECT_EQ(error, "it unpacks to more than the limit of 1000 bytes");
    Bytes loop{0x76, 0xFF, 0, 0, 'X', 0, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_FALSE(Unsqueeze({loop.data(), loop.size()}, 1000, out, error));
    EXPECT_EQ(error, "its squeezed data ends before its stop code");
}

// The library's own zip and gzip reader, which the page uses: stored and deflated zip entries, a
// gzip file's name (stored or its own), its CRC, and a length it lies about.
TEST(ZipReader, ZipAndGzipReadAsWithLibarchive) {
    test::TempDir dir;
    const Bytes song = Slurp(Wild + "ECHO.MUS"), bank = Slurp(Wild + "ECHO.WAVE");
    Shell(
        "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w'); "
        "z.write(sys.argv[2],'SONGS/ECHO.MUS',zipfile.ZIP_STORED); "
        "z.write(sys.argv[3],'/SONGS/ECHO.WAVE',zipfile.ZIP_DEFLATED)\" " +
        Quote(dir / "songs.zip") + " " + Quote(Wild + "ECHO.MUS") + " " + Quote(Wild + "ECHO.WAVE"));
    std::string error;
    auto zip = OpenZipReader(Slurp(dir / "songs.zip"), "songs.zip", error);
    ASSERT_TRUE(zip && zip->Entries().size() == 2) << error;
    EXPECT_EQ(zip->Entries()[0].path + " " + zip->Entries()[1].path, "SONGS/ECHO.MUS SONGS/ECHO.WAVE");
    EXPECT_EQ(ReadEntry(*zip, 0), song);
    EXPECT_EQ(ReadEntry(*zip, 1), bank);

    Shell("cp " + Quote(Wild + "ECHO.WAVE") + " " + Quote(dir / "STORED.NAME") + " && gzip -c " +
          Quote(dir / "STORED.NAME") + " > " + Quote(dir / "named.gz"));
    const Bytes named = Slurp(dir / "named.gz");
    auto gz = OpenZipReader(named, "x.gz", error);
    ASSERT_TRUE(gz && gz->Entries().size() == 1) << error;
    EXPECT_EQ(gz->Entries()[0].path + " " + std::to_string(gz->Entries()[0].size), "STORED.NAME 66580");
    EXPECT_EQ(ReadEntry(*gz, 0), bank);
    auto unnamed = OpenZipReader(Shell("gzip -nc " + Quote(Wild + "ECHO.MUS")), "/music/ECHO.MUS.gz", error);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->Entries()[0].path, "ECHO.MUS");
    EXPECT_EQ(ReadEntry(*unnamed, 0), song);
    Bytes badCrc = named, liar = named;
    badCrc[badCrc.size() - 8] ^= 1;
    EXPECT_EQ(ReadError(*OpenZipReader(badCrc, "x.gz", error), 0), "its CRC does not match");
    PutU32(liar, liar.size() - 4, 100);
    EXPECT_FALSE(ReadError(*OpenZipReader(liar, "x.gz", error), 0).empty());
}

#ifdef TRELMO_WITH_LIBARCHIVE
TEST(ZipArchive, ZipAndGzipGiveTheirFilesWithinTheLimit) {
    test::TempDir dir;
    const Bytes song = Slurp(Wild + "ECHO.MUS"), bank = Slurp(Wild + "ECHO.WAVE");
    Shell(
        "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED); "
        "z.write(sys.argv[2],'SONGS/ECHO.MUS'); z.writestr('SONGS/',''); "
        "z.write(sys.argv[3],'../../ECHO.WAVE')\" " +
        Quote(dir / "songs.zip") + " " + Quote(Wild + "ECHO.MUS") + " " + Quote(Wild + "ECHO.WAVE"));
    std::string error;
    auto zip = OpenZipArchive(Slurp(dir / "songs.zip"), "songs.zip", error);
    ASSERT_TRUE(zip && zip->Entries().size() == 2) << error;
    EXPECT_EQ(zip->Entries()[0].path + " " + zip->Entries()[1].path,
              "SONGS/ECHO.MUS ECHO.WAVE");  // never above it
    EXPECT_EQ(ReadEntry(*zip, 0), song);
    EXPECT_EQ(ReadEntry(*zip, 1), bank);
    EXPECT_EQ(ReadError(*zip, 1, 1000), "it holds 66580 bytes, more than the limit of 1000");
    // gzip without a stored name takes the file's own; one too long is refused, and one that lies
    // about its length (a bomb) stops at what it states.
    Shell("gzip -nc " + Quote(Wild + "ECHO.WAVE") + " > " + Quote(dir / "ECHO.WAVE.gz"));
    auto gz = OpenZipArchive(Slurp(dir / "ECHO.WAVE.gz"), "ECHO.WAVE.gz", error);
    ASSERT_TRUE(gz && gz->Entries().size() == 1) << error;
    EXPECT_EQ(gz->Entries()[0].path + " " + std::to_string(gz->Entries()[0].size), "ECHO.WAVE 66580");
    EXPECT_EQ(ReadEntry(*gz, 0), bank);
    Bytes bomb = Shell("head -c 70000000 /dev/zero | tr '\\0' A | gzip -c");
    auto big = OpenZipArchive(bomb, "big.gz", error);
    ASSERT_TRUE(big) << error;
    EXPECT_EQ(ReadError(*big, 0), "it claims 70000000 bytes, more than the limit of 67108864");
    PutU32(bomb, bomb.size() - 4, 100);
    auto bombed = OpenZipArchive(bomb, "bomb.gz", error);
    ASSERT_TRUE(bombed) << error;
    EXPECT_EQ(ReadError(*bombed, 0), "it unpacks to more than the 100 bytes it states");
}
#endif

TEST(ContainersHostile, DamagedRecordsAreSkippedAndNothingReachesBeyondTheLimits) {
    const Bytes real = Slurp(Images + "BLACKSPRING.V3.SHK");
    auto whole = OpenNufx(real);
    ASSERT_TRUE(whole);
    // Truncated anywhere: what still lists reads back right or says why not.
    for (size_t length = 0; length < real.size(); length += 61) {
        std::string error;
        auto cut =
            OpenNufxArchive(Bytes(real.begin(), real.begin() + static_cast<std::ptrdiff_t>(length)), error);
        for (size_t i = 0; cut && i < cut->Entries().size(); ++i) {
            Bytes out;
            if (cut->Read(i, MaxEntryBytes, out, error))
                EXPECT_EQ(out, ReadEntry(*whole, i)) << length;
            else
                EXPECT_FALSE(error.empty());
        }
    }
    // A record whose signature is gone is skipped, however many records the archive claims; one whose
    // header fails its CRC is named so; so is LZW/1 data that fails its own CRC.
    Bytes damaged = Slurp(Images + "NETWORK.SHK");
    damaged[48] = 'X';
    PutU32(damaged, 8, 0xFFFFFFFF);
    auto skipped = OpenNufx(damaged);
    ASSERT_TRUE(skipped && skipped->Entries().size() == 10);
    EXPECT_EQ(skipped->Entries()[0].path, "ACOS.ALARM.S");
    Bytes badHeader = real, badCrc = real;
    badHeader[0x50] ^= 1;  // a date in the first record
    EXPECT_EQ(OpenNufx(badHeader)->Entries()[0].problem, "its record header is damaged (CRC mismatch)");
    badCrc[0x8B] ^= 1;  // the first record's data begins with its CRC
    EXPECT_EQ(ReadError(*OpenNufx(badCrc), 0), "the unpacked data fails its CRC check");

    // A record that claims 4 GB, and one that claims 60 MB from 30 KB of LZW/2 (a bomb).
    test::TempDir dir;
    dir.Write("ECHO.MUS", Slurp(Wild + "ECHO.MUS"));
    const Bytes made =
        Shell("cd " + Quote(dir.Path()) + " && " + Nulib2("-a song.shk ECHO.MUS >/dev/null && cat song.shk"));
    const size_t attributes = ReadU16Le(ByteView{const_cast<uint8_t*>(made.data()), made.size()}, 54);
    const size_t threads = 48 + attributes + made[48 + attributes - 2],
                 data = threads + 16 * size_t{made[58]};
    for (uint32_t claim : {0xFFFFFFFFu, 60u << 20}) {
        Bytes bytes = made;
        for (size_t t = threads; t < data; t += 16) {
            if (bytes[t] == 2) PutU32(bytes, t + 8, claim);  // the data thread's length
        }
        const uint16_t crc = Crc16Ccitt(ByteView{bytes.data() + 54, data - 54}, 0);
        bytes[52] = static_cast<uint8_t>(crc), bytes[53] = static_cast<uint8_t>(crc >> 8);
        auto container = OpenNufx(bytes);
        ASSERT_TRUE(container && container->Entries().size() == 1);
        const std::string error = ReadError(*container, 0);
        EXPECT_EQ(error, claim > MaxEntryBytes ? "it claims 4294967295 bytes, more than the limit of 67108864"
                                               : "the packed data ends early");
        EXPECT_EQ(ReadError(*container, 0, 1 << 20),
                  claim > MaxEntryBytes ? error : "it holds 62914560 bytes, more than the limit of 1048576");
    }
}

}  // namespace
}  // namespace trelmo::containers
