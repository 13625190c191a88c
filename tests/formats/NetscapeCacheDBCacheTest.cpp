// The Netscape 4.5 cache.db decoder over files the fixture writer builds:
// item fields, the page walk and its order, the header check, pairs that
// are skipped, cache names from stored body paths, hostile pages.
#include "formats/NetscapeCacheDBCache.h"

#include "model/Progress.h"
#include "platform/WindowsSystem.h"
#include "support/CacheFolderTest.h"
#include "support/TestContext.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

class RecordingProgress : public Progress {
public:
    void SetRange(int lower, int upper) override { ranges.emplace_back(lower, upper); }
    void SetPos(int position) override { positions.push_back(position); }
    void OffsetPos(int delta) override { positions.push_back(delta); }
    void StepIt() override { positions.push_back(-1); }
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
};

CacheDbEntry Entry(const std::string& url, const std::string& file = "M0001.htm")
{
    CacheDbEntry e;
    e.url = url;
    e.bodyPath = "C:\\Netscape\\Users\\jane\\cache\\" + file;
    return e;
}

class NetscapeCacheDBCacheTest : public CacheFolderTest<NetscapeCacheDBCache> {
protected:
    void TearDown() override { test::Context().SetSystem(std::make_shared<platform::WindowsSystem>()); }

    int Decode(NetscapeDbWriter& w, Progress* progress = nullptr)
    {
        w.write(folder_);
        return DecodeFolder(progress);
    }
};

TEST_F(NetscapeCacheDBCacheTest, AnEntryGivesItsUrlHeadersTimesAndCacheName)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    CacheDbEntry e = Entry("http://www.example.com/dir/page.htm", "M0ABC123.htm");
    e.headers = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 321\r\n\r\n";
    e.downloaded = 1000000000;
    e.lastModified = 990000000;
    e.expires = -5;
    w.addCacheEntry(e);
    ASSERT_EQ(Decode(w), 0);

    ASSERT_EQ(cache_->GetGroupCount(), 1);
    EXPECT_STREQ(cache_->GetGroup(0)->GetName(), "www.example.com");
    auto items = Items(*cache_);
    ASSERT_EQ(items.size(), 1u);
    CCacheItem& item = *items[0];
    EXPECT_STREQ(item.GetURL(), "http://www.example.com/dir/page.htm");
    EXPECT_STREQ(item.GetURLPath(), "/dir/page.htm");
    EXPECT_STREQ(item.GetCacheName(), "M0ABC123.htm");
    EXPECT_STREQ(item.GetContentType(), "text/html");
    EXPECT_EQ(item.GetSize(), 321); // from Content-Length
    EXPECT_EQ(item.GetDownloaded(), 1000000000);
    EXPECT_EQ(item.GetLastModified(), 990000000);
    EXPECT_EQ(item.GetExpires(), -5); // signed, widened with its sign
    ASSERT_NE(item.GetHeaders(), nullptr);
    EXPECT_NE(std::string(item.GetHeaders()).find("Content-Length: 321"), std::string::npos);
    EXPECT_EQ(cache_->GetPageSize(), 4096u);
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(NetscapeCacheDBCacheTest, AnItemWithoutContentLengthTakesItsSizeFromItsFile)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.addCacheEntry(Entry("http://a.example/x.htm", "M0000001.htm"));
    w.addCacheEntry(Entry("http://a.example/y.htm", "M0000002.htm"));
    WriteFile(folder_ + "/M0000001.htm", std::string(777, 'x'));
    ASSERT_EQ(Decode(w), 0);
    auto items = Items(*cache_);
    ASSERT_EQ(items.size(), 2u);
    for (CCacheItem* item : items)
        EXPECT_EQ(item->GetSize(), 0);
    // Listed last first: y, then x.
    EXPECT_FALSE(items[0]->Exists());
    EXPECT_TRUE(items[1]->Exists());
    EXPECT_EQ(items[1]->GetSize(), 777);
}

