// SPDX-License-Identifier: BSD-3-Clause
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tools/writers/save_file.h"

namespace trelmo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelmo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = File(name);
    EXPECT_TRUE(writers::SaveFile(path, bytes)) << "cannot write " << path;
    return path;
}

std::string TempDir::Copy(const std::string& from, const std::string& name) const {
    const std::string path = File(name);
    std::error_code error;
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing, error);
    EXPECT_FALSE(error) << "cannot copy " << from << ": " << error.message();
    return path;
}

InDirectory::InDirectory(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
}

InDirectory::~InDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

}  // namespace trelmo::test
