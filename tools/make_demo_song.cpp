// SPDX-License-Identifier: BSD-3-Clause
// Builds Trelmo's demo song, a NoiseTracker GS file, from the readable description in
// demo_song.txt, and writes it both as a song file and as a C++ byte array for the trelmo binary.
//
//   make_demo_song DESCRIPTION SONG.NTG [ARRAY.cpp]
//
// The instruments are synthesized here from named recipes; the description chooses which recipe
// each instrument uses, the tracks, the bars of music ("phrases"), the patterns and their order.
// See demo_song.txt for the notation.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/writers/note_names.h"
#include "tools/writers/ntg_writer.h"
#include "tools/writers/save_file.h"

namespace {

constexpr int RowsPerPattern = 64;
constexpr int MaxTracks = 14;
constexpr size_t PageSize = 256;
constexpr double Pi = 3.14159265358979323846;
// The player runs a sample at NoteFrequencyTable[note] x 51 bytes a second; note 49 ("C-4") plays
// at 346 x 51 bytes a second. Instruments are drawn so that C-4 sounds as middle C.
constexpr double RateAtC4 = 346.0 * 51.0;
constexpr double MiddleC = 261.6256;
constexpr double BytesPerCycle = RateAtC4 / MiddleC;
// Peak sample value: leaves headroom so that the voices of one side never overflow when summed.
constexpr double Peak = 110.0;

[[noreturn]] void Fail(const std::string& message) {
    throw std::runtime_error(message);
}

// ---- instrument recipes ------------------------------------------------------------------------

struct Instrument {
    std::string name;
    std::vector<double> wave;  // -1 .. 1
    int volume = 64;
    bool loop = false;
};

// A small deterministic noise source, so the song is the same on every build.
struct Noise {
    uint32_t state = 0x12345678u;
    double Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
};

std::vector<double> Kick() {
    // A sine that falls from 150 Hz to 45 Hz, with a short click of noise on top.
    const size_t length = static_cast<size_t>(0.38 * RateAtC4);
    std::vector<double> wave(length);
    Noise noise;
    double phase = 0;
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / RateAtC4;
        const double frequency = 45.0 + 105.0 * std::exp(-t * 28.0);
        phase += 2 * Pi * frequency / RateAtC4;
        const double body = std::sin(phase) * std::exp(-t * 9.0);
        const double click = noise.Next() * std::exp(-t * 400.0) * 0.4;
        wave[i] = std::clamp(body * 1.1 + click, -1.0, 1.0);
    }
    return wave;
}

std::vector<double> Snare() {
    // Band-limited noise over a short 185 Hz tone.
    const size_t length = static_cast<size_t>(0.26 * RateAtC4);
    std::vector<double> wave(length);
    Noise noise;
    double low = 0;
    double phase = 0;
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / RateAtC4;
        const double white = noise.Next();
        low += 0.35 * (white - low);
        const double hiss = (white - low * 0.6) * std::exp(-t * 16.0);
        phase += 2 * Pi * 185.0 / RateAtC4;
        const double tone = std::sin(phase) * std::exp(-t * 30.0);
        wave[i] = std::clamp(hiss * 0.75 + tone * 0.6, -1.0, 1.0);
    }
    return wave;
}

std::vector<double> HiHat() {
    // High-passed noise with a quick decay; drawn for C-5, so it plays twice as fast as C-4.
    const double rate = RateAtC4 * 2;
    const size_t length = static_cast<size_t>(0.09 * rate);
    std::vector<double> wave(length);
    Noise noise;
    noise.state = 0x9E3779B9u;
    double previous = 0;
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double white = noise.Next();
        const double high = white - previous;
        previous = white;
        wave[i] = std::clamp(high * 0.55 * std::exp(-t * 45.0), -1.0, 1.0);
    }
    return wave;
}

// A plucked string: additive harmonics whose upper partials die away faster than the fundamental.
std::vector<double> Pluck(double cycles, double decay, double brightness) {
    const size_t length = static_cast<size_t>(cycles * BytesPerCycle);
    std::vector<double> wave(length);
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / RateAtC4;  // seconds at C-4
        const double phase = 2 * Pi * static_cast<double>(i) / BytesPerCycle;
        double value = 0;
        for (int k = 1; k <= 14; ++k) {
            const double partial = (k % 2 == 1 ? 1.0 : 0.6) / k;
            value += partial * std::exp(-t * decay * (1.0 + brightness * (k - 1))) * std::sin(k * phase);
        }
        wave[i] = value;
    }
    return wave;
}

