// SPDX-License-Identifier: BSD-3-Clause
#include "cli/publish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace trelmo::cli {

namespace {

// The files this process has published, by device and inode, so that a later song of the same
// command never replaces an earlier one's file under any spelling of its path.
std::set<std::pair<dev_t, ino_t>>& Published() {
    static std::set<std::pair<dev_t, ino_t>> files;
    return files;
}

// Songs rendered at once publish from threads of their own: the check against the files published
// so far and the naming that follows it must not interleave, or two songs of one name could both
// pass the check.
std::mutex PublishingLock;

std::string FolderOf(const std::string& target) {
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos) return ".";
    return target.substr(0, slash == 0 ? 1 : slash);
}

std::string NameOf(const std::string& target) {
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

std::string Text(int error) {
    return std::strerror(error);
}

// Why an existing target must not be replaced, or empty when it may be (with --force).
std::string ReplaceRefusal(const std::string& target) {
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) return std::string();
    if (!S_ISREG(info.st_mode)) return "is not a regular file; not replaced";
    if (Published().count({info.st_dev, info.st_ino}) != 0) {
        return "was written earlier by this command (two songs of one name?); not overwritten";
    }
    return std::string();
}

// Gives the unnamed file behind fd the name path; the link fails with EEXIST when path exists.
bool LinkUnnamed(int fd, const std::string& path) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    // Without /proc only the privileged form is left.
    if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return false;
    return linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

int CreateHidden(const std::string& target, mode_t mode, std::string& hidden) {
    const std::string folder = FolderOf(target);
    const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    hidden = folder + "/" + HiddenName(NameOf(target), nameMax > 0 ? static_cast<size_t>(nameMax) : 255);
    const int fd = mkostemp(hidden.data(), O_CLOEXEC);
    if (fd >= 0) fchmod(fd, mode);
    return fd;
}

// Gives the finished hidden file the target's name; without force, never over an existing file
// (false with errno EEXIST). Used where the file system cannot make unnamed files.
bool RenameInPlace(const std::string& temporary, const std::string& target, bool force) {
    struct stat info {};
    const bool known = stat(temporary.c_str(), &info) == 0;
    struct stat existing {};
    if (force) {
        if (!ReplaceRefusal(target).empty()) {
            errno = EEXIST;
            return false;
        }
        if (rename(temporary.c_str(), target.c_str()) != 0) return false;
    } else if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) return false;
        // File systems without the atomic form: check, then rename.
        if (lstat(target.c_str(), &existing) == 0) {
            errno = EEXIST;
            return false;
        }
        if (rename(temporary.c_str(), target.c_str()) != 0) return false;
    }
    if (known) Published().insert({info.st_dev, info.st_ino});
    return true;
}

}  // namespace

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

TargetCheck CheckTarget(const std::string& target) {
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) return {TargetKind::Absent, std::string()};
    if (S_ISREG(info.st_mode)) return {TargetKind::RegularFile, std::string()};
    if (S_ISLNK(info.st_mode)) {
        // A link to a stream is followed as the shell follows /dev/stdout; a link to anything
        // else would be replaced itself, not the file it points to.
        if (stat(target.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
            return {TargetKind::Stream, std::string()};
        }
        return {TargetKind::Refused, "is a symbolic link; not replaced"};
    }
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) return {TargetKind::Stream, std::string()};
    if (S_ISDIR(info.st_mode)) return {TargetKind::Refused, "is a folder"};
    if (S_ISBLK(info.st_mode)) return {TargetKind::Refused, "is a block device; not written"};
    return {TargetKind::Refused, "is not a regular file; not replaced"};
}

std::string HiddenName(const std::string& name, size_t nameMax) {
    // "." + name + ".XXXXXX" adds 8 bytes; the name gives up its end to stay within the limit.
    const size_t room = nameMax > 8 ? nameMax - 8 : 0;
    // Appended piece by piece: "." + std::string trips GCC 12's -Wrestrict in optimised builds.
    std::string hidden(1, '.');
    hidden.append(name, 0, name.size() < room ? name.size() : room);
    hidden.append(".XXXXXX");
    return hidden;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Create(const std::string& target, mode_t mode, std::string& error) {
    Discard();
    IgnoreFileSizeSignal();
    target_ = target;
    if (NameOf(target).empty()) {
        error = Text(EISDIR);
        return false;
    }
    fd_ = open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0) {
        fchmod(fd_, mode);
        return true;
    }
    // File systems without unnamed files answer with one of these; anything else is the reason.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = Text(errno);
        return false;
    }
    fd_ = CreateHidden(target, mode, hidden_);
    if (fd_ < 0) {
        error = Text(errno);
        hidden_.clear();
        return false;
    }
    return true;
}

bool OutputFile::Publish(bool force, std::string& error, std::optional<uint64_t> expectedSize) {
    if (fd_ < 0) {
        error = Text(EBADF);
        return false;
    }
    // Write errors that the file system reports late (a full disk on some, a failed device)
    // come out here, before the file has a name.
    struct stat info {};
    bool ok = fstat(fd_, &info) == 0;
    if (!ok) error = Text(errno);
    if (ok && fsync(fd_) != 0 && errno != EINVAL) {  // EINVAL: a file that cannot be synced
        error = Text(errno);
        ok = false;
    }
    if (ok && expectedSize && static_cast<uint64_t>(info.st_size) != *expectedSize) {
        error = "the file holds fewer bytes than were written";
        ok = false;
    }
    const std::lock_guard<std::mutex> naming(PublishingLock);
    if (ok && force && !(error = ReplaceRefusal(target_)).empty()) ok = false;
    if (ok && hidden_.empty()) ok = LinkInPlace(force, error);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && ok) {
        error = Text(errno);
        ok = false;
    }
    if (!hidden_.empty()) {
        if (ok && !RenameInPlace(hidden_, target_, force)) {
            error = errno == EEXIST ? "already exists; not overwritten" : Text(errno);
            ok = false;
        }
        if (!ok) unlink(hidden_.c_str());
        hidden_.clear();
    }
    if (ok) Published().insert({info.st_dev, info.st_ino});
    return ok;
}

bool OutputFile::LinkInPlace(bool force, std::string& error) {
    if (LinkUnnamed(fd_, target_)) return true;
    if (errno != EEXIST) {
        error = Text(errno);
        return false;
    }
    if (!force) {
        error = "already exists; not overwritten";
        return false;
    }
    // Replace the existing file in one step: link under a fresh hidden name, then rename that over
    // the target. mkostemp only finds the free name; the link takes it.
    std::string hidden;
    const int probe = CreateHidden(target_, 0600, hidden);
    bool ok = probe >= 0;
    if (ok) {
        close(probe);
        unlink(hidden.c_str());
        ok = LinkUnnamed(fd_, hidden);
    }
    if (ok && rename(hidden.c_str(), target_.c_str()) != 0) {
        const int reason = errno;
        unlink(hidden.c_str());
        errno = reason;
        ok = false;
    }
    if (!ok) error = Text(errno);
    return ok;
}

int OpenStream(const std::string& target, std::string& error) {
    // No O_CREAT: if the FIFO or device was swapped for nothing meanwhile, no file is made here.
    const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) return fd;
    error = fd < 0 ? Text(errno) : "is not a FIFO or a character device any more; not written";
    if (fd >= 0) close(fd);
    return -1;
}

void OutputFile::Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!hidden_.empty()) unlink(hidden_.c_str());
    hidden_.clear();
}

}  // namespace trelmo::cli
