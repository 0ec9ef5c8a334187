// SPDX-License-Identifier: BSD-3-Clause
// Putting output files in place: what is left behind and what is replaced.
#include "cli/publish.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/cli/trelmo_runner.h"
#include "tests/support/temp_dir.h"

namespace trelmo::cli {
namespace {

using test::FolderEntries;
using test::TempDir;

std::string Publishes(const std::string& target, const std::string& bytes, bool force) {
    OutputFile file;
    std::string error;
    if (!file.Create(target, 0644, error)) return error;
    if (write(file.Fd(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        return "short write";
    return file.Publish(force, error, bytes.size()) ? "" : error;
}

// Runs body in a child process; its exit status, or 128 + the signal that ended it.
template <typename Body>
int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Publish, LongNamesFitAndNothingIsLeftBehindEvenOnSigkill) {
    TempDir dir;
    const std::string longest(255, 'n');
    EXPECT_EQ(Publishes(dir / longest, "RIFF", false), "");
    // Where files cannot be made without a name, the hidden name fits wherever the target's does.
    EXPECT_EQ(HiddenName(longest, 255).size(), 255u);
    EXPECT_EQ(HiddenName("a.wav", 255), ".a.wav.XXXXXX");

    EXPECT_EQ(InChild([&] {
                  OutputFile file;
                  std::string error;
                  file.Create(dir / "killed.wav", 0644, error);
                  return write(file.Fd(), "RIFF", 4) == 4 ? raise(SIGKILL) : 1;
              }),
              128 + SIGKILL);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{longest});
}

TEST(Publish, WhatIsNotARegularFileIsNeverReplaced) {
    TempDir dir;
    const std::string fifo = dir / "fifo.wav", folder = dir / "folder.wav", link = dir / "link.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink("old.wav", link.c_str()), 0);
    EXPECT_EQ(CheckTarget(fifo).kind, TargetKind::Stream);
    EXPECT_EQ(CheckTarget("/dev/null").kind, TargetKind::Stream);
    EXPECT_EQ(CheckTarget(folder).kind, TargetKind::Refused);
    EXPECT_EQ(CheckTarget(link).kind, TargetKind::Refused);
    EXPECT_EQ(CheckTarget(dir / "new.wav").kind, TargetKind::Absent);

    // Even when asked to replace it, a FIFO stays a FIFO.
    EXPECT_EQ(Publishes(fifo, "RIFF", true), "is not a regular file; not replaced");
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
}  // namespace trelmo::cli
