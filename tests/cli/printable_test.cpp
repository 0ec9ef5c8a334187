// SPDX-License-Identifier: BSD-3-Clause
// Names from songs and file systems shown on a terminal and in JSON.
#include "cli/printable.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace trelmo::cli {
namespace {

using namespace std::string_literals;

TEST(Printable, ControlsAndInvalidBytesBecomeVisibleValidUtf8StaysAndNamesEndAtNul) {
    EXPECT_EQ(Printable("caf\xc3\xa9 \xe2\x99\xab.MTP"), "caf\xc3\xa9 \xe2\x99\xab.MTP");
    EXPECT_EQ(Printable("\x1b[2J\x1b]0;owned\a"), "\\x1b[2J\\x1b]0;owned\\x07");
    EXPECT_EQ(Printable("a\r\nb\x7f"), "a\\x0d\\x0ab\\x7f");
    EXPECT_EQ(Printable("\xc2\x9b"
                        "31m"),
              "\\xc2\\x9b31m");  // C1 CSI written as UTF-8
    EXPECT_EQ(Printable("\x9b"
                        "31m\xe9"),
              "\\x9b31m\\xe9");                                   // raw 8-bit bytes
    EXPECT_EQ(Printable("\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80"),  // overlong, surrogate, > U+10FFFF
              "\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80");
    EXPECT_EQ(Printable("\xe2\x99"), "\\xe2\\x99");  // cut short at the end
    EXPECT_EQ(Printable("PIANO\0\x1b[2J"s), "PIANO");
}

TEST(Printable, JsonKeepsUtf8AndRoundTripsEveryName) {
    EXPECT_EQ(JsonString("caf\xc3\xa9.MTP"), "\"caf\xc3\xa9.MTP\"");
    EXPECT_EQ(JsonString("BASS\0junk"s), "\"BASS\"");
    for (const std::string& name : {"a\"b\\c\x1b\n\x7f"s, "\xc2\x9b"s, "\xe9t\xff"s}) {
        const nlohmann::json parsed = nlohmann::json::parse(JsonString(name));
        const std::string back = parsed.get<std::string>();
        // Valid UTF-8 comes back byte for byte; an invalid byte as the terminal shows it.
        EXPECT_EQ(back, name == "\xe9t\xff"s ? "\\xe9t\\xff" : name);
    }
}

}  // namespace
}  // namespace trelmo::cli