TEST_F(NetscapeCacheDBCacheTest, PairsOfAPageAreListedFromTheLastToTheFirstWithRecordKeysInThatOrder)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.addCacheEntry(Entry("http://h/1"));
    w.addCacheEntry(Entry("http://h/2"));
    w.addCacheEntry(Entry("http://h/3"));
    w.endPage();
    w.addCacheEntry(Entry("http://h/4"));
    w.addCacheEntry(Entry("http://h/5"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/3", "http://h/2", "http://h/1", "http://h/5",
                                                      "http://h/4"}));
    std::vector<int32_t> keys;
    for (CCacheItem* item : Items(*cache_))
        keys.push_back(item->GetRecordKey());
    EXPECT_EQ(keys, (std::vector<int32_t>{0, 1, 2, 3, 4}));
}

TEST_F(NetscapeCacheDBCacheTest, TheHeaderSetsTheProgressRangeAndPagesAreReadToTheEndOfTheFile)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.setKeyCount(10).setPairsPerPage(2);
    for (int i = 0; i < 7; ++i)
        w.addCacheEntry(Entry("http://h/" + std::to_string(i)));
    RecordingProgress progress;
    ASSERT_EQ(Decode(w, &progress), 0);
    ASSERT_FALSE(progress.ranges.empty());
    EXPECT_EQ(progress.ranges.front(), std::make_pair(0, 10));
    EXPECT_EQ(Items(*cache_).size(), 7u); // four pages, the last one short
    EXPECT_EQ(progress.positions.back(), 7);
}

TEST_F(NetscapeCacheDBCacheTest, MorePairsThanTheKeyCountRaiseTheTotal)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.setKeyCount(1);
    for (int i = 0; i < 4; ++i)
        w.addCacheEntry(Entry("http://h/" + std::to_string(i)));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Items(*cache_).size(), 4u);
    EXPECT_EQ(cache_->GetProgressTotal(), 4);
}

