// SPDX-License-Identifier: BSD-3-Clause
#include "containers/zip_reader.h"

#include <algorithm>

#include "containers/inflate.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {
namespace {

constexpr uint32_t EndSignature = 0x06054B50, CentralSignature = 0x02014B50, LocalSignature = 0x04034B50;
constexpr size_t EndLength = 22, CentralLength = 46, LocalLength = 30;

// Keeps the name inside the archive: no leading '/', no "." or "..", no empty folder names.
std::string InnerPath(const std::string& name) {
    std::string path;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") path += (path.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return name.empty() || name.back() != '/' ? path : path + "/";
}

class ZipReader : public Container {
  public:
    struct Where {
        uint16_t method = 0;
        uint32_t crc = 0;
        uint32_t packed = 0;
        uint32_t local = 0;
    };

    explicit ZipReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    bool List(std::string& error) {
        const ByteView all{bytes_.data(), bytes_.size()};
        if (bytes_.size() < EndLength) return (error = "too short for a zip archive", false);
        // The end record sits within the last 64K (its comment) of the file.
        size_t end = bytes_.size() - EndLength;
        const size_t lowest = end > 65535 ? end - 65535 : 0;
        while (ReadU32Le(all, end) != EndSignature) {
            if (end == lowest) return (error = "no zip central directory", false);
            --end;
        }
        const size_t count = ReadU16Le(all, end + 10);
        const size_t offset = ReadU32Le(all, end + 16);
        const ByteView directory = SubView(all, offset, ReadU32Le(all, end + 12));
        if (offset == 0xFFFFFFFFu || count == 0xFFFF)
            return (error = "a zip64 archive, which is not supported", false);
        size_t at = 0;
        // Every record takes at least CentralLength bytes of the directory, so this ends.
        for (size_t i = 0; i < count && ReadU32Le(directory, at) == CentralSignature; ++i) {
            const size_t nameLength = ReadU16Le(directory, at + 28);
            const size_t next = at + CentralLength + nameLength + ReadU16Le(directory, at + 30) +
                                ReadU16Le(directory, at + 32);
            if (!Contains(directory, at, next - at)) break;
            Entry entry;
            for (size_t c = 0; c < nameLength; ++c)
                entry.path += static_cast<char>(ReadU8(directory, at + CentralLength + c));
            entry.path = InnerPath(entry.path);
            Where where{ReadU16Le(directory, at + 10), ReadU32Le(directory, at + 16),
                        ReadU32Le(directory, at + 20), ReadU32Le(directory, at + 42)};
            entry.size = ReadU32Le(directory, at + 24);
            const uint16_t flags = ReadU16Le(directory, at + 8);
            at = next;
            if (entry.path.empty() || entry.path.back() == '/') continue;  // a folder
            if ((flags & 1u) != 0)
                entry.problem = "encrypted, which is not supported";
            else if (where.method != 0 && where.method != 8)
                entry.problem =
                    "packed with zip method " + std::to_string(where.method) + ", which is not supported";
            entries_.push_back(std::move(entry));
            where_.push_back(where);
        }
        return true;
    }

    const std::vector<Entry>& Entries() const override { return entries_; }

    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override {
        if (!StartRead(entries_, index, std::min(limit, MaxEntryBytes), out, error)) return false;
        const Where& where = where_[index];
        const size_t size = static_cast<size_t>(entries_[index].size);
        const ByteView all{const_cast<uint8_t*>(bytes_.data()), bytes_.size()};
        const ByteView local = SubView(all, where.local);
        if (ReadU32Le(local, 0) != LocalSignature) return (error = "its local header is missing", false);
        const size_t start = LocalLength + ReadU16Le(local, 26) + ReadU16Le(local, 28);
        if (!Contains(local, start, where.packed)) return (error = "its data lies beyond the archive", false);
        const ByteView packed = SubView(local, start, where.packed);
        if (where.method == 0) {
            if (packed.size != size) return (error = "a stored entry of another length than stated", false);
            out.assign(packed.data, packed.data + packed.size);
        } else if (!Inflate(packed, size, out, error)) {
            out.clear();
            return false;
        }
        if (Crc32(out) != where.crc) return (out.clear(), error = "its CRC does not match", false);
        return true;
    }

