// The terminal: single keys without Enter, status lines that redraw in place, and Ctrl-C.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace trelmo::cli {

bool IsTerminal(int fd);

// While it lives, a terminal on standard input delivers keys one at a time without echo.
class KeyboardMode {
public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;
    bool Active() const { return active_; }

private:
    bool active_ = false;
};

// Waits up to timeoutMs for a key on standard input; 0 when none came.
char ReadKey(int timeoutMs);

// Set by SIGINT, SIGTERM and SIGHUP; the commands stop cleanly when they see it.
extern std::atomic<bool> Interrupted;
void CatchInterrupts();

// "m:ss" for a number of 44100 Hz frames.
std::string FormatDuration(uint64_t frames);

// Writes line over the current line of standard error.
void StatusLine(const std::string& line);
void ClearStatusLine();

// A bar of width characters, filled to fraction (0 .. 1).
std::string Bar(double fraction, int width);

}  // namespace trelmo::cli
