// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/messages.h"

#include <cstdarg>
#include <cstdio>

namespace trelmo {

void Report(const MessageSink& sink, const char* format, ...) {
    if (sink.write == nullptr) return;
    // Room for the longest path a song can name and the words around it; a longer text is cut.
    char text[4608];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    sink.write(sink.context, text);
}

}  // namespace trelmo
