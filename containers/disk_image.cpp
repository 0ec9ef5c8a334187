// SPDX-License-Identifier: BSD-3-Clause
#include "containers/disk_image.h"

#include <algorithm>
#include <cstring>

#include "containers/prodos_volume.h"
#include "instruments/block_reader.h"

namespace trelmo::containers {

namespace {

constexpr size_t SectorSize = 256;
constexpr size_t SectorsPerTrack = 16;
constexpr size_t FloppyBytes = 35 * SectorsPerTrack * SectorSize;  // 140 KB, 280 blocks

// The two DOS 3.3 sectors that hold each half of the eight blocks of a track.
constexpr uint8_t DosSectorOfBlockHalf[8][2] = {{0, 14}, {13, 12}, {11, 10}, {9, 8},
                                                {7, 6},  {5, 4},   {3, 2},   {1, 15}};

constexpr size_t TwoImgHeaderLength = 64;
constexpr size_t DiskCopyHeaderLength = 84;

uint32_t ReadU16Be(ByteView view, size_t offset) {
    return static_cast<uint32_t>(ReadU8(view, offset) << 8 | ReadU8(view, offset + 1));
}

// The volume in bytes[offset, offset + length), in ProDOS order or, for a 140 KB one, in DOS 3.3
// order: whichever order shows a volume directory.
std::unique_ptr<Container> OpenEitherOrder(std::vector<uint8_t> bytes, size_t offset, size_t length,
                                           const std::string& what, std::string& error) {
    if (HasProdosVolumeHeader(bytes, offset, length))
        return ProdosVolume::Open(std::move(bytes), offset, length, error);
    if (length == FloppyBytes) {
        std::vector<uint8_t> floppy(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
        std::vector<uint8_t> blocks = ReorderDosSectors(floppy);
        if (HasProdosVolumeHeader(blocks, 0, blocks.size()))
            return ProdosVolume::Open(std::move(blocks), 0, FloppyBytes, error);
        error = what + " holds no ProDOS volume in either sector order (a DOS 3.3 or Pascal disk?)";
        return nullptr;
    }
    error = what + " holds no ProDOS volume";
    return nullptr;
}

// 2IMG: a 64-byte header (some writers say 52 in it) giving the data's offset, length and order.
// Writers in the wild leave the length zero; it is then the block count's, or the rest of the file.
std::unique_ptr<Container> OpenTwoImg(std::vector<uint8_t> bytes, std::string& error) {
    const ByteView view{bytes.data(), bytes.size()};
    const uint32_t format = ReadU32Le(view, 0x0C);
    if (format == 2) {
        error = "2IMG image of nibbles, which is not supported";
        return nullptr;
    }
    if (format > 2) {
        error = "2IMG image of unknown format " + std::to_string(format);
        return nullptr;
    }
    size_t offset = ReadU32Le(view, 0x18);
    if (offset == 0 || offset >= bytes.size()) {
        const size_t headerLength = ReadU16Le(view, 0x08);
        offset = headerLength >= 52 && headerLength < bytes.size() ? headerLength : TwoImgHeaderLength;
    }
    if (offset >= bytes.size()) {
        error = "2IMG image without data";
        return nullptr;
    }
    const size_t rest = bytes.size() - offset;
    const size_t blocks = ReadU32Le(view, 0x14);
    size_t length = ReadU32Le(view, 0x1C);
    if (length == 0) length = format == 1 && blocks != 0 ? blocks * ProdosBlockSize : rest;
    const bool cut = length > rest;
    length = std::min(length, rest);
    auto volume = OpenEitherOrder(std::move(bytes), offset, length, "2IMG image", error);
    if (volume != nullptr && cut) {
        static_cast<ProdosVolume&>(*volume).AddNote(
            "the 2IMG image is cut short: its data ends before the length it states");
    }
    return volume;
}

// DiskCopy 4.2's checksum: each big-endian word added, the sum then rotated right by one.
uint32_t DiskCopyChecksum(ByteView data) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < data.size; i += 2) {
        sum += ReadU16Be(data, i);
        sum = (sum >> 1) | (sum << 31);
    }
    return sum;
}

bool IsDiskCopy(ByteView view) {
    if (view.size < DiskCopyHeaderLength || ReadU8(view, 0) > 63 || ReadU16Be(view, 82) != 0x0100)
        return false;
    const size_t dataSize = ReadU32Be(view, 64);
    return dataSize != 0 && dataSize % ProdosBlockSize == 0 && dataSize <= view.size - DiskCopyHeaderLength;
}

// DiskCopy 4.2: an 84-byte big-endian header, then the blocks in order (then tags, not read).
std::unique_ptr<Container> OpenDiskCopy(std::vector<uint8_t> bytes, std::string& error) {
    const ByteView view{bytes.data(), bytes.size()};
    const size_t dataSize = ReadU32Be(view, 64);
    const bool checksumMatches =
        DiskCopyChecksum(SubView(view, DiskCopyHeaderLength, dataSize)) == ReadU32Be(view, 72);
    auto volume = OpenEitherOrder(std::move(bytes), DiskCopyHeaderLength, dataSize, "DiskCopy image", error);
    if (volume != nullptr && !checksumMatches) {
        static_cast<ProdosVolume&>(*volume).AddNote(
            "the DiskCopy image's checksum does not match its data: it may be damaged");
    }
    return volume;
}

}  // namespace

std::vector<uint8_t> ReorderDosSectors(const std::vector<uint8_t>& image, bool toDos) {
    std::vector<uint8_t> out(image.size(), 0);
    const size_t tracks = image.size() / (SectorsPerTrack * SectorSize);
    for (size_t track = 0; track < tracks; ++track) {
        const size_t base = track * SectorsPerTrack * SectorSize;
        for (size_t block = 0; block < 8; ++block) {
            for (size_t half = 0; half < 2; ++half) {
                const size_t prodosAt = base + block * ProdosBlockSize + half * SectorSize;
                const size_t dosAt = base + DosSectorOfBlockHalf[block][half] * SectorSize;
                std::memcpy(out.data() + (toDos ? dosAt : prodosAt),
                            image.data() + (toDos ? prodosAt : dosAt), SectorSize);
            }
        }
    }
    return out;
}

std::unique_ptr<Container> OpenDiskImage(std::vector<uint8_t> bytes, std::string& error) {
    if (bytes.size() > MaxContainerBytes) {
        error = "larger than the " + std::to_string(MaxContainerBytes >> 20) + " MB a disk image may be";
        return nullptr;
    }
    const ByteView view{bytes.data(), bytes.size()};
    if (HasTag(view, 0, "2IMG")) return OpenTwoImg(std::move(bytes), error);
    if (IsDiskCopy(view)) return OpenDiskCopy(std::move(bytes), error);
    if (bytes.size() < 3 * ProdosBlockSize) {
        error = "too short for a disk image";
        return nullptr;
    }
    const size_t length = bytes.size() - bytes.size() % ProdosBlockSize;
    auto volume = OpenEitherOrder(std::move(bytes), 0, length, "the image", error);
    if (volume == nullptr) error = "not a disk image: no 2IMG or DiskCopy header, and no ProDOS volume in it";
    return volume;
}

}  // namespace trelmo::containers
