// The plug-in prints its diagnostics with printf on standard output. These helpers send them
// elsewhere for a while: to standard error when standard output carries audio or JSON, or nowhere.
#pragma once

namespace trelmo::cli {

// The descriptor meaning "throw the text away".
constexpr int DiscardOutput = -1;

// For its lifetime, file descriptor 1 (and the C library's stdout) writes to fd: a descriptor,
// DiscardOutput, or 1 to leave it as it is.
class StdoutRedirect {
public:
    explicit StdoutRedirect(int fd);
    ~StdoutRedirect();
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int saved_ = -1;
};

// Moves standard output for good: returns a new descriptor for what standard output was, and
// points descriptor 1 at fd (or DiscardOutput). -1 when no descriptor is left.
int DetachStdout(int fd);

}  // namespace trelmo::cli
