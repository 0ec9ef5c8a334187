// SPDX-License-Identifier: BSD-3-Clause
#include "song/note_table.h"

namespace trelmo {

// Semitones from the lowest C (note 1); every 12 notes the value doubles within rounding.
const uint16_t NoteFrequencyTable[NoteCount] = {
    0,    22,   23,   24,   26,   27,   29,   30,   32,   34,   36,   38,    //
    41,   43,   46,   49,   51,   54,   58,   61,   65,   69,   73,   77,    //
    82,   86,   92,   97,   103,  109,  115,  122,  129,  137,  145,  154,   //
    163,  173,  183,  194,  206,  217,  230,  244,  258,  274,  290,  307,   //
    326,  346,  367,  388,  411,  436,  462,  489,  518,  549,  582,  617,   //
    653,  692,  733,  777,  823,  872,  924,  979,  1037, 1098, 1164, 1233,  //
    1306, 1384, 1466, 1553, 1646, 1744, 1847, 1957, 2074, 2197, 2328, 2466,  //
    2613, 2768, 2933, 3107, 3292, 3487, 3695, 3915, 4147, 4394, 4655, 4932,  //
    5225, 5536, 5865, 6214, 6583, 6975, 7390, 7829, 8294, 8788, 9310, 9864,  //
};

uint16_t NotePitch(int note) {
    if (note < 0) return 0;
    return NoteFrequencyTable[note < NoteCount ? note : NoteCount - 1];
}

}  // namespace trelmo
