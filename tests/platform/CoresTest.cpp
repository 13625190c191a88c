#include "platform/Cores.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sched.h>

namespace oriel::platform {
namespace {

// What a side thread saw of its own cores.
struct Seen {
    bool ran = false;
    bool mayRunOnStarters = true;
    int cores = 0;
};

Seen RunBeside(int starter)
{
    Seen seen;
    SideThread thread([&seen, starter] {
        cpu_set_t set;
        CPU_ZERO(&set);
        ::sched_getaffinity(0, sizeof set, &set);
        seen.ran = true;
        seen.mayRunOnStarters = starter >= 0 && CPU_ISSET(starter, &set);
        seen.cores = CPU_COUNT(&set);
    });
    EXPECT_TRUE(thread.joinable());
    thread.join();
    EXPECT_FALSE(thread.joinable());
    return seen;
}

// The thread is kept off its starter's core from the start, on every other
// core the process may use; with one core it runs there all the same.
TEST(SideThread, RunsOffItsStartersCoreWhereThereIsAnother)
{
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    const int usable = CPU_COUNT(&all);
    if (usable >= 2) {
        // Pinned for the start, so that the starter's core is known.
        const int starter = CurrentCore();
        ASSERT_GE(starter, 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(starter, &one);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        const Seen pinnedAlone = RunBeside(starter);
        // A starter held to one core leaves none other to ask for.
        EXPECT_TRUE(pinnedAlone.ran);
        EXPECT_TRUE(pinnedAlone.mayRunOnStarters);
        ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
    }
    const int starter = CurrentCore();
    const Seen seen = RunBeside(starter);
    EXPECT_TRUE(seen.ran);
    if (usable >= 2) {
        EXPECT_FALSE(seen.mayRunOnStarters);
        EXPECT_EQ(seen.cores, usable - 1);
    }
}

TEST(SideThread, TheDestructorWaitsForTheWork)
{
    std::atomic<int> done{0};
    {
        SideThread thread([&done] {
            for (int i = 0; i < 1000; ++i)
                done.fetch_add(1, std::memory_order_relaxed);
        });
    }
    EXPECT_EQ(done.load(), 1000);
}

} // namespace
} // namespace oriel::platform
