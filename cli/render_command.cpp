// SPDX-License-Identifier: BSD-3-Clause
// trelmo render: songs to sound files (or standard output), as fast as the machine allows, several
// songs at once on engines of their own; each song's messages are printed together, in the order the
// songs were named.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <thread>

#include "cli/cli.h"
#include "cli/file_output.h"
#include "cli/loaded_song.h"
#include "cli/printable.h"
#include "cli/publish.h"
#include "cli/song_tags.h"
#include "cli/terminal.h"

namespace trelmo::cli {

namespace {

// Frames rendered at a time: about a tenth of a second, so that Ctrl-C and the progress bar stay prompt.
constexpr size_t ChunkFrames = 4096;

// What every song of the command shares.
struct Plan {
    const RenderOptions& options;
    FileFormat format;
    bool toStdout;
    uint64_t start;
    uint64_t end;  // UINT64_MAX: the song's end
    mode_t mode;   // of new files
};

// What a song's render has to say, kept until every song before it has spoken.
struct Report {
    std::string messages;                 // the loaders' messages
    std::vector<std::string> complaints;  // each becomes a "trelmo: " line
    std::string summary;
    bool failed = false;
    bool readerGone = false;
};

struct Job {
    const SongArgument* song = nullptr;
    std::string base;         // the output's name (for stems, the name their names are made from)
    std::string earlierSong;  // an earlier song of the command that writes the same file, if any
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> finished{false};
    Report report;
};

// One file being written: unnamed (or hidden) until it is complete, or a FIFO or device written
// into directly.
struct Output {
    std::string target;
    bool stream = false;
    OutputFile staging;
    int fd = -1;
    SoundFile file;
    bool sounded = false;
};

std::string TrackNumber(int track) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", track);
    return text;
}

// The loaders' messages of one song, gathered so that songs rendered at once do not mix theirs.
class MessageBuffer {
  public:
    explicit MessageBuffer(bool wanted) : stream_(wanted ? open_memstream(&text_, &size_) : nullptr) {}
    ~MessageBuffer() {
        if (stream_ != nullptr) std::fclose(stream_);
        std::free(text_);
    }
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;
    std::FILE* Stream() const { return stream_; }
    std::string Take() {
        if (stream_ == nullptr) return std::string();
        std::fflush(stream_);
        return std::string(text_, size_);
    }

