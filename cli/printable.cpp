// SPDX-License-Identifier: BSD-3-Clause
#include "cli/printable.h"

#include <cstdint>
#include <cstdio>

namespace trelmo::cli {

namespace {

// The length of the valid UTF-8 sequence that starts text[at], or 0 when none does: no overlong
// form, no surrogate, nothing beyond U+10FFFF. code gets the character.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

void AppendHex(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

void AppendBytesEscaped(std::string& out, std::string_view text, size_t at, size_t count) {
    for (size_t i = 0; i < count; ++i) AppendHex(out, "\\x%02x", static_cast<unsigned char>(text[at + i]));
}

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

std::string Printable(std::string_view text) {
    text = UpToNul(text);
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = Utf8Sequence(text, at, code);
        if (length == 0) {
            AppendBytesEscaped(out, text, at, 1);
            at += 1;
        } else if (IsControl(code)) {
            AppendBytesEscaped(out, text, at, length);
            at += length;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

std::string JsonString(std::string_view text) {
    text = UpToNul(text);
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = Utf8Sequence(text, at, code);
        if (length == 0) {
            out += '\\';  // a JSON-escaped backslash, then the visible escape's own text
            AppendBytesEscaped(out, text, at, 1);
            at += 1;
            continue;
        }
        if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (IsControl(code)) {
            AppendHex(out, "\\u%04x", code);
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

}  // namespace trelmo::cli