// A sustained tone for looping: a whole number of cycles of two slightly detuned waves, so the loop
// joins without a click and the beating between them makes the sound move.
std::vector<double> Ensemble(size_t length, int harmonics, double tilt, double second) {
    const double cycles = std::round(static_cast<double>(length) / BytesPerCycle);
    std::vector<double> wave(length);
    double peak = 0;
    for (size_t i = 0; i < length; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(length);
        double value = 0;
        for (int k = 1; k <= harmonics; ++k) {
            const double amplitude = std::pow(1.0 / k, tilt);
            value += amplitude * std::sin(2 * Pi * k * cycles * x);
            value += second * amplitude * std::sin(2 * Pi * k * (cycles + 1) * x + 0.7 * k);
        }
        wave[i] = value;
        peak = std::max(peak, std::fabs(value));
    }
    for (double& value : wave) value /= peak;
    return wave;
}

// Scaled to full range, and for sounds that play once, faded in and out over a few bytes: the
// player holds a finished sample's last byte, and a voice that has not played yet holds the first
// byte of the song's first instrument, so both must be silent.
std::vector<double> OneShot(std::vector<double> wave) {
    double peak = 1e-9;
    for (double value : wave) peak = std::max(peak, std::fabs(value));
    const size_t length = wave.size();
    for (size_t i = 0; i < length; ++i) {
        const double in = std::min(1.0, static_cast<double>(i) / 8.0);
        const double out = std::min(1.0, static_cast<double>(length - 1 - i) / 200.0);
        wave[i] = wave[i] / peak * in * out;
    }
    return wave;
}

std::vector<double> Recipe(const std::string& name) {
    if (name == "kick") return OneShot(Kick());
    if (name == "snare") return OneShot(Snare());
    if (name == "hihat") return OneShot(HiHat());
    if (name == "bass") return OneShot(Pluck(150, 1.6, 0.9));
    if (name == "pluck") return OneShot(Pluck(120, 4.0, 0.5));
    if (name == "lead") return Ensemble(4096, 9, 1.0, 0.35);
    if (name == "pad") return Ensemble(8192, 6, 1.6, 0.9);
    Fail("unknown instrument recipe '" + name + "'");
}

// ---- the description -----------------------------------------------------------------------

struct Cell {
    uint8_t note = 0;
    int volume = -1;  // set-volume command, -1 none
    int tempo = -1;   // set-tempo command, -1 none
};

struct Track {
    bool left = false;
    int instrument = -1;
};

struct Echo {
    int target;
    int source;
    int delay;
    int volume;  // -1: keep the source's volumes
};

struct Song {
    int tempo = 35;
    std::vector<Instrument> instruments;
    std::map<std::string, int> instrumentIndex;
    Track tracks[MaxTracks];
    int trackCount = 0;
    std::map<std::string, std::vector<Cell>> phrases;
    std::vector<std::vector<std::vector<Cell>>> patterns;  // pattern -> track -> 64 cells
    std::map<std::string, int> patternIndex;
    std::vector<int> order;
    std::vector<Echo> echoes;
};

uint8_t NoteNumber(const std::string& text) {
    const uint8_t note = trelmo::writers::NoteByte(text);
    if (text == "STP" || text == "NXT") return note;
    if (note < 1 || note > 107 || note == 84 || note == 85 || text[0] == '$')
        Fail("note out of range: " + text);
    return note;
}

// ".", "C-4", "C-4v40", "v40", "t30", "STP", "C-4v40t30": note, then volume, then tempo.
Cell ParseCell(const std::string& text) {
    Cell cell;
    if (text == ".") return cell;
    size_t at = 0;
    if (text[0] != 'v' && text[0] != 't') {
        const size_t end = text.find_first_of("vt", 2);
        cell.note = NoteNumber(text.substr(0, end));
        at = end == std::string::npos ? text.size() : end;
    }
    while (at < text.size()) {
        const char kind = text[at];
        size_t used = 0;
        const int value = std::stoi(text.substr(at + 1), &used);
        if (value < 0 || value > 255) Fail("value out of range in " + text);
        if (kind == 'v')
            cell.volume = value;
        else if (kind == 't')
            cell.tempo = value;
        else
            Fail("bad cell " + text);
        at += 1 + used;
    }
    return cell;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

int Number(const std::string& text) {
    size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used != text.size()) Fail("not a number: " + text);
    return value;
}

