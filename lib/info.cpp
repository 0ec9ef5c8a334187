// SPDX-License-Identifier: BSD-3-Clause
// The C API's answers about the loaded song: its facts and instruments in records the caller sizes,
// and its texts by key.
#include <cstring>
#include <string>

#include "lib/barrier.h"
#include "lib/handle.h"

namespace trelmo::lib {

namespace {

// The records' sizes in 1.0: a caller's record must hold at least these members.
constexpr size_t SongInfoSize10 = sizeof(trelmo_song_info);
constexpr size_t InstrumentSize10 = sizeof(trelmo_instrument);

constexpr const char* MetadataNames[MetadataKeyCount] = {
    "title", "type", "type_long", "form", "message", "warnings", "looked_for", "bank", "container"};

bool HasSong(const trelmo_engine& handle) {
    return Ready(&handle);
}

}  // namespace

}  // namespace trelmo::lib

using trelmo::lib::Fail;

extern "C" {

int trelmo_get_song_info(trelmo_engine* handle, trelmo_song_info* info) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (!trelmo::lib::RecordFits(info, trelmo::lib::SongInfoSize10))
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "the song record is missing or smaller than its 1.0 size");
    if (!trelmo::lib::HasSong(*handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    trelmo::lib::CopyRecord(info, handle->description.info);
    return TRELMO_OK;
}

int trelmo_get_instrument(trelmo_engine* handle, int index, trelmo_instrument* instrument) {
    if (handle == nullptr) return TRELMO_ERROR_ARGUMENT;
    if (!trelmo::lib::RecordFits(instrument, trelmo::lib::InstrumentSize10))
        return Fail(handle, TRELMO_ERROR_ARGUMENT,
                    "the instrument record is missing or smaller than its 1.0 size");
    if (!trelmo::lib::HasSong(*handle)) return Fail(handle, TRELMO_ERROR_NO_SONG, "no song is loaded");
    const auto& instruments = handle->description.instruments;
    if (index < 0 || static_cast<size_t>(index) >= instruments.size())
        return Fail(handle, TRELMO_ERROR_ARGUMENT, "no instrument %d: the song has %s", index,
                    std::to_string(instruments.size()).c_str());
    const trelmo::lib::InstrumentFacts& facts = instruments[static_cast<size_t>(index)];
    trelmo_instrument record{};
    record.number = facts.number;
    record.source = facts.source;
    record.name = facts.name.c_str();
    record.file = facts.file.c_str();
    record.length = facts.length;
    record.loop_start = facts.loopStart;
    record.loop_end = facts.loopEnd;
    record.loops = facts.loops;
    record.volume = facts.volume;
    record.found_by = facts.foundBy;
    trelmo::lib::CopyRecord(instrument, record);
    return TRELMO_OK;
}

const char* trelmo_get_metadata(trelmo_engine* handle, const char* key) {
    if (handle == nullptr || key == nullptr || !trelmo::lib::HasSong(*handle)) return "";
    for (int k = 0; k < trelmo::lib::MetadataKeyCount; ++k) {
        if (std::strcmp(key, trelmo::lib::MetadataNames[k]) == 0)
            return handle->description.metadata[k].c_str();
    }
    return "";
}

const char* trelmo_get_metadata_keys(void) {
    return "title;type;type_long;form;message;warnings;looked_for;bank;container";
}

}  // extern "C"
