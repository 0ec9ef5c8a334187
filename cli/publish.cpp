#include "cli/publish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace trelmo::cli {

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

// A hidden file beside the target, so that the final rename never crosses file systems and a
// render that fails or is interrupted never leaves a truncated file under the real name.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd >= 0) fchmod(fd, mode);
    return fd;
}

bool Publish(const std::string& temporary, const std::string& target, bool force) {
    if (force) return rename(temporary.c_str(), target.c_str()) == 0;
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the atomic form: check, then rename.
    if (Exists(target)) {
        errno = EEXIST;
        return false;
    }
    return rename(temporary.c_str(), target.c_str()) == 0;
}

}  // namespace trelmo::cli
