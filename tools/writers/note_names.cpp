// SPDX-License-Identifier: BSD-3-Clause
#include "tools/writers/note_names.h"

#include <stdexcept>

namespace trelmo::writers {

uint8_t NoteByte(const std::string& name) {
    if (name == "---") return 0;
    if (name == "NXT") return 84;
    if (name == "STP") return 85;
    if (name.size() > 1 && name[0] == '$')
        return static_cast<uint8_t>(std::stoul(name.substr(1), nullptr, 16));
    static const char* const Names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    for (int semitone = 0; semitone < 12; ++semitone) {
        if (name.size() > 2 && name.compare(0, 2, Names[semitone]) == 0) {
            size_t used = 0;
            const int octave = std::stoi(name.substr(2), &used);
            const int note = 1 + semitone + 12 * octave;
            if (used + 2 != name.size() || octave < 0 || note > 127) break;
            return static_cast<uint8_t>(note);
        }
    }
    throw std::invalid_argument("not a note name: " + name);
}

}  // namespace trelmo::writers
