// SPDX-License-Identifier: BSD-3-Clause
// The plug-in's settings: what Audacious shows on the plug-in's settings page and what every
// engine the plug-in creates is set to.
#pragma once

#include <trelmo/trelmo.h>

struct PluginPreferences;

namespace trelmo::audacious {

// The settings page: stereo separation, the number of times a song is played and the fade-out.
extern const PluginPreferences kPreferences;

// Registers the defaults (which give the plug-in's exact sound) and reads the saved settings.
// Called from the plug-in's init, before any song is read or played.
void LoadSettings();

// Sets an engine's options from the settings. Lock-free, so a playing song may call it.
void ApplySettings(trelmo_engine* engine);

// Changes each time the user changes a setting, so that a playing song can take it up.
unsigned SettingsGeneration();

}  // namespace trelmo::audacious
