// SPDX-License-Identifier: BSD-3-Clause
// A song's companion files from the folder its URI names, read through GIO: any place GIO reaches
// (with gvfs: smb://, sftp://, http:// ...), never more than the library takes.
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

#include "gst/engine.h"

namespace trelmo::gst {

// The last segment of a URI's path, percent-decoded ("ECHO.MTP"); "" when it names no file.
std::string UriFileName(const char* uri);

class FolderCompanions : public CompanionSource {
  public:
    // songUri: the song's own URI, one that names a file; its companions are its neighbours.
    // Cancelling cancellable ends a read that the network holds up: the files then count as missing.
    FolderCompanions(const char* songUri, GCancellable* cancellable);
    bool Read(const char* name, std::vector<uint8_t>& bytes) override;

  private:
    bool ReadUri(const std::string& uri, std::vector<uint8_t>& bytes);

    GCancellable* cancellable_;
    std::string folder_;  // up to and including the last '/' of the path
    // The folder's regular files, listed on the first request; places that cannot list a folder (HTTP)
    // are asked for the name as the song spells it, then in upper and in lower case.
    bool listed_ = false;
    bool listable_ = false;
    std::vector<std::string> entries_;
};

}  // namespace trelmo::gst
