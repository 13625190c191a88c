#include "platform/LargeBuffer.h"

#include "platform/AddressSanitizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace oriel::platform {
namespace {

constexpr size_t kSlice = LargePageSlices::kSliceSize;

// Fills a slice with bytes that name it, so that a slice handed out twice,
// or two that overlap, show as changed bytes.
void Stamp(char* slice, uint32_t mark)
{
    for (size_t at = 0; at < kSlice; at += sizeof mark)
        std::memcpy(slice + at, &mark, sizeof mark);
}

bool HasStamp(const char* slice, uint32_t mark)
{
    for (size_t at = 0; at < kSlice; at += sizeof mark) {
        uint32_t seen;
        std::memcpy(&seen, slice + at, sizeof seen);
        if (seen != mark)
            return false;
    }
    return true;
}

// Enough slices to run past more than one reserved region, from four
// threads at once (decoders make items and texts on several), some given
// back and taken again while the others are held.
TEST(LargePageSlices, SlicesNeverOverlapAndComeBackForReuse)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200; // 4 x 200 x 64 KB = 50 MB
    std::vector<std::vector<char*>> held(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&held, t] {
            std::vector<char*>& mine = held[size_t(t)];
            for (int i = 0; i < kPerThread; ++i) {
                char* slice = LargePageSlices::Take();
                Stamp(slice, uint32_t(t * kPerThread + i));
                mine.push_back(slice);
                if (i % 5 == 4) {
                    // Give one back and take one: the room is reused.
                    LargePageSlices::Give(mine[mine.size() - 2]);
                    mine[mine.size() - 2] = LargePageSlices::Take();
                    Stamp(mine[mine.size() - 2], uint32_t(t * kPerThread + i - 1));
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::vector<char*> all;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPerThread; ++i) {
            char* slice = held[size_t(t)][size_t(i)];
            EXPECT_TRUE(HasStamp(slice, uint32_t(t * kPerThread + i))) << "thread " << t << " slice " << i;
            all.push_back(slice);
        }
    }
    std::sort(all.begin(), all.end());
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_GE(all[i] - all[i - 1], std::ptrdiff_t(kSlice)) << "slices overlap";

    // Given back, the same room is handed out again before any new room.
    const std::set<char*> given(all.begin(), all.end());
    for (char* slice : all)
        LargePageSlices::Give(slice);
    std::vector<char*> again;
    for (size_t i = 0; i < all.size(); ++i)
        again.push_back(LargePageSlices::Take());
#if !ORIEL_ADDRESS_SANITIZER
    for (char* slice : again)
        EXPECT_TRUE(given.count(slice)) << "new room while given-back room was left";
#endif
    for (char* slice : again)
        LargePageSlices::Give(slice);
}

// Whether the system may back the mapping that holds `at` with large pages
// (its "THPeligible" line), or -1 when that cannot be told.
int LargePagesEligibleAt(const void* at)
{
    std::ifstream smaps("/proc/self/smaps");
    const auto address = reinterpret_cast<uintptr_t>(at);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long begin = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &begin, &end) == 2 && line.find(':') > line.find(' ')) {
            inside = address >= begin && address < end;
        } else if (inside && line.rfind("THPeligible:", 0) == 0) {
            return std::stoi(line.substr(12));
        }
    }
    return -1;
}

// In a process of its own (the slices are the process's): whether the
// first slice taken lies where large pages may serve, with or without
// many slices announced first.
int FirstSliceEligible(bool expectMany)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (expectMany)
            LargePageSlices::ExpectMany(size_t(64) << 20);
        const int eligible = LargePagesEligibleAt(LargePageSlices::Take());
        ::_exit(eligible < 0 ? 2 : eligible);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A process with few items keeps to small pages; a decode that announces
// megabytes of them has its first slices in large pages too. Told only
// where the system gives large pages on request alone.
TEST(LargePageSlices, TheFirstSlicesAreLargePagesOnlyWhenManyAreExpected)
{
    if (ORIEL_ADDRESS_SANITIZER)
        GTEST_SKIP() << "the slices come from the general heap";
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::stringstream text;
    text << mode.rdbuf();
    if (text.str().find("[madvise]") == std::string::npos)
        GTEST_SKIP() << "large pages are not given on request here: " << text.str();
    EXPECT_EQ(FirstSliceEligible(false), 0);
    EXPECT_EQ(FirstSliceEligible(true), 1);
}

} // namespace
} // namespace oriel::platform
