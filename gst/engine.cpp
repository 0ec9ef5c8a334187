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

// Names are IIgs bytes, not UTF-8: printable ASCII stays, anything else becomes '?', and the
// padding of fixed-size fields goes.
std::string Printable(const char* bytes) {
    std::string text;
    for (const char* c = bytes; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        text += u >= 0x20 && u < 0x7F ? *c : '?';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
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
    const trelmo_song_info* info = trelmo_song_info_get(engine_);
    if (info == nullptr) return facts;
    facts.kindName = info->kind_name;
    std::string missing;
    for (int i = 0; i < info->instrument_count; ++i) {
        const trelmo_instrument& instrument = info->instruments[i];
        const std::string name = Printable(instrument.name);
        if (!facts.instruments.empty()) facts.instruments += ", ";
        facts.instruments += std::to_string(instrument.number) + " " + name;
        if (instrument.source != TRELMO_SOURCE_MISSING) continue;
        facts.instruments += " (missing)";
        missing += (missing.empty() ? "" : ", ") + name;
    }
    if (info->missing_count > 0)
        facts.missing = "instruments missing, played silent: " + missing + " (looked for " +
                        Printable(info->looked_for) + ")";
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
