// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/read_whole_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace trelmo {

namespace {

FileBlock Failed(int error) {
    return FileBlock{nullptr, 0, false, error};
}

#ifndef _WIN32
// Why a file of this mode cannot be read as a song or an instrument; 0 for a regular file.
int RefusalOf(mode_t mode) {
    if (S_ISREG(mode)) return 0;
    if (S_ISDIR(mode)) return FileIsFolder;
    if (S_ISFIFO(mode)) return FileIsFifo;
    if (S_ISSOCK(mode)) return FileIsSocket;
    return FileIsDevice;  // character and block devices, and anything stranger
}

// Opens a regular file for reading and tells its size. The name is looked at before it is opened,
// so that a device is never opened at all (opening one can rewind a tape or hang up a line); the
// open itself never waits (a FIFO swapped in meanwhile opens at once) and the open file is checked
// again, which is what counts.
int OpenRegular(const char* path, off_t& size, int& error) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        error = errno;
        return -1;
    }
    if ((error = RefusalOf(info.st_mode)) != 0) return -1;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (fstat(fd, &info) != 0 || (error = RefusalOf(info.st_mode)) != 0) {
        if (error == 0) error = errno;
        close(fd);
        return -1;
    }
    size = info.st_size;
    return fd;
}

// Reads count bytes unless the file ends first; the number read, or -1 with error set.
ptrdiff_t ReadFully(int fd, uint8_t* data, size_t count, int& error) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, data + got, count - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return -1;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<ptrdiff_t>(got);
}

// Reads the file whole (wholeFile) or only up to count bytes, into the room that room.Get(bytes)
// gives (null when there is none); on failure room.Drop() gives it back.
template <typename Room>
FileBlock Read(const char* path, size_t count, bool wholeFile, Room& room) {
    if (path == nullptr) return Failed(0);
    off_t fileSize = 0;
    int error = 0;
    const int fd = OpenRegular(path, fileSize, error);
    if (fd < 0) return Failed(error);
    const auto size = static_cast<unsigned long long>(fileSize < 0 ? 0 : fileSize);
    if (wholeFile && size > count) {
        close(fd);
        return Failed(FileTooLarge);
    }
    const size_t bytes =
        wholeFile ? static_cast<size_t>(size) : (size < count ? static_cast<size_t>(size) : count);
    uint8_t* data = room.Get(bytes);
    if (data == nullptr) {
        close(fd);
        return Failed(ENOMEM);
    }
    const ptrdiff_t got = ReadFully(fd, data, bytes, error);
    close(fd);
    // A file cut short while it is read would leave part of the block undefined.
    if (got < 0 || static_cast<size_t>(got) != bytes) {
        room.Drop();
        return Failed(got < 0 ? error : FileShrank);
    }
    return FileBlock{data, bytes, true, 0};
}
#else
// Windows has no FIFOs or devices among the files a player is given; the C library's reader is
// enough, with the size checked before anything is allocated.
template <typename Room>
FileBlock Read(const char* path, size_t count, bool wholeFile, Room& room) {
    if (path == nullptr) return Failed(0);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return Failed(errno);
    struct _stat64 info {};
    if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(file);
        return Failed((info.st_mode & _S_IFMT) == _S_IFDIR ? FileIsFolder : FileIsDevice);
    }
    const auto size = static_cast<unsigned long long>(info.st_size < 0 ? 0 : info.st_size);
    if (wholeFile && size > count) {
        std::fclose(file);
        return Failed(FileTooLarge);
    }
    const size_t bytes =
        wholeFile ? static_cast<size_t>(size) : (size < count ? static_cast<size_t>(size) : count);
    uint8_t* data = room.Get(bytes);
    if (data == nullptr) {
        std::fclose(file);
        return Failed(ENOMEM);
    }
    const size_t got = bytes > 0 ? std::fread(data, 1, bytes, file) : 0;
    const int error = std::ferror(file) ? EIO : FileShrank;
    std::fclose(file);
    if (got != bytes) {
        room.Drop();
        return Failed(error);
    }
    return FileBlock{data, bytes, true, 0};
}
#endif

// A block of its own for each file, owned by the caller as a FileBlock.
struct MallocRoom {
    uint8_t* data = nullptr;
    // One byte more than asked keeps malloc from returning null for an empty file.
    uint8_t* Get(size_t bytes) { return data = static_cast<uint8_t*>(std::malloc(bytes + 1)); }
    void Drop() { std::free(data); }
};

// The caller's vector, so that a large file is not copied again into one.
struct VectorRoom {
    std::vector<uint8_t>& out;
    uint8_t* Get(size_t bytes) {
        try {
            ReserveLargeBlock(out, bytes + 1);
            out.resize(bytes + 1);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        out.pop_back();
        return out.data();
    }
    void Drop() { out.clear(); }
};

FileBlock ReadWithMalloc(const char* path, size_t count, bool wholeFile) {
    MallocRoom room;
    return Read(path, count, wholeFile, room);
}

}  // namespace

FileBlock ReadWholeFile(const char* path, size_t limit) {
    return ReadWithMalloc(path, limit, true);
}

FileBlock ReadWholeFile(const char* path) {
    return ReadWithMalloc(path, SongFileLimit, true);
}

FileBlock ReadFileStart(const char* path, size_t count) {
    return ReadWithMalloc(path, count, false);
}

void ReserveLargeBlock(std::vector<uint8_t>& out, size_t size) {
    out.reserve(size);
#ifdef MADV_HUGEPAGE
    // Only whole huge pages inside the block: the advice never reaches the allocator's own bytes.
    constexpr uintptr_t HugePage = uintptr_t{2} << 20;
    if (size < 2 * HugePage) return;
    const auto start = reinterpret_cast<uintptr_t>(out.data());
    const uintptr_t first = (start + HugePage - 1) & ~(HugePage - 1);
    const uintptr_t end = (start + size) & ~(HugePage - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}

int ReadWholeFileInto(const char* path, size_t limit, std::vector<uint8_t>& out) {
    out.clear();
    VectorRoom room{out};
    const FileBlock block = Read(path, limit, true, room);
    return block.ok ? 0 : (block.error != 0 ? block.error : ENOENT);
}

void ReleaseFileBlock(FileBlock& block) {
    std::free(block.data);
    block = FileBlock{nullptr, 0, false, 0};
}

const char* FileErrorText(int error) {
    switch (error) {
        case 0:
            return "no file named";
        case FileIsFolder:
            return "is a folder, not a file";
        case FileIsFifo:
            return "is a FIFO (named pipe), not a file";
        case FileIsDevice:
            return "is a device, not a file";
        case FileIsSocket:
            return "is a socket, not a file";
        case FileTooLarge:
            return "is far larger than any file of its kind";
        case FileShrank:
            return "ended before its size while it was read (changed or cut short)";
        default:
            return std::strerror(error);
    }
}

}  // namespace trelmo
