// The songs a command works on, and the built-in demo song when it is given none.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli.h"

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
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/trelmo-demo-XXXXXX";
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

}  // namespace

void Complain(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "trelmo: %s\n", text.c_str());
}

std::vector<SongArgument> SongArguments(const std::vector<std::string>& paths) {
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
        const std::string name = BaseName(path);
        const size_t dot = name.rfind('.');
        const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
        songs.push_back({path, path, stem, stem});
    }
    return songs;
}

}  // namespace trelmo::cli
