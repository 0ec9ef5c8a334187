// SPDX-License-Identifier: BSD-3-Clause
#include "containers/binary_ii.h"

#include <algorithm>
#include <utility>

#include "containers/squeeze.h"

namespace trelmo::containers {
namespace {

constexpr uint8_t DirectoryType = 0x0F;
constexpr uint8_t DirectoryStorage = 0x0D;
constexpr uint8_t SqueezedFlag = 0x80;
constexpr uint8_t EncryptedFlag = 0x40;
constexpr size_t MaxNameLength = 64;
// Squeezed files are unpacked while listing, to learn their sizes: a few KB can claim 64 MB, so
// what listing one archive may unpack is bounded as a whole.
constexpr size_t MaxListedUnsqueezed = size_t{256} << 20;

bool IsHeader(ByteView view, size_t pos) {
    return Contains(view, pos, BinaryIIHeaderSize) && ReadU8(view, pos) == 0x0A &&
           ReadU8(view, pos + 1) == 0x47 && ReadU8(view, pos + 2) == 0x4C && ReadU8(view, pos + 0x12) == 0x02;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    if (text.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        const char c = text[text.size() - tail.size() + i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c) != tail[i]) return false;
    }
    return true;
}

class BinaryIIArchive final : public Container {
  public:
    explicit BinaryIIArchive(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) { List(); }

    const std::vector<Entry>& Entries() const override { return entries_; }

    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override {
        if (!StartRead(entries_, index, limit, out, error)) return false;
        if (squeezed_[index] && !Unsqueeze(Stored(index), limit, out, error)) {
            out.clear();
            return false;
        }
        if (squeezed_[index]) return true;
        const ByteView data = Stored(index);
        out.assign(data.data, data.data + data.size);
        return true;
    }

  private:
    ByteView View() const { return ByteView{const_cast<uint8_t*>(bytes_.data()), bytes_.size()}; }
    ByteView Stored(size_t index) const { return SubView(View(), offsets_[index], stored_[index]); }

    void List() {
        const ByteView view = View();
        size_t pos = 0;
        size_t unsqueezed = 0;
        // Every step moves forward by at least one header, so the walk ends.
        while (IsHeader(view, pos)) {
            const uint8_t fileType = ReadU8(view, pos + 4);
            const uint8_t storage = ReadU8(view, pos + 7);
            const uint64_t length = ReadU24Le(view, pos + 0x14) | (uint64_t{ReadU8(view, pos + 0x74)} << 24);
            const size_t nameLength = ReadU8(view, pos + 0x17);
            const bool phantom = ReadU8(view, pos + 0x7C) != 0;
            const uint8_t flags = ReadU8(view, pos + 0x7D);
            const size_t data = pos + BinaryIIHeaderSize;
            const bool folder = fileType == DirectoryType || storage == DirectoryStorage;
            // A folder's entry carries no data, whatever length it states.
            const uint64_t span =
                folder ? 0 : (length + BinaryIIHeaderSize - 1) / BinaryIIHeaderSize * BinaryIIHeaderSize;

            if (!folder && !phantom) {
                Entry entry;
                const ByteView name =
                    SubView(view, pos + 0x18, nameLength <= MaxNameLength ? nameLength : MaxNameLength);
                for (size_t i = 0; i < name.size; ++i) {
                    const char c = static_cast<char>(ReadU8(name, i) & 0x7F);
                    if (c != 0) entry.path += c;
                }
                entry.fileType = fileType;
                entry.auxType = ReadU16Le(view, pos + 5);
                entry.size = length;
                if (nameLength == 0 || nameLength > MaxNameLength) {
                    entry.problem =
                        "its header is damaged (a name of " + std::to_string(nameLength) + " characters)";
                } else if ((flags & EncryptedFlag) != 0) {
                    entry.problem = "it is encrypted, which is not supported";
                } else if (!Contains(view, data, static_cast<size_t>(std::min<uint64_t>(length, SIZE_MAX)))) {
                    entry.problem = "the archive ends inside it";
                } else if (length > MaxEntryBytes) {
                    entry.problem = "it claims " + std::to_string(length) +
                                    " bytes, more than the limit of " + std::to_string(MaxEntryBytes);
                }
                // A squeezed file is stored under its name with ".QQ" added, and its length is the
                // squeezed one: unpacked once here, it is listed by its own name and size.
                const bool squeezed = (flags & SqueezedFlag) != 0 || EndsWith(entry.path, ".QQ");
                const size_t stored = static_cast<size_t>(std::min<uint64_t>(length, MaxEntryBytes));
                if (squeezed && entry.problem.empty() && unsqueezed >= MaxListedUnsqueezed) {
                    entry.problem = "not unpacked: the archive's squeezed files unpack to more than " +
                                    std::to_string(MaxListedUnsqueezed >> 20) + " MB";
                } else if (squeezed && entry.problem.empty()) {
                    std::vector<uint8_t> unpacked;
                    const size_t limit = std::min(MaxEntryBytes, MaxListedUnsqueezed - unsqueezed);
                    if (Unsqueeze(SubView(view, data, stored), limit, unpacked, entry.problem)) {
                        entry.size = unpacked.size();
                    }
                    unsqueezed += unpacked.size();
                }
                if (squeezed && EndsWith(entry.path, ".QQ")) entry.path.resize(entry.path.size() - 3);
                entry.path = SafePath(entry.path, entries_.size() + 1);
                entries_.push_back(std::move(entry));
                offsets_.push_back(data);
                stored_.push_back(stored);
                squeezed_.push_back(squeezed);
            }
            if (span > view.size - data) break;
            pos = data + static_cast<size_t>(span);
        }
    }

    // Partial pathnames are kept, without components that climb out of the archive.
    static std::string SafePath(const std::string& name, size_t number) {
        std::string path;
        size_t start = 0;
        while (start <= name.size()) {
            size_t end = name.find('/', start);
            if (end == std::string::npos) end = name.size();
            const std::string component = name.substr(start, end - start);
            if (!component.empty() && component != "." && component != "..") {
                if (!path.empty()) path += '/';
                path += component;
            }
            start = end + 1;
        }
        return path.empty() ? "UNNAMED." + std::to_string(number) : path;
    }

    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
    std::vector<size_t> offsets_;
    std::vector<size_t> stored_;  // the bytes each entry takes in the archive
    std::vector<bool> squeezed_;
};

}  // namespace

bool LooksLikeBinaryII(ByteView bytes) {
    return IsHeader(bytes, 0);
}

std::unique_ptr<Container> OpenBinaryII(std::vector<uint8_t> bytes, std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "the archive is larger than " + std::to_string(MaxContainerBytes) + " bytes";
        return nullptr;
    }
    if (!LooksLikeBinaryII(ByteView{bytes.data(), bytes.size()})) {
        error = "not a Binary II archive";
        return nullptr;
    }
    return std::make_unique<BinaryIIArchive>(std::move(bytes));
}

}  // namespace trelmo::containers
