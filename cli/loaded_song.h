// SPDX-License-Identifier: BSD-3-Clause
// One song loaded into an engine of its own, for one command: the C library as the commands use it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "trelmo/trelmo.h"

namespace trelmo::cli {

class LoadedSong {
  public:
    LoadedSong();
    ~LoadedSong();
    LoadedSong(const LoadedSong&) = delete;
    LoadedSong& operator=(const LoadedSong&) = delete;

    // Loads the song at path; the loaders' messages go to messages (null: nowhere). False with the
    // reason ("cannot open: No such file or directory", ...) when it cannot be played.
    bool Load(const std::string& path, std::FILE* messages, std::string& error,
              const InstrumentChoice& choice = InstrumentChoice{});
    // The same for a song argument: a loose file, or a song inside a disk image or archive, which
    // finds its companion files in its own folder there.
    bool Load(const SongArgument& song, std::FILE* messages, std::string& error,
              const InstrumentChoice& choice = InstrumentChoice{});

    trelmo_engine* Engine() const { return engine_; }
    // True when a song was loaded and can be described (also when Load refused to play it).
    bool Described() const { return described_; }
    const trelmo_song_info& Info() const { return info_; }
    const std::vector<trelmo_instrument>& Instruments() const { return instruments_; }
    // The library's UTF-8 text for key ("title", "type_long", "message", ...); "" without a song.
    std::string Metadata(const char* key) const { return trelmo_get_metadata(engine_, key); }
    uint64_t Frames() const { return trelmo_length_frames(engine_); }

    // Empty when every instrument has its samples; otherwise one line that names the missing
    // instruments and the files that were looked for.
    std::string MissingInstruments() const;

    // The wave bank's path; a DOC.DATA from the current folder with the folder's full path.
    std::string BankPath() const;
    // Empty unless the bank came from the current folder instead of from beside the song; then one
    // line that says so, since another folder would give the song other instruments.
    std::string CurrentFolderBank() const;

  private:
    bool Loaded(int status, int reason, std::FILE* messages, std::string& error);
    trelmo_engine* engine_;
    bool described_ = false;
    trelmo_song_info info_{};
    std::vector<trelmo_instrument> instruments_;
};

}  // namespace trelmo::cli
