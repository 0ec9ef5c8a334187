// Reading whole files and finding them under any case of their names.
#include <gtest/gtest.h>

#include <filesystem>

#include "instruments/find_file.h"
#include "instruments/read_whole_file.h"
#include "tests/support/temp_dir.h"

namespace trelmo {
namespace {

using Bytes = std::vector<uint8_t>;
using test::InDirectory;
using test::TempDir;

TEST(ReadWholeFile, ReadsEveryByteOrFails) {
    TempDir dir;
    const Bytes content{1, 0, 255, 7};
    dir.Write("four", content);
    FileBlock block = ReadWholeFile((dir / "four").c_str());
    ASSERT_TRUE(block.ok);
    EXPECT_EQ(Bytes(block.data, block.data + block.size), content);
    ReleaseFileBlock(block);
    EXPECT_FALSE(block.ok);
    EXPECT_EQ(block.data, nullptr);

    // An empty file is an empty block, not a failure.
    dir.Write("empty", {});
    block = ReadWholeFile((dir / "empty").c_str());
    EXPECT_TRUE(block.ok);
    EXPECT_EQ(block.size, 0u);
    ReleaseFileBlock(block);

    EXPECT_FALSE(ReadWholeFile((dir / "missing").c_str()).ok);
    EXPECT_FALSE(ReadWholeFile(nullptr).ok);
    EXPECT_FALSE(ReadWholeFile(dir.Path().c_str()).ok);  // a folder holds no bytes to read
}

TEST(FindFile, FolderEndsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(FolderOf("D:\\SONGS\\TUNE.MTP"), "D:\\SONGS\\");
    EXPECT_EQ(FolderOf("/music/iigs/tune.mtp"), "/music/iigs/");
    EXPECT_EQ(FolderOf("a/b\\c"), "a/b\\");
    EXPECT_EQ(FolderOf("a\\b/c"), "a\\b/");
    EXPECT_EQ(FolderOf("songs/"), "songs/");
    EXPECT_EQ(FolderOf("TUNE.MTP"), "");
    EXPECT_EQ(FolderOf(""), "");
    // The first character is never examined.
    EXPECT_EQ(FolderOf("/TUNE.MTP"), "");
    EXPECT_EQ(FolderOf("\\"), "");
    EXPECT_EQ(FolderOf("//x"), "//");
}

TEST(FindFile, ExactNameFirstThenAnyCaseSortedByteByByte) {
    TempDir dir;
    dir.Write("Tune.W", {1});
    dir.Write("TUNE.W", {2});
    dir.Write("tune.w", {3});
    // The exact name wins even when another spelling sorts first.
    EXPECT_EQ(FindFileIgnoringCase(dir / "Tune.W"), dir / "Tune.W");
    // Otherwise the matching name that sorts first: upper-case letters come before lower-case ones.
    EXPECT_EQ(FindFileIgnoringCase(dir / "tUNE.w"), dir / "TUNE.W");
    std::filesystem::remove(dir / "TUNE.W");
    EXPECT_EQ(FindFileIgnoringCase(dir / "tUNE.w"), dir / "Tune.W");
    // Only letters are folded, and the whole name must match.
    dir.Write("A_B", {4});
    EXPECT_EQ(FindFileIgnoringCase(dir / "a_b"), dir / "A_B");
    EXPECT_EQ(FindFileIgnoringCase(dir / "A-B"), "");
    EXPECT_EQ(FindFileIgnoringCase(dir / "tune"), "");
    EXPECT_EQ(FindFileIgnoringCase(dir / "tune.w2"), "");
    // Folders are not files, under any case.
    std::filesystem::create_directory(dir / "SUB.W");
    EXPECT_EQ(FindFileIgnoringCase(dir / "sub.w"), "");
    EXPECT_EQ(FindFileIgnoringCase(dir / "SUB.W"), "");
    // A folder that does not exist, and a path that names no file.
    EXPECT_EQ(FindFileIgnoringCase(dir / "nowhere/tune.w"), "");
    EXPECT_EQ(FindFileIgnoringCase(dir.Path() + "/"), "");
    EXPECT_EQ(FindFileIgnoringCase(""), "");
    // Without a folder the current directory is searched, and the name is returned without one.
    InDirectory here(dir.Path());
    EXPECT_EQ(FindFileIgnoringCase("a_B"), "A_B");
}

}  // namespace
}  // namespace trelmo
