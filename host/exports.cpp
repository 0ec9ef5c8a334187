// SPDX-License-Identifier: BSD-3-Clause
// The plug-in's one exported symbol.
#include "host/plugin.h"

#ifdef _WIN32
#define TRELMO_EXPORT extern "C" __declspec(dllexport)
#else
#define TRELMO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TRELMO_EXPORT In_Module* winampGetInModule2() {
    return &trelmo::Module;
}
