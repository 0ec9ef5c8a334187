// SPDX-License-Identifier: BSD-3-Clause
// Songs inside containers through the C API: the shared image, archives that nulib2, zip and gzip
// make from it, the real ShrinkIt archives, and hostile nesting.
#include "containers/open_container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/temp_dir.h"
#include "tools/writers/prodos_writer.h"
#include "trelmo/trelmo.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string Images = TRELMO_CORPUS_DIR "/images/", Wild = TRELMO_CORPUS_DIR "/wild/";
constexpr size_t Frames = 44100 * 20;  // 20 s reach every instrument of ECHO.MUS

void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

Bytes Render(trelmo_engine* engine, size_t frames) {
    frames = std::min<size_t>(frames, trelmo_length_frames(engine));
    std::vector<int16_t> samples(frames * 2);
    samples.resize(trelmo_render(engine, samples.data(), frames) * 2);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    return Bytes(bytes, bytes + samples.size() * 2);
}

int MissingCount(trelmo_engine* engine) {
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    return trelmo_get_song_info(engine, &info) == TRELMO_OK ? info.missing_count : -1;
}

Bytes RenderLoose(const std::string& path, size_t frames) {
    trelmo_engine* engine = trelmo_create();
    EXPECT_EQ(trelmo_load_file(engine, path.c_str()), TRELMO_OK);
    Bytes out = Render(engine, frames);
    trelmo_destroy(engine);
    return out;
}

// The one song of the container (at path, opened from memory when asked), rendered.
Bytes RenderOnlySong(const std::string& path, const std::string& inner, size_t frames,
                     bool fromMemory = false) {
    trelmo_container* container = trelmo_container_create();
    if (fromMemory) {
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(trelmo_container_open_memory(container, bytes.data(), bytes.size(), "x"), TRELMO_OK);
    } else {
        EXPECT_EQ(trelmo_container_open_file(container, path.c_str()), TRELMO_OK)
            << trelmo_container_last_error(container);
    }
    EXPECT_EQ(trelmo_container_song_count(container), 1) << path;
    trelmo_container_song song;
    TRELMO_INIT_RECORD(song);
    Bytes out;
    if (trelmo_container_get_song(container, 0, &song) == TRELMO_OK) {
        EXPECT_EQ(song.path, inner);
        EXPECT_EQ(song.kind, TRELMO_KIND_SOUNDSMITH);
        EXPECT_EQ(trelmo_container_find_song(container, "blue.helmet/INTRO/echo.mus"),
                  inner.find("BLUE") == 0 ? 0 : -1);
        trelmo_engine* engine = trelmo_create();
        EXPECT_EQ(trelmo_container_load(container, 0, engine), TRELMO_OK);
        EXPECT_EQ(MissingCount(engine), 0) << path;
        EXPECT_EQ(std::string(trelmo_get_metadata(engine, "container")), fromMemory ? "x" : path);
        out = Render(engine, frames);
        trelmo_destroy(engine);
    }
    trelmo_container_destroy(container);
    return out;
}

TEST(ContainerSongs, TheImagesSongRendersAsTheLooseFileDoesWholeFromAFileOrFromMemory) {
    const std::string image = Images + "BLUE_HELMET.FTA";
    const Bytes loose = RenderLoose(Wild + "ECHO.MUS", SIZE_MAX);
    EXPECT_EQ(loose.size(), 6635520u * 4);
    EXPECT_TRUE(RenderOnlySong(image, "BLUE.HELMET/INTRO/ECHO.MUS", SIZE_MAX) == loose);
    EXPECT_TRUE(RenderOnlySong(image, "BLUE.HELMET/INTRO/ECHO.MUS", Frames, true) ==
                Bytes(loose.begin(), loose.begin() + Frames * 4));

    trelmo_container* container = trelmo_container_create();
    ASSERT_EQ(trelmo_container_open_file(container, image.c_str()), TRELMO_OK);
    trelmo_container_song song;
    TRELMO_INIT_RECORD(song);
    ASSERT_EQ(trelmo_container_get_song(container, 0, &song), TRELMO_OK);
    EXPECT_EQ(song.file_type, 0xD5);
    EXPECT_EQ(song.aux_type, 0x0007);
    EXPECT_EQ(song.bytes, 30198u);
    song.size = 4;
    EXPECT_EQ(trelmo_container_get_song(container, 0, &song), TRELMO_ERROR_ARGUMENT);
    EXPECT_EQ(trelmo_container_get_song(container, 1, &song), TRELMO_ERROR_ARGUMENT);
    trelmo_container_destroy(container);
}

