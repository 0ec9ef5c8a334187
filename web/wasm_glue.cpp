// What the player page needs around the C API in WebAssembly, where JavaScript can neither hand the
// library a callback nor read its structures by field name:
// - the files dropped with a song are registered here first, and loading answers the library's
//   requests for companion files from them (names matched by the library's rule);
// - the loaders' messages are kept for the page to show;
// - the song's description is flattened into 32-bit slots in an order engine.js names;
// - 64-bit frame counts travel as doubles (exact up to 2^53 frames, some 6000 years of sound).
// The module imports nothing: it is compiled once and instantiated both on the page and in the
// audio worklet.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "trelmo/trelmo.h"

#define GLUE_EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

struct DroppedFile {
    std::string name;
    std::vector<uint8_t> bytes;
    bool used = false;
};

std::vector<DroppedFile> Files;
std::string Messages;
std::string UsedNames;

// The library's rule picks the file (case, type suffixes), as it does on a disk.
int FindFile(void*, const char* name, const void** data, size_t* size) {
    std::vector<const char*> names;
    for (const DroppedFile& file : Files) names.push_back(file.name.c_str());
    const int chosen = trelmo_match_file_name(name, names.data(), names.size());
    if (chosen < 0) return 0;
    DroppedFile& file = Files[static_cast<size_t>(chosen)];
    file.used = true;
    *data = file.bytes.data();
    *size = file.bytes.size();
    return 1;
}

void KeepMessage(void*, const char* message) { Messages += message; }

int32_t Pointer(const void* p) { return static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

// Companion files: cleared before each song, then one call per file that may belong to it.
GLUE_EXPORT void web_files_clear() { Files.clear(); }

GLUE_EXPORT int web_file_add(const char* name, const uint8_t* data, size_t size) {
    Files.push_back(DroppedFile{name, std::vector<uint8_t>(data, data + size)});
    return static_cast<int>(Files.size());
}

// Loads a song with the registered companion files; returns a trelmo_status.
GLUE_EXPORT int web_load(trelmo_engine* engine, const void* data, size_t size, const char* name) {
    Messages.clear();
    for (DroppedFile& file : Files) file.used = false;
    trelmo_set_message_callback(engine, KeepMessage, nullptr);
    const int status = trelmo_load_memory(engine, data, size, name, FindFile, nullptr);
    UsedNames.clear();
    for (const DroppedFile& file : Files) {
        if (file.used) UsedNames += file.name + "\n";
    }
    return status;
}

// The last load's messages, and the companion files it took (one name a line).
GLUE_EXPORT const char* web_messages() { return Messages.c_str(); }
GLUE_EXPORT const char* web_used_files() { return UsedNames.c_str(); }

// The song's description in slots; returns the number of slots, 0 without a song.
GLUE_EXPORT int web_info(trelmo_engine* engine, int32_t* out) {
    const trelmo_song_info* info = trelmo_song_info_get(engine);
    if (info == nullptr) return 0;
    const int32_t slots[] = {info->kind,         Pointer(info->kind_name), Pointer(info->form),
                             info->patterns,     info->positions,          info->speed,
                             info->tempo_word,   info->tempo,              info->tracks,
                             Pointer(info->bank_file), info->bank_used,    info->bank_in_current_folder,
                             info->instrument_count, info->missing_count,  Pointer(info->looked_for),
                             info->ends};
    std::memcpy(out, slots, sizeof slots);
    return static_cast<int>(sizeof slots / sizeof slots[0]);
}

GLUE_EXPORT double web_pass_frames(trelmo_engine* engine) {
    const trelmo_song_info* info = trelmo_song_info_get(engine);
    return info == nullptr ? 0.0 : static_cast<double>(info->frames);
}

// One instrument in slots; returns the number of slots, 0 when index is out of range.
GLUE_EXPORT int web_instrument(trelmo_engine* engine, int index, int32_t* out) {
    const trelmo_song_info* info = trelmo_song_info_get(engine);
    if (info == nullptr || index < 0 || index >= info->instrument_count) return 0;
    const trelmo_instrument& instrument = info->instruments[index];
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

GLUE_EXPORT double web_position(trelmo_engine* engine) { return static_cast<double>(trelmo_position(engine)); }

GLUE_EXPORT int web_seek(trelmo_engine* engine, double frame) {
    return trelmo_seek(engine, frame <= 0 ? 0 : static_cast<uint64_t>(frame));
}
