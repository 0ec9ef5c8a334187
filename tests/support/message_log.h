// SPDX-License-Identifier: BSD-3-Clause
// Collects what an engine's loaders report, for tests that check the wording.
#pragma once

#include <string>

#include "instruments/messages.h"

namespace trelmo::test {

struct MessageLog {
    std::string text;

    // A sink that appends every message to text; the log must outlive its use.
    MessageSink Sink() {
        return MessageSink{
            [](void* context, const char* message) { static_cast<std::string*>(context)->append(message); },
            &text};
    }
    // What was reported since the last call, and forgets it.
    std::string Take() {
        std::string taken;
        taken.swap(text);
        return taken;
    }
};

}  // namespace trelmo::test
