#include "model/RowsOnTwoThreads.h"

#include "platform/Cores.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

namespace oriel {
namespace {

std::string RunText(size_t run)
{
    // Some runs far past a run's first room, so that it grows.
    return "run " + std::to_string(run) + ":" + std::string(run % 7 == 3 ? 100000 + run : run % 50, 'x') + "\n";
}

// Every run is written once, in run order, whole, whatever the count; with
// two usable cores both threads make runs (the first run made waits, for a
// while, until the other thread makes one too).
TEST(RowsOnTwoThreads, RunsAreWrittenOnceInTheirOrder)
{
    const bool twoCores = platform::UsableCores() >= 2;
    for (size_t runs : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(40), size_t(301)}) {
        SCOPED_TRACE(runs);
        std::string expected;
        for (size_t run = 0; run < runs; ++run)
            expected += RunText(run);
        std::mutex mutex;
        std::condition_variable bothMaking;
        std::set<std::thread::id> makers;
        std::string written;
        MakeRowsOnTwoThreads(
            runs,
            [&](size_t run, RowRun& into) {
                {
                    std::unique_lock lock(mutex);
                    makers.insert(std::this_thread::get_id());
                    bothMaking.notify_all();
                    if (twoCores && runs >= 2 && makers.size() < 2)
                        bothMaking.wait_for(lock, std::chrono::seconds(10), [&] { return makers.size() >= 2; });
                }
                std::ostream out(&into);
                const std::string text = RunText(run);
                // Written in pieces and characters, as rows are.
                out.write(text.data(), std::streamsize(text.size() / 2));
                for (size_t i = text.size() / 2; i < text.size(); ++i)
                    out.put(text[i]);
            },
            [&](std::string_view text) {
                written += text;
                return true;
            });
        EXPECT_EQ(written, expected);
        if (runs >= 2 && twoCores) {
            EXPECT_EQ(makers.size(), 2u);
        }
    }
}

// A write that fails ends the rows: nothing is written after it, and at
// most the four runs that may be made ahead of the writing are made.
TEST(RowsOnTwoThreads, AFailedWriteStopsTheRows)
{
    std::atomic<size_t> made{0};
    size_t writes = 0;
    MakeRowsOnTwoThreads(
        1000,
        [&](size_t run, RowRun& into) {
            ++made;
            std::ostream(&into) << RunText(run);
        },
        [&](std::string_view) { return ++writes < 5; });
    EXPECT_EQ(writes, 5u);
    EXPECT_LE(made.load(), 5u + 4u);
}

// A run that cannot be made, on either thread, comes out of the call once
// the helper has ended; no run after it is written.
TEST(RowsOnTwoThreads, AFailureToMakeARunComesOutOfTheCall)
{
    for (size_t failing : {size_t(6), size_t(7)}) {
        SCOPED_TRACE(failing);
        size_t lastWritten = 0;
        EXPECT_THROW(MakeRowsOnTwoThreads(
                         100,
                         [&](size_t run, RowRun& into) {
                             if (run == failing)
                                 throw std::runtime_error("no room");
                             std::ostream(&into) << RunText(run);
                         },
                         [&](std::string_view text) {
                             lastWritten = std::stoul(std::string(text.substr(4)));
                             return true;
                         }),
                     std::runtime_error);
        EXPECT_LT(lastWritten, failing);
    }
}

} // namespace
} // namespace oriel
