// SPDX-License-Identifier: BSD-3-Clause
// Names and paths made safe to show. A song names its instruments with any bytes it likes and file
// names can hold any byte but '/', so neither may reach a terminal or a log line as it is: an
// escape sequence could clear the screen, set the window title or move the cursor, and a line
// break could print a line of its own. Every name the command prints goes through here.
#pragma once

#include <string>
#include <string_view>

namespace trelmo::cli {

// The text as it may be shown on a terminal: valid UTF-8 passes through, and every byte of a
// control character (C0, DEL and the C1 range U+0080 to U+009F) or of an invalid UTF-8 sequence
// becomes a visible \xHH. The text ends at its first NUL, as the loader reads names.
std::string Printable(std::string_view text);

// The text as a JSON string, quotes included: valid UTF-8 stays as it is, '"', '\' and control
// characters take JSON's escapes, and a byte of an invalid UTF-8 sequence, which JSON cannot carry,
// becomes the visible text \xHH, as on the terminal. The text ends at its first NUL.
std::string JsonString(std::string_view text);

}  // namespace trelmo::cli
