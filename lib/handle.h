// SPDX-License-Identifier: BSD-3-Clause
// What a library handle holds: one engine, the options it plays with, where rendering stands, the
// description of the loaded song that the C API hands out, and the engine's last error.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "song/engine.h"
#include "trelmo/trelmo.h"

namespace trelmo::lib {

// A damaged song that never reaches its end stops being measured here: far longer than any real
// song (128 positions x 64 rows x 15 ticks at the slowest tempo is much less).
constexpr uint64_t MaxTicksPerPass = uint64_t{1} << 22;

// One instrument as the C records give it; the strings are UTF-8.
struct InstrumentFacts {
    int number = 0;
    int source = TRELMO_SOURCE_MISSING;
    int foundBy = TRELMO_FOUND_BY_NAME;
    std::string name;
    std::string rawName;  // the song's own bytes, for messages in the plug-in's wording
    std::string file;
    uint32_t length = 0;
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;
    int loops = 0;
    int volume = 0;
};

// The metadata keys, in the order trelmo_get_metadata_keys lists them.
enum MetadataKey : int {
    Title,
    Type,
    TypeLong,
    Form,
    Message,
    Warnings,
    LookedFor,
    Bank,
    Container,
    MetadataKeyCount
};

struct Description {
    trelmo_song_info info{};
    std::vector<InstrumentFacts> instruments;
    std::string metadata[MetadataKeyCount];
    // The frame of one pass at which each order-list position starts; NotReached when the pass
    // never gets there (a damaged song measured up to its limit).
    std::vector<uint64_t> positionStarts;
};

constexpr uint64_t NotReached = UINT64_MAX;

// Where rendering stands: the block of the current tick and how much of it has been handed out.
struct Playhead {
    uint32_t blockFrames = 0;
    uint32_t blockOffset = 0;
    uint64_t position = 0;  // frames handed out since the start of the song
    uint32_t pass = 0;      // the pass through the order list being played, from 0
    bool finished = false;
};

}  // namespace trelmo::lib

struct trelmo_engine {
    trelmo::Engine engine;
    trelmo_message_callback messageCallback = nullptr;
    void* messageUser = nullptr;
    int loops = 1;  // 0: for ever
    uint32_t fadeMilliseconds = 0;
    bool currentFolderBank = true;
    trelmo::lib::Description description;
    uint64_t passFrames = 0;  // one pass through the order list
    uint64_t passTicks = 0;   // the sequencer ticks of that pass
    // A change of the loop count while a song plays never ends it before the end of the pass it is
    // in: at least this many passes are played (0: no such floor). Kept until the next change.
    uint32_t minimumPasses = 0;
    // True while a song loads: the callbacks then see an engine without a song.
    bool loading = false;
    // Where measuring a pass gives up. Only the fuzz targets lower it: every edge of the sequencers
    // is reached within a few thousand ticks, and a whole pass can be a hundred thousand.
    uint64_t passTickLimit = trelmo::lib::MaxTicksPerPass;
    trelmo::lib::Playhead playhead;
    // Chosen by the caller for later loads; empty when not chosen.
    std::string bankFile;
    std::string instrumentsFolder;
    std::string loadProblem;  // why the last load failed, when its status alone does not say
    // What went wrong last, as UTF-8; a fixed buffer, so that setting it never allocates.
    char lastError[2048]{};
};

namespace trelmo::lib {

// Describes the engine's freshly loaded song and measures one pass through it; afterwards the
// engine is as it was after loading. title is the song's file name without its folder.
void DescribeSong(trelmo_engine& handle, const std::string& title);

// Puts the engine into the state of a newly created one, keeping its song, samples and options.
void ClearPlayState(Engine& engine);

// Starts the loaded song from its first frame.
void Rewind(trelmo_engine& handle);

// The song's length as the options play it; UINT64_MAX when it loops for ever.
uint64_t TotalFrames(const trelmo_engine& handle);

// True when a record of the caller's declared size holds at least a 1.0 record of type Record.
template <typename Record>
bool RecordFits(const Record* record, size_t oneZeroSize) {
    return record != nullptr && record->size >= oneZeroSize;
}

// Copies the members of from that lie within the caller's record (its size member), and no more.
template <typename Record>
void CopyRecord(Record* to, Record from) {
    const size_t size = to->size < sizeof(Record) ? to->size : sizeof(Record);
    from.size = to->size;
    std::memcpy(static_cast<void*>(to), &from, size);
}

// True when the engine holds a song that has finished loading.
inline bool Ready(const trelmo_engine* handle) {
    return handle != nullptr && !handle->loading && handle->engine.SongKind != NoSong;
}

}  // namespace trelmo::lib
