// SPDX-License-Identifier: BSD-3-Clause
#include "containers/zip_archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <mutex>
#include <utility>

#include "containers/open_container.h"
#include "containers/zip_reader.h"

namespace trelmo::containers {
namespace {

// More entries than any song collection holds; a hostile central directory stops here.
constexpr size_t MaxListedEntries = 65536;

struct ArchiveFree {
    void operator()(archive* reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<archive, ArchiveFree>;

// libarchive's reason, without the line break some of its messages end in.
std::string ReaderError(archive* reader, const char* fallback) {
    const char* text = archive_error_string(reader);
    std::string reason = text != nullptr ? text : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason.empty() ? fallback : reason;
}

// Keeps the pathname inside the archive: no leading '/', no "." or "..", no empty components.
std::string InnerPath(const std::string& name) {
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
    return path;
}

class ZipArchive final : public Container {
  public:
    ZipArchive(std::vector<uint8_t> bytes, bool gzip) : bytes_(std::move(bytes)), gzip_(gzip) {}

    // Lists the entries; false, with libarchive's reason, when not even one header can be read.
    bool List(const std::string& name, std::string& error) {
        Reader reader = Open();
        if (!reader) {
            error = "cannot start libarchive";
            return false;
        }
        archive_entry* header = nullptr;
        for (size_t ordinal = 0; ordinal < MaxListedEntries; ++ordinal) {
            const int status = archive_read_next_header(reader.get(), &header);
            if (status == ARCHIVE_EOF) break;
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                if (ordinal == 0) {
                    error = ReaderError(reader.get(), "not a zip or gzip file");
                    return false;
                }
                break;  // what was listed before the damage stays listed
            }
            if (archive_entry_filetype(header) != AE_IFREG) continue;
            Entry entry;
            const bool raw = archive_format(reader.get()) == ARCHIVE_FORMAT_RAW;
            if (raw) {
                entry.path = GzipFileName(View(), name);
                // The gzip trailer states the unpacked length (modulo 4 GB).
                if (bytes_.size() >= 18) entry.size = ReadU32Le(View(), bytes_.size() - 4);
            } else {
                const char* path = archive_entry_pathname_utf8(header);
                if (path == nullptr) path = archive_entry_pathname(header);
                entry.path = InnerPath(path != nullptr ? path : "");
                if (archive_entry_size_is_set(header))
                    entry.size = static_cast<uint64_t>(archive_entry_size(header));
            }
            if (entry.path.empty()) entry.path = "UNNAMED." + std::to_string(entries_.size() + 1);
            if (archive_entry_is_encrypted(header)) {
                entry.problem = "it is encrypted, which is not supported";
            } else if (entry.size > MaxEntryBytes) {
                entry.problem = "it claims " + std::to_string(entry.size) +
                                " bytes, more than the limit of " + std::to_string(MaxEntryBytes);
            }
            places_.push_back({ordinal, raw || archive_entry_size_is_set(header) != 0});
            entries_.push_back(std::move(entry));
        }
        // A gzip file of a few zero blocks reads as an empty tar archive: then it is one file.
        if (gzip_ && !rawOnly_ && entries_.empty() && archive_format(reader.get()) != ARCHIVE_FORMAT_RAW) {
            rawOnly_ = true;
            return List(name, error);
        }
        return true;
    }

    const std::vector<Entry>& Entries() const override { return entries_; }

    bool Read(size_t index, size_t limit, std::vector<uint8_t>& out, std::string& error) const override {
        if (!StartRead(entries_, index, limit, out, error)) return false;
        // What an entry states bounds what is unpacked: a few bytes that claim little and unpack to
        // a lot are stopped at the claim. (A gzip stream states its length modulo 4 GB, but within
        // the limits that is its length.)
        const Place place = places_[index];
        const bool stated = place.sized;
        const size_t bound = stated ? static_cast<size_t>(entries_[index].size) : limit;
        std::lock_guard<std::mutex> hold(cursorLock_);
        if (!Seek(place.ordinal, error)) return false;
        // Blocks come straight from libarchive's own buffer; a gap between them is a hole of zeros.
        const void* block = nullptr;
        size_t got = 0;
        la_int64_t offset = 0;
        for (;;) {
            const int status = archive_read_data_block(cursor_.get(), &block, &got, &offset);
            if (status == ARCHIVE_EOF) break;
            const char* fault = nullptr;
            if (status != ARCHIVE_OK) {  // a warning too: retrying could repeat it for ever
                fault = "the archive is damaged";
            } else if (offset < 0 || static_cast<uint64_t>(offset) < out.size()) {
                fault = "its data goes back on itself";
            }
            if (fault != nullptr) {
                out.clear();
                error = status != ARCHIVE_OK ? ReaderError(cursor_.get(), fault) : fault;
                cursor_.reset();
                return false;
            }
            const uint64_t at = static_cast<uint64_t>(offset);
            if (at > bound || got > bound - at) {
                out.clear();
                error = stated ? "it unpacks to more than the " + std::to_string(bound) + " bytes it states"
                               : "it unpacks to more than the limit of " + std::to_string(limit) + " bytes";
                cursor_.reset();
                return false;
            }
            out.resize(static_cast<size_t>(at));
            const auto* bytes = static_cast<const uint8_t*>(block);
            out.insert(out.end(), bytes, bytes + got);
        }
        return true;
    }

    void Rest() const override {
        std::lock_guard<std::mutex> hold(cursorLock_);
        cursor_.reset();
    }

  private:
    struct Place {
        size_t ordinal;  // the entry's place among all of libarchive's headers
        bool sized;      // whether its header states its unpacked length
    };

    // Puts the cursor at the data of the header at ordinal. Entries are read mostly in order (a
    // listing reads each in turn), so the cursor moves on from where it is, and starts again only
    // to go back: reading every entry of an archive costs one pass over it, not one per entry.
    bool Seek(size_t ordinal, std::string& error) const {
        if (!cursor_ || cursorNext_ > ordinal) {
            cursor_ = Open();
            cursorNext_ = 0;
            if (!cursor_) {
                error = "cannot start libarchive";
                return false;
            }
        }
        archive_entry* header = nullptr;
        for (; cursorNext_ <= ordinal; ++cursorNext_) {
            const int status = archive_read_next_header(cursor_.get(), &header);
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                error = ReaderError(cursor_.get(), "the archive is damaged");
                cursor_.reset();
                return false;
            }
        }
        return true;
    }

