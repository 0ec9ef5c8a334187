// trelmo render: songs to sound files (or standard output), as fast as the machine allows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "cli/file_output.h"
#include "cli/loaded_song.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// A hidden file beside the target, so that the final rename never crosses file systems and a
// render that fails or is interrupted never leaves a truncated file under the real name.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd >= 0) fchmod(fd, mode);
    return fd;
}

bool Publish(const std::string& temporary, const std::string& target, bool force) {
    if (force) return rename(temporary.c_str(), target.c_str()) == 0;
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the atomic form: check, then rename.
    if (Exists(target)) {
        errno = EEXIST;
        return false;
    }
    return rename(temporary.c_str(), target.c_str()) == 0;
}

void ShowProgress(const SongArgument& song, size_t index, size_t count, uint64_t frames, uint64_t total) {
    const double fraction = total == 0 ? 1.0 : static_cast<double>(frames) / static_cast<double>(total);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100 + 0.5));
    // Appended piece by piece: GCC 12 warns (wrongly, -Wrestrict) about "[" + std::string in Release builds.
    std::string line = "[";
    line += Bar(fraction, 30) + "] " + percent + "  " + song.displayName + "  " + FormatDuration(frames) + " / " +
            FormatDuration(total);
    if (count > 1) line += "  (" + std::to_string(index + 1) + "/" + std::to_string(count) + ")";
    StatusLine(line);
}

// Frames rendered at a time: about a tenth of a second, so that Ctrl-C and the progress bar stay prompt.
constexpr size_t ChunkFrames = 4096;
int16_t Chunk[ChunkFrames * TRELMO_CHANNELS];

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

    // The loading messages stay on standard output unless that carries the audio.
    std::FILE* messages = options.quiet ? nullptr : toStdout ? stderr : stdout;
    const int audioFd = toStdout ? STDOUT_FILENO : -1;
    const mode_t mask = umask(0);
    umask(mask);
    const bool progress = !options.quiet && IsTerminal(STDERR_FILENO);

    int status = ExitOk;
    for (size_t i = 0; i < songs.size() && !Interrupted.load(); ++i) {
        const SongArgument& song = songs[i];
        // Every song gets an engine of its own: nothing of one song reaches the next.
        LoadedSong loaded;
        std::string error;
        if (!loaded.Load(song.path, messages, error)) {
            Complain(song.displayName + ": " + error);
            status = ExitSongFailed;
            continue;
        }
        const std::string missing = loaded.MissingInstruments();
        if (!missing.empty()) {
            Complain(song.displayName + ": " + missing);
            if (options.strict) {
                status = ExitSongFailed;
                continue;
            }
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

        SoundFile file;
        bool ok = file.Open(fd, format);
        const uint64_t total = loaded.Frames();
        auto shown = std::chrono::steady_clock::now();
        while (ok && !Interrupted.load()) {
            const size_t frames = trelmo_render(loaded.Engine(), Chunk, ChunkFrames);
            if (frames == 0) break;
            ok = file.Write(Chunk, frames);
            if (progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(100)) {
                shown = std::chrono::steady_clock::now();
                ShowProgress(song, i, songs.size(), file.Frames(), total);
            }
        }
        if (ok) ok = file.Finish();
        if (progress) ClearStatusLine();
        error = file.Error();
        ok = ok && !Interrupted.load();

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
                         FormatDuration(file.Frames()).c_str());
        }
    }
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return status;
}

}  // namespace trelmo::cli
