// SPDX-License-Identifier: BSD-3-Clause
// Opening a container by its bytes and flattening what it nests.
#include "containers/open_container.h"

#include <cstring>

#include "containers/binary_ii.h"
#include "containers/disk_image.h"
#include "containers/nufx_archive.h"
#include "containers/prodos_volume.h"
#include "instruments/block_reader.h"
#include "instruments/find_file.h"
#include "song/song_loader.h"

namespace trelmo::containers {

namespace {

bool HasZipMagic(ByteView bytes) {
    return ReadU8(bytes, 0) == 'P' && ReadU8(bytes, 1) == 'K' &&
           ((ReadU8(bytes, 2) == 3 && ReadU8(bytes, 3) == 4) ||
            (ReadU8(bytes, 2) == 5 && ReadU8(bytes, 3) == 6));
}
bool HasGzipMagic(ByteView bytes) {
    return ReadU8(bytes, 0) == 0x1F && ReadU8(bytes, 1) == 0x8B;
}

// A disk image shows itself by a header (2IMG, DiskCopy 4.2's fixed word) or, raw, by a ProDOS
// volume directory in block 2 in either sector order; only then are its bytes handed to the reader.
bool LooksLikeDiskImage(const std::vector<uint8_t>& bytes) {
    const ByteView view{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "2IMG", 4) == 0) return true;
    if (bytes.size() >= 84 && ReadU8(view, 82) == 1 && ReadU8(view, 83) == 0 && ReadU8(view, 0) <= 63)
        return true;
    if (bytes.size() < 3 * ProdosBlockSize) return false;
    if (HasProdosVolumeHeader(bytes, 0, bytes.size() - bytes.size() % ProdosBlockSize)) return true;
    return bytes.size() == 143360 && HasProdosVolumeHeader(ReorderDosSectors(bytes), 0, bytes.size());
}

// Enough of a file to tell what it is: a song's header, any container's signature, and block 2,
// where a ProDOS volume begins.
constexpr size_t RecognisedBytes = 3 * ProdosBlockSize;

// Whether a file of size bytes that begins with start (its first RecognisedBytes) may be a
// container, judged as OpenNested judges the whole file; only then is the rest of it read.
bool MightBeContainer(const std::vector<uint8_t>& start, uint64_t size) {
    const ByteView view{const_cast<uint8_t*>(start.data()), start.size()};
    return LooksLikeNufx(view) || LooksLikeBinaryII(view) || HasZipMagic(view) || HasGzipMagic(view) ||
           LooksLikeDiskImage(start) ||
           size == 143360;  // a 140K disk in DOS order shows its volume elsewhere
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

[[gnu::weak]] ArchiveOpener ZipOpener() {
    return nullptr;
}

bool ZipSupported() {
    return ZipOpener() != nullptr;
}

bool LooksLikeContainer(ByteView bytes) {
    if (LooksLikeNufx(bytes) || LooksLikeBinaryII(bytes)) return true;
    if (HasZipMagic(bytes) || HasGzipMagic(bytes)) return ZipSupported();
    return LooksLikeDiskImage(std::vector<uint8_t>(bytes.data, bytes.data + bytes.size));
}

std::unique_ptr<Container> OpenedContainer::OpenNested(std::vector<uint8_t>& bytes, const std::string& name,
                                                       std::string& error) const {
    const ByteView view{bytes.data(), bytes.size()};
    if (LooksLikeNufx(view)) return OpenNufxArchive(std::move(bytes), error);
    if (LooksLikeBinaryII(view)) return OpenBinaryII(std::move(bytes), error);
    if (HasZipMagic(view) || (HasGzipMagic(view) && bytes.size() >= 18)) {
        if (ArchiveOpener open = ZipOpener()) return open(std::move(bytes), name, error);
        error = std::string(HasZipMagic(view) ? "a zip" : "a gzip") +
                " file, which is not supported in this build";
        return nullptr;
    }
    if (LooksLikeDiskImage(bytes)) return OpenDiskImage(std::move(bytes), error);
    return nullptr;
}

void OpenedContainer::List(size_t layer, const std::string& prefix, int depth) {
    const Container& container = *layers_[layer];
    if (const auto* volume = dynamic_cast<const ProdosVolume*>(&container)) {
        for (const std::string& note : volume->Notes())
            skipped_.push_back(prefix + volume->VolumeName() + ": " + note);
    }
    const std::vector<Entry>& entries = container.Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const std::string path = prefix + entry.path;
        if (!entry.problem.empty()) {
            skipped_.push_back(path + ": " + entry.problem);
            continue;
        }
        // Written so that it cannot wrap, should a reader ever give more than an entry stated.
        if (unpacked_ >= MaxUnpackedBytes || entry.size > MaxUnpackedBytes - unpacked_) {
            skipped_.push_back(path + ": not examined: the container would unpack to more than " +
                               std::to_string(MaxUnpackedBytes >> 20) + " MB");
            continue;
        }
        // Every file is recognised by its first bytes: a song, or a container inside, which is then
        // read whole and opened.
        std::vector<uint8_t> bytes;
        uint64_t size = 0;
        std::string error;
        if (!container.ReadStart(i, RecognisedBytes, bytes, size, error) ||
            (size > bytes.size() && (entry.isVolume || MightBeContainer(bytes, size)) &&
             !container.Read(i, MaxEntryBytes, bytes, error))) {
            skipped_.push_back(path + ": " + error);
            continue;
        }
        unpacked_ += static_cast<size_t>(size);
        const int16_t kind = DetectSongKind(bytes.data(), bytes.size());
        std::unique_ptr<Container> nested;
        if (entry.isVolume) {
            nested = OpenProdosVolume(std::move(bytes), error);
            if (nested == nullptr) error = "a disk that holds no ProDOS volume: " + error;
        } else if (kind == NoSong) {
            nested = OpenNested(bytes, BaseName(entry.path), error);
        }
        if (nested != nullptr || !error.empty()) {
            if (nested == nullptr) {
                skipped_.push_back(path + ": " + error);
            } else if (depth >= MaxNestingDepth) {
                skipped_.push_back(path + ": not opened: containers nested more than " +
                                   std::to_string(MaxNestingDepth) + " deep");
            } else {
                layers_.push_back(std::move(nested));
                List(layers_.size() - 1, path + "/", depth + 1);
            }
            continue;
        }
        File file;
        file.path = path;
        const size_t slash = path.find_last_of('/');
        file.nameAt = slash == std::string::npos ? 0 : slash + 1;
        file.fileType = entry.fileType;
        file.auxType = entry.auxType;
        file.size = size;
        file.songKind = kind;
        file.layer = layer;
        file.index = i;
        files_.push_back(std::move(file));
    }
    container.Rest();
}

bool OpenedContainer::Read(size_t file, size_t limit, std::vector<uint8_t>& out, std::string& error) const {
    if (file >= files_.size()) {
        error = "no such file in the container";
        return false;
    }
    const Container& layer = *layers_[files_[file].layer];
    const bool read = layer.Read(files_[file].index, limit, out, error);
    layer.Rest();
    return read;
}

size_t OpenedContainer::FindBeside(size_t file, const std::string& name) const {
    if (file >= files_.size() || !IsPlainFileName(name)) return files_.size();
    const File& song = files_[file];
    FileNameChoice choice(name);
    size_t chosen = files_.size();
    for (size_t i = 0; i < files_.size(); ++i) {
        const File& other = files_[i];
        if (other.nameAt != song.nameAt || other.path.compare(0, song.nameAt, song.path, 0, song.nameAt) != 0)
            continue;
        const char* own = other.path.c_str() + other.nameAt;
        if (choice.Better(own)) {
            choice.Take(own);
            chosen = i;
        }
    }
    return chosen;
}

std::unique_ptr<OpenedContainer> OpenContainer(std::vector<uint8_t> bytes, const std::string& name,
                                               std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "larger than the " + std::to_string(MaxContainerBytes >> 20) + " MB a container may be";
        return nullptr;
    }
    auto opened = std::unique_ptr<OpenedContainer>(new OpenedContainer());
    opened->unpacked_ = bytes.size();
    error.clear();
    std::unique_ptr<Container> top = opened->OpenNested(bytes, BaseName(name), error);
    if (top == nullptr) {
        if (error.empty()) error = "not a disk image or an archive this program reads";
        return nullptr;
    }
    opened->layers_.push_back(std::move(top));
    opened->List(0, "", 1);
    return opened;
}

}  // namespace trelmo::containers
