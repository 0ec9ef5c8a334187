// SPDX-License-Identifier: BSD-3-Clause
#include "containers/nufx_archive.h"

#include <algorithm>
#include <utility>

#include "containers/binary_ii.h"
#include "containers/shrinkit_lzw.h"

namespace trelmo::containers {
namespace {

constexpr uint8_t MasterSignature[6] = {0x4E, 0xF5, 0x46, 0xE9, 0x6C, 0xE5};  // "NuFile", alternately high
constexpr uint8_t RecordSignature[4] = {0x4E, 0xF5, 0x46, 0xD8};              // "NuFx"
constexpr size_t MasterHeaderSize = 48;
constexpr size_t ThreadHeaderSize = 16;
// A record header up to and including the old filename's length, without an option list.
constexpr size_t SmallestAttributes = 0x3A;

enum ThreadFormat : uint16_t {
    Stored = 0,
    Squeeze = 1,
    Lzw1 = 2,
    Lzw2 = 3,
    Lzc12 = 4,
    Lzc16 = 5,
    Deflate = 6,
    Bzip2 = 7
};

bool HasBytes(ByteView view, size_t offset, const uint8_t* bytes, size_t count) {
    if (!Contains(view, offset, count)) return false;
    return std::equal(bytes, bytes + count, view.data + offset);
}

std::string MethodName(uint16_t format) {
    switch (format) {
        case Squeeze:
            return "Squeeze";
        case Lzc12:
            return "12-bit LZC";
        case Lzc16:
            return "16-bit LZC";
        case Deflate:
            return "Deflate";
        case Bzip2:
            return "bzip2";
        default: {
            static const char hex[] = "0123456789ABCDEF";
            std::string name = "method $0000";
            for (size_t i = 0; i < 4; ++i) name[name.size() - 1 - i] = hex[(format >> (4 * i)) & 0xF];
            return name;
        }
    }
}

// The record's pathname with its own separator turned into '/'. Components that could climb out
// of the archive ("." and "..") and empty ones are dropped; a '/' inside a component (an HFS name)
// becomes '_'.
std::string PathFrom(ByteView name, uint8_t separator) {
    std::string path;
    std::string component;
    auto flush = [&] {
        if (!component.empty() && component != "." && component != "..") {
            if (!path.empty()) path += '/';
            path += component;
        }
        component.clear();
    };
    for (size_t i = 0; i < name.size; ++i) {
        const uint8_t c = ReadU8(name, i);
        if (c == separator && separator != 0) {
            flush();
        } else if (c == '/') {
            component += '_';
        } else if (c != 0) {
            component += static_cast<char>(c);
        }
    }
    flush();
    return path;
}

struct Located {
    size_t offset = 0;  // of the thread's bytes in the archive
    size_t stored = 0;  // bytes the thread takes in the archive
    uint16_t format = Stored;
    uint16_t crc = 0;
    bool checkCrc = false;  // version 3 records keep a CRC of the unpacked data
};

class NufxArchive final : public Container {
  public:
    NufxArchive(std::vector<uint8_t> bytes, size_t start) : bytes_(std::move(bytes)) {
        archive_ = SubView(ByteView{bytes_.data(), bytes_.size()}, start);
        List();
    }

    const std::vector<Entry>& Entries() const override { return entries_; }

    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override {
        if (!StartRead(entries_, index, limit, out, error)) return false;
        const Entry& entry = entries_[index];
        const Located& where = located_[index];
        const size_t length = static_cast<size_t>(entry.size);
        const ByteView stored = SubView(archive_, where.offset, where.stored);
        if (where.format == Stored) {
            if (stored.size < length) {
                error = "its stored data is shorter than its stated length";
                return false;
            }
            out.assign(stored.data, stored.data + length);
        } else {
            const ShrinkItMethod method = where.format == Lzw1 ? ShrinkItMethod::Lzw1 : ShrinkItMethod::Lzw2;
            if (!UnpackShrinkIt(stored, method, length, out, error)) {
                out.clear();
                return false;
            }
        }
        if (where.checkCrc && Crc16Ccitt(ByteView{out.data(), out.size()}, 0xFFFF) != where.crc) {
            out.clear();
            error = "the unpacked data fails its CRC check";
            return false;
        }
        return true;
    }

  private:
    void List() {
        const uint32_t records = ReadU32Le(archive_, 8);
        size_t pos = MasterHeaderSize;
        for (uint32_t seen = 0; seen < records && Contains(archive_, pos, 4); ++seen) {
            if (!HasBytes(archive_, pos, RecordSignature, 4)) {
                // Damaged: skip to the next record's signature, if any, always forward.
                pos = NextSignature(pos + 1);
                if (pos == archive_.size) break;
            }
            const size_t next = ListRecord(pos);
            pos = next > pos ? next : NextSignature(pos + 1);
        }
    }

    size_t NextSignature(size_t from) const {
        for (size_t i = from; Contains(archive_, i, 4); ++i) {
            if (HasBytes(archive_, i, RecordSignature, 4)) return i;
        }
        return archive_.size;
    }

