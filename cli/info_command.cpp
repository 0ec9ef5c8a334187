// trelmo info: what each song is, in words or as JSON.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/song_facts.h"
#include "cli/stdout_redirect.h"

namespace trelmo::cli {

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            // Song files are not UTF-8; every byte outside plain ASCII is written as its code.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Seconds(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(frames) / 44100.0);
    return text;
}

std::string Duration(uint64_t frames) {
    const uint64_t ms = frames * 1000 / 44100;
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
    return text;
}

void PrintJson(const std::string& file, const SongFacts& facts, const std::string& error, bool last) {
    std::printf("  {\n    \"file\": %s,\n", Quoted(file).c_str());
    if (!error.empty()) {
        std::printf("    \"error\": %s\n  }%s\n", Quoted(error).c_str(), last ? "" : ",");
        return;
    }
    std::printf("    \"kind\": %s,\n", Quoted(facts.kind).c_str());
    if (!facts.form.empty()) std::printf("    \"form\": %s,\n", Quoted(facts.form).c_str());
    std::printf("    \"patterns\": %d,\n    \"positions\": %d,\n    \"tracks\": %d,\n", facts.patterns,
                facts.positions, facts.tracks);
    if (facts.kind == "SoundSmith") {
        std::printf("    \"speed\": %d,\n    \"tempo\": %d,\n", facts.speed, facts.tempo);
        std::printf("    \"waveBank\": %s,\n", facts.bankUsed ? Quoted(facts.bankFile).c_str() : "null");
    } else {
        std::printf("    \"tempoWord\": %d,\n    \"tempo\": %d,\n", facts.tempoWord, facts.tempo);
    }
    std::printf("    \"instruments\": [");
    for (size_t i = 0; i < facts.instruments.size(); ++i) {
        const InstrumentFacts& in = facts.instruments[i];
        std::printf("%s\n      {\"number\": %d, \"name\": %s, \"source\": %s, \"file\": %s, \"length\": %u, "
                    "\"loops\": %s, \"loopStart\": %u, \"loopEnd\": %u, \"volume\": %d}",
                    i == 0 ? "" : ",", in.number, Quoted(in.name).c_str(), Quoted(in.source).c_str(),
                    in.file.empty() ? "null" : Quoted(in.file).c_str(), in.length, in.loops ? "true" : "false",
                    in.loopStart, in.loopEnd, in.volume);
    }
    std::printf("%s],\n", facts.instruments.empty() ? "" : "\n    ");
    std::printf("    \"ends\": %s,\n    \"frames\": %llu,\n    \"seconds\": %s\n  }%s\n", facts.ends ? "true" : "false",
                static_cast<unsigned long long>(facts.frames), Seconds(facts.frames).c_str(), last ? "" : ",");
}

void PrintText(const std::string& file, const SongFacts& facts) {
    std::printf("%s\n", file.c_str());
    std::printf("  kind         %s%s\n", facts.kind.c_str(), facts.form.empty() ? "" : (" (" + facts.form + ")").c_str());
    std::printf("  patterns     %d\n  positions    %d\n  tracks       %d\n", facts.patterns, facts.positions, facts.tracks);
    if (facts.kind == "SoundSmith") {
        std::printf("  speed        %d ticks a row, tempo %d\n", facts.speed, facts.tempo);
        std::printf("  wave bank    %s\n", facts.bankUsed ? facts.bankFile.c_str()
                                           : facts.bankFile.empty() ? "none (ASIF instrument files)"
                                                                    : (facts.bankFile + " (refused; ASIF files instead)").c_str());
    } else {
        std::printf("  tempo        %d (tempo word %d, %d rows a second)\n", facts.tempo, facts.tempoWord,
                    facts.tempoWord / 5 + 1);
    }
    std::printf("  duration     %s (%llu frames)%s\n", Duration(facts.frames).c_str(),
                static_cast<unsigned long long>(facts.frames), facts.ends ? "" : ", never ends");
    std::printf("  instruments  %zu\n", facts.instruments.size());
    if (!facts.instruments.empty()) {
        std::printf("    %3s  %-23s  %-7s  %7s  %-13s  %s\n", "#", "name", "source", "length", "loop", "volume");
    }
    for (const InstrumentFacts& in : facts.instruments) {
        char loop[32] = "no";
        if (in.loops) std::snprintf(loop, sizeof loop, "%u-%u", in.loopStart, in.loopEnd);
        if (in.source == "missing") std::snprintf(loop, sizeof loop, "-");
        std::printf("    %3d  %-23s  %-7s  %7u  %-13s  %d", in.number, in.name.c_str(), in.source.c_str(), in.length,
                    loop, in.volume);
        if (in.source == "asif" || in.source == "missing") std::printf("  %s", in.file.c_str());
        std::printf("\n");
    }
}

}  // namespace

int InfoCommand(const InfoOptions& options) {
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    if (songs.empty()) return ExitSongFailed;
    // The loaders' messages go with the text, but never into the JSON.
    const int diagnostics = options.quiet ? DiscardOutput : options.json ? STDERR_FILENO : STDOUT_FILENO;
    int status = ExitOk;
    if (options.json) std::printf("[\n");
    for (size_t i = 0; i < songs.size(); ++i) {
        SongFacts facts;
        std::string error;
        if (!ReadSongFacts(songs[i].path, diagnostics, facts, error)) {
            Complain(songs[i].displayName + ": " + error);
            status = ExitSongFailed;
        } else if (!facts.missing.empty()) {
            std::string names;
            for (const std::string& name : facts.missing) names += (names.empty() ? "" : ", ") + name;
            Complain(songs[i].displayName + ": instruments missing: " + names);
            status = ExitSongFailed;
        }
        if (options.json) {
            PrintJson(songs[i].displayName, facts, error, i + 1 == songs.size());
        } else if (error.empty()) {
            if (i > 0) std::printf("\n");
            PrintText(songs[i].displayName, facts);
        }
        std::fflush(stdout);
    }
    if (options.json) std::printf("]\n");
    return status;
}

}  // namespace trelmo::cli