TEST_F(NetscapeCacheDBCacheTest, AnInvalidHeaderShowsMessage1018AndDecodesNothing)
{
    struct Case {
        const char* what;
        uint32_t pageSize;
        size_t cutTo; // 0: whole file
    } cases[] = {
        {"page size above 32768", 32769, 0},
        {"page size 0", 0, 0},
        {"page size far too large", 0xFFFFFFFF, 0},
        {"header cut before the key count", 4096, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sink_->messages.clear();
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.addCacheEntry(Entry("http://h/1"));
        std::string bytes = w.build();
        if (c.pageSize != 4096) {
            for (int i = 0; i < 4; ++i)
                bytes[12 + size_t(i)] = char((c.pageSize >> (8 * (3 - i))) & 0xFF);
        }
        if (c.cutTo)
            bytes.resize(c.cutTo);
        WriteFile(folder_ + "/cache.db", bytes);
        NetscapeCacheDBCache cache(test::Context(), nullptr, folder_);
        EXPECT_EQ(cache.Decode(nullptr, true), -1);
        EXPECT_EQ(cache.GetItemCount(), 0);
        EXPECT_TRUE(cache.StopRequested());
        ASSERT_EQ(sink_->messages.size(), 1u);
        EXPECT_EQ(sink_->messages[0], "Invalid cache database header information! Cannot decode.\n" + folder_ + "/cache.db");
    }
}

TEST_F(NetscapeCacheDBCacheTest, AMissingCacheDbShowsTheNotFoundMessage)
{
    NetscapeCacheDBCache cache(test::Context(), nullptr, folder_);
    EXPECT_NE(cache.Decode(nullptr, true), 0);
    ASSERT_EQ(sink_->messages.size(), 1u);
    EXPECT_EQ(sink_->messages[0], "Cache database file not found in folder:\n" + folder_);
}

TEST_F(NetscapeCacheDBCacheTest, PairsThatFailAChecksAreSkippedAndTheirNeighboursKept)
{
    struct Case {
        const char* what;
        std::function<void(NetscapeDbWriter&)> add;
    } cases[] = {
        {"key beginning with S and E",
         [](NetscapeDbWriter& w) {
             CacheDbEntry e = Entry("http://bad/x");
             e.check = 0x11114553; // little-endian: 0x53 0x45 first
             w.addCacheEntry(e);
         }},
        {"check words that differ",
         [](NetscapeDbWriter& w) {
             CacheDbEntry e = Entry("http://bad/x");
             e.dataCheck = 0xDEADBEEF;
             w.addCacheEntry(e);
         }},
        {"record length 0",
         [](NetscapeDbWriter& w) {
             CacheDbEntry e = Entry("http://bad/x");
             e.recordLength = 0;
             w.addCacheEntry(e);
         }},
        {"record length of a page",
         [](NetscapeDbWriter& w) {
             CacheDbEntry e = Entry("http://bad/x");
             e.recordLength = 4096;
             w.addCacheEntry(e);
         }},
        {"URL without //", [](NetscapeDbWriter& w) { w.addCacheEntry(Entry("about:blank")); }},
        {"URL longer than 10000 bytes",
         [](NetscapeDbWriter& w) {
             std::string data = NetscapeDbWriter::CacheDbData(Entry("http://bad/x"));
             data[8] = char(0x11); // URL length 10001
             data[9] = char(0x27);
             w.addRawPair(NetscapeDbWriter::CacheDbKey(Entry("http://bad/x")), data);
         }},
        {"body path running past the page",
         [](NetscapeDbWriter& w) {
             std::string data = NetscapeDbWriter::CacheDbData(Entry("http://bad/x"));
             std::string path = NetscapeDbWriter::Text(Entry("http://bad/x").bodyPath);
             data[data.size() - path.size()] = char(0x28); // 9000 bytes of path
             data[data.size() - path.size() + 1] = char(0x23);
             w.addRawPair(NetscapeDbWriter::CacheDbKey(Entry("http://bad/x")), data);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.addCacheEntry(Entry("http://good/1"));
        c.add(w);
        w.addCacheEntry(Entry("http://good/2"));
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://good/2", "http://good/1"}));
    }
}

TEST_F(NetscapeCacheDBCacheTest, PagesWithoutAUsableWordCountAreSkippedAndTheWalkGoesOn)
{
    for (uint16_t n : {uint16_t(0), uint16_t(512), uint16_t(0xFFFF)}) {
        SCOPED_TRACE(n);
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.addCacheEntry(Entry("http://h/1"));
        w.addRawPage(std::string{char(n & 0xFF), char(n >> 8), '\x10', '\x00', '\x20', '\x00'});
        w.addCacheEntry(Entry("http://h/2"));
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/1", "http://h/2"}));
    }
}

TEST_F(NetscapeCacheDBCacheTest, OffsetsOutsideThePageAndWordsPastItAreSkippedSafely)
{
    // n says 200 words; the words point at 0, past the page and into the
    // page's last bytes, where no whole record fits.
    std::string page(4096, '\0');
    page[0] = char(200);
    const uint16_t words[] = {0, 100, 5000, 100, 4094, 4095, 4090, 4093};
    for (size_t i = 0; i < std::size(words); ++i) {
        page[2 + 2 * i] = char(words[i] & 0xFF);
        page[3 + 2 * i] = char(words[i] >> 8);
    }
    std::memset(page.data() + 4080, 0x7F, 16);
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.addRawPage(page);
    w.addCacheEntry(Entry("http://h/ok"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/ok"}));
}

TEST_F(NetscapeCacheDBCacheTest, ALastPageCutShortStillGivesItsWholePairs)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.addCacheEntry(Entry("http://h/1"));
    w.addCacheEntry(Entry("http://h/2"));
    std::string bytes = w.build();
    // The pairs sit at the page's end, the second pair lowest: cut the
    // page just below the first pair's data.
    bytes.resize(4096 + w.placement(0).dataOffset);
    WriteFile(folder_ + "/cache.db", bytes);
    NetscapeCacheDBCache cache(test::Context(), nullptr, folder_);
    ASSERT_EQ(cache.Decode(nullptr, true), 0);
    EXPECT_EQ(Urls(cache), (std::vector<std::string>{"http://h/2"}));
}

TEST_F(NetscapeCacheDBCacheTest, AnUnendedNamedValueListGivesAnItemWithoutTimes)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    CacheDbEntry e = Entry("http://h/1");
    std::string data = NetscapeDbWriter::CacheDbData(e);
    // The first named value's length word (after the URL text, the
    // description length and the unused byte and "Charset\0") claims more
    // than the description holds.
    size_t at = 8 + NetscapeDbWriter::Text(e.url).size() + 4 + 1 + 8;
    data[at] = char(0x7F);
    w.addRawPair(NetscapeDbWriter::CacheDbKey(e), data);
    ASSERT_EQ(Decode(w), 0);
    auto items = Items(*cache_);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->GetDownloaded(), 0);
    EXPECT_EQ(items[0]->GetHeaders(), nullptr);
}

TEST_F(NetscapeCacheDBCacheTest, AWyciwygUrlIsListedWithTheUrlAfterItsNumber)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    w.addCacheEntry(Entry("wyciwyg://12/http://www.example.com/written.htm"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://www.example.com/written.htm"}));
    EXPECT_STREQ(cache_->GetGroup(0)->GetName(), "www.example.com");
}

TEST_F(NetscapeCacheDBCacheTest, CacheNamesAreStoredPathsRelativeToTheCacheFolder)
{
    // An examined system whose Netscape cache folder is the test's folder.
    const std::string root = dir_.file("root");
    const std::string cache = root + "/Program Files/Netscape/Users/jane/cache";
    std::filesystem::create_directories(cache + "/sub");
    platform::SystemConfig config;
    config.root = root;
    test::Context().SetSystem(std::make_shared<platform::WindowsSystem>(config));
    NetscapeCacheDBCache db(test::Context(), nullptr, cache);

    struct Case {
        const char* stored;
        const char* expected;
    } cases[] = {
        {"C:\\PROGRAM FILES\\Netscape\\Users\\jane\\Cache\\M1.htm", "M1.htm"},   // mapped, case ignored
        {"C:\\Program Files\\Netscape\\Users\\jane\\cache\\sub\\M2.gif", "sub\\M2.gif"},
        {"D:\\Old\\Netscape\\jane\\cache\\sub\\M3.gif", "sub\\M3.gif"},           // after the folder's name
        {"D:\\Old\\Netscape\\jane\\other\\M4.gif", "M4.gif"},                     // the file name
        {"C:\\Program Files\\Netscape\\Users\\jane\\cache\\..\\..\\secret.txt", "secret.txt"},
        {"C:\\Program Files\\Netscape\\Users\\jane\\cache\\", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(db.CacheNameFromStoredPath(c.stored), c.expected);
    }
}

TEST_F(NetscapeCacheDBCacheTest, ABodyUnderTheMappedCacheFolderIsFound)
{
    const std::string root = dir_.file("root");
    const std::string cache = root + "/Program Files/Netscape/Users/jane/cache";
    std::filesystem::create_directories(cache);
    WriteFile(cache + "/M0000001.gif", "GIF89a");
    platform::SystemConfig config;
    config.root = root;
    test::Context().SetSystem(std::make_shared<platform::WindowsSystem>(config));

    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    CacheDbEntry e = Entry("http://h/a.gif");
    e.bodyPath = "C:\\Program Files\\Netscape\\Users\\jane\\cache\\M0000001.gif";
    w.addCacheEntry(e);
    w.write(cache);
    NetscapeCacheDBCache db(test::Context(), nullptr, cache);
    ASSERT_EQ(db.Decode(nullptr, true), 0);
    auto items = Items(db);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_STREQ(items[0]->GetCacheName(), "M0000001.gif");
    EXPECT_TRUE(items[0]->Exists());
    EXPECT_EQ(items[0]->GetSize(), 6);
}

TEST_F(NetscapeCacheDBCacheTest, ASyntheticCacheDecodesEveryEntry)
{
    ExpectEverySyntheticEntryPresent(
        [](const std::string& folder, const SynthOptions& options) { WriteSyntheticCacheDbCache(folder, options); },
        500);
}

} // namespace
} // namespace oriel::test
