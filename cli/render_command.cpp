// trelmo render: songs to sound files (or standard output), through the plug-in, as fast as the
// machine allows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "cli/cli.h"
#include "cli/file_output.h"
#include "cli/player_host.h"
#include "cli/publish.h"
#include "cli/song_facts.h"
#include "cli/stdout_redirect.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string MissingInstruments(const SongFacts& facts) {
    if (facts.bankUsed) return "instruments missing from wave bank " + facts.bankFile + ": " + Join(facts.missing);
    return "instruments missing (no wave bank, no ASIF file): " + Join(facts.missing);
}

void ShowProgress(const SongArgument& song, size_t index, size_t count, uint64_t frames, uint64_t total) {
    const double fraction = total == 0 ? 1.0 : static_cast<double>(frames) / static_cast<double>(total);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100 + 0.5));
    std::string line = "[" + Bar(fraction, 30) + "] " + percent + "  " + song.displayName + "  " +
                       FormatDuration(frames) + " / " + FormatDuration(total);
    if (count > 1) line += "  (" + std::to_string(index + 1) + "/" + std::to_string(count) + ")";
    StatusLine(line);
}

}  // namespace

int RenderCommand(const RenderOptions& options) {
    FileFormat format = FileFormat::Wav;
    const bool formatGiven = !options.format.empty();
    if (formatGiven && !FormatFromName(options.format, format)) {
        Complain("unknown format '" + options.format + "' (wav, flac, ogg or raw)");
        return ExitUsage;
    }
    const bool toStdout = options.output == "-";
    if (!formatGiven && toStdout) format = FileFormat::Raw;
    if (!formatGiven && !options.output.empty() && !toStdout && !FormatFromExtension(options.output, format)) {
        Complain("cannot tell the format of " + options.output + " from its name; use --format");
        return ExitUsage;
    }
    if (!options.output.empty() && options.songs.size() > 1) {
        Complain("-o names one output file; use --out-dir to render several songs");
        return ExitUsage;
    }
    if (toStdout && IsTerminal(STDOUT_FILENO)) {
        Complain("standard output is a terminal; send the audio to a file or a pipe");
        return ExitUsage;
    }

    CatchInterrupts();
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    if (songs.empty()) return ExitSongFailed;
    if (!options.outDir.empty() && mkdir(options.outDir.c_str(), 0777) != 0 && errno != EEXIST) {
        Complain(options.outDir + ": cannot create the folder: " + std::strerror(errno));
        return ExitSongFailed;
    }

    // The plug-in's diagnostics stay on standard output unless that carries the audio.
    int audioFd = -1;
    std::optional<StdoutRedirect> quiet;
    if (toStdout) {
        audioFd = DetachStdout(options.quiet ? DiscardOutput : STDERR_FILENO);
        if (audioFd < 0) {
            Complain(std::string("cannot use standard output: ") + std::strerror(errno));
            return ExitSongFailed;
        }
    } else if (options.quiet) {
        quiet.emplace(DiscardOutput);
    }
    const mode_t mask = umask(0);
    umask(mask);
    const bool progress = !options.quiet && IsTerminal(STDERR_FILENO);

    In_Module& plugin = Plugin(FileOutputModule());
    plugin.Init();
    int status = ExitOk;
    for (size_t i = 0; i < songs.size() && !Interrupted.load(); ++i) {
        const SongArgument& song = songs[i];
        SongFacts facts;
        std::string error;
        if (!ReadSongFacts(song.path, DiscardOutput, facts, error)) {
            Complain(song.displayName + ": " + error);
            status = ExitSongFailed;
            continue;
        }
        if (!facts.missing.empty()) {
            Complain(song.displayName + ": " + MissingInstruments(facts));
            status = ExitSongFailed;
            continue;
        }
        if (!facts.ends) {
            Complain(song.displayName + ": the song never reaches its end");
            status = ExitSongFailed;
            continue;
        }

        std::string target = "-";
        std::string temporary;
        int fd = audioFd;
        if (!toStdout) {
            target = !options.output.empty() ? options.output
                     : (options.outDir.empty() ? "" : options.outDir + "/") + song.outputStem + "." + Extension(format);
            if (!options.force && Exists(target)) {
                Complain(target + ": already exists (use --force to overwrite it)");
                status = ExitSongFailed;
                continue;
            }
            fd = CreateTemporary(target, 0666 & ~mask, temporary);
            if (fd < 0) {
                Complain(target + ": cannot write: " + std::strerror(errno));
                status = ExitSongFailed;
                continue;
            }
        }
        const std::string shownTarget = toStdout ? "standard output" : target;

        PrepareFileOutput(fd, format);
        EndOfSongPosted.store(false);
        bool ok = plugin.Play(song.path.c_str()) == 0;
        if (!ok) {
            error = FileOutputError();
            if (error.empty()) error = "the plug-in could not play the song";
        }
        auto shown = std::chrono::steady_clock::now();
        while (ok && !EndOfSongPosted.load(std::memory_order_acquire) && !Interrupted.load() &&
               FileOutputError().empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(100)) {
                shown = std::chrono::steady_clock::now();
                ShowProgress(song, i, songs.size(), FileFramesWritten(), facts.frames);
            }
        }
        if (ok) plugin.Stop();  // closes the output, which finishes the file
        if (progress) ClearStatusLine();
        if (ok) error = FileOutputError();
        ok = ok && error.empty() && !Interrupted.load();

        if (!toStdout) {
            if (close(fd) != 0 && ok) {
                error = std::strerror(errno);
                ok = false;
            }
            if (ok && !Publish(temporary, target, options.force)) {
                error = errno == EEXIST ? "appeared while rendering; not overwritten" : std::strerror(errno);
                ok = false;
            }
            if (!ok) unlink(temporary.c_str());
        }
        if (Interrupted.load()) break;
        if (!ok) {
            Complain(shownTarget + ": cannot write: " + error);
            status = ExitSongFailed;
            continue;
        }
        if (!options.quiet) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s -> %s (%s)\n", song.displayName.c_str(), shownTarget.c_str(),
                         FormatDuration(FileFramesWritten()).c_str());
        }
    }
    plugin.Quit();
    if (audioFd >= 0) close(audioFd);
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return status;
}

}  // namespace trelmo::cli