    // Lists the record at pos and returns where the next one starts (pos itself when the record
    // cannot be walked at all).
    size_t ListRecord(size_t pos) {
        const size_t attributes = ReadU16Le(archive_, pos + 6);
        const uint16_t version = ReadU16Le(archive_, pos + 8);
        const uint64_t threadCount = ReadU32Le(archive_, pos + 0x0A);
        if (attributes < SmallestAttributes || !Contains(archive_, pos, attributes)) return pos;
        if (threadCount > archive_.size / ThreadHeaderSize) return pos;
        const size_t oldNameLength = ReadU16Le(archive_, pos + attributes - 2);
        const size_t threads = pos + attributes + oldNameLength;
        if (!Contains(archive_, threads, static_cast<size_t>(threadCount) * ThreadHeaderSize)) return pos;
        const size_t dataStart = threads + static_cast<size_t>(threadCount) * ThreadHeaderSize;

        Entry entry;
        Located where;
        if (Crc16Ccitt(SubView(archive_, pos + 6, dataStart - pos - 6), 0) != ReadU16Le(archive_, pos + 4)) {
            entry.problem = "its record header is damaged (CRC mismatch)";
        }
        entry.fileType = static_cast<uint8_t>(ReadU32Le(archive_, pos + 0x16));
        entry.auxType = static_cast<uint16_t>(ReadU32Le(archive_, pos + 0x1A));
        const uint8_t separator = ReadU8(archive_, pos + 0x10);
        std::string path = PathFrom(SubView(archive_, pos + attributes, oldNameLength), separator);

        bool haveData = false;
        bool haveName = false;
        bool truncated = false;
        uint64_t offset = dataStart;
        for (uint64_t t = 0; t < threadCount; ++t) {
            const size_t header = threads + static_cast<size_t>(t) * ThreadHeaderSize;
            const uint16_t threadClass = ReadU16Le(archive_, header);
            const uint16_t format = ReadU16Le(archive_, header + 2);
            const uint16_t kind = ReadU16Le(archive_, header + 4);
            const uint16_t crc = ReadU16Le(archive_, header + 6);
            const uint32_t length = ReadU32Le(archive_, header + 8);
            const uint32_t stored = ReadU32Le(archive_, header + 12);
            const uint64_t here = offset;
            offset += stored;
            if (!Contains(archive_, static_cast<size_t>(std::min<uint64_t>(here, SIZE_MAX)), stored)) {
                truncated = true;
            }
            if (threadClass == 3 && kind == 0 && !haveName && !truncated) {
                haveName = true;
                const std::string named = PathFrom(
                    SubView(archive_, static_cast<size_t>(here), std::min(length, stored)), separator);
                if (!named.empty()) path = named;
            } else if (threadClass == 2 && (kind == 0 || kind == 1) && !haveData) {
                haveData = true;
                where.offset = static_cast<size_t>(std::min<uint64_t>(here, archive_.size));
                where.stored = stored;
                where.format = format;
                where.crc = crc;
                where.checkCrc = version >= 3;
                entry.isVolume = kind == 1;
                entry.size = length;
                if (entry.isVolume) SizeDisk(pos, entry);
                if (truncated && entry.problem.empty()) entry.problem = "the archive ends inside it";
                if (format != Stored && format != Lzw1 && format != Lzw2 && entry.problem.empty()) {
                    entry.problem = "packed with " + MethodName(format) + ", which is not supported";
                }
            }
        }
        if (haveData) {
            if (entry.isVolume) {  // the type fields describe the disk's geometry
                entry.fileType = 0;
                entry.auxType = 0;
            }
            if (entry.size > MaxEntryBytes && entry.problem.empty()) {
                entry.problem = "it claims " + std::to_string(entry.size) +
                                " bytes, more than the limit of " + std::to_string(MaxEntryBytes);
            }
            entry.path = path.empty() ? "UNNAMED." + std::to_string(entries_.size() + 1) : std::move(path);
            entries_.push_back(std::move(entry));
            located_.push_back(where);
        }
        return offset > archive_.size ? archive_.size : static_cast<size_t>(offset);
    }

    // A disk's length comes from its record: the block count in the aux type field and the block
    // size in the storage type field. Old ShrinkIt left a ProDOS storage type there and a strange
    // thread length, meaning 512-byte blocks.
    void SizeDisk(size_t pos, Entry& entry) const {
        const uint64_t blocks = ReadU32Le(archive_, pos + 0x1A);
        uint64_t blockSize = ReadU16Le(archive_, pos + 0x1E);
        if (blockSize < 16) blockSize = 512;
        entry.size = blocks * blockSize;
        if (blockSize != 512 && entry.problem.empty()) {
            entry.problem = "a disk of " + std::to_string(blockSize) + "-byte blocks, which is not supported";
        }
    }

    std::vector<uint8_t> bytes_;
    ByteView archive_{};
    std::vector<Entry> entries_;
    std::vector<Located> located_;
};

// Where the master header starts: at 0, or after a Binary II header.
bool FindStart(ByteView bytes, size_t& start) {
    if (HasBytes(bytes, 0, MasterSignature, 6)) {
        start = 0;
        return true;
    }
    if (LooksLikeBinaryII(bytes) && HasBytes(bytes, BinaryIIHeaderSize, MasterSignature, 6)) {
        start = BinaryIIHeaderSize;
        return true;
    }
    return false;
}

}  // namespace

bool LooksLikeNufx(ByteView bytes) {
    size_t start = 0;
    return FindStart(bytes, start);
}

std::unique_ptr<Container> OpenNufxArchive(std::vector<uint8_t> bytes, std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "the archive is larger than " + std::to_string(MaxContainerBytes) + " bytes";
        return nullptr;
    }
    size_t start = 0;
    const ByteView view{bytes.data(), bytes.size()};
    if (!FindStart(view, start)) {
        error = "not a NuFX archive";
        return nullptr;
    }
    if (!Contains(view, start, MasterHeaderSize)) {
        error = "the archive ends inside its master header";
        return nullptr;
    }
    return std::make_unique<NufxArchive>(std::move(bytes), start);
}

}  // namespace trelmo::containers
