// Putting a finished output file in place under its real name.
#pragma once

#include <sys/types.h>

#include <string>

namespace trelmo::cli {

// Creates a hidden file beside target with the given mode; its name goes to temporary. The
// descriptor, or -1 with errno set.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary);

// Gives the finished temporary file the target's name; without force, never over an existing file
// (false with errno EEXIST).
bool Publish(const std::string& temporary, const std::string& target, bool force);

}  // namespace trelmo::cli
