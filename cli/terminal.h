// SPDX-License-Identifier: BSD-3-Clause
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

// Keys beyond plain characters, as ReadKey reports them.
enum Key : int { KeyNone = 0, KeyLeft = 0x100, KeyRight, KeyUp, KeyDown };

// Waits up to timeoutMs for a key on standard input: a character, an arrow key, or KeyNone when
// none came.
int ReadKey(int timeoutMs);

// Set by SIGINT, SIGTERM and SIGHUP; the commands stop cleanly when they see it.
extern std::atomic<bool> Interrupted;
void CatchInterrupts();

// "m:ss" for a number of 44100 Hz frames.
std::string FormatDuration(uint64_t frames);

// Columns of the terminal on standard error (80 when it does not say); follows resizes.
int TerminalWidth();

// Writes line over the current line of standard error, cut to the terminal's width so that it never
// wraps (a wrapped line cannot be redrawn in place).
void StatusLine(const std::string& line);
void ClearStatusLine();

// True when fd is a pipe or socket whose reader has gone away: writing to it can never succeed.
bool ReaderGone(int fd);

// A bar of width characters, filled to fraction (0 .. 1).
std::string Bar(double fraction, int width);

}  // namespace trelmo::cli
