#include "tests/support/song_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <numbers>
#include <sstream>

namespace trelmo::test {

namespace {

constexpr int CellsPerPattern = 896;
constexpr size_t BankImageOffset = 2;
constexpr size_t BankDescriptorOffset = 65570;
constexpr size_t BankDescriptorStride = 92;

void PutU16Le(std::vector<uint8_t>& out, size_t at, unsigned value) {
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void AppendU32Be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

// The IIgs's unsigned byte for a signed sample; never 0, which would end the wave.
uint8_t StoredByte(int8_t sample) {
    const auto stored = static_cast<uint8_t>(static_cast<uint8_t>(sample) ^ 0x80u);
    return stored == 0 ? uint8_t{1} : stored;
}

uint8_t ParseHexByte(const std::string& text) {
    if (text.empty()) return 0;
    return static_cast<uint8_t>(std::stoul(text, nullptr, 16));
}

}  // namespace

int Note(const std::string& name) {
    static const char* const names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    for (int semitone = 0; semitone < 12; ++semitone) {
        if (name.compare(0, 2, names[semitone]) == 0 && name.size() > 2) {
            return 1 + semitone + 12 * std::stoi(name.substr(2));
        }
    }
    ADD_FAILURE() << "not a note name: " << name;
    return 0;
}

void SoundSmithTune::Put(int pattern, int row, int track, uint8_t note, uint8_t effect, uint8_t param) {
    const auto cells = static_cast<size_t>(patternCount * CellsPerPattern);
    if (notes.size() < cells) {
        notes.resize(cells);
        effects.resize(cells);
        params.resize(cells);
    }
    const auto index = static_cast<size_t>(pattern * CellsPerPattern + row * 14 + track);
    ASSERT_LT(index, cells) << "cell outside the patterns";
    notes[index] = note;
    effects[index] = effect;
    params[index] = param;
}

void SoundSmithTune::Row(int pattern, int row, const std::string& cells) {
    std::stringstream all(cells);
    std::string cell;
    for (int track = 0; std::getline(all, cell, '|'); ++track) {
        std::stringstream fields(cell);
        std::string note, effect, param;
        fields >> note >> effect >> param;
        uint8_t noteByte = 0;
        if (!note.empty() && note[0] == '$') {
            noteByte = ParseHexByte(note.substr(1));
        } else if (!note.empty() && note != "---") {
            noteByte = static_cast<uint8_t>(Note(note));
        }
        Put(pattern, row, track, noteByte, ParseHexByte(effect), ParseHexByte(param));
    }
}

std::vector<uint8_t> SoundSmithTune::Bytes() const {
    const auto length =
        static_cast<size_t>(patternDataLength >= 0 ? patternDataLength : patternCount * CellsPerPattern);
    std::vector<uint8_t> out(600 + 3 * length + 28, 0);
    const char* magic = kovMagic ? "KOV" : "SONGOK";
    for (size_t i = 0; magic[i] != 0; ++i) out[i] = static_cast<uint8_t>(magic[i]);
    PutU16Le(out, 6, static_cast<unsigned>(length));
    out[8] = speedByte;
    for (size_t i = 0; i < instruments.size() && i < 15; ++i) {
        const size_t record = 20 + 30 * i;
        const std::string& name = instruments[i].name;
        out[record] = static_cast<uint8_t>(name.size());
        for (size_t c = 0; c < name.size() && c < 23; ++c)
            out[record + 1 + c] = static_cast<uint8_t>(name[c]);
        out[record + 24] = instruments[i].volume;
    }
    PutU16Le(out, 470, static_cast<unsigned>(songLength >= 0 ? songLength : static_cast<int>(order.size())));
    for (size_t i = 0; i < order.size() && i < 128; ++i) out[472 + i] = order[i];
    for (size_t i = 0; i < length && i < notes.size(); ++i) {
        out[600 + i] = notes[i];
        out[600 + length + i] = effects[i];
        out[600 + 2 * length + i] = params[i];
    }
    for (size_t t = 0; t < 14; ++t) PutU16Le(out, 600 + 3 * length + 2 * t, stereo[t]);
    return out;
}

std::vector<uint8_t> WaveBankBytes(const std::vector<BankInstrument>& instruments, int count) {
    const size_t n = instruments.size();
    std::vector<uint8_t> out(BankDescriptorOffset + BankDescriptorStride * (n > 0 ? n : 1), 0);
    PutU16Le(out, 0, static_cast<unsigned>(count >= 0 ? count : static_cast<int>(n)) & 0xFFFFu);
    size_t page = 0;
    for (size_t k = 0; k < n; ++k) {
        const std::vector<int8_t>& samples = instruments[k].samples;
        int code = 0;
        while (code < 7 && (256u << code) < samples.size() + 1) ++code;
        const size_t pages = (256u << code) / 256;
        if (page + pages > 256) {
            ADD_FAILURE() << "the instruments do not fit into 64 KB of wave memory";
            break;
        }
        const size_t start = BankImageOffset + 256 * page;
        for (size_t i = 0; i < samples.size() && i < (256u << code); ++i)
            out[start + i] = StoredByte(samples[i]);
        const size_t a = BankDescriptorOffset + BankDescriptorStride * k;
        out[a + 1] = static_cast<uint8_t>(page);
        out[a + 2] = static_cast<uint8_t>(code);
        // Two free-running oscillators loop; a one-shot pair plays once.
        out[a + 3] = instruments[k].loops ? 0x00 : 0x02;
        out[a + 6 + 3] = instruments[k].loops ? 0x00 : 0x02;
        page += pages;
    }
    return out;
}

std::vector<uint8_t> AsifBytes(const std::vector<int8_t>& samples, bool loops) {
    std::vector<uint8_t> inst(1 + 44, 0);  // empty name, then the instrument record
    inst[1 + 32] = 1;
    inst[1 + 33] = 1;
    inst[1 + 37] = loops ? 0x00 : 0x02;
    inst[1 + 43] = loops ? 0x00 : 0x02;

    std::vector<uint8_t> wave(1 + 16, 0);  // empty name, wave size, 14 bytes not read
    wave[1] = static_cast<uint8_t>(samples.size() & 0xFF);
    wave[2] = static_cast<uint8_t>((samples.size() >> 8) & 0xFF);
    for (int8_t s : samples) wave.push_back(StoredByte(s));

    std::vector<uint8_t> out;
    AppendTag(out, "FORM");
    AppendU32Be(out, static_cast<uint32_t>(4 + 8 + inst.size() + 8 + wave.size()));
    AppendTag(out, "ASIF");
    AppendTag(out, "INST");
    AppendU32Be(out, static_cast<uint32_t>(inst.size()));
    out.insert(out.end(), inst.begin(), inst.end());
    AppendTag(out, "WAVE");
    AppendU32Be(out, static_cast<uint32_t>(wave.size()));
    out.insert(out.end(), wave.begin(), wave.end());
    return out;
}

std::vector<int8_t> SineCycle(int length, int peak) {
    std::vector<int8_t> cycle(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        const double phase = 2.0 * std::numbers::pi * i / length;
        cycle[static_cast<size_t>(i)] = static_cast<int8_t>(std::lround(peak * std::sin(phase)));
    }
    return cycle;
}

}  // namespace trelmo::test