  private:
    char* text_ = nullptr;
    size_t size_ = 0;
    std::FILE* stream_;
};

bool OpenOutputs(std::vector<Output>& outputs, const Plan& plan, const SongTags& tags, Report& report) {
    for (Output& output : outputs) {
        std::string error;
        if (plan.toStdout) {
            output.fd = STDOUT_FILENO;
        } else {
            output.fd = output.stream ? OpenStream(output.target, error)
                        : output.staging.Create(output.target, plan.mode, error) ? output.staging.Fd()
                                                                                 : -1;
            if (output.fd < 0) {
                report.complaints.push_back(output.target + ": cannot write: " + error);
                return false;
            }
        }
        if (!output.file.Open(output.fd, plan.format)) {
            report.complaints.push_back(output.target + ": cannot write: " + output.file.Error());
            return false;
        }
        output.file.SetTags(tags);
    }
    return true;
}

// Completes every output; keeps those that are whole (and, for stems, not silent throughout).
bool CloseOutputs(std::vector<Output>& outputs, const Plan& plan, bool ok, bool stems, Report& report) {
    for (Output& output : outputs) {
        std::string error;
        // Finished even when the file is thrown away: libsndfile must be done with the descriptor
        // before it is closed, or a late header write could land in a file another job just opened.
        bool kept = output.file.Finish() && ok;
        if (!kept && ok) error = output.file.Error();
        if (plan.toStdout) {
            if (!kept && ok) report.complaints.push_back("standard output: cannot write: " + error);
            ok = ok && kept;
            continue;
        }
        if (output.stream) {
            if (output.fd >= 0 && close(output.fd) != 0 && kept) {
                error = std::strerror(errno);
                kept = false;
            }
        } else if (kept && (output.sounded || !stems)) {
            // The file gets its name only when every byte is on the disk; otherwise it goes.
            kept = output.staging.Publish(plan.options.force, error, output.file.Bytes());
        } else {
            output.staging.Discard();
        }
        if (!kept && ok) {
            report.complaints.push_back(output.target + ": cannot write: " + error);
            ok = false;
        }
    }
    return ok;
}

// Renders one song (or its stems) to its files. Runs on a thread of its own.
void RenderSong(Job& job, const Plan& plan) {
    const RenderOptions& options = plan.options;
    const SongArgument& song = *job.song;
    Report& report = job.report;
    report.failed = true;
    if (!job.earlierSong.empty()) {
        // Songs render at once and finish in any order: the song named first keeps the name.
        report.complaints.push_back(job.base + ": is written by " + job.earlierSong +
                                    " earlier in this command; not overwritten");
        return;
    }

    // Every song gets an engine of its own: nothing of one song reaches the next.
    LoadedSong loaded;
    ApplySettings(loaded.Engine(), options.sound);
    std::string error;
    {
        MessageBuffer messages(!options.quiet);
        const bool ok = loaded.Load(song, messages.Stream(), error, options.choice);
        report.messages = messages.Take();
        if (!ok) {
            report.complaints.push_back(song.displayName + ": " + error);
            return;
        }
    }
    const std::string elsewhere = loaded.CurrentFolderBank();
    if (!elsewhere.empty() && !options.quiet)
        report.complaints.push_back(song.displayName + ": " + elsewhere);
    const std::string missing = loaded.MissingInstruments();
    if (!missing.empty()) {
        report.complaints.push_back(song.displayName + ": " + missing);
        if (options.strict) return;
    }
    const uint64_t length = loaded.Frames();
    const uint64_t last = std::min(plan.end, length);
    if (plan.start >= last && last > 0) {
        report.complaints.push_back(song.displayName + ": --start lies beyond the end (" +
                                    FormatDuration(last) + ")");
        return;
    }

    // Stems: engine k plays tracks[0..k] together, and stem k is engine k minus engine k - 1, so that
    // the stems add up to the full mix exactly (wherever it does not saturate), rounding and all.
    std::vector<int> tracks;
    std::vector<std::unique_ptr<LoadedSong>> prefixes;
    std::vector<trelmo_engine*> engines{loaded.Engine()};
    if (options.stems) {
        const int count = std::min(loaded.Info().tracks, TRELMO_MAX_TRACKS);
        for (int t = 0; t < count; ++t) {
            if ((options.sound.muteMask & (1u << t)) == 0) tracks.push_back(t + 1);
        }
        if (tracks.empty()) {
            report.complaints.push_back(song.displayName + ": no track left to write as a stem");
            return;
        }
        engines.clear();
        uint32_t playing = 0;
        for (size_t k = 0; k + 1 < tracks.size(); ++k) {
            playing |= 1u << (tracks[k] - 1);
            prefixes.push_back(std::make_unique<LoadedSong>());
            SoundSettings settings = options.sound;
            settings.muteMask = AllTracks & ~playing;
            ApplySettings(prefixes.back()->Engine(), settings);
            if (!prefixes.back()->Load(song, nullptr, error, options.choice)) {
                report.complaints.push_back(song.displayName + ": " + error);
                return;
            }
            engines.push_back(prefixes.back()->Engine());
        }
        // The last stem takes whatever the full mix holds beyond the other stems.
        engines.push_back(loaded.Engine());
    }

    std::vector<Output> outputs(options.stems ? tracks.size() : 1);
    const std::string& base = job.base;
    if (options.stems) {
        const size_t dot = base.rfind('.');
        const size_t slash = base.rfind('/');
        const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
        const std::string extension =
            hasExtension ? base.substr(dot) : std::string(".") + Extension(plan.format);
        const std::string stem = hasExtension ? base.substr(0, dot) : base;
        for (size_t k = 0; k < tracks.size(); ++k)
            outputs[k].target = stem + ".track" + TrackNumber(tracks[k]) + extension;
    } else {
        outputs[0].target = plan.toStdout ? "standard output" : base;
    }
    if (!plan.toStdout) {
        for (Output& output : outputs) {
            const TargetCheck check = CheckTarget(output.target);
            if (check.kind == TargetKind::Refused) {
                report.complaints.push_back(output.target + ": " + check.reason);
                return;
            }
            if (check.kind == TargetKind::RegularFile && !options.force) {
                report.complaints.push_back(output.target + ": already exists (use --force to overwrite it)");
                return;
            }
            // A FIFO or a device such as /dev/null is written into, as standard output is.
            output.stream = check.kind == TargetKind::Stream;
        }
    }

    for (trelmo_engine* engine : engines) trelmo_seek(engine, plan.start);
    job.total.store(last - plan.start);
    bool ok = OpenOutputs(outputs, plan, MakeTags(song.title, loaded), report);

    std::vector<int16_t> mixes(engines.size() * ChunkFrames * TRELMO_CHANNELS);
    std::vector<int16_t> stem(ChunkFrames * TRELMO_CHANNELS);
    uint64_t position = plan.start;
    while (ok && position < last && !Interrupted.load()) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(ChunkFrames, last - position));
        size_t frames = want;
        for (size_t k = 0; k < engines.size(); ++k) {
            frames = std::min(
                frames, trelmo_render(engines[k], mixes.data() + k * ChunkFrames * TRELMO_CHANNELS, want));
        }
        if (frames == 0) break;
        for (size_t k = 0; k < outputs.size() && ok; ++k) {
            const int16_t* mix = mixes.data() + k * ChunkFrames * TRELMO_CHANNELS;
            const int16_t* samples = mix;
            if (k > 0) {
                const int16_t* below = mix - ChunkFrames * TRELMO_CHANNELS;
                for (size_t i = 0; i < frames * TRELMO_CHANNELS; ++i) {
                    stem[i] = static_cast<int16_t>(std::clamp(mix[i] - below[i], -32768, 32767));
                }
                samples = stem.data();
            }
            if (!outputs[k].sounded) {
                outputs[k].sounded = std::any_of(samples, samples + frames * TRELMO_CHANNELS,
                                                 [](int16_t v) { return v != 0; });
            }
            ok = outputs[k].file.Write(samples, frames);
            if (!ok) {
                if (plan.toStdout && ReaderGone(STDOUT_FILENO))
                    report.readerGone = true;
                else
                    report.complaints.push_back(outputs[k].target +
                                                ": cannot write: " + outputs[k].file.Error());
            }
        }
        position += frames;
        job.done.store(position - plan.start);
    }
    ok = ok && !Interrupted.load();
    const size_t complaints = report.complaints.size();
    const bool kept = CloseOutputs(outputs, plan, ok, options.stems, report);
    if (!kept && plan.toStdout && ReaderGone(STDOUT_FILENO)) {
        // A reader that has read enough (trelmo render -o - SONG | head) ends the command, quietly.
        report.readerGone = true;
        report.complaints.resize(complaints);
    }
    if (!kept || Interrupted.load()) return;
    // Stems of tracks that all stayed silent write nothing: as with no track left to play at all.
    if (options.stems &&
        std::none_of(outputs.begin(), outputs.end(), [](const Output& o) { return o.sounded; })) {
        report.complaints.push_back(song.displayName + ": no track left that sounds, so no stem was written");
        return;
    }
    report.failed = false;
    std::string shown = outputs[0].target;
    if (options.stems) {
        shown = outputs[0].target.substr(0, outputs[0].target.rfind(".track")) + ".trackNN" +
                outputs[0].target.substr(outputs[0].target.rfind('.')) + " for tracks";
        bool silent = false;
        for (size_t k = 0; k < outputs.size(); ++k) {
            if (outputs[k].sounded) shown += " " + std::to_string(tracks[k]);
            silent = silent || !outputs[k].sounded;
        }
        if (silent) {
            shown += " (silent:";
            for (size_t k = 0; k < outputs.size(); ++k) {
                if (!outputs[k].sounded) shown += " " + std::to_string(tracks[k]);
            }
            shown += ")";
        }
    }
    report.summary = song.displayName + " -> " + shown + " (" + FormatDuration(position - plan.start) + ")";
}

