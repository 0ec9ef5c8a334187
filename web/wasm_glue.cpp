// SPDX-License-Identifier: BSD-3-Clause
// What the player page needs around the C API in WebAssembly, where JavaScript can neither hand the
// library a callback nor read its structures by field name:
// - the companion files the page has for a song are registered here first, each under the very name
//   the library asked for (the page picks the file that answers a name by the library's own rule,
//   trelmo_match_file_name: web/page/companions.js), and loading
//   answers the library's requests from them; every name asked is kept, in order, so that the page
//   can go and find the ones it does not have yet;
// - the loaders' messages are kept for the page to show;
// - the song's description is flattened into 32-bit slots in an order engine.js names;
// - a disk image or archive is opened here once, listed, and each song and each companion the library
//   asks for is read out of it on its own (by the rule the library itself uses inside containers),
//   so that the audio worklet loads a container's song as it loads a loose one;
// - 64-bit frame counts travel as doubles (exact up to 2^53 frames, some 6000 years of sound).
// The module imports nothing: it is compiled once and instantiated both on the page and in the
// audio worklet.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "containers/open_container.h"
#include "containers/zip_reader.h"
#include "trelmo/trelmo.h"

#define GLUE_EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

struct CompanionFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<CompanionFile> Files;
std::vector<std::string> Asked;
std::string Messages;

int FindFile(void*, const char* name, const void** data, size_t* size) {
    Asked.emplace_back(name);
    for (const CompanionFile& file : Files) {
        if (file.name != name) continue;
        *data = file.bytes.data();
        *size = file.bytes.size();
        return 1;
    }
    return 0;
}

std::unique_ptr<trelmo::containers::OpenedContainer> Opened;
std::vector<size_t> Songs;  // the files of Opened that are songs, in its order
std::string ContainerError;
std::vector<uint8_t> Extracted;  // the file read out of the container last

void KeepMessage(void*, const char* message) {
    Messages += message;
}

int32_t Pointer(const void* p) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

// Companion files: cleared before each song, then one call per file that may belong to it.
GLUE_EXPORT void web_files_clear() {
    Files.clear();
}

GLUE_EXPORT int web_file_add(const char* name, const uint8_t* data, size_t size) {
    Files.push_back(CompanionFile{name, std::vector<uint8_t>(data, data + size)});
    return static_cast<int>(Files.size());
}

// Loads a song with the registered companion files; returns a trelmo_status.
GLUE_EXPORT int web_load(trelmo_engine* engine, const void* data, size_t size, const char* name) {
    Messages.clear();
    Asked.clear();
    trelmo_set_message_callback(engine, KeepMessage, nullptr);
    return trelmo_load_memory(engine, data, size, name, FindFile, nullptr);
}

// The last load's messages, and the companion names it asked for (count, then each in order).
GLUE_EXPORT const char* web_messages() {
    return Messages.c_str();
}
GLUE_EXPORT int web_asked_count() {
    return static_cast<int>(Asked.size());
}
GLUE_EXPORT const char* web_asked_name(int index) {
    return index >= 0 && static_cast<size_t>(index) < Asked.size() ? Asked[static_cast<size_t>(index)].c_str()
                                                                   : "";
}

// The library's size limits, so that the page reads no more than the library would take.
GLUE_EXPORT double web_max_song_bytes() {
    return TRELMO_MAX_SONG_BYTES;
}
GLUE_EXPORT double web_max_companion_bytes() {
    return TRELMO_MAX_COMPANION_BYTES;
}

// The song's description in slots; returns the number of slots, 0 without a song. The texts are
// the library's UTF-8 metadata.
GLUE_EXPORT int web_info(trelmo_engine* engine, int32_t* out) {
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    if (trelmo_get_song_info(engine, &info) != TRELMO_OK) return 0;
    const int32_t slots[] = {info.kind,
                             Pointer(trelmo_get_metadata(engine, "type_long")),
                             Pointer(trelmo_get_metadata(engine, "form")),
                             info.patterns,
                             info.positions,
                             info.speed,
                             info.tempo_word,
                             info.tempo,
                             info.tracks,
                             Pointer(trelmo_get_metadata(engine, "bank")),
                             info.bank_used,
                             info.bank_in_current_folder,
                             info.instrument_count,
                             info.missing_count,
                             Pointer(trelmo_get_metadata(engine, "looked_for")),
                             info.ends};
    std::memcpy(out, slots, sizeof slots);
    return static_cast<int>(sizeof slots / sizeof slots[0]);
}

GLUE_EXPORT double web_pass_frames(trelmo_engine* engine) {
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    return trelmo_get_song_info(engine, &info) != TRELMO_OK ? 0.0 : static_cast<double>(info.frames);
}

