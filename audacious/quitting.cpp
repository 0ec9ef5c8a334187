// SPDX-License-Identifier: BSD-3-Clause
#include "audacious/quitting.h"

#include <libaudcore/hook.h>
#include <libaudcore/mainloop.h>

#include <atomic>
#include <chrono>

namespace trelmo::audacious {
namespace {

using Clock = std::chrono::steady_clock;

// Audacious calls "config save" on its main thread every few minutes, and once more when its main
// loop has ended. A call queued onto the main loop from there runs at once while the loop lives,
// and never once it has ended (quitting also inhibits every queued call): a save that stays
// unanswered for this long means Audacious is quitting.
constexpr auto kAnswerWithin = std::chrono::seconds(2);

std::atomic<int64_t> unansweredSince{0};  // steady-clock ticks; 0 while none is unanswered
QueuedFunc answer;

void OnConfigSave(void*, void*) {
    const int64_t now = Clock::now().time_since_epoch().count();
    unansweredSince.store(now == 0 ? 1 : now);
    answer.queue([] { unansweredSince.store(0); });
}

}  // namespace

void WatchForQuit() {
    hook_associate("config save", OnConfigSave, nullptr);
}

void StopWatchingForQuit() {
    hook_dissociate("config save", OnConfigSave);
    answer.stop();
}

bool Quitting() {
    const int64_t since = unansweredSince.load();
    return since != 0 && Clock::now().time_since_epoch().count() - since >
                             std::chrono::duration_cast<Clock::duration>(kAnswerWithin).count();
}

}  // namespace trelmo::audacious