TEST(ContainerSongs, ArchivesOfTheSongAndOfTheImagePlayTheSame) {
    trelmo::test::TempDir dir;
    const Bytes loose = RenderLoose(Wild + "ECHO.MUS", Frames);
    const std::string d = dir.Path() + "/";
    // nulib2 -e takes ProDOS types from the names' #xxyyyy suffixes; -k stores a disk as a disk record.
    Shell("mkdir " + d + "f && cp " + Wild + "ECHO.MUS " + d + "f/ECHO.MUS#d50007 && cp " + Wild +
          "ECHO.WAVE " + d + "f/ECHO.WAVE#d80002 && cd " + d +
          "f && " TRELMO_NULIB2 " -a -e ../songs.shk ECHO.MUS#d50007 ECHO.WAVE#d80002 >/dev/null");
    EXPECT_TRUE(RenderOnlySong(d + "songs.shk", "ECHO.MUS", Frames) == loose);
    // The archive as a file on a disk: known by its first bytes, then read whole and opened.
    trelmo::writers::ProdosVolumeWriter writer("ARCHIVES", 280);
    std::ifstream in(d + "songs.shk", std::ios::binary);
    writer.AddFile(writer.AddFolder(0, "SHK"), "SONGS.SHK", Bytes(std::istreambuf_iterator<char>(in), {}));
    std::ofstream(d + "archives.po", std::ios::binary)
        .write(reinterpret_cast<const char*>(writer.Image().data()),
               static_cast<std::streamsize>(writer.Image().size()));
    EXPECT_TRUE(RenderOnlySong(d + "archives.po", "ARCHIVES/SHK/SONGS.SHK/ECHO.MUS", Frames) == loose);
    Shell("dd if=" + Images + "BLUE_HELMET.FTA of=" + d + "disk.po bs=64 skip=1 status=none && cd " + d +
          " && " TRELMO_NULIB2 " -a -k disk.shk disk.po >/dev/null");
    EXPECT_TRUE(RenderOnlySong(d + "disk.shk", "disk.po/BLUE.HELMET/INTRO/ECHO.MUS", Frames) == loose);
    if (!trelmo::containers::ZipSupported()) GTEST_SKIP() << "zip is not supported in this build";
    Shell("cd " + d + " && cp " + Images +
          "BLUE_HELMET.FTA game.2mg && zip -q game.zip game.2mg disk.shk && gzip -k game.2mg");
    EXPECT_TRUE(RenderOnlySong(d + "game.2mg.gz", "game.2mg/BLUE.HELMET/INTRO/ECHO.MUS", Frames) == loose);
    trelmo_container* container = trelmo_container_create();
    ASSERT_EQ(trelmo_container_open_file(container, (d + "game.zip").c_str()), TRELMO_OK);
    EXPECT_EQ(trelmo_container_song_count(container), 2);
    EXPECT_EQ(trelmo_container_find_song(container, "DISK.SHK/DISK.PO/BLUE.HELMET/INTRO/ECHO.MUS"), 1);
    trelmo_container_destroy(container);
    // The song never reaches a file outside its container, though one by the right name lies beside it.
    Shell("cd " + d + " && cp " + Wild + "ECHO.MUS " + Wild + "ECHO.WAVE . && zip -q alone.zip ECHO.MUS");
    container = trelmo_container_create();
    ASSERT_EQ(trelmo_container_open_file(container, (d + "alone.zip").c_str()), TRELMO_OK);
    trelmo_engine* engine = trelmo_create();
    ASSERT_EQ(trelmo_container_load(container, 0, engine), TRELMO_OK);
    EXPECT_EQ(MissingCount(engine), 9);
    trelmo_destroy(engine);
    trelmo_container_destroy(container);
}

