// SPDX-License-Identifier: BSD-3-Clause
#include "cli/loaded_song.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>

#include "cli/printable.h"

namespace trelmo::cli {

namespace {

// Each message is one line that names files and instruments: a line break inside it came from a
// name and is shown as an escape like any other control byte.
void PrintMessage(void* target, const char* text) {
    std::string_view line = text;
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    std::fprintf(static_cast<std::FILE*>(target), "%s\n", Printable(line).c_str());
}

}  // namespace

LoadedSong::LoadedSong() : engine_(trelmo_create()) {
    if (engine_ == nullptr) throw std::bad_alloc();
}

LoadedSong::~LoadedSong() {
    trelmo_destroy(engine_);
}

bool LoadedSong::Load(const std::string& path, std::FILE* messages, std::string& error,
                      const InstrumentChoice& choice) {
    trelmo_set_message_callback(engine_, messages != nullptr ? PrintMessage : nullptr, messages);
    trelmo_set_bank_file(engine_, choice.bank.c_str());
    trelmo_set_instruments_folder(engine_, choice.instruments.c_str());
    errno = 0;
    const int status = trelmo_load_file(engine_, path.c_str());
    return Loaded(status, errno, messages, error);
}

bool LoadedSong::Load(const SongArgument& song, std::FILE* messages, std::string& error,
                      const InstrumentChoice& choice) {
    if (!song.problem.empty()) {
        error = song.problem;
        return false;
    }
    if (song.container.empty()) return Load(song.path, messages, error, choice);
    trelmo_set_message_callback(engine_, messages != nullptr ? PrintMessage : nullptr, messages);
    trelmo_set_bank_file(engine_, choice.bank.c_str());
    trelmo_set_instruments_folder(engine_, choice.instruments.c_str());
    // The container is read again for each load: the song lends nothing from it once loaded.
    trelmo_container* container = trelmo_container_create();
    if (container == nullptr) throw std::bad_alloc();
    int status = trelmo_container_open_file(container, song.container.c_str());
    const int index =
        status == TRELMO_OK ? trelmo_container_find_song(container, song.innerPath.c_str()) : -1;
    if (status == TRELMO_OK && index < 0) {
        error = "no longer in " + song.container;
        trelmo_container_destroy(container);
        return false;
    }
    if (status == TRELMO_OK) status = trelmo_container_load(container, index, engine_);
    if (status == TRELMO_ERROR_CONTAINER || status == TRELMO_ERROR_NOT_A_CONTAINER) {
        error = trelmo_container_last_error(container);
        trelmo_container_destroy(container);
        return false;
    }
    trelmo_container_destroy(container);
    return Loaded(status, 0, messages, error);
}

bool LoadedSong::Loaded(int status, int reason, std::FILE* messages, std::string& error) {
    if (messages != nullptr) std::fflush(messages);
    TRELMO_INIT_RECORD(info_);
    described_ = trelmo_get_song_info(engine_, &info_) == TRELMO_OK;
    instruments_.clear();
    for (int i = 0; described_ && i < info_.instrument_count; ++i) {
        trelmo_instrument instrument;
        TRELMO_INIT_RECORD(instrument);
        if (trelmo_get_instrument(engine_, i, &instrument) == TRELMO_OK) instruments_.push_back(instrument);
    }
    if (status == TRELMO_OK && described_) {
        if (info_.ends == 0) {
            error = "the song never reaches its end";
            return false;
        }
        return true;
    }
    error = trelmo_status_message(status);
    if (status == TRELMO_ERROR_BANK) error = std::string("wave bank ") + trelmo_load_problem(engine_);
    if ((status == TRELMO_ERROR_OPEN || status == TRELMO_ERROR_READ) && reason != 0) {
        error = std::string(status == TRELMO_ERROR_OPEN ? "cannot open: " : "cannot read: ") +
                std::strerror(reason);
    }
    return false;
}

std::string LoadedSong::BankPath() const {
    if (!described_) return std::string();
    const std::string bank = Metadata("bank");
    if (info_.bank_in_current_folder == 0 || bank.empty() || bank[0] == '/') return bank;
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return bank;
    return std::string(folder) + "/" + bank;
}

std::string LoadedSong::CurrentFolderBank() const {
    if (!described_ || info_.bank_used == 0 || info_.bank_in_current_folder == 0) return std::string();
    return "wave bank " + BankPath() + " from the current folder, not from beside the song";
}

std::string LoadedSong::MissingInstruments() const {
    return Metadata("warnings");
}

}  // namespace trelmo::cli