  private:
    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
    std::vector<Where> where_;
};

// A gzip file: one deflated file, with its CRC-32 and its length (modulo 4 GB) in the trailer.
class GzipReader : public Container {
  public:
    GzipReader(std::vector<uint8_t> bytes, const std::string& name) : bytes_(std::move(bytes)) {
        const ByteView all{bytes_.data(), bytes_.size()};
        Entry entry;
        entry.path = GzipFileName(all, name);
        entry.size = ReadU32Le(all, bytes_.size() - 4);
        const uint8_t flags = ReadU8(all, 3);
        size_t pos = 10;
        if ((flags & 0x04) != 0) pos += 2 + size_t{ReadU16Le(all, 10)};  // FEXTRA
        for (const int text : {0x08, 0x10}) {                            // FNAME, FCOMMENT
            if ((flags & text) == 0) continue;
            while (pos < bytes_.size() && ReadU8(all, pos) != 0) ++pos;
            ++pos;
        }
        if ((flags & 0x02) != 0) pos += 2;  // FHCRC
        if (ReadU8(all, 2) != 8) {
            entry.problem =
                "packed with gzip method " + std::to_string(ReadU8(all, 2)) + ", which is not supported";
        } else if (pos > bytes_.size() - 8) {
            entry.problem = "its gzip header runs past its data";
        } else if (entry.size > MaxEntryBytes) {
            entry.problem = "it claims " + std::to_string(entry.size) + " bytes, more than the limit of " +
                            std::to_string(MaxEntryBytes);
        }
        packed_ = SubView(all, pos, bytes_.size() - 8 - std::min(pos, bytes_.size() - 8));
        entries_.push_back(std::move(entry));
    }

    const std::vector<Entry>& Entries() const override { return entries_; }

    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override {
        if (!StartRead(entries_, index, limit, out, error)) return false;
        const Entry& entry = entries_[0];
        if (!Inflate(packed_, static_cast<size_t>(entry.size), out, error)) return (out.clear(), false);
        const ByteView all{const_cast<uint8_t*>(bytes_.data()), bytes_.size()};
        if (Crc32(out) != ReadU32Le(all, bytes_.size() - 8))
            return (out.clear(), error = "its CRC does not match", false);
        return true;
    }

  private:
    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
    ByteView packed_{nullptr, 0};
};

}  // namespace

std::string GzipFileName(ByteView bytes, const std::string& containerName) {
    // The original name the header may carry (flag FNAME), without its folders.
    std::string path;
    const uint8_t flags = ReadU8(bytes, 3);
    size_t pos = 10;
    if ((flags & 0x04) != 0) pos += 2 + size_t{ReadU16Le(bytes, 10)};  // FEXTRA
    if ((flags & 0x08) != 0) {
        for (; pos < bytes.size && ReadU8(bytes, pos) != 0 && path.size() < 255; ++pos) {
            path += static_cast<char>(ReadU8(bytes, pos));
        }
        const size_t slash = path.find_last_of("/\\");
        if (slash != std::string::npos) path.erase(0, slash + 1);
        path = InnerPath(path);
    }
    // Otherwise the gzip file's own name without its ".gz", as gunzip names what it unpacks.
    if (path.empty()) {
        path = InnerPath(containerName.substr(containerName.find_last_of('/') + 1));  // npos + 1 is 0
        if (path.size() > 3 &&
            (path.compare(path.size() - 3, 3, ".gz") == 0 || path.compare(path.size() - 3, 3, ".GZ") == 0)) {
            path.resize(path.size() - 3);
        }
    }
    return path.empty() ? "UNNAMED.1" : path;
}

std::unique_ptr<Container> OpenZipReader(std::vector<uint8_t> bytes, const std::string& name,
                                         std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "the archive is larger than " + std::to_string(MaxContainerBytes) + " bytes";
        return nullptr;
    }
    if (bytes.size() >= 18 && bytes[0] == 0x1F && bytes[1] == 0x8B) {
        return std::make_unique<GzipReader>(std::move(bytes), name);
    }
    auto reader = std::make_unique<ZipReader>(std::move(bytes));
    if (!reader->List(error)) return nullptr;
    return reader;
}

}  // namespace trelmo::containers
