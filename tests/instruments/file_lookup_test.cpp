// SPDX-License-Identifier: BSD-3-Clause
// Reading whole files and finding them under any case of their names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// What is not a regular file is refused unread, with its own reason; nothing blocks or fills memory.
TEST(ReadWholeFile, RefusesWhatIsNotARegularFileAndWhatIsTooLarge) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo.mtp").c_str(), 0600), 0);
    EXPECT_EQ(ReadWholeFile((dir / "fifo.mtp").c_str()).error, FileIsFifo);  // no writer: would hang
    EXPECT_EQ(ReadFileStart((dir / "fifo.mtp").c_str(), 16).error, FileIsFifo);
    EXPECT_EQ(ReadWholeFile("/dev/zero").error, FileIsDevice);  // would never end
    EXPECT_EQ(ReadWholeFile(dir.Path().c_str()).error, FileIsFolder);
    EXPECT_EQ(ReadWholeFile((dir / "missing").c_str()).error, ENOENT);
    EXPECT_STREQ(FileErrorText(FileIsFifo), "is a FIFO (named pipe), not a file");

    // A sparse 8 GB file that starts like a song: refused at once, and its start still readable.
    const std::string huge = dir.Write("huge.mtp", {'K', 'O', 'V', 1, 2, 3});
    ASSERT_EQ(truncate(huge.c_str(), off_t{8} << 30), 0);
    EXPECT_EQ(ReadWholeFile(huge.c_str()).error, FileTooLarge);
    FileBlock start = ReadFileStart(huge.c_str(), 4);
    ASSERT_TRUE(start.ok);
    EXPECT_EQ(Bytes(start.data, start.data + start.size), (Bytes{'K', 'O', 'V', 1}));
    ReleaseFileBlock(start);

    // The limit is inclusive; a file shorter than the start asked for gives what it has.
    dir.Write("six", Bytes(6, 9));
    FileBlock whole = ReadWholeFile((dir / "six").c_str(), 6);
    EXPECT_TRUE(whole.ok);
    ReleaseFileBlock(whole);
    EXPECT_EQ(ReadWholeFile((dir / "six").c_str(), 5).error, FileTooLarge);
    start = ReadFileStart((dir / "six").c_str(), 16);
    EXPECT_EQ(start.size, 6u);
    ReleaseFileBlock(start);
}

TEST(FindFile, NamesWithSeparatorsOrDotsNameNoFile) {
    EXPECT_TRUE(IsPlainFileName("PIANO.1"));
    EXPECT_TRUE(IsPlainFileName("..PIANO"));
    EXPECT_TRUE(IsPlainFileName(std::string("BASS\0/../x", 10)));  // the name ends at its NUL
    for (const char* name : {"../../private/X", "/abs/path", "A\\B", "..", ".", ""}) {
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    }
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
