// SPDX-License-Identifier: BSD-3-Clause
#include "instruments/find_file.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace trelmo {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr size_t TypeSuffixLength = 7;  // '#' and six hex digits

// Whether text from offset on is exactly a '#' and six hex digits.
bool IsTypeSuffix(const char* text) {
    if (text[0] != '#') return false;
    for (size_t i = 1; i < TypeSuffixLength; ++i) {
        if (!IsHexDigit(text[i])) return false;
    }
    return text[TypeSuffixLength] == '\0';
}

#ifndef _WIN32
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

NameMatch MatchFileName(const std::string& wanted, const char* name) {
    if (wanted.empty()) return NameMatch::None;
    bool exact = true;
    size_t i = 0;
    for (; i < wanted.size(); ++i) {
        if (name[i] == '\0' || AsciiUpper(wanted[i]) != AsciiUpper(name[i])) return NameMatch::None;
        exact = exact && wanted[i] == name[i];
    }
    if (name[i] == '\0') return exact ? NameMatch::Exact : NameMatch::Loose;
    return IsTypeSuffix(name + i) ? NameMatch::Loose : NameMatch::None;
}

bool FileNameChoice::Better(const char* name) const {
    const NameMatch match = MatchFileName(wanted_, name);
    if (match == NameMatch::None || match_ == NameMatch::Exact) return false;
    return match == NameMatch::Exact || match_ == NameMatch::None || name_ > name;
}

void FileNameChoice::Take(const char* name) {
    match_ = MatchFileName(wanted_, name);
    name_ = name;
}

std::string WithoutTypeSuffix(const std::string& name) {
    if (name.size() > TypeSuffixLength && IsTypeSuffix(name.c_str() + name.size() - TypeSuffixLength)) {
        return name.substr(0, name.size() - TypeSuffixLength);
    }
    return name;
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
    const std::string folder = FolderOf(path);
    const std::string name = path.substr(folder.size());
    if (name.empty()) return std::string();
    FileNameChoice choice(name);
#ifdef _WIN32
    // Windows already matches names without regard to case; only the type suffix needs a listing.
    WIN32_FIND_DATAA entry;
    HANDLE found = FindFirstFileA(path.c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
        FindClose(found);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return path;
    }
    found = FindFirstFileA((path + "#*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return std::string();
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && choice.Better(entry.cFileName)) {
            choice.Take(entry.cFileName);
        }
    } while (FindNextFileA(found, &entry));
    FindClose(found);
#else
    if (IsRegularFile(path)) return path;
    // Songs name their files as they were on the IIgs, where case never mattered; on a
    // case-sensitive disk the file may carry any mix of cases.
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::string();
    while (const dirent* entry = readdir(dir)) {
        if (choice.Better(entry->d_name) && IsRegularFile(folder + entry->d_name)) choice.Take(entry->d_name);
    }
    closedir(dir);
#endif
    return choice.Found() ? folder + choice.Name() : std::string();
}

}  // namespace trelmo
