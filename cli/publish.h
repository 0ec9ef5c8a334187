// SPDX-License-Identifier: BSD-3-Clause
// Putting a finished output file in place under its real name.
//
// A render must never leave a truncated file under the real name, and never replace what the user
// did not mean to replace. The file is written where nobody sees it and gets its name only when
// every byte has been written and has reached the disk.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace trelmo::cli {

// What an output path names before anything is written to it.
enum class TargetKind {
    Absent,       // nothing yet: a file is made for it
    RegularFile,  // replaced as a whole, with --force only
    Stream,       // a FIFO or a character device such as /dev/null: written into directly, as
                  // standard output is and as the shell's '>' does; nothing is replaced, and
                  // '-o /dev/null' or a named pipe to another program are ordinary uses
    Refused,      // a folder, a block device, a socket or a symbolic link: never an audio file,
                  // and replacing one (a link in /dev, a disk) does harm that --force never meant
};

struct TargetCheck {
    TargetKind kind;
    std::string reason;  // for Refused: why, in words that complete "<target>: "
};

TargetCheck CheckTarget(const std::string& target);

// A file-size limit (RLIMIT_FSIZE) then fails a write with EFBIG, as a full disk fails it with
// ENOSPC, instead of killing the process with SIGXFSZ and leaving its files behind.
void IgnoreFileSizeSignal();

// The output file while it is written. It has no name at all where the file system allows that
// (O_TMPFILE), so that nothing is left behind whatever ends the process, SIGKILL included;
// elsewhere it has a hidden name beside the target that fits wherever the target's name fits.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();  // discards the file unless it was published
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file in the target's folder with the given permissions (and calls
    // IgnoreFileSizeSignal).
    bool Create(const std::string& target, mode_t mode, std::string& error);
    int Fd() const { return fd_; }

    // Makes sure every byte is on the disk (and, when expectedSize is given, that the file holds
    // exactly that many), then gives the file the target's name. Without force an existing target
    // is never replaced; with force only a regular file is, and never one that this process
    // published earlier (two songs of one name in one command). Closes the file either way.
    bool Publish(bool force, std::string& error, std::optional<uint64_t> expectedSize = std::nullopt);

    // Removes the file if it was not published.
    void Discard();

  private:
    bool LinkInPlace(bool force, std::string& error);

    int fd_ = -1;
    std::string target_;
    std::string hidden_;  // the temporary name; empty for a file that has none
};

// Opens a target of kind Stream for writing into it directly; -1 with error set when it cannot be
// opened or is no longer a FIFO or a character device.
int OpenStream(const std::string& target, std::string& error);

// The hidden name used beside a file named name when the file system cannot make a file without a
// name: never longer than nameMax bytes, so that it fits wherever name fits (up to the limit).
std::string HiddenName(const std::string& name, size_t nameMax);

}  // namespace trelmo::cli
