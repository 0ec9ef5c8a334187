// SPDX-License-Identifier: BSD-3-Clause
// trelmodec: takes a whole song from upstream, then plays it as raw audio that seeks to the exact
// frame.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define TRELMO_TYPE_DEC (trelmo_dec_get_type())
G_DECLARE_FINAL_TYPE(TrelmoDec, trelmo_dec, TRELMO, DEC, GstElement)

GST_ELEMENT_REGISTER_DECLARE(trelmodec);

G_END_DECLS
