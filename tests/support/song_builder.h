// Writes SoundSmith songs, wave banks and ASIF instrument files from short descriptions, so that a
// test reads like the music it plays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelmo::test {

// The note number of a name as trackers show it: "C-0" is 1, "C-4" is 49, "A#6" is 83.
int Note(const std::string& name);

struct SongInstrument {
    std::string name;  // empty: the position is empty (name length 0)
    uint8_t volume = 0;
};

// A SoundSmith song. Cells are written with Row or Put; everything else has a playable default.
struct SoundSmithTune {
    bool kovMagic = false;                    // write "KOV..." instead of "SONGOK"
    uint8_t speedByte = 6;                    // header byte 8; the low nibble is the speed
    std::vector<SongInstrument> instruments;  // positions 0 upward, at most 15
    std::vector<uint8_t> order{0};            // the pattern played at each position
    int songLength = -1;                      // the length field; -1 writes order.size()
    int patternCount = 1;
    int patternDataLength = -1;  // the length field; -1 writes patternCount * 896
    uint16_t stereo[14] = {};    // 0: right, anything else: left
    std::vector<uint8_t> notes, effects, params;

    // One row, tracks from 0 separated by '|'. A cell is "NOTE EFFECT PARAM" with the effect byte
    // (instrument in the high nibble) and parameter in hex; NOTE is a name, "---" for none, or
    // "$81" for a raw note byte. Missing fields are 0: "C-4 1C 10 | --- 03 C8 | F#3".
    void Row(int pattern, int row, const std::string& cells);
    void Put(int pattern, int row, int track, uint8_t note, uint8_t effect, uint8_t param);
    std::vector<uint8_t> Bytes() const;
};

struct BankInstrument {
    std::vector<int8_t> samples;  // signed; -128 is written as -127 (its stored byte would end the wave)
    bool loops = false;
};

// A wave bank with the instruments in order, each wave on pages of its own followed by a zero byte.
// count overrides the instrument count field (-1: the number of instruments).
std::vector<uint8_t> WaveBankBytes(const std::vector<BankInstrument>& instruments, int count = -1);

// An ASIF file (FORM/ASIF with one INST and one WAVE chunk) holding the samples.
std::vector<uint8_t> AsifBytes(const std::vector<int8_t>& samples, bool loops);

// One cycle of a sine wave of the given length and peak.
std::vector<int8_t> SineCycle(int length, int peak);

}  // namespace trelmo::test
