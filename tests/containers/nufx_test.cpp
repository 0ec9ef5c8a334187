// NuFX, Binary II, zip and gzip: real ShrinkIt archives against nulib2, archives that nulib2 makes
// from the corpus, and damaged or hostile archives.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "containers/binary_ii.h"
#include "containers/nufx_archive.h"
#include "containers/shrinkit_lzw.h"
#include "containers/zip_archive.h"
#include "tests/support/temp_dir.h"

namespace trelmo::containers {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string Images = TRELMO_CORPUS_DIR "/images/";
const std::string Wild = TRELMO_CORPUS_DIR "/wild/";

Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Standard output of a shell command.
Bytes Shell(const std::string& command) {
    Bytes out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    for (int c; (c = fgetc(pipe)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    pclose(pipe);
    return out;
}

std::string Nulib2(const std::string& arguments) { return std::string(TRELMO_NULIB2) + " " + arguments; }

Bytes ReadEntry(const Container& container, size_t index, size_t limit = MaxEntryBytes) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(container.Read(index, limit, out, error)) << container.Entries()[index].path << ": " << error;
    return out;
}

std::string ReadError(const Container& container, size_t index, size_t limit = MaxEntryBytes) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(container.Read(index, limit, out, error));
    EXPECT_TRUE(out.empty());
    return error;
}

// The first record of an archive made here: where its thread headers and its first thread's bytes are.
struct FirstRecord {
    size_t threads = 0, data = 0;
    explicit FirstRecord(const Bytes& a) {
        const size_t attributes = a[54] | a[55] << 8;
        threads = 48 + attributes + (a[48 + attributes - 2] | a[48 + attributes - 1] << 8);
        data = threads + 16 * a[58];
    }
    // Rewrites the record header's CRC after a field was changed on purpose.
    void Seal(Bytes& a) const {
        const uint16_t crc = Crc16Ccitt(ByteView{a.data() + 54, data - 54}, 0);
        a[52] = static_cast<uint8_t>(crc), a[53] = static_cast<uint8_t>(crc >> 8);
    }
};

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes BinaryIIHeader(const std::string& name, uint8_t type, uint16_t aux, uint8_t storage, uint32_t length,
                     uint8_t flags = 0) {
    Bytes header(BinaryIIHeaderSize);
    header[0] = 0x0A, header[1] = 0x47, header[2] = 0x4C, header[0x12] = 0x02;
    header[4] = type, header[5] = static_cast<uint8_t>(aux), header[6] = static_cast<uint8_t>(aux >> 8);
    header[7] = storage, header[0x7D] = flags;
    for (size_t i = 0; i < 3; ++i) header[0x14 + i] = static_cast<uint8_t>(length >> (8 * i));
    header[0x17] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), header.begin() + 0x18);
    return header;
}

std::unique_ptr<Container> OpenNufx(Bytes bytes) {
    std::string error;
    auto container = OpenNufxArchive(std::move(bytes), error);
    EXPECT_TRUE(container) << error;
    return container;
}

