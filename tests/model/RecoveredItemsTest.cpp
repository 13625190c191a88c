// A cache's recovered items: apart from the live groups in counts, the CSV
// export and cache-name lookups, gone with the next decode, and never
// handed to the format's delete.
#include "model/Cache.h"

#include "support/FakeCache.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace oriel::test {
namespace {

std::unique_ptr<CFileCacheItem> Recovered(FakeCache& cache, const char* url, const char* cacheName)
{
    auto item = std::make_unique<CFileCacheItem>(&cache, 100, url, std::nullopt, cacheName, std::nullopt, 5, 0, 0, 0);
    item->SetRecovered(false);
    return item;
}

TEST(RecoveredItems, StayOutOfTheLiveCountsTheExportAndTheDelete)
{
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a.example/live", "live.bin");
        c.AddRecoveredItem(Recovered(c, "http://a.example/gone", "gone.bin"));
        return 0;
    };
    std::vector<CCacheItem*> handed;
    cache.deleteItems = [&handed](FakeCache&, std::span<CCacheItem* const> items) {
        handed.assign(items.begin(), items.end());
        return 0;
    };
    ASSERT_EQ(cache.Decode(), 0);
    EXPECT_EQ(cache.GetItemCount(), 1);
    EXPECT_EQ(cache.GetGroupCount(), 1);
    EXPECT_EQ(cache.GetRecoveredCount(), 1);
    EXPECT_FALSE(cache.HasCacheName("gone.bin"));
    std::ostringstream csv;
    ASSERT_TRUE(cache.ExportCSV(csv));
    EXPECT_EQ(csv.str().find("gone"), std::string::npos);

    CCacheItem* live = cache.GetGroup(0)->ItemAt(0);
    CCacheItem* gone = cache.GetRecoveredItems().ItemAt(0);
    ASSERT_TRUE(gone->IsRecovered());
    std::vector<CCacheItem*> both{gone, live};
    cache.DeleteItems(nullptr, both);
    EXPECT_EQ(handed, std::vector<CCacheItem*>{live});

    // A second decode starts the recovered list afresh.
    ASSERT_EQ(cache.Decode(), 0);
    EXPECT_EQ(cache.GetRecoveredCount(), 1);
}

} // namespace
} // namespace oriel::test
