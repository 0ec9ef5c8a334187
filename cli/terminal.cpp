// SPDX-License-Identifier: BSD-3-Clause
#include "cli/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "cli/printable.h"

namespace trelmo::cli {

std::atomic<bool> Interrupted{false};

namespace {

termios SavedMode{};

void OnInterrupt(int) {
    Interrupted.store(true);
}

// Asking the terminal its size on every redraw would cost a system call each time; it is asked
// again only after it has said that it changed.
std::atomic<bool> Resized{true};
int Columns = 80;

void OnResize(int) {
    Resized.store(true);
}

int WaitForByte(int timeoutMs, char& byte) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeoutMs) <= 0 || (input.revents & POLLIN) == 0) {
        // A closed or absent standard input must not turn the wait into a busy loop.
        if (input.revents & (POLLHUP | POLLNVAL | POLLERR)) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return 0;
    }
    if (read(STDIN_FILENO, &byte, 1) != 1) {
        usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return 0;
    }
    return 1;
}

}  // namespace

bool IsTerminal(int fd) {
    return isatty(fd) == 1;
}

KeyboardMode::KeyboardMode() {
    if (!IsTerminal(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &SavedMode) != 0) return;
    termios raw = SavedMode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C still interrupts
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

KeyboardMode::~KeyboardMode() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &SavedMode);
}

int ReadKey(int timeoutMs) {
    char byte = 0;
    if (WaitForByte(timeoutMs, byte) == 0) return KeyNone;
    if (byte != '\033') return static_cast<unsigned char>(byte);
    // Arrow keys arrive as ESC [ A .. D (or ESC O A .. D); the rest of the sequence is already there.
    char introducer = 0;
    char final = 0;
    if (WaitForByte(10, introducer) == 0 || (introducer != '[' && introducer != 'O')) return '\033';
    if (WaitForByte(10, final) == 0) return '\033';
    switch (final) {
        case 'A':
            return KeyUp;
        case 'B':
            return KeyDown;
        case 'C':
            return KeyRight;
        case 'D':
            return KeyLeft;
        default:
            return KeyNone;
    }
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // the terminal went away
    struct sigaction resize {};
    resize.sa_handler = OnResize;
    sigemptyset(&resize.sa_mask);
    resize.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &resize, nullptr);
    // A reader that goes away (trelmo render -o - | head) shows up as a failed write instead.
    signal(SIGPIPE, SIG_IGN);
}

std::string FormatDuration(uint64_t frames) {
    const uint64_t seconds = frames / 44100;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
    return text;
}

int TerminalWidth() {
    if (Resized.exchange(false)) {
        winsize size{};
        Columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    }
    return Columns;
}

void StatusLine(const std::string& line) {
    // The line names a song; its name must not move the cursor or end the line. The last column stays
    // free: some terminals wrap as soon as it is written.
    std::string shown = Printable(line);
    const size_t room = static_cast<size_t>(TerminalWidth() > 1 ? TerminalWidth() - 1 : 1);
    if (shown.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0u) == 0x80u)
            --cut;  // whole characters
        shown.resize(cut);
    }
    std::fprintf(stderr, "\r%s\033[K", shown.c_str());
    std::fflush(stderr);
}

void ClearStatusLine() {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

bool ReaderGone(int fd) {
    pollfd output{fd, POLLOUT, 0};
    return poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0;
}

std::string Bar(double fraction, int width) {
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    const int filled = static_cast<int>(fraction * width + 0.5);
    std::string bar;
    for (int i = 0; i < width; ++i) bar += i < filled ? '#' : '-';
    return bar;
}

}  // namespace trelmo::cli
