// SPDX-License-Identifier: BSD-3-Clause
// Where an engine's diagnostics go: the loaders' fixed texts reach whatever the engine's owner
// chose (the plug-in prints them on standard output; the library hands them to a callback).
#pragma once

namespace trelmo {

struct MessageSink {
    void (*write)(void* context, const char* text) = nullptr;  // null: the messages are dropped
    void* context = nullptr;
};

// Formats one message as printf would and hands it to the sink.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Report(const MessageSink& sink, const char* format, ...);

}  // namespace trelmo
