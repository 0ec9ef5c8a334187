// SPDX-License-Identifier: BSD-3-Clause
#include "gst/companions.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstring>

namespace trelmo::gst {
namespace {

// The part of a URI before its query or fragment.
std::string WithoutQuery(const char* uri) {
    return std::string(uri, std::strcspn(uri, "?#"));
}

// Everything the stream holds; false (and nothing) when that is more than limit bytes. A stream
// can be endless: reading it whole would fill the memory.
bool ReadAtMost(GInputStream* stream, size_t limit, GCancellable* cancellable, std::vector<uint8_t>& bytes) {
    bytes.clear();
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit) break;
            // Doubling, up to one byte beyond the limit: enough to tell that there is more.
            bytes.resize(filled + std::min(std::max<size_t>(filled, 65536), limit + 1 - filled));
        }
        const gssize got =
            g_input_stream_read(stream, bytes.data() + filled, bytes.size() - filled, cancellable, nullptr);
        if (got < 0) break;
        if (got == 0) {
            bytes.resize(filled);
            return true;
        }
        filled += static_cast<size_t>(got);
    }
    bytes.clear();
    return false;
}

}  // namespace

std::string UriFileName(const char* uri) {
    // Parsed, not cut at the last '/': "fd://0" names no file.
    GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_PARSE_RELAXED, nullptr);
    if (parsed == nullptr) return std::string();
    const std::string path = g_uri_get_path(parsed);
    g_uri_unref(parsed);
    return path.substr(path.rfind('/') + 1);
}

FolderCompanions::FolderCompanions(const char* songUri, GCancellable* cancellable)
    : cancellable_(cancellable) {
    const std::string path = WithoutQuery(songUri);
    const size_t slash = path.rfind('/');
    folder_ = slash != std::string::npos ? path.substr(0, slash + 1) : std::string();
}

bool FolderCompanions::ReadUri(const std::string& uri, std::vector<uint8_t>& bytes) {
    GFile* file = g_file_new_for_uri(uri.c_str());
    GFileInputStream* stream = g_file_read(file, cancellable_, nullptr);
    const bool read =
        stream != nullptr && ReadAtMost(G_INPUT_STREAM(stream), kMaxCompanionBytes, cancellable_, bytes);
    if (stream != nullptr) g_object_unref(stream);
    g_object_unref(file);
    return read && !bytes.empty();
}

bool FolderCompanions::Read(const char* name, std::vector<uint8_t>& bytes) {
    if (folder_.empty()) return false;
    if (!listed_) {
        listed_ = true;
        GFile* folder = g_file_new_for_uri(folder_.c_str());
        GFileEnumerator* listing = g_file_enumerate_children(
            folder, G_FILE_ATTRIBUTE_STANDARD_NAME "," G_FILE_ATTRIBUTE_STANDARD_TYPE, G_FILE_QUERY_INFO_NONE,
            cancellable_, nullptr);
        if (listing != nullptr) {
            listable_ = true;
            while (GFileInfo* entry = g_file_enumerator_next_file(listing, cancellable_, nullptr)) {
                if (g_file_info_get_file_type(entry) == G_FILE_TYPE_REGULAR)
                    entries_.emplace_back(g_file_info_get_name(entry));
                g_object_unref(entry);
            }
            g_object_unref(listing);
        }
        g_object_unref(folder);
    }
    std::vector<std::string> spellings;
    if (listable_) {
        // The library's rule picks the file, as it does on a local disk.
        const int chosen = MatchFileName(name, entries_);
        if (chosen >= 0) spellings.push_back(entries_[static_cast<size_t>(chosen)]);
    } else {
        char* upper = g_ascii_strup(name, -1);
        char* lower = g_ascii_strdown(name, -1);
        for (const char* spelling : {name, static_cast<const char*>(upper), static_cast<const char*>(lower)})
            if (std::find(spellings.begin(), spellings.end(), spelling) == spellings.end())
                spellings.push_back(spelling);
        g_free(upper);
        g_free(lower);
    }
    for (const std::string& spelling : spellings) {
        char* escaped = g_uri_escape_string(spelling.c_str(), nullptr, FALSE);
        const bool found = ReadUri(folder_ + escaped, bytes);
        g_free(escaped);
        if (found) return true;
    }
    return false;
}

}  // namespace trelmo::gst
