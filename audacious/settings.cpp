// SPDX-License-Identifier: BSD-3-Clause
#include "audacious/settings.h"

#include <libaudcore/preferences.h>
#include <libaudcore/runtime.h>

#include <algorithm>
#include <atomic>

namespace trelmo::audacious {
namespace {

constexpr const char* kSection = "trelmo";
constexpr const char* kSeparation = "stereo_separation";
constexpr const char* kLoops = "loops";
constexpr const char* kFade = "fade_seconds";

constexpr const char* const kDefaults[] = {kSeparation, "100", kLoops, "1", kFade, "0", nullptr};

// Audacious's configuration store takes a lock, and the playback thread takes none: the settings
// are copied here when they change (on the main thread) and read from here by every engine.
std::atomic<int> separationPercent{100};
std::atomic<int> loopCount{1};
std::atomic<int> fadeSeconds{0};
std::atomic<unsigned> generation{0};

void Reread() {
    separationPercent.store(std::clamp(aud_get_int(kSection, kSeparation), 0, 100));
    loopCount.store(std::clamp(aud_get_int(kSection, kLoops), 0, 99));
    fadeSeconds.store(std::clamp(aud_get_int(kSection, kFade), 0, 60));
    generation.fetch_add(1);
}

const PreferencesWidget kWidgets[] = {
    WidgetSpin("Stereo separation:", WidgetInt(kSection, kSeparation, Reread),
               {0, 100, 5, "% (100: the IIgs's own)"}),
    WidgetSpin("Play each song", WidgetInt(kSection, kLoops, Reread), {0, 99, 1, "times (0: for ever)"}),
    WidgetSpin("Fade out over the last", WidgetInt(kSection, kFade, Reread),
               {0, 60, 1, "seconds (0: no fade)"}),
    WidgetLabel("A change is heard at once. The playlist shows the new lengths\n"
                "of songs once their files are read again (Refresh)."),
};

}  // namespace

const PluginPreferences kPreferences = {{kWidgets}, nullptr, nullptr, nullptr};

void LoadSettings() {
    aud_config_set_defaults(kSection, kDefaults);
    Reread();
}

void ApplySettings(trelmo_engine* engine) {
    trelmo_set_stereo_separation(engine, separationPercent.load());
    trelmo_set_loops(engine, loopCount.load());
    trelmo_set_fade(engine, static_cast<uint32_t>(fadeSeconds.load()) * 1000u);
}

unsigned SettingsGeneration() {
    return generation.load();
}

}  // namespace trelmo::audacious
