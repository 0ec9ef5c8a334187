// SPDX-License-Identifier: BSD-3-Clause
#include "gst/engine.h"

#include <trelmo/trelmo.h>

namespace trelmo::gst {

const size_t kMaxSongBytes = TRELMO_MAX_SONG_BYTES;
const size_t kMaxCompanionBytes = TRELMO_MAX_COMPANION_BYTES;
const int kTooLargeStatus = TRELMO_ERROR_TOO_LARGE;

static_assert(kSampleRate == TRELMO_SAMPLE_RATE && kChannels == TRELMO_CHANNELS);

namespace {

// The source's file while the library copies it.
struct Lending {
    CompanionSource* source;
    std::vector<uint8_t> bytes;
};

int Lend(void* user, const char* name, const void** data, size_t* size) {
    auto& lending = *static_cast<Lending*>(user);
    lending.bytes.clear();
    if (!lending.source->Read(name, lending.bytes) || lending.bytes.size() > kMaxCompanionBytes) return 0;
    *data = lending.bytes.data();
    *size = lending.bytes.size();
    return 1;
}

}  // namespace

int MatchFileName(const char* wanted, const std::vector<std::string>& names) {
    std::vector<const char*> pointers;
    pointers.reserve(names.size());
    for (const std::string& name : names) pointers.push_back(name.c_str());
    return trelmo_match_file_name(wanted, pointers.data(), pointers.size());
}

bool LooksLikeSong(const uint8_t* bytes, size_t size) {
    return trelmo_detect(bytes, size) == 1;
}

Song::Song(Log log) : log_(log), engine_(trelmo_create()) {
    if (engine_ != nullptr && log_ != nullptr) trelmo_set_message_callback(engine_, Forward, this);
}

void Song::Forward(void* user, const char* message) {
    std::string line(message);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    static_cast<Song*>(user)->log_(line.c_str());
}

Song::~Song() {
    trelmo_destroy(engine_);
}

int Song::LoadFile(const char* path) {
    return engine_ != nullptr ? trelmo_load_file(engine_, path) : TRELMO_ERROR_MEMORY;
}

int Song::LoadMemory(const void* data, size_t size, const char* name, CompanionSource* companions) {
    if (engine_ == nullptr) return TRELMO_ERROR_MEMORY;
    Lending lending{companions, {}};
    return trelmo_load_memory(engine_, data, size, name, companions != nullptr ? Lend : nullptr, &lending);
}

std::string Song::Message(int status) {
    return trelmo_status_message(status);
}

void Song::Apply(const Settings& settings) {
    trelmo_set_stereo_separation(engine_, settings.stereoSeparation);
    // GStreamer counts the repeats after the first pass; the library counts passes, 0 for ever.
    trelmo_set_loops(engine_, settings.loops < 0 ? 0 : settings.loops + 1);
    trelmo_set_fade(engine_, settings.fadeMilliseconds);
    trelmo_set_mute_mask(engine_, settings.muteMask);
}

SongFacts Song::Facts() const {
    SongFacts facts;
    trelmo_song_info info;
    TRELMO_INIT_RECORD(info);
    if (trelmo_get_song_info(engine_, &info) != TRELMO_OK) return facts;
    facts.kindName = trelmo_get_metadata(engine_, "type_long");
    // Names come from the library as UTF-8, decoded as every face shows them.
    for (int i = 0; i < info.instrument_count; ++i) {
        trelmo_instrument instrument;
        TRELMO_INIT_RECORD(instrument);
        if (trelmo_get_instrument(engine_, i, &instrument) != TRELMO_OK) continue;
        if (!facts.instruments.empty()) facts.instruments += ", ";
        facts.instruments += std::to_string(instrument.number) + " " + instrument.name;
        if (instrument.source == TRELMO_SOURCE_MISSING) facts.instruments += " (missing)";
    }
    facts.missing = trelmo_get_metadata(engine_, "warnings");
    facts.message = trelmo_get_metadata(engine_, "message");
    return facts;
}

uint64_t Song::Length() const {
    const uint64_t frames = trelmo_length_frames(engine_);
    return frames == UINT64_MAX ? kEndless : frames;
}

uint64_t Song::Position() const {
    return trelmo_position(engine_);
}

void Song::Seek(uint64_t frame) {
    trelmo_seek(engine_, frame);
}

size_t Song::Render(int16_t* out, size_t frames) {
    return trelmo_render(engine_, out, frames);
}

}  // namespace trelmo::gst