// One instrument in slots; returns the number of slots, 0 when index is out of range.
GLUE_EXPORT int web_instrument(trelmo_engine* engine, int index, int32_t* out) {
    trelmo_instrument instrument;
    TRELMO_INIT_RECORD(instrument);
    if (trelmo_get_instrument(engine, index, &instrument) != TRELMO_OK) return 0;
    const int32_t slots[] = {instrument.number,
                             Pointer(instrument.name),
                             instrument.source,
                             Pointer(instrument.file),
                             static_cast<int32_t>(instrument.length),
                             static_cast<int32_t>(instrument.loop_start),
                             static_cast<int32_t>(instrument.loop_end),
                             instrument.loops,
                             instrument.volume};
    std::memcpy(out, slots, sizeof slots);
    return static_cast<int>(sizeof slots / sizeof slots[0]);
}

// The length as the options play it; -1 when the song loops for ever.
GLUE_EXPORT double web_length(trelmo_engine* engine) {
    const uint64_t frames = trelmo_length_frames(engine);
    return frames == UINT64_MAX ? -1.0 : static_cast<double>(frames);
}

GLUE_EXPORT double web_position(trelmo_engine* engine) {
    return static_cast<double>(trelmo_position(engine));
}

GLUE_EXPORT int web_seek(trelmo_engine* engine, double frame) {
    return trelmo_seek(engine, frame <= 0 ? 0 : static_cast<uint64_t>(frame));
}

// The frame at which an order position starts in the pass being played; -1 when there is none.
GLUE_EXPORT double web_position_frame(trelmo_engine* engine, int position) {
    uint64_t frame = 0;
    return trelmo_order_position_frame(engine, position, &frame) == TRELMO_OK ? static_cast<double>(frame)
                                                                              : -1.0;
}

// Zip files are read by the library's own zip reader here, libarchive not being linked.
trelmo::containers::ArchiveOpener trelmo::containers::ZipOpener() {
    return &trelmo::containers::OpenZipReader;
}

// Disk images and archives. A container is told by its first bytes (at most a 140K disk's worth).
GLUE_EXPORT int web_looks_like_container(uint8_t* data, size_t size) {
    return trelmo::containers::LooksLikeContainer(trelmo::ByteView{data, size}) ? 1 : 0;
}
GLUE_EXPORT double web_max_container_bytes() {
    return static_cast<double>(trelmo::containers::MaxContainerBytes);
}

// Opens the container (closing the one before); returns its number of songs, or -1 with the reason
// in web_container_error.
GLUE_EXPORT int web_container_open(const uint8_t* data, size_t size, const char* name) {
    Songs.clear();
    ContainerError.clear();
    Opened = trelmo::containers::OpenContainer(std::vector<uint8_t>(data, data + size), name, ContainerError);
    if (!Opened) return -1;
    const auto& files = Opened->Files();
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].songKind >= 0) Songs.push_back(i);
    }
    return static_cast<int>(Songs.size());
}
GLUE_EXPORT const char* web_container_error() {
    return ContainerError.c_str();
}
GLUE_EXPORT int web_container_song_count() {
    return static_cast<int>(Songs.size());
}

// The song's inner path ("BLUE.HELMET/INTRO/ECHO.MUS"); "" for an index out of range.
GLUE_EXPORT const char* web_container_song_path(int song) {
    if (!Opened || song < 0 || static_cast<size_t>(song) >= Songs.size()) return "";
    return Opened->Files()[Songs[static_cast<size_t>(song)]].path.c_str();
}

// Reads the song's bytes into the extracted buffer; returns 1, or 0 with the reason in web_container_error.
GLUE_EXPORT int web_container_song(int song) {
    Extracted.clear();
    if (!Opened || song < 0 || static_cast<size_t>(song) >= Songs.size()) return 0;
    return Opened->Read(Songs[static_cast<size_t>(song)], TRELMO_MAX_SONG_BYTES, Extracted, ContainerError)
               ? 1
               : 0;
}

// Reads the file of the song's own folder that stands for name, as the library chooses it for a
// song loaded from the container; returns 1, or 0 when there is none.
GLUE_EXPORT int web_container_companion(int song, const char* name) {
    Extracted.clear();
    if (!Opened || song < 0 || static_cast<size_t>(song) >= Songs.size()) return 0;
    const size_t file = Songs[static_cast<size_t>(song)];
    const size_t found = Opened->FindBeside(file, name);
    std::string error;
    return found != file && found < Opened->Files().size() &&
                   Opened->Read(found, TRELMO_MAX_COMPANION_BYTES, Extracted, error)
               ? 1
               : 0;
}
GLUE_EXPORT const uint8_t* web_extracted() {
    return Extracted.data();
}
GLUE_EXPORT double web_extracted_size() {
    return static_cast<double>(Extracted.size());
}
