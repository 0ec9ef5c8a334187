// SPDX-License-Identifier: BSD-3-Clause
// Recognising songs by their first bytes, so that decodebin and playbin choose trelmodec.
#pragma once

#include <gst/gst.h>

namespace trelmo::gst {

// The media types of the two kinds of song.
constexpr const char* kSoundSmithType = "audio/x-soundsmith";
constexpr const char* kNoiseTrackerType = "audio/x-noisetracker-gs";

gboolean RegisterTypeFinders(GstPlugin* plugin);

}  // namespace trelmo::gst
