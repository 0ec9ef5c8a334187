// SPDX-License-Identifier: BSD-3-Clause
// The plug-in GStreamer loads: the typefinders for both kinds of song and the trelmodec element.
#include <gst/gst.h>

#include "gst/trelmodec.h"
#include "gst/typefind.h"

namespace {

gboolean Init(GstPlugin* plugin) {
    return trelmo::gst::RegisterTypeFinders(plugin) && GST_ELEMENT_REGISTER(trelmodec, plugin);
}

}  // namespace

#define PACKAGE "trelmo"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, trelmo,
                  "Apple IIgs music: SoundSmith / MegaTracker and NoiseTracker GS songs", Init,
                  TRELMO_GST_VERSION, "unknown", "Trelmo", "Trelmo")
