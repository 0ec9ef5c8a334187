// SPDX-License-Identifier: BSD-3-Clause
// trelmo info: what each song is, in words or as JSON.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/loaded_song.h"
#include "cli/printable.h"

namespace trelmo::cli {

namespace {

std::string Seconds(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(frames) / 44100.0);
    return text;
}

std::string Duration(uint64_t frames) {
    const uint64_t ms = frames * 1000 / 44100;
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned long long>(ms / 1000 % 60),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

// text padded with spaces to width characters (not bytes: names are UTF-8).
std::string PadRight(std::string text, size_t width) {
    size_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    if (characters < width) text.append(width - characters, ' ');
    return text;
}

const char* SourceName(int source) {
    switch (source) {
        case TRELMO_SOURCE_BANK:
            return "bank";
        case TRELMO_SOURCE_ASIF:
            return "asif";
        case TRELMO_SOURCE_SONG:
            return "song";
        default:
            return "missing";
    }
}

// How the instrument's file was found; null for samples carried by the song or never found.
const char* FoundByName(const trelmo_instrument& in) {
    if (in.source != TRELMO_SOURCE_BANK && in.source != TRELMO_SOURCE_ASIF) return nullptr;
    switch (in.found_by) {
        case TRELMO_FOUND_BY_SECOND_LOOK:
            return "second look";
        case TRELMO_FOUND_BY_POSITION:
            return "position";
        case TRELMO_FOUND_BY_CALLER:
            return "caller";
        default:
            return "name";
    }
}

void PrintJson(const SongArgument& argument, const LoadedSong& song, uint64_t frames,
               const std::string& error, bool last) {
    std::printf("  {\n    \"file\": %s,\n", JsonString(argument.displayName).c_str());
    if (!argument.container.empty()) {
        std::printf("    \"container\": %s,\n    \"innerPath\": %s,\n",
                    JsonString(argument.container).c_str(), JsonString(argument.innerPath).c_str());
        if (argument.problem.empty()) {
            std::printf("    \"fileType\": %d,\n    \"auxType\": %d,\n", argument.fileType, argument.auxType);
        }
    }
    if (!error.empty()) {
        std::printf("    \"error\": %s\n  }%s\n", JsonString(error).c_str(), last ? "" : ",");
        return;
    }
    const trelmo_song_info& facts = song.Info();
    const std::string bankPath = song.BankPath();
    const std::string form = song.Metadata("form");
    std::printf("    \"kind\": %s,\n", JsonString(song.Metadata("type_long")).c_str());
    if (!form.empty()) std::printf("    \"form\": %s,\n", JsonString(form).c_str());
    std::printf("    \"patterns\": %d,\n    \"positions\": %d,\n    \"tracks\": %d,\n", facts.patterns,
                facts.positions, facts.tracks);
    if (facts.kind == TRELMO_KIND_SOUNDSMITH) {
        std::printf("    \"speed\": %d,\n    \"tempo\": %d,\n", facts.speed, facts.tempo);
        std::printf("    \"waveBank\": %s,\n", facts.bank_used != 0 ? JsonString(bankPath).c_str() : "null");
    } else {
        std::printf("    \"tempoWord\": %d,\n    \"tempo\": %d,\n", facts.tempo_word, facts.tempo);
    }
    std::printf("    \"instruments\": [");
    const std::vector<trelmo_instrument>& instruments = song.Instruments();
    for (size_t i = 0; i < instruments.size(); ++i) {
        const trelmo_instrument& in = instruments[i];
        const char* found = FoundByName(in);
        std::printf(
            "%s\n      {\"number\": %d, \"name\": %s, \"source\": %s, \"foundBy\": %s, \"file\": %s, "
            "\"length\": %u, \"loops\": %s, \"loopStart\": %u, \"loopEnd\": %u, \"volume\": %d}",
            i == 0 ? "" : ",", in.number, JsonString(in.name).c_str(),
            JsonString(SourceName(in.source)).c_str(), found != nullptr ? JsonString(found).c_str() : "null",
            in.file[0] == '\0' ? "null" : JsonString(in.file).c_str(), in.length, in.loops ? "true" : "false",
            in.loop_start, in.loop_end, in.volume);
    }
    std::printf("%s],\n", instruments.empty() ? "" : "\n    ");
    std::printf("    \"ends\": %s,\n    \"frames\": %llu,\n    \"seconds\": %s\n  }%s\n",
                facts.ends != 0 ? "true" : "false", static_cast<unsigned long long>(frames),
                Seconds(frames).c_str(), last ? "" : ",");
}

void PrintText(const std::string& file, const LoadedSong& song, uint64_t frames, int loops) {
    const trelmo_song_info& facts = song.Info();
    const std::string bankPath = song.BankPath();
    const std::string form = song.Metadata("form");
    std::printf("%s\n", Printable(file).c_str());
    std::printf("  kind         %s%s\n", song.Metadata("type_long").c_str(),
                form.empty() ? "" : (" (" + form + ")").c_str());
    std::printf("  patterns     %d\n  positions    %d\n  tracks       %d\n", facts.patterns, facts.positions,
                facts.tracks);
    if (facts.kind == TRELMO_KIND_SOUNDSMITH) {
        std::printf("  speed        %d ticks a row, tempo %d\n", facts.speed, facts.tempo);
        const std::string bank = Printable(bankPath);
        // A DOC.DATA from the current folder is not the song's own: say where it was found.
        const std::string where = facts.bank_in_current_folder != 0 ? " (current folder)" : "";
        std::printf("  wave bank    %s\n", facts.bank_used != 0 ? (bank + where).c_str()
                                           : bank.empty()
                                               ? "none (ASIF instrument files)"
                                               : (bank + where + " (refused; ASIF files instead)").c_str());
    } else {
        std::printf("  tempo        %d (tempo word %d, %d rows a second)\n", facts.tempo, facts.tempo_word,
                    facts.tempo_word / 5 + 1);
    }
    std::printf("  duration     %s (%llu frames)%s%s\n", Duration(frames).c_str(),
                static_cast<unsigned long long>(frames),
                loops > 1 ? (", " + std::to_string(loops) + " loops").c_str() : "",
                facts.ends != 0 ? "" : ", never ends");
    std::printf("  instruments  %d\n", facts.instrument_count);
    if (facts.instrument_count > 0) {
        std::printf("    %3s  %-23s  %-7s  %-11s  %7s  %-13s  %s\n", "#", "name", "source", "found by",
                    "length", "loop", "volume");
    }
    for (const trelmo_instrument& in : song.Instruments()) {
        char loop[32] = "no";
        if (in.loops) std::snprintf(loop, sizeof loop, "%u-%u", in.loop_start, in.loop_end);
        if (in.source == TRELMO_SOURCE_MISSING) std::snprintf(loop, sizeof loop, "-");
        const char* found = FoundByName(in);
        std::printf("    %3d  %s  %-7s  %-11s  %7u  %-13s  %d", in.number,
                    PadRight(Printable(in.name), 23).c_str(), SourceName(in.source),
                    found != nullptr ? found : "-", in.length, loop, in.volume);
        if (in.source == TRELMO_SOURCE_ASIF || in.source == TRELMO_SOURCE_MISSING)
            std::printf("  %s", Printable(in.file).c_str());
        std::printf("\n");
    }
}

// Before the songs are described, each container's songs are listed by the names that name them back.
void ListContainers(const std::vector<SongArgument>& songs) {
    std::string current;
    bool listed = false;
    for (const SongArgument& song : songs) {
        if (song.container.empty() || !song.problem.empty()) continue;
        if (song.container != current) {
            current = song.container;
            size_t count = 0;
            for (const SongArgument& other : songs)
                count += other.container == current && other.problem.empty() ? size_t{1} : size_t{0};
            std::printf("%s: %zu song%s\n", Printable(current).c_str(), count, count == 1 ? "" : "s");
            listed = true;
        }
        char type[32];
        std::snprintf(type, sizeof type, "$%02X/$%04X", static_cast<unsigned>(song.fileType),
                      static_cast<unsigned>(song.auxType));
        std::printf("  %-10s %8llu bytes  %s\n", type, static_cast<unsigned long long>(song.bytes),
                    Printable(song.displayName).c_str());
    }
    if (listed) std::printf("\n");
}

}  // namespace

int InfoCommand(const InfoOptions& options) {
    // The loaders' messages go with the text, but never into the JSON.
    std::FILE* messages = options.quiet ? nullptr : options.json ? stderr : stdout;
    const std::vector<SongArgument> songs = SongArguments(options.songs, options.json ? stderr : stdout);
    if (songs.empty()) {
        if (options.json && !options.songs.empty()) std::printf("[]\n");
        return options.songs.empty() ? ExitSongFailed : ExitOk;
    }
    if (!options.json) ListContainers(songs);
    int status = ExitOk;
    if (options.json) std::printf("[\n");
    for (size_t i = 0; i < songs.size(); ++i) {
        // Each song is described by an engine of its own.
        LoadedSong song;
        trelmo_set_loops(song.Engine(), options.loops);
        std::string error;
        song.Load(songs[i], messages, error, options.choice);
        // A song that never ends is still described; it only cannot be rendered.
        const bool described = song.Described();
        if (!described) {
            Complain(songs[i].displayName + ": " + error);
            status = ExitSongFailed;
        } else {
            error.clear();
            const std::string missing = song.MissingInstruments();
            if (!missing.empty()) Complain(songs[i].displayName + ": " + missing);
        }
        if (options.json) {
            PrintJson(songs[i], song, described ? song.Frames() : 0, error, i + 1 == songs.size());
        } else if (described) {
            if (i > 0) std::printf("\n");
            PrintText(songs[i].displayName, song, song.Frames(), options.loops);
        }
        std::fflush(stdout);
    }
    if (options.json) std::printf("]\n");
    return status;
}

}  // namespace trelmo::cli
