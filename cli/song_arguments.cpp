// SPDX-License-Identifier: BSD-3-Clause
// The songs a command works on, and the built-in demo song when it is given none.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "cli/cli.h"
#include "cli/printable.h"
#include "trelmo/trelmo.h"

namespace trelmo {
extern const uint8_t DemoSong[];
extern const size_t DemoSongSize;
}  // namespace trelmo

namespace trelmo::cli {

namespace {

// The plug-in plays files, so the demo song is written to a private folder for the command's run.
struct DemoFile {
    std::string folder;
    std::string path;
    ~DemoFile() {
        if (!path.empty()) unlink(path.c_str());
        if (!folder.empty()) rmdir(folder.c_str());
    }
};

DemoFile Demo;

std::string WriteDemoSong() {
    if (!Demo.path.empty()) return Demo.path;
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/trelmo-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    Demo.folder = pattern;
    const std::string path = pattern + "/DEMO.NTG";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return "";
    Demo.path = path;
    const bool written = std::fwrite(DemoSong, 1, DemoSongSize, file) == DemoSongSize;
    if (std::fclose(file) != 0 || !written) return "";
    return path;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool IsRegularFile(const std::string& path) {
    struct stat facts {};
    return stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

// A song file is told by its first bytes; anything else may be a container.
bool IsLooseSong(const std::string& path) {
    unsigned char start[16];
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    return trelmo_detect(start, got) != 0;
}

// CONTAINER/INNER/PATH: a path that names nothing on disk but begins with a regular file.
bool SplitContainerPath(const std::string& path, std::string& container, std::string& inner) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) == 0) return false;
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (stat(prefix.c_str(), &facts) != 0) return false;
        if (S_ISREG(facts.st_mode)) {
            container = prefix;
            inner = path.substr(slash + 1);
            return !inner.empty();
        }
    }
    return false;
}

SongArgument ContainerSong(const std::string& container, const trelmo_container_song& song) {
    SongArgument argument;
    argument.container = container;
    argument.innerPath = song.path;
    argument.path = container + "/" + song.path;
    argument.displayName = argument.path;
    // The output names the song by the container and its inner path, so that two songs called
    // MUSIC in different folders never write the same file.
    const std::string last = BaseName(song.path);
    std::string stem = WithoutExtension(BaseName(container)) + "." +
                       argument.innerPath.substr(0, argument.innerPath.size() - last.size()) +
                       WithoutExtension(last);
    for (char& c : stem)
        if (c == '/') c = '.';
    argument.outputStem = stem;
    argument.title = WithoutExtension(last);
    argument.fileType = song.file_type;
    argument.auxType = song.aux_type;
    argument.bytes = song.bytes;
    return argument;
}

// Adds the songs that path stands for when it is a container or names songs inside one; false
// when it is neither (a loose song, or a file that is no song at all).
bool AddContainerSongs(const std::string& path, std::vector<SongArgument>& songs, std::FILE* notes) {
    std::string file = path, inner;
    if (!SplitContainerPath(path, file, inner) && (!IsRegularFile(path) || IsLooseSong(path))) return false;
    trelmo_container* container = trelmo_container_create();
    if (container == nullptr) throw std::bad_alloc();
    const int status = trelmo_container_open_file(container, file.c_str());
    bool taken = true;
    if (status == TRELMO_OK) {
        const size_t before = songs.size();
        // What was left out of the listing, and why: the rest of the container still plays.
        for (int i = 0; i < trelmo_container_skipped_count(container) && notes != nullptr; ++i) {
            std::fprintf(notes, "%s: left out: %s\n", Printable(file).c_str(),
                         Printable(trelmo_container_skipped(container, i)).c_str());
        }
        const int exact = inner.empty() ? -1 : trelmo_container_find_song(container, inner.c_str());
        for (int i = 0; i < trelmo_container_song_count(container); ++i) {
            trelmo_container_song song;
            TRELMO_INIT_RECORD(song);
            trelmo_container_get_song(container, i, &song);
            // A folder inside the container stands for the songs under it.
            const std::string own = song.path;
            const bool under = !inner.empty() && own.size() > inner.size() && own[inner.size()] == '/' &&
                               strncasecmp(own.c_str(), inner.c_str(), inner.size()) == 0;
            if (inner.empty() || i == exact || (exact < 0 && under))
                songs.push_back(ContainerSong(file, song));
        }
        if (!inner.empty() && songs.size() == before) {
            SongArgument missing{path, path, "", ""};
            missing.container = file;
            missing.problem = "no song of that name in " + file;
            songs.push_back(missing);
        } else if (trelmo_container_song_count(container) == 0 && notes != nullptr) {
            std::fprintf(notes, "%s: no songs\n", Printable(path).c_str());
        }
    } else if (status == TRELMO_ERROR_NOT_A_CONTAINER && inner.empty()) {
        taken = false;
    } else {
        SongArgument damaged{path, path, "", ""};
        damaged.container = file;
        damaged.problem = trelmo_container_last_error(container);
        const std::string prefix = file + ": ";
        if (damaged.problem.rfind(prefix, 0) == 0) damaged.problem.erase(0, prefix.size());
        songs.push_back(damaged);
    }
    trelmo_container_destroy(container);
    return taken;
}

}  // namespace

void Complain(const std::string& text) {
    std::fflush(stdout);
    // Complaints carry file and instrument names: whatever bytes they hold stay visible text.
    std::fprintf(stderr, "trelmo: %s\n", Printable(text).c_str());
}

std::vector<SongArgument> SongArguments(const std::vector<std::string>& paths, std::FILE* notes) {
    std::vector<SongArgument> songs;
    if (paths.empty()) {
        const std::string demo = WriteDemoSong();
        if (demo.empty()) {
            Complain("cannot write the demo song to a temporary folder");
            return songs;
        }
        songs.push_back({demo, "demo song \"First Light\"", "demo", "First Light"});
        return songs;
    }
    for (const std::string& path : paths) {
        if (AddContainerSongs(path, songs, notes)) continue;
        const std::string name = BaseName(path);
        const size_t dot = name.rfind('.');
        const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        songs.push_back({path, path, stem, stem});
    }
    return songs;
}

}  // namespace trelmo::cli
