#include "model/DecodeJob.h"

#include "model/Cache.h"
#include "model/Progress.h"
#include "support/NullProgress.h"
#include "support/FakeCache.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace oriel {
namespace {

using test::FakeCache;
using test::Gate;

using test::NullProgress;

TEST(DecodeJob, RunDecodesOnTheCallingThreadWithTheGivenProgressAndMessagesFlag)
{
    FakeCache cache;
    NullProgress progress;
    std::thread::id decodeThread;
    cache.decode = [&](FakeCache& c) {
        decodeThread = std::this_thread::get_id();
        EXPECT_EQ(c.GetProgress(), &progress);
        EXPECT_FALSE(c.ShowMessages());
        EXPECT_TRUE(c.IsDecoding());
        c.AddUrl("http://a/1");
        return 0;
    };
    DecodeJob job(cache, &progress, false);
    int calls = 0;
    job.SetCompletionHandler([&](const Job& done) {
        ++calls;
        EXPECT_EQ(&static_cast<const DecodeJob&>(done).GetCache(), &cache);
    });
    JobResult result = job.Run();
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(decodeThread, std::this_thread::get_id());
    EXPECT_TRUE(cache.IsDecoded());
    EXPECT_EQ(cache.GetItemCount(), 1);
}

TEST(DecodeJob, TheResultIsTheDecodesOwn)
{
    struct Case {
        int open;
        int decode;
        int status;
        bool decoded;
    };
    for (Case c : {Case{0, 0, 0, true}, Case{-1, 0, -1, false}, Case{0, 5, 5, false}}) {
        FakeCache cache;
        cache.open = [&] { return c.open; };
        cache.decode = [&](FakeCache&) { return c.decode; };
        DecodeJob job(cache, nullptr, false);
        ASSERT_TRUE(job.Start());
        job.Wait();
        EXPECT_TRUE(job.Result().ran);
        EXPECT_EQ(job.Result().status, c.status);
        EXPECT_EQ(cache.IsDecoded(), c.decoded);
        EXPECT_FALSE(cache.IsDecoding());
    }
}

TEST(DecodeJob, TheCacheIsDecodingWhenStartReturnsAndASecondDecodeIsRefused)
{
    FakeCache cache;
    Gate release;
    cache.decode = [&](FakeCache& c) {
        c.AddUrl("http://a/1");
        return release.WaitOpen() ? 0 : 1;
    };
    DecodeJob first(cache, nullptr, false);
    ASSERT_TRUE(first.Start());
    EXPECT_TRUE(cache.IsDecoding());

    DecodeJob second(cache, nullptr, false);
    int secondCalls = 0;
    second.SetCompletionHandler([&](const Job&) { ++secondCalls; });
    JobResult refused = second.Run();
    EXPECT_FALSE(refused.ran);
    EXPECT_EQ(secondCalls, 1);
    EXPECT_EQ(cache.Decode(), -1); // the synchronous decode is refused as well
    EXPECT_EQ(cache.DecodeThread(nullptr, false), 0);

    release.Open();
    first.Wait();
    EXPECT_TRUE(first.Result().Succeeded());
    EXPECT_EQ(cache.decodeCalls, 1);
    EXPECT_EQ(cache.GetItemCount(), 1);
    EXPECT_TRUE(cache.IsDecoded());
}

TEST(DecodeJob, AStopRightAfterTheStartReachesTheDecoder)
{
    test::HeldDecode held;
    DecodeJob job(held.cache, nullptr, false);
    ASSERT_TRUE(job.Start());
    job.RequestStop();
    held.stopped.Open();
    job.Wait();
    EXPECT_EQ(held.sawStop, 1);
    EXPECT_TRUE(job.Result().stopped);
    // A stopped decode succeeds with what it found.
    EXPECT_TRUE(job.Result().Succeeded());
    EXPECT_TRUE(held.cache.IsDecoded());
    EXPECT_EQ(held.cache.GetItemCount(), 0);
}

TEST(DecodeJob, AStopBeforeTheStartLeavesTheCacheUntouched)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/1");
        c.AddUrl("http://a/2");
        return 0;
    };
    ASSERT_EQ(cache.Decode(), 0);
    DecodeJob job(cache, nullptr, false);
    job.RequestStop();
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_FALSE(job.Result().ran);
    EXPECT_EQ(cache.decodeCalls, 1);
    EXPECT_EQ(cache.GetItemCount(), 2);
    EXPECT_TRUE(cache.IsDecoded());
    EXPECT_FALSE(cache.StopRequested());
}

TEST(DecodeJob, DestroyingARunningDecodeJobStopsTheDecode)
{
    FakeCache cache;
    Gate started;
    std::atomic<bool> sawStop{false};
    cache.decode = [&](FakeCache& c) {
        started.Open();
        for (int i = 0; i < 20000 && !c.StopRequested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawStop = c.StopRequested();
        return 0;
    };
    {
        DecodeJob job(cache, nullptr, false);
        ASSERT_TRUE(job.Start());
        ASSERT_TRUE(started.WaitOpen());
    }
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(cache.IsDecoding());
}

TEST(DecodeJob, ACacheDecodesAgainAfterAJob)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/" + std::to_string(c.decodeCalls));
        return 0;
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cache.DecodeThread(nullptr, true), 0);
        cache.WaitForDecodeThread();
        DecodeJob job(cache, nullptr, true);
        EXPECT_TRUE(job.Run().Succeeded());
    }
    EXPECT_EQ(cache.decodeCalls, 6);
    EXPECT_EQ(cache.GetItemCount(), 1);
    EXPECT_TRUE(cache.ShowMessages());
}

} // namespace
} // namespace oriel
