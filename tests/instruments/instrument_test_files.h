// Helpers for the instrument-file tests: private folders, files written byte by byte, synthetic
// wave banks and ASIF files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace trelmo::testing_files {

using Bytes = std::vector<uint8_t>;

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trelmo-instruments-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing '/', so that names can simply be appended.
    std::string Path() const { return path_ + "/"; }
    std::string operator/(const std::string& name) const { return Path() + name; }

  private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    EXPECT_EQ(written, bytes.size()) << path;
}

inline Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    return bytes;
}

// Runs the current directory somewhere else for the lifetime of the object.
class InDirectory {
  public:
    explicit InDirectory(const std::string& path) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~InDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

// A wave bank: the count, the 64 KB wave image (filled with `fill`, so that waves end only where
// a test puts a zero) and count descriptor records of 92 bytes.
struct Bank {
    static constexpr size_t DescriptorOffset = 65570;
    static constexpr size_t Stride = 92;

    Bytes bytes;

    explicit Bank(int16_t count, uint8_t fill = 0, int records = -1) {
        const size_t n =
            records >= 0 ? static_cast<size_t>(records) : (count > 0 ? static_cast<size_t>(count) : 0);
        bytes.assign(n > 0 ? DescriptorOffset + Stride * (n - 1) + 12 : 65538, 0);
        for (size_t i = 2; i < 65538; ++i) bytes[i] = fill;
        SetCount(count);
    }
    void SetCount(int16_t count) {
        bytes[0] = static_cast<uint8_t>(static_cast<uint16_t>(count) & 0xFF);
        bytes[1] = static_cast<uint8_t>(static_cast<uint16_t>(count) >> 8);
    }
    // Oscillator A gives page and size code; both give a control byte.
    void SetInstrument(int k, uint8_t page, uint8_t sizeCode, uint8_t controlA, uint8_t controlB) {
        const size_t at = DescriptorOffset + Stride * static_cast<size_t>(k);
        bytes[at + 1] = page;
        bytes[at + 2] = sizeCode;
        bytes[at + 3] = controlA;
        bytes[at + 6 + 1] = page;
        bytes[at + 6 + 2] = sizeCode;
        bytes[at + 6 + 3] = controlB;
    }
    // Wave bytes from the start of a page.
    void SetWave(uint8_t page, const Bytes& wave) {
        const size_t at = 2 + 256 * static_cast<size_t>(page);
        for (size_t i = 0; i < wave.size(); ++i) bytes[at + i] = wave[i];
    }
};

// IFF pieces of an ASIF file. Lengths are written most significant byte first.
inline void AppendU32Be(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

inline Bytes Chunk(const char tag[4], const Bytes& body) {
    Bytes out(tag, tag + 4);
    AppendU32Be(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The body of an "INST" chunk: a name, then a record with the two wave counts and control bytes.
inline Bytes InstBody(uint8_t countA, uint8_t countB, uint8_t controlA, uint8_t controlB,
                      const std::string& name = "PIANO") {
    Bytes out{static_cast<uint8_t>(name.size())};
    out.insert(out.end(), name.begin(), name.end());
    Bytes record(62, 0);
    record[32] = countA;
    record[33] = countB;
    record[37] = controlA;
    record[43] = controlB;
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

// The body of a "WAVE" chunk: a name, the size (least significant byte first), 14 unused bytes,
// then the wave bytes.
inline Bytes WaveBody(const Bytes& wave, int sizeField = -1, const std::string& name = "W") {
    Bytes out{static_cast<uint8_t>(name.size())};
    out.insert(out.end(), name.begin(), name.end());
    const auto size = static_cast<uint16_t>(sizeField >= 0 ? sizeField : static_cast<int>(wave.size()));
    out.push_back(static_cast<uint8_t>(size & 0xFF));
    out.push_back(static_cast<uint8_t>(size >> 8));
    out.insert(out.end(), 14, 0x55);
    out.insert(out.end(), wave.begin(), wave.end());
    return out;
}

// FORM, its length (the bytes after the length field, unless given), "ASIF" and the chunks.
inline Bytes Asif(const std::vector<Bytes>& chunks, int64_t formLength = -1) {
    Bytes body{'A', 'S', 'I', 'F'};
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out{'F', 'O', 'R', 'M'};
    AppendU32Be(out, static_cast<uint32_t>(formLength >= 0 ? formLength : static_cast<int64_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace trelmo::testing_files
