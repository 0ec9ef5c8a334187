// SPDX-License-Identifier: BSD-3-Clause
// What Audacious's playlist shows for a song: its title, length, format and instruments.
#pragma once

#include <trelmo/trelmo.h>

#include <cstdint>
#include <string>

class Tuple;

namespace trelmo::audacious {

// Milliseconds for Audacious: a song's frames rounded down to the millisecond, as `trelmo info`
// shows its duration; -1 for a song that plays for ever (Audacious's "no length").
int LengthMilliseconds(uint64_t frames);

// The comment: one line per instrument ("3 Bass"), the missing ones marked, and a last line that
// names the files looked for in vain.
std::string InstrumentComment(trelmo_engine* engine);

// Fills the tuple for the song loaded into engine, whose URI is uri. The title is the file's name
// without its song extension, or, for a song inside a disk image or archive, innerPath.
void FillTuple(trelmo_engine* engine, const char* uri, const char* innerPath, Tuple& tuple);

}  // namespace trelmo::audacious