TEST(NufxArchive, EveryRecordOfTheRealArchivesUnpacksAsNulib2Does) {
    // LZW/1 (P8 ShrinkIt, with stored records among them) and LZW/2 (GS/ShrinkIt, folders).
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
        Shell(in + Nulib2(std::string(flags) + " out.shk 'ECHO.MUS#d50007' 'ECHO.WAVE#c10000' >/dev/null"));
        Bytes archive = Slurp(dir / "out.shk");
        std::filesystem::remove(dir / "out.shk");
        // The same archive wrapped in Binary II (.bxy) lists the same.
        Bytes wrapped = BinaryIIHeader("OUT.BXY", 0xE0, 0x8002, 1, static_cast<uint32_t>(archive.size()));
        wrapped.insert(wrapped.end(), archive.begin(), archive.end());
        for (Bytes* bytes : {&archive, &wrapped}) {
            auto container = OpenNufx(*bytes);
            ASSERT_TRUE(container);
            ASSERT_EQ(container->Entries().size(), 2u) << flags;
            const Entry& first = container->Entries()[0];
            EXPECT_EQ(first.path, "ECHO.MUS");
            EXPECT_EQ(first.fileType, 0xD5);
            EXPECT_EQ(first.auxType, 0x0007);
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
    ASSERT_TRUE(disk);
    ASSERT_EQ(disk->Entries().size(), 1u);
    EXPECT_TRUE(disk->Entries()[0].isVolume);
    EXPECT_EQ(disk->Entries()[0].size, 819200u);
    EXPECT_EQ(ReadEntry(*disk, 0), blocks);

    // Deflate, which ShrinkIt never wrote, is named and refused; the LZW/2 record beside it reads.
    Shell(in + Nulib2("-aze mixed.shk 'ECHO.MUS#d50007' >/dev/null") + " && " +
        Nulib2("-ae mixed.shk 'ECHO.WAVE#c10000' >/dev/null"));
    auto mixed = OpenNufx(Slurp(dir / "mixed.shk"));
    ASSERT_TRUE(mixed);
    ASSERT_EQ(mixed->Entries().size(), 2u);
    EXPECT_EQ(mixed->Entries()[0].problem, "packed with Deflate, which is not supported");
    EXPECT_EQ(ReadError(*mixed, 0), "packed with Deflate, which is not supported");
    EXPECT_EQ(ReadEntry(*mixed, 1), bank);
}

TEST(BinaryII, ListsFilesWithTheirTypesSkipsFoldersAndNamesSqueeze) {
    const Bytes song = Slurp(Wild + "ECHO.MUS");
    Bytes archive = BinaryIIHeader("SONGS", 0x0F, 0, 0x0D, 1024);  // BLU leaves a length on folders
    const Bytes file = BinaryIIHeader("SONGS/ECHO.MUS", 0xD5, 0x0007, 2, static_cast<uint32_t>(song.size()));
    archive.insert(archive.end(), file.begin(), file.end());
    archive.insert(archive.end(), song.begin(), song.end());
    archive.resize((archive.size() + 127) / 128 * 128);
    const Bytes squeezed = BinaryIIHeader("NOTES.QQ", 0x04, 0, 1, 3);
    archive.insert(archive.end(), squeezed.begin(), squeezed.end());
    archive.resize(archive.size() + 128);

    std::string error;
    auto container = OpenBinaryII(archive, error);
    ASSERT_TRUE(container) << error;
    ASSERT_EQ(container->Entries().size(), 2u);
    EXPECT_EQ(container->Entries()[0].path, "SONGS/ECHO.MUS");
    EXPECT_EQ(container->Entries()[0].fileType, 0xD5);
    EXPECT_EQ(ReadEntry(*container, 0), song);
    EXPECT_EQ(ReadError(*container, 1), "packed with Squeeze, which is not supported");
}

#ifdef TRELMO_WITH_LIBARCHIVE
TEST(ZipArchive, ZipAndGzipGiveTheirFilesWithinTheLimit) {
    test::TempDir dir;
    const Bytes song = Slurp(Wild + "ECHO.MUS"), bank = Slurp(Wild + "ECHO.WAVE");
    Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED); "
        "z.write(sys.argv[2],'SONGS/ECHO.MUS'); z.writestr('SONGS/',''); z.write(sys.argv[3],'../../ECHO.WAVE')\" " +
        Quote(dir / "songs.zip") + " " + Quote(Wild + "ECHO.MUS") + " " + Quote(Wild + "ECHO.WAVE"));
    std::string error;
    auto zip = OpenZipArchive(Slurp(dir / "songs.zip"), "songs.zip", error);
    ASSERT_TRUE(zip) << error;
    ASSERT_EQ(zip->Entries().size(), 2u);
    EXPECT_EQ(zip->Entries()[0].path, "SONGS/ECHO.MUS");
    EXPECT_EQ(zip->Entries()[1].path, "ECHO.WAVE");  // never above the archive
    EXPECT_EQ(ReadEntry(*zip, 0), song);
    EXPECT_EQ(ReadEntry(*zip, 1), bank);
    EXPECT_EQ(ReadError(*zip, 1, 1000), "it holds 66580 bytes, more than the limit of 1000");

    // gzip without a stored name takes the file's own; one that lies about its length (a bomb)
    // stops at the limit.
    Shell("gzip -nc " + Quote(Wild + "ECHO.WAVE") + " > " + Quote(dir / "ECHO.WAVE.gz"));
    auto gz = OpenZipArchive(Slurp(dir / "ECHO.WAVE.gz"), "ECHO.WAVE.gz", error);
    ASSERT_TRUE(gz) << error;
    ASSERT_EQ(gz->Entries().size(), 1u);
    EXPECT_EQ(gz->Entries()[0].path, "ECHO.WAVE");
    EXPECT_EQ(gz->Entries()[0].size, bank.size());
    EXPECT_EQ(ReadEntry(*gz, 0), bank);
    Shell("head -c 70000000 /dev/zero | tr '\\0' A | gzip -c > " + Quote(dir / "bomb.gz"));
    Bytes bomb = Slurp(dir / "bomb.gz");
    PutU32(bomb, bomb.size() - 4, 100);
    auto bombed = OpenZipArchive(bomb, "bomb.gz", error);
    ASSERT_TRUE(bombed) << error;
    EXPECT_EQ(ReadError(*bombed, 0), "it unpacks to more than the limit of " + std::to_string(MaxEntryBytes) + " bytes");
}
#endif

