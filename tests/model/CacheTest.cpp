#include "model/Cache.h"

#include "model/Progress.h"
#include "support/FakeCache.h"
#include "support/MessageCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <sstream>
#include <thread>

namespace oriel {
namespace {

using test::FakeCache;

std::vector<std::string> GroupNames(const CCache& cache)
{
    std::vector<std::string> names;
    for (int32_t i = 0; i < cache.GetGroupCount(); ++i)
        names.push_back(cache.GetGroup(i)->GetName());
    return names;
}

TEST(CacheGroups, ItemsAreGroupedByNameInOrderOfFirstAppearance)
{
    FakeCache cache;
    cache.AddUrl("http://a/1");
    cache.AddUrl("http://b/2");
    cache.AddUrl("http://a/3");
    EXPECT_EQ(GroupNames(cache), (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(cache.GetGroup(0)->GetCount(), 2);
    EXPECT_STREQ(cache.GetGroup(0)->ItemAt(0)->GetURL(), "http://a/1");
    EXPECT_STREQ(cache.GetGroup(0)->ItemAt(1)->GetURL(), "http://a/3");
    EXPECT_EQ(cache.GetItemCount(), 3);
}

TEST(CacheGroups, NamesDifferingOnlyInCaseMakeTwoGroups)
{
    FakeCache cache;
    cache.AddUrl("http://Host/1");
    cache.AddUrl("http://host/2");
    EXPECT_EQ(GroupNames(cache), (std::vector<std::string>{"Host", "host"}));
}

TEST(CacheGroups, ItemAtOutsideTheGroupIsNull)
{
    FakeCache cache;
    cache.AddUrl("http://a/1");
    CNamedCacheItemArray* group = cache.GetGroup(0);
    EXPECT_EQ(group->ItemAt(-1), nullptr);
    EXPECT_EQ(group->ItemAt(group->GetCount()), nullptr);
    EXPECT_NE(group->ItemAt(0), nullptr);
    EXPECT_EQ(cache.GetGroup(1), nullptr);
    cache.AddItem("x", nullptr); // a null item is ignored
    EXPECT_EQ(cache.GetItemCount(), 1);
}

TEST(CacheGroups, HasCacheNameComparesExactly)
{
    FakeCache cache;
    cache.AddUrl("http://a/1", "SUB\\file.gif");
    cache.AddUrl("http://a/2");
    EXPECT_TRUE(cache.HasCacheName("SUB\\file.gif"));
    EXPECT_FALSE(cache.HasCacheName("sub\\file.gif"));
    EXPECT_FALSE(cache.HasCacheName(""));
}

TEST(CacheGroups, AddingManyItemsInManyGroupsStaysFast)
{
    FakeCache cache;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100000; ++i)
        cache.AddUrl("http://host" + std::to_string(i % 5000) + "/p" + std::to_string(i), "n" + std::to_string(i));
    for (int i = 0; i < 100000; i += 7)
        ASSERT_TRUE(cache.HasCacheName("n" + std::to_string(i)));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(cache.GetGroupCount(), 5000);
    EXPECT_EQ(cache.GetItemCount(), 100000);
    EXPECT_STREQ(cache.GetGroup(4999)->GetName(), "host4999");
    EXPECT_LT(elapsed, std::chrono::seconds(5)); // a linear group scan takes minutes under ASan
}

TEST(CacheDecode, SuccessfulDecodeMarksTheCacheDecoded)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        EXPECT_TRUE(c.IsDecoding());
        EXPECT_EQ(c.GetItemCount(), 0);
        c.AddUrl("http://a/1");
        return 0;
    };
    EXPECT_EQ(cache.Decode(), 0);
    EXPECT_TRUE(cache.IsDecoded());
    EXPECT_FALSE(cache.IsDecoding());
    EXPECT_EQ(cache.GetItemCount(), 1);
    // A second decode starts from an empty list.
    EXPECT_EQ(cache.Decode(), 0);
    EXPECT_EQ(cache.GetItemCount(), 1);
}

TEST(CacheDecode, FailedOpenLeavesTheCacheEmptyAndUndecoded)
{
    FakeCache cache;
    cache.AddUrl("http://a/1");
    cache.open = [] { return -1; };
    EXPECT_EQ(cache.Decode(), -1);
    EXPECT_FALSE(cache.IsDecoded());
    EXPECT_EQ(cache.GetItemCount(), 0);
    EXPECT_EQ(cache.decodeCalls, 0);
}

TEST(CacheDecode, FailedDecodeKeepsItsItemsButIsNotDecoded)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/1");
        return -1;
    };
    EXPECT_EQ(cache.Decode(), -1);
    EXPECT_FALSE(cache.IsDecoded());
    EXPECT_EQ(cache.GetItemCount(), 1);
    std::ostringstream out;
    EXPECT_FALSE(cache.ExportCSV(out));
    EXPECT_EQ(out.str(), "");
}

TEST(CacheDecode, AnAllocationFailureEndsTheDecodeWithAMessageNotAnAbort)
{
    test::MessageCapture sink;
    FakeCache cache("/some/cache");
    cache.decode = [](FakeCache& c) -> int {
        c.AddUrl("http://a/1");
        throw std::bad_alloc();
    };
    EXPECT_EQ(cache.Decode(nullptr, true), -1);
    EXPECT_FALSE(cache.IsDecoded());
    EXPECT_EQ(cache.GetItemCount(), 0);
    EXPECT_EQ(sink->messages, std::vector<std::string>{"The cache index needs more memory than a decode may use; the "
                                                        "decode stopped. Cache folder:\n/some/cache"});
    // The cache is usable afterwards.
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/1");
        return 0;
    };
    EXPECT_EQ(cache.Decode(nullptr, true), 0);
    EXPECT_EQ(cache.GetItemCount(), 1);
}

