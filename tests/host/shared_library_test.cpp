// SPDX-License-Identifier: BSD-3-Clause
// The built plug-in as the player sees it: a library with one exported function.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/winamp.h"
#include "tests/host/fake_host.h"
#include "tests/support/song_player.h"

namespace trelmo {
namespace {

// The names of the symbols the library defines in its dynamic symbol table.
std::vector<std::string> ExportedSymbols(const std::string& library) {
    std::vector<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<address> <type> <name>"
        char type = 0;
        char name[400] = {};
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2) names.push_back(name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

TEST(SharedLibrary, ExportsOnlyTheModuleFunctionAndPlays) {
    EXPECT_EQ(ExportedSymbols(TRELMO_PLUGIN_PATH), std::vector<std::string>{"winampGetInModule2"});

    void* library = dlopen(TRELMO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(dlsym(library, "StartMixer"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN6trelmo10StartMixerEv"), nullptr);
    auto getModule = reinterpret_cast<GetInModuleFunction>(dlsym(library, "winampGetInModule2"));
    ASSERT_NE(getModule, nullptr) << dlerror();
    In_Module* module = getModule();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(getModule(), module);
    EXPECT_EQ(module->version, 0x100);
    EXPECT_STREQ(module->description, "Trelmo 0.99a (x86)");
    EXPECT_STREQ(module->FileExtensions, "mtp");

    // A whole playback through the library's own copy of everything.
    test::TempDir dir;
    const std::string song = test::WriteShortSong(dir, "SHORT.MTP");
    {
        test::FakeHost host;
        host.Attach(*module);
        EXPECT_EQ(module->IsOurFile(song.c_str()), 1);
        ASSERT_EQ(module->Play(song.c_str()), 0);
        ASSERT_TRUE(host.WaitForEndMessages(1, std::chrono::seconds(10)));
        module->Stop();
        EXPECT_GT(host.Count("Write"), 0);
        EXPECT_EQ(test::HostThreadCalls(host.Calls()).back(), "SAVSADeInit");
        EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
    }
    // As the player does before unloading; the song still loaded is released, or it would leak.
    module->Quit();
    EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
}  // namespace trelmo
