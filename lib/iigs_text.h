// SPDX-License-Identifier: BSD-3-Clause
// The one decoding of text stored in songs (instrument names, labels) into UTF-8. Every face of
// the library (trelmo, the Audacious plug-in, the page) shows names through it, so they agree.
#pragma once

#include <string>
#include <string_view>

namespace trelmo::lib {

// The IIgs's own character set: ASCII below 128 and the Macintosh's characters (Mac OS Roman, as
// the IIgs's fonts drew them) from 128 up. A control character becomes its visible symbol (U+2400
// on, U+2421 for DEL), so that no name can move a terminal's cursor or break a line; a NUL ends the
// text, and the padding spaces at its end go.
std::string DecodeIigsText(std::string_view bytes);

}  // namespace trelmo::lib