TEST(CacheDecode, ItemsPastTheDecodeBudgetStopTheDecode)
{
    test::MessageCapture sink;
    FakeCache cache("/some/cache");
    cache.SetDecodeBudget(64 * 1024);
    int added = 0;
    cache.decode = [&added](FakeCache& c) {
        for (int i = 0; i < 100000 && !c.StopRequested(); ++i, ++added)
            c.AddUrl("http://a/" + std::string(1000, 'x') + std::to_string(i));
        return 0;
    };
    EXPECT_EQ(cache.Decode(nullptr, true), -1);
    EXPECT_LT(added, 100);
    EXPECT_EQ(cache.GetItemCount(), 0);
    EXPECT_EQ(sink->messages.size(), 1u);
}

TEST(CacheDecode, DecodeClearsAnEarlierStopRequest)
{
    FakeCache cache;
    cache.RequestStop();
    cache.decode = [](FakeCache& c) {
        EXPECT_FALSE(c.StopRequested());
        return 0;
    };
    cache.Decode();
    EXPECT_EQ(cache.decodeCalls, 1);
}

TEST(CacheDecode, ExportOfANeverDecodedCacheWritesNothing)
{
    FakeCache cache;
    cache.AddUrl("http://a/1");
    std::ostringstream out;
    EXPECT_FALSE(cache.ExportCSV(out));
    EXPECT_EQ(out.str(), "");
}

TEST(CacheDecode, ExportWritesGroupsAndItemsInOrder)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/1");
        c.AddUrl("http://b/2");
        c.AddUrl("http://a/3");
        return 0;
    };
    cache.Decode();
    std::ostringstream out;
    EXPECT_TRUE(cache.ExportCSV(out));
    std::string csv = out.str();
    EXPECT_LT(csv.find("http://a/1"), csv.find("http://a/3"));
    EXPECT_LT(csv.find("http://a/3"), csv.find("http://b/2"));
}

TEST(CacheDecode, EmptyLeavesTheListEmptyWhateverDoEmptyReturns)
{
    for (int result : {0, -1}) {
        FakeCache cache;
        cache.decode = [](FakeCache& c) {
            c.AddUrl("http://a/1");
            return 0;
        };
        cache.Decode();
        cache.emptyResult = result;
        EXPECT_EQ(cache.Empty(nullptr), result);
        EXPECT_EQ(cache.GetItemCount(), 0);
        EXPECT_FALSE(cache.IsDecoded());
    }
}

TEST(CacheDecodeThread, ASecondCallWhileDecodingStartsNothing)
{
    FakeCache cache;
    std::atomic<bool> release{false};
    cache.decode = [&release](FakeCache& c) {
        while (!release && !c.StopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        c.AddUrl("http://a/1");
        return 0;
    };
    EXPECT_EQ(cache.DecodeThread(nullptr, false), 0);
    EXPECT_TRUE(cache.IsDecoding());
    EXPECT_EQ(cache.DecodeThread(nullptr, false), 0);
    release = true;
    while (cache.IsDecoding())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(cache.IsDecoded());
    EXPECT_EQ(cache.decodeCalls, 1);
    EXPECT_EQ(cache.GetItemCount(), 1);
}

TEST(CacheDecodeThread, DestroyingACacheStopsItsDecode)
{
    auto cache = std::make_unique<FakeCache>();
    std::atomic<bool> started{false};
    cache->decode = [&started](FakeCache& c) {
        started = true;
        while (!c.StopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    };
    cache->DecodeThread(nullptr, false);
    while (!started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cache.reset(); // must not hang or touch freed memory
    SUCCEED();
}

TEST(CacheDecodeThread, AStopRightAfterDecodeThreadReachesTheDecoder)
{
    test::HeldDecode held;
    EXPECT_EQ(held.cache.DecodeThread(nullptr, false), 0);
    held.cache.RequestStop();
    held.stopped.Open();
    held.cache.WaitForDecodeThread();
    EXPECT_EQ(held.sawStop, 1);
    EXPECT_TRUE(held.cache.IsDecoded());
    EXPECT_EQ(held.cache.GetItemCount(), 0);
}

class RecordingProgress : public Progress {
public:
    void SetRange(int lower, int upper) override { calls.push_back("range " + std::to_string(lower) + ".." + std::to_string(upper)); }
    void SetPos(int position) override { calls.push_back("pos " + std::to_string(position)); }
    void OffsetPos(int delta) override { calls.push_back("offset " + std::to_string(delta)); }
    void StepIt() override { calls.push_back("step"); }
    std::vector<std::string> calls;
};

TEST(CacheDecode, ProgressAndMessagesFlagAreStoredForTheDecoder)
{
    FakeCache cache;
    RecordingProgress progress;
    cache.decode = [&progress](FakeCache& c) {
        EXPECT_EQ(c.GetProgress(), &progress);
        EXPECT_FALSE(c.ShowMessages());
        return 0;
    };
    cache.Decode(&progress, false);
    EXPECT_EQ(cache.decodeCalls, 1);
}

} // namespace
} // namespace oriel
