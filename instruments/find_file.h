// SPDX-License-Identifier: BSD-3-Clause
// Finding instrument and bank files by the names songs give them, on case-sensitive file systems too.
#pragma once

#include <string>
#include <utility>

namespace trelmo {

// The folder part of path: everything up to and including the last '/' or '\' found from its last
// character back to its second (the first is never examined); empty when there is none.
std::string FolderOf(const std::string& path);

// Whether a name that a song gives one of its files can stand for a file in the song's own folder.
// The name ends at its first NUL, as the loader reads it. Names with a '/' or '\\' and the names
// "." and ".." name no file: IIgs file names never hold a separator, and such a name would reach
// files outside the song's folder, chosen by whoever wrote the song.
bool IsPlainFileName(const std::string& name);

// How well the name of a file that exists matches the name a song wants: the same bytes, or the same
// name with ASCII letters compared without case, or either followed by '#' and exactly six hex
// digits: the ProDOS file type and aux type that Apple II extraction tools append ("GOLF.WAVE#060000").
// Anything after the six digits ("#060000r", a resource fork) is another file.
enum class NameMatch { None, Loose, Exact };
NameMatch MatchFileName(const std::string& wanted, const char* name);

// Picks, among names offered one at a time, the one that stands for wanted: an exact match, else
// the loose match that sorts first byte by byte, so the choice never depends on the order in which
// a folder lists its entries.
class FileNameChoice {
  public:
    explicit FileNameChoice(std::string wanted) : wanted_(std::move(wanted)) {}
    // Whether name would replace the choice so far; Take makes it the choice.
    bool Better(const char* name) const;
    void Take(const char* name);
    bool Found() const { return match_ != NameMatch::None; }
    const std::string& Name() const { return name_; }

  private:
    std::string wanted_;
    std::string name_;
    NameMatch match_ = NameMatch::None;
};

// The name without a trailing '#' and six hex digits, as the IIgs knew it.
std::string WithoutTypeSuffix(const std::string& name);

// The path of an existing regular file for the name: the name itself when it exists, otherwise the
// entry of its folder chosen as FileNameChoice chooses. Empty when nothing matches.
std::string FindFileIgnoringCase(const std::string& path);

}  // namespace trelmo
