#include "cli/terminal.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "cli/printable.h"

namespace trelmo::cli {

std::atomic<bool> Interrupted{false};

namespace {

termios SavedMode{};

void OnInterrupt(int) { Interrupted.store(true); }

}  // namespace

bool IsTerminal(int fd) { return isatty(fd) == 1; }

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

char ReadKey(int timeoutMs) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeoutMs) <= 0 || (input.revents & POLLIN) == 0) {
        // A closed or absent standard input must not turn the wait into a busy loop.
        if (input.revents & (POLLHUP | POLLNVAL | POLLERR)) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return 0;
    }
    char key = 0;
    if (read(STDIN_FILENO, &key, 1) != 1) {
        usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return 0;
    }
    return key;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // the terminal went away
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

void StatusLine(const std::string& line) {
    // The line names a song; its name must not move the cursor or end the line.
    std::fprintf(stderr, "\r%s\033[K", Printable(line).c_str());
    std::fflush(stderr);
}

void ClearStatusLine() {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
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