// The whole batch in one line: how far it is, and the first song still rendering.
void ShowProgress(const std::vector<std::unique_ptr<Job>>& jobs) {
    double sum = 0;
    size_t finished = 0;
    const Job* current = nullptr;
    for (const auto& job : jobs) {
        const uint64_t total = job->total.load();
        if (job->finished.load()) {
            sum += 1;
            ++finished;
            continue;
        }
        if (total > 0) sum += static_cast<double>(job->done.load()) / static_cast<double>(total);
        if (current == nullptr && total > 0) current = job.get();
    }
    const double fraction = sum / static_cast<double>(jobs.size());
    const int width = TerminalWidth();
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    // Built by appending: GCC 12 at -O3 warns falsely about "text" + std::string temporaries.
    std::string line = "[";
    line.append(Bar(fraction, std::clamp(width / 4, 10, 30))).append("] ").append(percent);
    if (jobs.size() > 1) {
        line.append("  ")
            .append(std::to_string(finished))
            .append("/")
            .append(std::to_string(jobs.size()))
            .append(" songs");
    }
    if (current != nullptr) {
        if (jobs.size() == 1) {
            line.append("  ").append(FormatDuration(current->done.load())).append(" / ");
            line.append(FormatDuration(current->total.load()));
        }
        // The name comes last, so that a narrow terminal cuts only the name.
        line.append("  ").append(current->song->displayName);
    }
    StatusLine(line);
}

