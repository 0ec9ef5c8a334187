#include "cli/stdout_redirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace trelmo::cli {

namespace {

void PointStdoutAt(int fd) {
    std::fflush(stdout);
    if (fd == DiscardOutput) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    } else {
        dup2(fd, STDOUT_FILENO);
    }
}

}  // namespace

StdoutRedirect::StdoutRedirect(int fd) {
    if (fd == STDOUT_FILENO) return;
    std::fflush(stdout);
    saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    PointStdoutAt(fd);
}

StdoutRedirect::~StdoutRedirect() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}

int DetachStdout(int fd) {
    std::fflush(stdout);
    const int original = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (original < 0) return -1;
    PointStdoutAt(fd);
    return original;
}

}  // namespace trelmo::cli
