// SPDX-License-Identifier: BSD-3-Clause
#include "bench/song_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/writers/save_file.h"
#include "tools/writers/soundsmith_writer.h"
#include "tools/writers/wave_bank_writer.h"

namespace trelmo::bench {

namespace {

constexpr int Tracks = 14;
constexpr int Rows = 64;
constexpr int Patterns = 4;

// Instruments of the bank: where each wave lies in the 64 KB image, its size code and whether it loops.
struct BankWave {
    int page;
    int sizeCode;  // size 256 << code
    bool loops;
};
constexpr BankWave Waves[] = {
    {0, 0, true},    // 0 sine
    {1, 0, true},    // 1 saw
    {2, 1, true},    // 2 square, two cycles
    {4, 3, true},    // 3 pad: a slowly changing cycle
    {12, 2, true},   // 4 bass
    {16, 4, false},  // 5 kick: falling sine, once
    {32, 5, false},  // 6 snare: noise, once
    {64, 6, true},   // 7 lead: long evolving wave
};
constexpr int WaveCount = static_cast<int>(sizeof(Waves) / sizeof(Waves[0]));

uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Stored wave bytes are unsigned around 128; 0 would end the wave.
uint8_t Stored(double value) {
    const long v = std::lround(128.0 + 126.0 * std::clamp(value, -1.0, 1.0));
    return static_cast<uint8_t>(std::clamp(v, 1L, 255L));
}

std::vector<uint8_t> WaveBytes(int index, uint32_t& random) {
    const int size = 256 << Waves[index].sizeCode;
    std::vector<uint8_t> out(static_cast<size_t>(size));
    const double pi = std::numbers::pi;
    for (int n = 0; n < size; ++n) {
        const double x = static_cast<double>(n) / 256.0;  // cycles of 256 bytes
        double v = 0;
        switch (index) {
            case 0:
                v = std::sin(2 * pi * x);
                break;
            case 1:
                v = 2 * (x - std::floor(x)) - 1;
                break;
            case 2:
                v = (x - std::floor(x)) < 0.5 ? 0.8 : -0.8;
                break;
            case 3:
                v = 0.6 * std::sin(2 * pi * x) + 0.3 * std::sin(6 * pi * x + x / 3);
                break;
            case 4:
                v = 0.9 * std::sin(2 * pi * x) + 0.2 * std::sin(4 * pi * x);
                break;
            case 5:
                v = std::sin(2 * pi * 60.0 * n / 8000.0 * (1.0 - n / 8192.0)) * (1.0 - n / 4096.0);
                break;
            case 6:
                v = (static_cast<double>(NextRandom(random) % 2001) / 1000.0 - 1.0) * (1.0 - n / 8192.0);
                break;
            default:
                v = 0.7 * std::sin(2 * pi * x) + 0.3 * std::sin(2 * pi * 3 * x + n / 2048.0);
                break;
        }
        out[static_cast<size_t>(n)] = Stored(v);
    }
    return out;
}

std::vector<uint8_t> BankBytes() {
    writers::WaveBankImage bank(WaveCount);
    uint32_t random = 12345;
    for (int k = 0; k < WaveCount; ++k) {
        bank.SetWave(static_cast<uint8_t>(Waves[k].page), WaveBytes(k, random));
        // Two free-running oscillators loop; a one-shot pair plays once.
        const uint8_t control = Waves[k].loops ? 0 : 2;
        bank.SetInstrument(k, static_cast<uint8_t>(Waves[k].page), static_cast<uint8_t>(Waves[k].sizeCode),
                           control, control);
    }
    return bank.bytes;
}

// The patterns are written into the tune cell by cell; instrument numbers here count from 0.
struct Pattern {
    writers::SoundSmithTune& tune;
    int index;
};

void Put(Pattern& p, int row, int track, int note, int instrument, int effect = 0, int param = 0) {
    p.tune.Put(p.index, row, track, static_cast<uint8_t>(note),
               static_cast<uint8_t>(((instrument + 1) << 4) | effect), static_cast<uint8_t>(param));
}

void Silence(Pattern& p, int row, int track) {
    p.tune.Put(p.index, row, track, 0x80, 0, 0);
}

void DensePattern(Pattern p, int index, uint32_t& random) {
    constexpr int looped[] = {0, 1, 2, 3, 4, 7};
    for (int t = 0; t < Tracks; ++t) {
        const int instrument = looped[(t + index) % 6];
        for (int row = t % 4; row < Rows; row += 4) {
            const int note = 37 + static_cast<int>(NextRandom(random) % 49);  // steps 0.2 .. 3
            switch (NextRandom(random) % 6) {
                case 0:
                    Put(p, row, t, note, instrument, 0, 0x37);
                    break;  // arpeggio
                case 1:
                    Put(p, row, t, note, instrument, 3, 60 + static_cast<int>(NextRandom(random) % 120));
                    break;
                case 2:
                    Put(p, row, t, note, instrument, 1, 3);
                    break;  // slide up
                default:
                    Put(p, row, t, note, instrument);
                    break;
            }
        }
    }
}

void TypicalPattern(Pattern p, int index, uint32_t& random) {
    for (int row = 0; row < Rows; ++row) {
        if (row % 8 == 0) Put(p, row, 0, 25, 5);
        if (row % 16 == 4 || row % 16 == 12) Put(p, row, 1, 49, 6);
        if (row % 2 == 0) Put(p, row, 2 + (row / 2) % 2, (row % 8 == 0 ? 25 : 37) + index, 4, 3, 110);
        if (row % 16 == 0) {
            for (int t = 4; t < 7; ++t) Put(p, row, t, 49 + index + 4 * (t - 4), 3, 5, 10);
        }
        if (row % 4 == 0) Put(p, row, 7, 61 + static_cast<int>(NextRandom(random) % 24), 7);
        if (row % 4 == 2) Put(p, row, 7, 61 + static_cast<int>(NextRandom(random) % 24), 7, 12, 20);
        if (row % 2 == 0) Put(p, row, 8 + (row / 2) % 2, 61 + index, 2, 0, 0x47);
        // Four tracks of echoes and fills: a note now and then, silenced again later.
        for (int t = 10; t < Tracks; ++t) {
            if (NextRandom(random) % 16 == 0) {
                Put(p, row, t, 49 + static_cast<int>(NextRandom(random) % 36), (t % 2) ? 1 : 0, 6, 40);
            } else if (NextRandom(random) % 24 == 0) {
                Silence(p, row, t);
            }
        }
    }
}

void MostlySilentPattern(Pattern p, int index) {
    for (int row = 0; row < Rows; row += 8) {
        Put(p, row, 0, 49 + index + row / 8, 0);
        Put(p, row + 4, 1, 37 + index, 4);
    }
}

std::vector<uint8_t> SongBytes(SongStyle style, int positions) {
    writers::SoundSmithTune tune;
    tune.patternCount = Patterns;
    tune.speedByte = 6;
    for (int i = 0; i < WaveCount; ++i) {
        tune.instruments.push_back({"W" + std::to_string(i), static_cast<uint8_t>(90 + 20 * (i % 4))});
    }
    tune.songLength = positions;
    tune.order.clear();
    for (int k = 0; k < positions && k < 128; ++k) tune.order.push_back(static_cast<uint8_t>(k % Patterns));
    for (int t = 0; t < Tracks; ++t) tune.stereo[t] = t % 2 == 0 ? 1 : 0;
    uint32_t random = 777;
    for (int k = 0; k < Patterns; ++k) {
        Pattern p{tune, k};
        switch (style) {
            case SongStyle::Dense:
                DensePattern(p, k, random);
                break;
            case SongStyle::Typical:
                TypicalPattern(p, k, random);
                break;
            case SongStyle::MostlySilent:
                MostlySilentPattern(p, k);
                break;
        }
    }
    return tune.Bytes();
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (!writers::SaveFile(path, bytes)) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string WriteGeneratedSong(const std::string& folder, const std::string& name, SongStyle style,
                               int positions) {
    const std::string song = folder + "/" + name + ".MTP";
    WriteFile(song, SongBytes(style, positions));
    WriteFile(folder + "/" + name + ".W", BankBytes());
    return song;
}

std::string MakeTempFolder() {
    char pattern[] = "/tmp/trelmo-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("cannot create a temporary folder");
    return made;
}

void RemoveFolder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace trelmo::bench
