// SPDX-License-Identifier: BSD-3-Clause
// The exception barrier that every C entry point stands behind, and the engine's last error.
//
// The engine inside is C++: its loaders build strings and tables, and running short of memory
// throws. Nothing of that may reach a C caller, who could not catch it and would be terminated, so
// the entry points that run the engine (loading, rendering, seeking) run it in Guarded, which turns
// what was thrown into a status and a message. The others only copy numbers and strings that
// exist already, and call nothing that can throw. Setting the message never allocates: it can be
// the answer to running out of memory.
#pragma once

#include <new>

#include "lib/handle.h"

namespace trelmo::lib {

// Sets the engine's last error: printf's format, cut to the message buffer. Returns status.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
int Fail(trelmo_engine* handle, int status, const char* format, ...) noexcept;

// Clears the engine's last error.
inline void ClearError(trelmo_engine& handle) noexcept {
    handle.lastError[0] = '\0';
}

// The system's words for an errno value, in lower case as messages use them ("permission denied").
// Writes into buffer; never allocates.
const char* SystemReason(int error, char* buffer, size_t size) noexcept;

// Runs body; a throw becomes TRELMO_ERROR_MEMORY (or TRELMO_ERROR_INTERNAL), after cleanup has put
// the engine back into a state it can work on (unloading it, for a load).
template <typename Result, typename Body, typename Cleanup>
Result Guarded(trelmo_engine* handle, Result failed, Body body, Cleanup cleanup) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        cleanup();
        Fail(handle, TRELMO_ERROR_MEMORY, "out of memory");
    } catch (...) {
        cleanup();
        Fail(handle, TRELMO_ERROR_INTERNAL, "internal error");
    }
    return failed;
}

template <typename Result, typename Body>
Result Guarded(trelmo_engine* handle, Result failed, Body body) noexcept {
    return Guarded(handle, failed, body, [] {});
}

}  // namespace trelmo::lib