Song ReadDescription(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail("cannot read " + path);
    Song song;
    std::string line;
    int lineNumber = 0;
    int currentPattern = -1;
    try {
        while (std::getline(in, line)) {
            ++lineNumber;
            const std::vector<std::string> w = Words(line);
            if (w.empty()) continue;
            if (w[0] == "tempo" && w.size() == 2) {
                song.tempo = Number(w[1]);
            } else if (w[0] == "instrument" && (w.size() == 4 || w.size() == 5)) {
                Instrument instrument;
                instrument.name = w[1];
                instrument.wave = Recipe(w[2]);
                instrument.volume = Number(w[3]);
                instrument.loop = w.size() == 5 && w[4] == "loop";
                song.instrumentIndex[w[1]] = static_cast<int>(song.instruments.size());
                song.instruments.push_back(instrument);
            } else if (w[0] == "track" && w.size() == 4) {
                const int number = Number(w[1]);
                if (number < 0 || number >= MaxTracks) Fail("track number out of range");
                if (w[3] != "none" && !song.instrumentIndex.count(w[3])) Fail("unknown instrument " + w[3]);
                song.tracks[number] = Track{w[2] == "left", w[3] == "none" ? -1 : song.instrumentIndex[w[3]]};
                song.trackCount = std::max(song.trackCount, number + 1);
            } else if (w[0] == "echo" && (w.size() == 4 || w.size() == 5)) {
                song.echoes.push_back(
                    {Number(w[1]), Number(w[2]), Number(w[3]), w.size() == 5 ? Number(w[4]) : -1});
            } else if (w[0] == "phrase" && w.size() >= 3 && w[2] == ":") {
                std::vector<Cell>& cells = song.phrases[w[1]];
                cells.clear();
                for (size_t i = 3; i < w.size(); ++i) cells.push_back(ParseCell(w[i]));
            } else if (w[0] == "pattern" && w.size() == 2) {
                currentPattern = static_cast<int>(song.patterns.size());
                song.patternIndex[w[1]] = currentPattern;
                song.patterns.emplace_back(MaxTracks, std::vector<Cell>(RowsPerPattern));
            } else if (currentPattern >= 0 && w.size() >= 2 &&
                       std::isdigit(static_cast<unsigned char>(w[0][0]))) {
                // A track of the current pattern: its phrases one after another, "name*3" repeats.
                const int track = Number(w[0]);
                if (track < 0 || track >= MaxTracks) Fail("track number out of range");
                std::vector<Cell> cells;
                for (size_t i = 1; i < w.size(); ++i) {
                    std::string name = w[i];
                    int times = 1;
                    if (const size_t star = name.find('*'); star != std::string::npos) {
                        times = Number(name.substr(star + 1));
                        name = name.substr(0, star);
                    }
                    if (!song.phrases.count(name)) Fail("unknown phrase " + name);
                    for (int k = 0; k < times; ++k) {
                        cells.insert(cells.end(), song.phrases[name].begin(), song.phrases[name].end());
                    }
                }
                if (cells.size() != RowsPerPattern) {
                    Fail("track " + w[0] + " has " + std::to_string(cells.size()) + " rows, not 64");
                }
                song.patterns[static_cast<size_t>(currentPattern)][static_cast<size_t>(track)] = cells;
            } else if (w[0] == "order") {
                for (size_t i = 1; i < w.size(); ++i) {
                    if (!song.patternIndex.count(w[i])) Fail("unknown pattern " + w[i]);
                    song.order.push_back(song.patternIndex[w[i]]);
                }
            } else {
                Fail("cannot read this line");
            }
        }
    } catch (const std::exception& error) {
        Fail(path + ":" + std::to_string(lineNumber) + ": " + error.what());
    }
    if (song.order.empty() || song.trackCount == 0 || song.instruments.empty()) {
        Fail(path + ": the song needs instruments, tracks and an order");
    }
    return song;
}

// Echo tracks repeat another track's notes a few rows later, within each pattern.
void ApplyEchoes(Song& song) {
    for (auto& pattern : song.patterns) {
        for (const Echo& echo : song.echoes) {
            const std::vector<Cell> source = pattern[static_cast<size_t>(echo.source)];
            std::vector<Cell>& target = pattern[static_cast<size_t>(echo.target)];
            for (int row = 0; row + echo.delay < RowsPerPattern; ++row) {
                Cell cell = source[static_cast<size_t>(row)];
                cell.tempo = -1;
                if (echo.volume >= 0 && cell.note != 0) cell.volume = echo.volume;
                if (echo.volume >= 0 && cell.note == 0 && cell.volume >= 0) {
                    cell.volume = cell.volume * echo.volume / 127;
                }
                target[static_cast<size_t>(row + echo.delay)] = cell;
            }
        }
    }
}

// ---- the file --------------------------------------------------------------------------------

uint8_t SampleByte(double value) {
    // Signed sample s is stored as s + 128; 0 would mean "no sample value", so s stays above -128.
    const long s = std::lround(std::clamp(value, -1.0, 1.0) * Peak);
    return static_cast<uint8_t>(std::clamp(s, -127L, 127L) + 128);
}