    ByteView View() const { return ByteView{const_cast<uint8_t*>(bytes_.data()), bytes_.size()}; }

    Reader Open() const {
        Reader reader(archive_read_new());
        if (!reader) return reader;
        if (gzip_) {
            archive_read_support_filter_gzip(reader.get());
            if (!rawOnly_) archive_read_support_format_tar(reader.get());
            archive_read_support_format_raw(reader.get());
        } else {
            archive_read_support_format_zip(reader.get());
        }
        if (archive_read_open_memory(reader.get(), bytes_.data(), bytes_.size()) != ARCHIVE_OK)
            reader.reset();
        return reader;
    }

    std::vector<uint8_t> bytes_;
    bool gzip_;
    bool rawOnly_ = false;
    std::vector<Entry> entries_;
    std::vector<Place> places_;
    // Reads may come from several threads at once (engines loading from one container).
    mutable std::mutex cursorLock_;
    mutable Reader cursor_;
    mutable size_t cursorNext_ = 0;  // the ordinal of the header the cursor reads next
};

}  // namespace

bool LooksLikeZip(ByteView bytes) {
    return ReadU8(bytes, 0) == 'P' && ReadU8(bytes, 1) == 'K' &&
           ((ReadU8(bytes, 2) == 3 && ReadU8(bytes, 3) == 4) ||
            (ReadU8(bytes, 2) == 5 && ReadU8(bytes, 3) == 6));
}

bool LooksLikeGzip(ByteView bytes) {
    return ReadU8(bytes, 0) == 0x1F && ReadU8(bytes, 1) == 0x8B && bytes.size >= 18;
}

std::unique_ptr<Container> OpenZipArchive(std::vector<uint8_t> bytes, const std::string& name,
                                          std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "the archive is larger than " + std::to_string(MaxContainerBytes) + " bytes";
        return nullptr;
    }
    const ByteView view{bytes.data(), bytes.size()};
    const bool gzip = LooksLikeGzip(view);
    if (!gzip && !LooksLikeZip(view)) {
        error = "not a zip or gzip file";
        return nullptr;
    }
    auto container = std::make_unique<ZipArchive>(std::move(bytes), gzip);
    if (!container->List(name, error)) return nullptr;
    return container;
}

}  // namespace trelmo::containers

namespace trelmo::containers {

// Overrides the library's answer that zip and gzip are not supported in this build.
ArchiveOpener ZipOpener() {
    return &OpenZipArchive;
}

}  // namespace trelmo::containers