TEST(ContainersHostile, DamagedRecordsAreSkippedAndNothingReachesBeyondTheLimits) {
    const Bytes real = Slurp(Images + "BLACKSPRING.V3.SHK");
    auto whole = OpenNufx(real);
    ASSERT_TRUE(whole);
    // Truncated anywhere: what still lists reads back right or says why not.
    for (size_t length = 0; length < real.size(); length += 61) {
        std::string error;
        auto cut = OpenNufxArchive(Bytes(real.begin(), real.begin() + static_cast<std::ptrdiff_t>(length)), error);
        if (!cut) continue;
        for (size_t i = 0; i < cut->Entries().size(); ++i) {
            Bytes out;
            if (cut->Read(i, MaxEntryBytes, out, error)) EXPECT_EQ(out, ReadEntry(*whole, i)) << length;
            else EXPECT_FALSE(error.empty());
        }
    }
    // A record whose signature is gone is skipped; one whose header fails its CRC is named so.
    Bytes damaged = Slurp(Images + "NETWORK.SHK");
    damaged[48] = 'X';
    auto skipped = OpenNufx(damaged);
    ASSERT_TRUE(skipped);
    EXPECT_EQ(skipped->Entries().size(), 10u);
    EXPECT_EQ(skipped->Entries()[0].path, "ACOS.ALARM.S");
    Bytes badHeader = real;
    badHeader[0x50] ^= 1;  // a date in the first record
    EXPECT_EQ(OpenNufx(badHeader)->Entries()[0].problem, "its record header is damaged (CRC mismatch)");

    // LZW/1's own CRC.
    Bytes badCrc = real;
    badCrc[FirstRecord(real).data] ^= 1;
    EXPECT_EQ(ReadError(*OpenNufx(badCrc), 0), "the unpacked data fails its CRC check");

    // A record that claims 4 GB, and one that claims 60 MB from 30 KB of LZW/2 (a bomb).
    test::TempDir dir;
    dir.Write("ECHO.MUS", Slurp(Wild + "ECHO.MUS"));
    Shell("cd " + Quote(dir.Path()) + " && " + Nulib2("-a song.shk ECHO.MUS >/dev/null"));
    const Bytes made = Slurp(dir / "song.shk");
    const FirstRecord record(made);
    for (uint32_t claim : {0xFFFFFFFFu, 60u << 20}) {
        Bytes bytes = made;
        for (size_t t = record.threads; t < record.data; t += 16) {
            if (bytes[t] == 2) PutU32(bytes, t + 8, claim);
        }
        record.Seal(bytes);
        auto container = OpenNufx(bytes);
        ASSERT_EQ(container->Entries().size(), 1u);
        const std::string error = ReadError(*container, 0);
        EXPECT_EQ(error, claim > MaxEntryBytes ? "it claims 4294967295 bytes, more than the limit of 67108864"
                                               : "the packed data ends early");
        EXPECT_EQ(ReadError(*container, 0, 1 << 20),
                  claim > MaxEntryBytes ? error : "it holds 62914560 bytes, more than the limit of 1048576");
    }

    // Random streams never unpack past the stated length, nor loop.
    std::mt19937 random(23);
    for (int round = 0; round < 400; ++round) {
        Bytes noise(static_cast<size_t>(random() % 3000));
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        Bytes out;
        std::string error;
        const size_t length = random() % 20000;
        const auto method = round % 2 ? ShrinkItMethod::Lzw1 : ShrinkItMethod::Lzw2;
        if (UnpackShrinkIt(ByteView{noise.data(), noise.size()}, method, length, out, error)) {
            EXPECT_EQ(out.size(), length);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

}  // namespace
}  // namespace trelmo::containers