std::vector<uint8_t> BuildFile(const Song& song) {
    trelmo::writers::NtgSongPlan plan;
    plan.tempo = static_cast<uint16_t>(song.tempo);
    plan.trackCount = static_cast<uint16_t>(song.trackCount);
    plan.firstGroupTracks = static_cast<uint16_t>(song.trackCount);  // every track uses the first group
    plan.order.assign(song.order.begin(), song.order.end());
    for (int t = 0; t < song.trackCount; ++t)
        plan.channels[static_cast<size_t>(t)] = song.tracks[t].left ? 1 : 0;
    for (const Instrument& instrument : song.instruments) {
        trelmo::writers::NtgInstrumentPlan record;
        for (double value : instrument.wave) record.sample.push_back(SampleByte(value));
        record.volume = static_cast<uint8_t>(instrument.volume);
        record.mode = instrument.loop ? 3 : 0;
        record.name = instrument.name.substr(0, 16);
        record.name.resize(16, ' ');
        plan.firstGroup.push_back(record);
    }
    for (size_t p = 0; p < song.patterns.size(); ++p) {
        for (int row = 0; row < RowsPerPattern; ++row) {
            for (int t = 0; t < song.trackCount; ++t) {
                const Cell& cell = song.patterns[p][static_cast<size_t>(t)][static_cast<size_t>(row)];
                const bool plays = cell.note != 0 && cell.note != 84 && cell.note != 85;
                if (plays && song.tracks[t].instrument < 0)
                    Fail("track " + std::to_string(t) + " has notes but no instrument");
                const int instrument = plays ? song.tracks[t].instrument + 1 : 0;
                const int command = cell.tempo >= 0 ? 2 : cell.volume >= 0 ? 1 : 0;
                const int parameter = cell.tempo >= 0 ? cell.tempo : cell.volume >= 0 ? cell.volume : 0;
                plan.Cell(static_cast<int>(p), row, t, cell.note,
                          trelmo::writers::NtgControl(instrument, command), static_cast<uint8_t>(parameter));
            }
        }
    }
    std::vector<uint8_t> bytes = trelmo::writers::BuildNtgSong(plan);
    // The last sample's page is filled out, as every other one is.
    bytes.resize((bytes.size() + PageSize - 1) / PageSize * PageSize, 0);
    return bytes;
}

// The loudest the voices of one side can ever add up to: the player halves the sum and wraps it
// around at 16 bits, so it must stay below 65536.
void CheckHeadroom(const Song& song) {
    for (int side = 0; side < 2; ++side) {
        double sum = 0;
        for (int t = 0; t < song.trackCount; ++t) {
            if (song.tracks[t].left != (side == 0) || song.tracks[t].instrument < 0) continue;
            int volume =
                std::min(song.instruments[static_cast<size_t>(song.tracks[t].instrument)].volume, 127);
            for (const auto& pattern : song.patterns) {
                for (const Cell& cell : pattern[static_cast<size_t>(t)])
                    volume = std::max(volume, cell.volume);
            }
            sum += volume * Peak;
        }
        if (sum >= 65536) Fail("the " + std::string(side == 0 ? "left" : "right") + " side could overflow");
    }
}

void WriteArray(const std::vector<uint8_t>& bytes, const std::string& path) {
    std::ofstream out(path);
    out << "// Generated by tools/make_demo_song from tools/demo_song.txt; do not edit.\n"
           "#include <cstddef>\n#include <cstdint>\n\nnamespace trelmo {\n\n"
           "extern const uint8_t DemoSong[];\nextern const size_t DemoSongSize;\n\n"
           "const uint8_t DemoSong[] = {";
    for (size_t i = 0; i < bytes.size(); ++i)
        out << (i % 24 == 0 ? "\n    " : "") << static_cast<int>(bytes[i]) << ',';
    out << "\n};\nconst size_t DemoSongSize = sizeof(DemoSong);\n\n}  // namespace trelmo\n";
    if (!out) Fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_demo_song DESCRIPTION SONG.NTG [ARRAY.cpp]\n");
        return 2;
    }
    try {
        Song song = ReadDescription(argv[1]);
        ApplyEchoes(song);
        CheckHeadroom(song);
        const std::vector<uint8_t> bytes = BuildFile(song);
        if (!trelmo::writers::SaveFile(argv[2], bytes)) Fail(std::string("cannot write ") + argv[2]);
        if (argc == 4) WriteArray(bytes, argv[3]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_demo_song: %s\n", error.what());
        return 1;
    }
    return 0;
}
