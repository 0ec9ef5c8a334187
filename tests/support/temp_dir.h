// SPDX-License-Identifier: BSD-3-Clause
// Private folders for the tests that are about files, and a current folder that is put back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace trelmo::test {

// A private folder (mkdtemp) that is removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    // Writes bytes as the file name in the folder and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    // Copies an existing file into the folder under name and returns its path.
    std::string Copy(const std::string& from, const std::string& name) const;

  private:
    std::string path_;
};

// Runs the process in another current folder for the lifetime of the object.
class InDirectory {
  public:
    explicit InDirectory(const std::string& path);
    ~InDirectory();
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

}  // namespace trelmo::test
