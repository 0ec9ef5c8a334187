#include "cli/loaded_song.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace trelmo::cli {

namespace {

void PrintMessage(void* target, const char* text) {
    std::fputs(text, static_cast<std::FILE*>(target));
}

}  // namespace

LoadedSong::LoadedSong() : engine_(trelmo_create()) {
    if (engine_ == nullptr) throw std::bad_alloc();
}

LoadedSong::~LoadedSong() {
    trelmo_destroy(engine_);
}

bool LoadedSong::Load(const std::string& path, std::FILE* messages, std::string& error) {
    trelmo_set_message_callback(engine_, messages != nullptr ? PrintMessage : nullptr, messages);
    errno = 0;
    const int status = trelmo_load_file(engine_, path.c_str());
    const int reason = errno;
    if (messages != nullptr) std::fflush(messages);
    info_ = trelmo_song_info_get(engine_);
    if (status == TRELMO_OK && info_ != nullptr) {
        if (info_->ends == 0) {
            error = "the song never reaches its end";
            return false;
        }
        return true;
    }
    error = trelmo_status_message(status);
    if ((status == TRELMO_ERROR_OPEN || status == TRELMO_ERROR_READ) && reason != 0) {
        error = std::string(status == TRELMO_ERROR_OPEN ? "cannot open: " : "cannot read: ") + std::strerror(reason);
    }
    return false;
}

std::string LoadedSong::MissingInstruments() const {
    if (info_ == nullptr || info_->missing_count == 0) return std::string();
    std::string names;
    for (int i = 0; i < info_->instrument_count; ++i) {
        const trelmo_instrument& instrument = info_->instruments[i];
        if (instrument.source != TRELMO_SOURCE_MISSING) continue;
        names += (names.empty() ? "" : ", ") + std::string(instrument.name);
    }
    return "instruments missing, played silent: " + names + " (looked for " + info_->looked_for + ")";
}

}  // namespace trelmo::cli
