// SPDX-License-Identifier: BSD-3-Clause
// Writes the small NoiseTracker GS song of the Windows end-to-end test: four tracks in two
// instrument groups, looping and one-shot samples (with zero bytes), both output sides, set-volume
// and set-tempo commands, a "NXT" that ends a pattern early, a "STP" and an order list that repeats
// a pattern.
//
//   make_ntg_fixture OUT.NTG
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tools/writers/note_names.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/save_file.h"

namespace {

using trelmo::writers::NtgControl;
using trelmo::writers::NtgInstrumentPlan;
using trelmo::writers::NtgSongPlan;

enum Command { None = 0, SetVolume = 1, SetTempo = 2, Eleven = 3 };

// Three samples, bytes unsigned with 128 as the centre line.
std::vector<NtgInstrumentPlan> Samples() {
    std::vector<uint8_t> saw;
    for (int i = 0; i < 256; ++i) saw.push_back(static_cast<uint8_t>((i * 7) % 255 + 1));
    std::vector<uint8_t> noise;
    uint32_t seed = 12345;
    for (int i = 0; i < 200; ++i) {
        seed = (seed * 1103515245u + 12345u) & 0x7FFFFFFFu;
        noise.push_back(
            i % 37 == 5 ? 0 : static_cast<uint8_t>((seed >> 16) & 0xFF));  // zeros repeat the last value
    }
    std::vector<uint8_t> triangle;
    for (int i = 0; i < 300; ++i)
        triangle.push_back(static_cast<uint8_t>(128 + (i < 75 ? i : i < 225 ? 150 - i : i - 300)));
    return {{.sample = saw, .volume = 100, .mode = 3},
            {.sample = noise, .volume = 200, .mode = 0},
            {.sample = triangle, .volume = 80, .mode = 5}};
}

void Put(NtgSongPlan& song, int pattern, int row, int track, uint8_t note, int instrument = 0,
         int command = None, int parameter = 0) {
    song.Cell(pattern, row, track, note, NtgControl(instrument, command), static_cast<uint8_t>(parameter));
}

NtgSongPlan Fixture() {
    NtgSongPlan song;
    song.tempo = 125;  // 26 rows a second
    song.trackCount = 4;
    song.firstGroupTracks = 3;  // tracks 0-2 use the first group, track 3 the second
    song.order = {0, 1, 0};
    song.channels = {1, 0, 1, 0};  // non-zero: left
    const std::vector<NtgInstrumentPlan> samples = Samples();
    song.firstGroup = {samples[0], samples[1]};
    song.secondGroup = {samples[2]};

    song.Row(0, 0, "C-3 01 | C-4 42 C8 | G-3 01 | F-2 01");
    for (int row = 4; row < 64; row += 4)
        Put(song, 0, row, 0, static_cast<uint8_t>(37 + (row / 4) % 12));  // instrument kept
    Put(song, 0, 8, 1, 61, 2);                                            // default volume 200, limited
    Put(song, 0, 16, 2, 0, 0, SetTempo, 200);                             // faster from here
    Put(song, 0, 24, 3, 42, 0, SetVolume, 40);
    Put(song, 0, 32, 1, trelmo::writers::NoteByte("STP"));
    Put(song, 0, 40, 1, 56);  // starts the stopped track again
    Put(song, 0, 48, 2, 47, 1, Eleven, 99);
    Put(song, 0, 56, 3, 35, 1);

    song.Row(1, 0, "C-2 81 3C | --- | D#4 02 | C-3 41 FF");
    Put(song, 1, 5, 0, 32, 0, SetTempo, 125);
    Put(song, 1, 12, 1, 64, 1);
    song.Row(1, 20, "D#3 | --- | NXT | A#3");  // track 3 of this row still plays
    Put(song, 1, 21, 0, 90, 1);                // never reached
    return song;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ntg_fixture OUT.NTG\n");
        return 2;
    }
    std::vector<uint8_t> bytes = trelmo::writers::BuildNtgSong(Fixture());
    bytes.resize((bytes.size() + 255) / 256 * 256, 0);  // the last sample's page filled out
    if (!trelmo::writers::SaveFile(argv[1], bytes)) {
        std::fprintf(stderr, "make_ntg_fixture: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
