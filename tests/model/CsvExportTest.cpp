#include "model/CsvExport.h"

#include "support/FakeCache.h"

#include <gtest/gtest.h>

#include <sstream>

namespace oriel {
namespace {

constexpr const char* kHeader = "Oriel Export File\n"
                                "Information for : Jane's profile\n"
                                "Cache PathC:\\cache\n"
                                "\n"
                                "URL,Cache Name,Size (bytes),File Type,Last Modified Date,Download Date,Expiry Date\n";

TEST(CsvExport, HeaderLinesAndTitlesAreWrittenByteForByte)
{
    std::ostringstream out;
    WriteCsvHeader(out, "Jane's profile", "C:\\cache");
    EXPECT_EQ(out.str(), kHeader);
}

TEST(CsvExport, AnEmptyCacheFolderLeavesCachePathAlone)
{
    std::ostringstream out;
    WriteCsvHeader(out, "x", "");
    EXPECT_NE(out.str().find("\nCache Path\n"), std::string::npos);
}

TEST(CsvExport, RowsFollowTheHeader)
{
    test::FakeCache cache("C:\\cache");
    cache.decode = [](test::FakeCache& c) {
        auto item = std::make_unique<CFileCacheItem>(&c, 0, "http://h/a", "/a", "X\\a", "text/plain", 1234, 0,
                                                     1167609600, 0);
        c.AddItem("h", std::move(item));
        c.AddItem("h", std::make_unique<CFileCacheItem>(&c, 1, "http://h/b", "/b", "X\\b", std::nullopt, 5, 0, 0, 0));
        return 0;
    };
    ASSERT_EQ(cache.Decode(), 0);
    std::ostringstream out;
    EXPECT_TRUE(WriteCsvExport(out, cache, "Jane's profile", "C:\\cache"));
    EXPECT_EQ(out.str(), std::string(kHeader) +
                             "\"http://h/a\",\"X\\a\",\"1,234\",\"text/plain\",\"\",\"1/01/2007 12:00:00 AM\",\"\",\n"
                             "\"http://h/b\",\"X\\b\",\"5\",,\"\",\"\",\"\",\n");
}

// Rows are made in runs on two threads: the export of many items in groups
// large and of one item is every item's row in group order.
TEST(CsvExport, ManyRowsComeOutInGroupAndItemOrder)
{
    test::FakeCache cache("C:\\cache");
    cache.decode = [](test::FakeCache& c) {
        for (int i = 0; i < 3000; ++i) {
            const std::string host = "h" + std::to_string(i % 13 == 0 ? i : i % 5);
            const std::string path = "/" + std::to_string(i);
            c.AddItem(host, std::make_unique<CFileCacheItem>(&c, i, "http://" + host + path, path, "X\\" + path,
                                                             "text/plain", i, 0, 1167609600 + i * 3600, 0));
        }
        return 0;
    };
    ASSERT_EQ(cache.Decode(), 0);
    std::ostringstream rows;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        const CNamedCacheItemArray& group = *cache.GetGroup(g);
        for (int32_t i = 0; i < group.GetCount(); ++i)
            group.ItemAt(i)->WriteCSV(rows);
    }
    std::ostringstream out;
    EXPECT_TRUE(cache.ExportCSV(out));
    EXPECT_EQ(out.str(), rows.str());
    EXPECT_GT(out.str().size(), 3000u * 60);
}

TEST(CsvExport, AnUndecodedCacheGivesTheHeaderOnly)
{
    test::FakeCache cache;
    std::ostringstream out;
    EXPECT_FALSE(WriteCsvExport(out, cache, "Jane's profile", "C:\\cache"));
    EXPECT_EQ(out.str(), kHeader);
}

} // namespace
} // namespace oriel
