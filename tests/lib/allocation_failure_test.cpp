// SPDX-License-Identifier: BSD-3-Clause
// Loading when memory runs out: every allocation a load makes is failed in turn, and each time the
// load must answer with a status (never terminate the program), leave nothing allocated behind,
// and leave an engine that loads and plays the next song as if nothing had happened.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "trelmo/trelmo.h"

namespace {

// The test program's own operator new: counts what is allocated and still held, and throws
// std::bad_alloc at the allocation numbered failAt (counted from when it was armed). Atomic because
// this operator new serves the whole test program, whose other tests allocate on several threads.
std::atomic<long> allocations = 0;
std::atomic<long> held = 0;
std::atomic<long> failAt = -1;

void* Allocate(std::size_t size) {
    if (failAt >= 0 && allocations++ == failAt) throw std::bad_alloc();
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    ++held;
    return p;
}

void Release(void* p) noexcept {
    if (p == nullptr) return;
    --held;
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace {

const std::string Soundsmith = std::string(TRELMO_CORPUS_DIR) + "/soundsmith/";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Bank {
    std::vector<uint8_t> bytes;
};

int LendBank(void* user, const char* name, const void** data, size_t* size) {
    const auto* bank = static_cast<const Bank*>(user);
    if (std::string(name) != "ECHO.W") return 0;
    *data = bank->bytes.data();
    *size = bank->bytes.size();
    return 1;
}

// The loads tried: a song and its bank from disk, one without its bank (every ASIF file looked
// for in a folder, then the second look), one from memory with its bank lent, a NoiseTracker GS
// song, and a song with the bank its caller chose.
struct Loads {
    std::filesystem::path lonely = std::filesystem::temp_directory_path() / "trelmo-allocation-test";
    Bank bank{ReadFile(Soundsmith + "ECHO.W")};
    std::vector<uint8_t> echo = ReadFile(Soundsmith + "ECHO.MTP");
    // Made before any allocation is failed: only the library's own allocations are.
    std::string echoPath = Soundsmith + "ECHO.MTP";
    std::string lonePath = (lonely / "LONE.MTP").string();
    std::string bankPath = Soundsmith + "ECHO.W";

    Loads() {
        std::filesystem::create_directories(lonely);
        std::filesystem::copy_file(Soundsmith + "ECHO.MTP", lonely / "LONE.MTP",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ~Loads() { std::filesystem::remove_all(lonely); }

    // A new engine for load which, with the bank its caller chose for the last.
    trelmo_engine* Engine(int which) const {
        trelmo_engine* engine = trelmo_create();
        if (which == 4) trelmo_set_bank_file(engine, bankPath.c_str());
        return engine;
    }

    int Run(trelmo_engine* engine, int which) const {
        switch (which) {
            case 0:
                return trelmo_load_file(engine, echoPath.c_str());
            case 1:
                return trelmo_load_file(engine, lonePath.c_str());
            case 2:
                return trelmo_load_memory(engine, echo.data(), echo.size(), "ECHO.MTP", LendBank,
                                          const_cast<Bank*>(&bank));
            case 3:
                return trelmo_load_file(engine, TRELMO_DEMO_SONG);
            default:
                return trelmo_load_file(engine, lonePath.c_str());
        }
    }
};

std::vector<int16_t> FirstFrames(trelmo_engine* engine) {
    std::vector<int16_t> pcm(2 * 8192);
    pcm.resize(2 * trelmo_render(engine, pcm.data(), 8192));
    return pcm;
}

TEST(AllocationFailure, EveryFailedAllocationOfALoadIsAStatusAndTheEngineGoesOn) {
    const Loads loads;
    int tried = 0;
    int memoryStatuses = 0;
    for (int which = 0; which < 5; ++which) {
        trelmo_engine* engine = loads.Engine(which);
        ASSERT_EQ(loads.Run(engine, which), TRELMO_OK);
        const std::vector<int16_t> expected = FirstFrames(engine);
        // How many allocations a whole load makes, then each of them failed in turn.
        failAt = 1L << 40;
        allocations = 0;
        ASSERT_EQ(loads.Run(engine, which), TRELMO_OK);
        const long count = allocations;
        failAt = -1;
        trelmo_destroy(engine);
        ASSERT_GT(count, 0) << "load " << which;
        for (long k = 0; k < count; ++k) {
            const long before = held;
            engine = loads.Engine(which);
            allocations = 0;
            failAt = k;
            const int status = loads.Run(engine, which);
            failAt = -1;
            ++tried;
            ASSERT_TRUE(status == TRELMO_ERROR_MEMORY || status == TRELMO_OK)
                << "load " << which << ", failure " << k << ": " << status;
            if (status == TRELMO_ERROR_MEMORY) {
                ++memoryStatuses;
                EXPECT_STREQ(trelmo_last_error(engine), "out of memory");
                trelmo_song_info info;
                TRELMO_INIT_RECORD(info);
                EXPECT_EQ(trelmo_get_song_info(engine, &info), TRELMO_ERROR_NO_SONG)
                    << "a failed load keeps no song";
            }
            ASSERT_EQ(loads.Run(engine, which), TRELMO_OK) << "the engine loads again after failure " << k;
            EXPECT_EQ(FirstFrames(engine), expected) << "load " << which << ", failure " << k;
            trelmo_destroy(engine);
            EXPECT_EQ(held.load(), before) << "load " << which << ", failure " << k << " left memory behind";
        }
    }
    std::printf(
        "%d allocation failures tried over 5 loads: %d answered TRELMO_ERROR_MEMORY, %d loaded all the same; "
        "none aborted\n",
        tried, memoryStatuses, tried - memoryStatuses);
    EXPECT_GT(memoryStatuses, 0);
}

}  // namespace