void PrintReport(const Report& report, std::FILE* messages, bool quiet) {
    if (messages != nullptr && !report.messages.empty()) {
        std::fputs(report.messages.c_str(), messages);
        std::fflush(messages);
    }
    for (const std::string& line : report.complaints) Complain(line);
    if (!quiet && !report.summary.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", Printable(report.summary).c_str());
    }
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
    if (!formatGiven && !options.output.empty() && !toStdout &&
        !FormatFromExtension(options.output, format)) {
        Complain("cannot tell the format of " + options.output + " from its name; use --format");
        return ExitUsage;
    }
    if (!options.output.empty() && options.songs.size() > 1) {
        Complain("-o names one output file; use --out-dir to render several songs");
        return ExitUsage;
    }
    if (toStdout && options.stems) {
        Complain("--stems writes one file per track; name them with -o NAME or --out-dir, not -o -");
        return ExitUsage;
    }
    if (toStdout && IsTerminal(STDOUT_FILENO)) {
        Complain("standard output is a terminal; send the audio to a file or a pipe");
        return ExitUsage;
    }
    uint64_t start = 0;
    uint64_t end = UINT64_MAX;
    std::string error;
    if (!ParseTime("--start", options.start, start, error) || !ParseTime("--end", options.end, end, error)) {
        Complain(error);
        return ExitUsage;
    }
    if (end <= start) {
        Complain("--end must come after --start");
        return ExitUsage;
    }
    if (options.sound.loops == 0 && options.end.empty()) {
        Complain("--loops 0 plays for ever; give --end to render a stretch of it");
        return ExitUsage;
    }
    SoundSettings sound = options.sound;
    if (!ResolveTracks(sound, error)) {
        Complain(error);
        return ExitUsage;
    }
    if (formatGiven && !toStdout && !options.output.empty() && ExtensionDisagrees(options.output, format)) {
        Complain("warning: " + options.output + " will hold " + options.format + ", whatever its name says");
    }

    CatchInterrupts();
    IgnoreFileSizeSignal();
    const std::vector<SongArgument> songs = SongArguments(options.songs);
    // Containers with no songs in them are no failure: they said so.
    if (songs.empty()) return options.songs.empty() ? ExitSongFailed : ExitOk;
    if (!options.outDir.empty() && mkdir(options.outDir.c_str(), 0777) != 0 && errno != EEXIST) {
        Complain(options.outDir + ": cannot create the folder: " + std::strerror(errno));
        return ExitSongFailed;
    }

    // The loading messages stay on standard output unless that carries the audio.
    std::FILE* messages = options.quiet ? nullptr : toStdout ? stderr : stdout;
    const mode_t mask = umask(0);
    umask(mask);
    const bool progress = !options.quiet && IsTerminal(STDERR_FILENO);
    RenderOptions resolved = options;
    resolved.sound = sound;
    const Plan plan{resolved, format, toStdout, start, end, static_cast<mode_t>(0666 & ~mask)};

    std::vector<std::unique_ptr<Job>> jobs;
    std::map<std::string, const SongArgument*> outputs;  // by the output's path, made absolute
    for (const SongArgument& song : songs) {
        jobs.push_back(std::make_unique<Job>());
        Job& job = *jobs.back();
        job.song = &song;
        job.base = !options.output.empty() ? options.output
                                           : (options.outDir.empty() ? "" : options.outDir + "/") +
                                                 song.outputStem + "." + Extension(format);
        if (toStdout) continue;
        std::error_code unknown;
        const std::string key = std::filesystem::absolute(job.base, unknown).lexically_normal().string();
        const auto [earlier, first] = outputs.emplace(key, &song);
        if (!first) job.earlierSong = earlier->second->displayName;
    }
    unsigned threads = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, jobs.size()));
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> outOfMemory{false};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (size_t i = next.fetch_add(1); i < jobs.size() && !stop.load() && !Interrupted.load();
                 i = next.fetch_add(1)) {
                try {
                    RenderSong(*jobs[i], plan);
                } catch (const std::bad_alloc&) {
                    // The song's unfinished files went with its render; the command ends in main.
                    outOfMemory.store(true);
                    stop.store(true);
                }
                if (jobs[i]->report.readerGone) stop.store(true);
                jobs[i]->finished.store(true);
            }
        });
    }

    int status = ExitOk;
    bool readerGone = false;
    size_t printed = 0;
    // Prints the reports of the songs that have finished, up to the first that has not.
    const auto printFinished = [&] {
        bool cleared = false;
        for (; printed < jobs.size() && jobs[printed]->finished.load(); ++printed) {
            const Report& report = jobs[printed]->report;
            if (progress && !cleared) ClearStatusLine();
            cleared = true;
            readerGone = readerGone || report.readerGone;
            if (report.failed && !report.readerGone) status = ExitSongFailed;
            // After Ctrl-C only the files that were completed are worth a line.
            if (!Interrupted.load() || !report.failed) PrintReport(report, messages, options.quiet);
        }
    };
    auto shown = std::chrono::steady_clock::now();
    for (;;) {
        const bool allDone =
            std::all_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->finished.load(); });
        printFinished();
        if (allDone || stop.load() || Interrupted.load()) break;
        if (progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(100)) {
            shown = std::chrono::steady_clock::now();
            ShowProgress(jobs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& worker : workers) worker.join();
    if (progress) ClearStatusLine();
    if (outOfMemory.load()) throw std::bad_alloc();
    printFinished();
    if (readerGone) return ExitReaderGone;
    if (Interrupted.load()) {
        Complain("interrupted");
        return ExitInterrupted;
    }
    return status;
}

}  // namespace trelmo::cli
