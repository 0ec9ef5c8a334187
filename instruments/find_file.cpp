#include "instruments/find_file.h"

#include <cstdio>

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace trelmo {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

#ifndef _WIN32
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (b[i] == '\0' || AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return b[i] == '\0';
}

// Only regular files count: a folder that happens to carry an instrument's name is never a match.
bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
#endif

}  // namespace

bool IsPlainFileName(const std::string& name) {
    const std::string shown = name.substr(0, name.find('\0'));
    if (shown.empty() || shown == "." || shown == "..") return false;
    for (const char c : shown) {
        if (IsSeparator(c)) return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    // The first character is never taken as a separator, so "/TUNE" keeps its slash in the file part.
    for (size_t i = path.size(); i > 1; --i) {
        if (IsSeparator(path[i - 1])) return path.substr(0, i);
    }
    return std::string();
}

std::string FindFileIgnoringCase(const std::string& path) {
    if (path.empty()) return std::string();
#ifdef _WIN32
    // Windows already matches names without regard to case.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::string();
    std::fclose(file);
    return path;
#else
    if (IsRegularFile(path)) return path;

    // Songs name their files as they were on the IIgs, where case never mattered; on a
    // case-sensitive disk the file may carry any mix of cases.
    const std::string folder = FolderOf(path);
    const std::string name = path.substr(folder.size());
    if (name.empty()) return std::string();
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::string();
    std::string best;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (!SameIgnoringCase(name, entry->d_name)) continue;
        // Several spellings of one name: the one that sorts first byte by byte, so the choice
        // never depends on the order in which the folder lists its entries.
        const std::string candidate = entry->d_name;
        if (found && candidate >= best) continue;
        if (!IsRegularFile(folder + candidate)) continue;
        best = candidate;
        found = true;
    }
    closedir(dir);
    return found ? folder + best : std::string();
#endif
}

}  // namespace trelmo