TEST(ContainerSongs, RealShrinkItArchivesListNoSongsAndNoErrorAndOtherBytesAreNoContainer) {
    for (const char* name : {"BLACKSPRING.V3.SHK", "NETWORK.SHK", "ProARC.SHK", "SRI.LANKA.shk"}) {
        trelmo_container* container = trelmo_container_create();
        EXPECT_EQ(trelmo_container_open_file(container, (Images + name).c_str()), TRELMO_OK) << name;
        EXPECT_EQ(trelmo_container_song_count(container), 0) << name;
        EXPECT_EQ(trelmo_container_skipped_count(container), 0) << trelmo_container_skipped(container, 0);
        trelmo_container_destroy(container);
    }
    trelmo_container* container = trelmo_container_create();
    EXPECT_EQ(trelmo_container_open_file(container, (Wild + "ECHO.MUS").c_str()),
              TRELMO_ERROR_NOT_A_CONTAINER);
    EXPECT_EQ(trelmo_container_open_file(container, (Wild + "missing").c_str()), TRELMO_ERROR_OPEN);
    EXPECT_NE(std::string(trelmo_container_last_error(container)).find("missing: "), std::string::npos);
    trelmo_container_destroy(container);
}

TEST(ContainerSongs, HostileNestingAndBombsAreBounded) {
    if (!trelmo::containers::ZipSupported()) GTEST_SKIP() << "zip is not supported in this build";
    trelmo::test::TempDir dir;
    const std::string d = dir.Path() + "/";
    // A zip of a zip of ... eight deep, the song at the bottom.
    std::string inner = "ECHO.MUS";
    Shell("cp " + Wild + "ECHO.MUS " + d);
    for (int level = 1; level <= 8; ++level) {
        const std::string outer = "z" + std::to_string(level) + ".zip";
        Shell("cd " + d + " && zip -q " + outer + " " + inner);
        inner = outer;
    }
    trelmo_container* container = trelmo_container_create();
    ASSERT_EQ(trelmo_container_open_file(container, (d + inner).c_str()), TRELMO_OK);
    EXPECT_EQ(trelmo_container_song_count(container), 0);
    ASSERT_EQ(trelmo_container_skipped_count(container), 1);
    EXPECT_NE(std::string(trelmo_container_skipped(container, 0)).find("nested more than"),
              std::string::npos);
    // Twenty thousand files before the song: each is read once in turn, not from the start again.
    // An entry that states 5 bytes and unpacks to a megabyte is stopped at its claim.
    std::ofstream(d + "write.py") << R"(import zipfile, struct
with zipfile.ZipFile('many.zip', 'w') as z:
    for i in range(20000): z.writestr('F%d' % i, b'')
    z.write('ECHO.MUS')
with zipfile.ZipFile('lying.zip', 'w', zipfile.ZIP_DEFLATED) as z: z.writestr('BIG', bytes(1 << 20))
b = bytearray(open('lying.zip', 'rb').read())
for sig, at in ((b'PK\3\4', 22), (b'PK\1\2', 24)): struct.pack_into('<I', b, b.find(sig) + at, 5)
open('lying.zip', 'wb').write(b)
)";
    Shell("cd " + d + " && python3 write.py");
    ASSERT_EQ(trelmo_container_open_file(container, (d + "many.zip").c_str()), TRELMO_OK);
    EXPECT_EQ(trelmo_container_find_song(container, "ECHO.MUS"), 0);
    ASSERT_EQ(trelmo_container_open_file(container, (d + "lying.zip").c_str()), TRELMO_OK);
    ASSERT_EQ(trelmo_container_skipped_count(container), 1);
    EXPECT_EQ(std::string(trelmo_container_skipped(container, 0)),
              "BIG: it unpacks to more than the 5 bytes it states");
    // Five files of 60 MB of zeros: the listing stops unpacking at its bound and says so.
    // Written by streaming, so that the zeros never touch the disk.
    Shell("python3 -c \"import zipfile; z = zipfile.ZipFile('" + d +
          "bomb.zip', 'w', zipfile.ZIP_DEFLATED)\n"
          "for i in range(5):\n  with z.open('zero%d' % i, 'w', force_zip64=True) as f:\n"
          "    [f.write(bytes(1 << 20)) for _ in range(60)]\nz.close()\"");
    ASSERT_EQ(trelmo_container_open_file(container, (d + "bomb.zip").c_str()), TRELMO_OK);
    ASSERT_GE(trelmo_container_skipped_count(container), 1);
    EXPECT_NE(std::string(trelmo_container_skipped(container, 0)).find("more than 256 MB"),
              std::string::npos);
    trelmo_container_destroy(container);
}

}  // namespace
