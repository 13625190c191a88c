// The Internet Explorer index.dat decoder over files the fixture writer
// builds: item fields, grouping, record keys, the walk over free, stray and
// damaged blocks, header checks, messages, progress and stop.
#include "formats/ClientUrlCache.h"

#include "model/Progress.h"
#include "support/CacheContents.h"
#include "support/TestContext.h"
#include "support/IndexDatWriter.h"
#include "support/MessageCapture.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

class RecordingProgress : public Progress {
public:
    void SetRange(int lower, int upper) override { ranges.emplace_back(lower, upper); }
    void SetPos(int position) override
    {
        positions.push_back(position);
        if (onPos)
            onPos(position);
    }
    void OffsetPos(int delta) override { positions.push_back(positions.empty() ? delta : positions.back() + delta); }
    void StepIt() override { OffsetPos(1); }
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::function<void(int)> onPos;
};

constexpr const char* kHtmlHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";

IndexDatUrl Page(const std::string& url, const std::string& fileName = "page[1].htm", uint8_t directory = 0)
{
    return {.url = url, .fileName = fileName, .headers = kHtmlHeaders, .directory = directory, .size = 10};
}

class ClientUrlCacheTest : public testing::Test {
protected:
    // Writes `bytes` as the folder's index.dat and decodes it.
    int Decode(const std::string& bytes, bool showMessages = false, Progress* progress = nullptr)
    {
        WriteFile(dir_.file("index.dat"), bytes);
        cache_ = std::make_unique<ClientUrlCache>(test::Context(), nullptr, dir_.path());
        return cache_->Decode(progress, showMessages);
    }
    int Decode(const IndexDatWriter& w, bool showMessages = false, Progress* progress = nullptr)
    {
        return Decode(w.build(), showMessages, progress);
    }

    // Every item in group order, then item order.
    std::vector<CCacheItem*> Items() const { return test::Items(*cache_); }
    std::vector<std::string> Urls() const { return test::Urls(*cache_); }

    TempDir dir_;
    MessageCapture sink_;
    std::unique_ptr<ClientUrlCache> cache_;
};

// 2009-06-01 12:34:56 UTC and neighbours, as Unix times.
constexpr int64_t kJune2009 = 1243859696;
constexpr int64_t kFeb2008 = 1204329598;   // 2008-02-29 23:59:58
constexpr int64_t kDec2030 = 1924905600;   // 2030-12-31 00:00:00

// --- Item fields ----------------------------------------------------------

TEST_F(ClientUrlCacheTest, UrlRecordBecomesAnItemWithEveryField)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addDirectory("WXYZ9876");
    w.addUrl({
        .url = "http://www.example.com/images/b.gif?x=1",
        .fileName = "b[1].gif",
        .headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif; charset=x\r\nContent-Encoding: gzip\r\n\r\n",
        .directory = 1,
        .size = 4321,
        .lastModified = FileTimeFromUnix(kFeb2008),
        .lastAccess = FileTimeFromUnix(kJune2009),
        .expires = FatExpiryFromUnix(kDec2030),
    });
    ASSERT_EQ(Decode(w), 0);
    EXPECT_TRUE(cache_->IsDecoded());
    ASSERT_EQ(cache_->GetGroupCount(), 1);
    EXPECT_STREQ(cache_->GetGroup(0)->GetName(), "www.example.com");
    ASSERT_EQ(Items().size(), 1u);
    CCacheItem* item = Items()[0];
    EXPECT_STREQ(item->GetURL(), "http://www.example.com/images/b.gif?x=1");
    EXPECT_STREQ(item->GetURLPath(), "/images/b.gif?x=1");
    EXPECT_STREQ(item->GetCacheName(), "WXYZ9876\\b[1].gif");
    EXPECT_EQ(item->GetSize(), 4321);
    EXPECT_EQ(item->GetLastModified(), kFeb2008);
    EXPECT_EQ(item->GetDownloaded(), kJune2009);
    EXPECT_EQ(item->GetExpires(), kDec2030);
    EXPECT_EQ(item->GetExpiresText(), "31/12/2030 12:00:00 AM");
    EXPECT_STREQ(item->GetContentType(), "image/gif");
    EXPECT_EQ(item->GetContentEncoding(), CCacheItem::kEncodingGzip);
    EXPECT_EQ(item->GetRecordKey(), 1);
    ASSERT_NE(item->GetHeaders(), nullptr);
    EXPECT_EQ(std::string(item->GetHeaders()).substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(ClientUrlCacheTest, LeakRecordGivesAnItemExactlyLikeAUrlRecord)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    IndexDatUrl e = Page("http://a.example/leaked.htm", "leaked[1].htm");
    e.lastModified = FileTimeFromUnix(kFeb2008);
    e.lastAccess = FileTimeFromUnix(kJune2009);
    e.expires = FatExpiryFromUnix(kDec2030);
    w.addLeak(e);
    w.addUrl(e);
    ASSERT_EQ(Decode(w), 0);
    auto items = Items();
    ASSERT_EQ(items.size(), 2u);
    for (CCacheItem* item : items) {
        EXPECT_STREQ(item->GetURL(), "http://a.example/leaked.htm");
        EXPECT_STREQ(item->GetCacheName(), "ABCD1234\\leaked[1].htm");
        EXPECT_EQ(item->GetSize(), 10);
        EXPECT_EQ(item->GetLastModified(), kFeb2008);
        EXPECT_EQ(item->GetDownloaded(), kJune2009);
        EXPECT_EQ(item->GetExpires(), kDec2030);
        EXPECT_STREQ(item->GetContentType(), "text/html");
    }
    EXPECT_EQ(items[0]->GetRecordKey(), 1);
    EXPECT_EQ(items[1]->GetRecordKey(), 2);
}

TEST_F(ClientUrlCacheTest, ExpiryWithZeroUpperHalfIsAFatDateAndTimeInUtc)
{
    struct Case {
        const char* what;
        uint64_t field;
        int64_t expected;
    };
    const Case cases[] = {
        {"FAT date and time", FatExpiryFromUnix(kJune2009), kJune2009},
        {"FAT seconds are kept in steps of two", FatExpiryFromUnix(kFeb2008 + 1), kFeb2008},
        {"first FAT day", FatExpiryFromUnix(315532800), 315532800}, // 1980-01-01 00:00:00
        {"no expiry", 0, 0},
        {"FAT date that is no date (month 0)", uint64_t(0x3A01), 0},
        {"full FILETIME", FileTimeFromUnix(kDec2030), kDec2030},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        IndexDatUrl e = Page("http://a.example/x.htm");
        e.expires = c.field;
        w.addUrl(e);
        ASSERT_EQ(Decode(w), 0);
        ASSERT_EQ(Items().size(), 1u);
        EXPECT_EQ(Items()[0]->GetExpires(), c.expected);
    }
}

TEST_F(ClientUrlCacheTest, SizeIsTheLowerWordOnly)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    size_t r = w.addUrl(Page("http://a.example/big.iso"));
    std::string bytes = w.build();
    PutU32(bytes, w.recordOffset(r) + 32, 1000);
    PutU32(bytes, w.recordOffset(r) + 36, 1); // 4 GB more
    ASSERT_EQ(Decode(bytes), 0);
    ASSERT_EQ(Items().size(), 1u);
    EXPECT_EQ(Items()[0]->GetSize(), 1000);
}

TEST_F(ClientUrlCacheTest, CacheNameNeedsAKnownSubFolderAndAFileName)
{
    struct Case {
        const char* what;
        uint8_t directory;
        std::string fileName;
        const char* expected; // null: no cache name
    };
    const Case cases[] = {
        {"first sub-folder", 0, "a[1].htm", "ABCD1234\\a[1].htm"},
        {"last sub-folder", 2, "a[1].htm", "IJKL9012\\a[1].htm"},
        {"index equal to the directory count", 3, "a[1].htm", nullptr},
        {"index 0xFF", 0xFF, "a[1].htm", nullptr},
        {"no file name", 0, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addDirectory("EFGH5678");
        w.addDirectory("IJKL9012");
        w.addUrl(Page("http://a.example/a.htm", c.fileName, c.directory));
        ASSERT_EQ(Decode(w), 0);
        ASSERT_EQ(Items().size(), 1u);
        if (c.expected)
            EXPECT_STREQ(Items()[0]->GetCacheName(), c.expected);
        else
            EXPECT_EQ(Items()[0]->GetCacheName(), nullptr);
    }
}

TEST_F(ClientUrlCacheTest, FullThirtyTwoEntryDirectoryTableIsRead)
{
    IndexDatWriter w;
    for (int d = 0; d < 32; ++d)
        w.addDirectory("DIR" + std::to_string(10000 + d));
    w.addUrl(Page("http://a.example/last.htm", "last[1].htm", 31));
    w.addUrl(Page("http://a.example/fifteenth.htm", "f[1].htm", 14));
    ASSERT_EQ(Decode(w), 0);
    auto items = Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_STREQ(items[0]->GetCacheName(), "DIR10031\\last[1].htm");
    EXPECT_STREQ(items[1]->GetCacheName(), "DIR10014\\f[1].htm");
}

TEST_F(ClientUrlCacheTest, BodyOfAnItemIsFoundInItsSubFolder)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl({.url = "http://a.example/logo.gif", .fileName = "logo[1].gif", .size = 0, .body = "GIF89a-body"});
    w.addUrl({.url = "http://a.example/gone.gif", .fileName = "gone[1].gif", .size = 5});
    w.writeCache(dir_.path(), true);
    std::remove(dir_.file("ABCD1234/gone[1].gif").c_str());
    cache_ = std::make_unique<ClientUrlCache>(test::Context(), nullptr, dir_.path());
    ASSERT_EQ(cache_->Decode(nullptr, false), 0);
    auto items = Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[0]->Exists());
    EXPECT_EQ(items[0]->GetSize(), 11); // size 0 in the index: taken from the file
    EXPECT_EQ(ReadWholeFile(items[0]->GetFilePath()), "GIF89a-body");
    EXPECT_FALSE(items[1]->Exists());
}

// --- Grouping and record keys ---------------------------------------------

TEST_F(ClientUrlCacheTest, ItemsAreGroupedByHostInOrderOfFirstAppearance)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    for (const char* url : {"http://b.example/1", "https://a.example/2", "http://b.example/3", "ftp://c.example",
                            "http://a.example/4", "http://B.example/5"})
        w.addUrl(Page(url));
    ASSERT_EQ(Decode(w), 0);
    ASSERT_EQ(cache_->GetGroupCount(), 4);
    const char* names[] = {"b.example", "a.example", "c.example", "B.example"};
    const int counts[] = {2, 2, 1, 1};
    for (int g = 0; g < 4; ++g) {
        EXPECT_STREQ(cache_->GetGroup(g)->GetName(), names[g]);
        EXPECT_EQ(cache_->GetGroup(g)->GetCount(), counts[g]);
    }
    EXPECT_STREQ(cache_->GetGroup(0)->ItemAt(1)->GetURL(), "http://b.example/3");
    EXPECT_STREQ(cache_->GetGroup(2)->ItemAt(0)->GetURLPath(), "");
}

TEST_F(ClientUrlCacheTest, RecordKeysCountUrlAndLeakRecordsInFileOrder)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.setHashEntriesPerTable(2);
    w.addUrl(Page("http://a.example/1"));                 // key 1
    w.addRedirect("http://a.example/redirected");         // no key
    w.addLeak(Page("http://a.example/2"));                // key 2
    w.addFreedUrl(Page("http://a.example/freed"));        // key 3, no item
    w.addUrl(Page("no-slashes-here"));                    // key 4, no item
    w.addUrl({.url = "", .fileName = "x"});               // key 5, no item
    w.addStaleUrl(Page("http://a.example/stale"));        // free blocks: no key
    w.addUrl(Page("http://a.example/3"));                 // key 6
    ASSERT_EQ(Decode(w), 0);
    auto items = Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_STREQ(items[0]->GetURL(), "http://a.example/1");
    EXPECT_EQ(items[0]->GetRecordKey(), 1);
    EXPECT_STREQ(items[1]->GetURL(), "http://a.example/2");
    EXPECT_EQ(items[1]->GetRecordKey(), 2);
    EXPECT_STREQ(items[2]->GetURL(), "http://a.example/3");
    EXPECT_EQ(items[2]->GetRecordKey(), 6);
}

TEST_F(ClientUrlCacheTest, SecondDecodeStartsFromScratch)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/1"));
    w.addUrl(Page("http://b.example/2"));
    ASSERT_EQ(Decode(w), 0);
    ASSERT_EQ(cache_->Decode(nullptr, false), 0);
    EXPECT_EQ(cache_->GetItemCount(), 2);
    EXPECT_EQ(Items()[1]->GetRecordKey(), 2);
}

// --- The record walk --------------------------------------------------------

TEST_F(ClientUrlCacheTest, HashTablesAndRedirectsBetweenRecordsAreWalkedOver)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.setHashEntriesPerTable(3); // a hash table after every third record
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        std::string url = "http://a.example/" + std::to_string(i);
        w.addUrl(Page(url));
        expected.push_back(url);
        if (i % 4 == 0)
            w.addRedirect("http://a.example/r" + std::to_string(i));
    }
    ASSERT_GT(w.hashTableOffsets().size(), 5u);
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(), expected);
}

TEST_F(ClientUrlCacheTest, StaleRecordsInFreeBlocksAreNotListed)
{
    struct Case {
        const char* what;
        std::function<void(IndexDatWriter&)> addFree;
    };
    using Stray = IndexDatWriter::Stray;
    const Case cases[] = {
        {"deleted URL record", [](IndexDatWriter& w) { w.addStaleUrl(Page("http://a.example/stale")); }},
        {"garbage", [](IndexDatWriter& w) { w.addStrayBlock(Stray::Garbage, 3); }},
        {"zero bytes", [](IndexDatWriter& w) { w.addStrayBlock(Stray::Zero, 2); }},
        {"0x0BADF00D filler", [](IndexDatWriter& w) { w.addStrayBlock(Stray::BadFood, 2); }},
        {"URL prefix claiming 16 million blocks", [](IndexDatWriter& w) { w.addStrayBlock(Stray::FakeRecord); }},
        {"HASH prefix",
         [](IndexDatWriter& w) {
             std::string bytes("HASH\x20\0\0\0", 8);
             w.addRawRecord(bytes, false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addUrl(Page("http://a.example/before"));
        c.addFree(w);
        w.addUrl(Page("http://a.example/after"));
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.example/before", "http://a.example/after"}));
        EXPECT_EQ(Items()[1]->GetRecordKey(), 2);
    }
}

TEST_F(ClientUrlCacheTest, AllZeroBitmapMeansEveryBlockIsWalked)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/before"));
    w.addStaleUrl(Page("http://a.example/stale"));
    w.addStrayBlock(IndexDatWriter::Stray::Garbage, 2);
    w.addUrl(Page("http://a.example/after"));
    std::string bytes = w.build();
    for (size_t i = IndexDatWriter::kBitmapOffset; i < IndexDatWriter::kFirstBlockOffset; ++i)
        bytes[i] = 0;
    ASSERT_EQ(Decode(bytes), 0);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.example/before", "http://a.example/stale",
                                                "http://a.example/after"}));
}

TEST_F(ClientUrlCacheTest, DamagedRecordsInAllocatedBlocksAreSteppedOver)
{
    struct Case {
        const char* what;
        std::string bytes; // whole blocks, marked allocated
    };
    auto record = [](uint32_t signature, uint32_t blocks, const std::string& url, size_t length) {
        std::string bytes = IndexDatWriter::UrlRecordBytes(Page(url), signature);
        PutU32(bytes, 4, blocks);
        bytes.resize(length, '\0');
        return bytes;
    };
    const Case cases[] = {
        {"unrecognised signature", record(0x4B4E554A /* JUNK */, 2, "http://a.example/junk", 256)},
        {"signature 0", std::string(256, '\0')},
        {"0x0BADF00D", record(0x0BADF00D, 1, "http://a.example/food", 128)},
        {"URL record with block count 0", record(0x204C5255, 0, "http://a.example/zero", 256)},
        {"LEAK record with block count 0", record(0x4B41454C, 0, "http://a.example/zero", 256)},
        {"HASH record with block count 0", record(0x48534148, 0, "http://a.example/zero", 128)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addUrl(Page("http://a.example/before"));
        w.addRawRecord(c.bytes, true);
        w.addUrl(Page("http://a.example/after"));
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a.example/before", "http://a.example/after"}));
    }
}

TEST_F(ClientUrlCacheTest, RecordRunningPastTheEndOfTheFileGivesNoItem)
{
    for (uint32_t blocks : {3u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(blocks);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.setTrailingFreeBlocks(0);
        w.addUrl(Page("http://a.example/1"));
        size_t last = w.addUrl(Page("http://a.example/last")); // 2 blocks, ends the file
        std::string bytes = w.build();
        ASSERT_EQ(bytes.size(), w.recordOffset(last) + 256);
        PutU32(bytes, w.recordOffset(last) + 4, blocks);
        ASSERT_EQ(Decode(bytes), 0);
        EXPECT_EQ(Urls(), std::vector<std::string>{"http://a.example/1"});
    }
}

TEST_F(ClientUrlCacheTest, RecordsBeforeTheFirstRecordOffsetAreNotRead)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/1"));
    w.addUrl(Page("http://a.example/2"));
    size_t third = w.addUrl(Page("http://a.example/3"));
    std::string bytes = w.build();
    PutU32(bytes, 32, w.recordOffset(third));
    ASSERT_EQ(Decode(bytes), 0);
    EXPECT_EQ(Urls(), std::vector<std::string>{"http://a.example/3"});
}

TEST_F(ClientUrlCacheTest, FirstRecordOffsetOutsideTheFileIsADamagedHeaderWithItsReason)
{
    for (uint32_t offset : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x100000u}) {
        SCOPED_TRACE(offset);
        sink_->messages.clear();
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addUrl(Page("http://a.example/1"));
        std::string bytes = w.build();
        PutU32(bytes, 32, offset);
        EXPECT_EQ(Decode(bytes, true), -1);
        EXPECT_EQ(cache_->GetItemCount(), 0);
        EXPECT_FALSE(cache_->IsDecoded());
        ASSERT_EQ(sink_->messages.size(), 1u);
        EXPECT_EQ(sink_->messages[0], "Invalid cache database header information! Cannot decode.\n" +
                                          dir_.file("index.dat") + ": the hash table offset " +
                                          std::to_string(offset) + " lies outside the file (" +
                                          std::to_string(bytes.size()) + " bytes)");
    }
}

TEST_F(ClientUrlCacheTest, AnIndexWhoseEveryBlockCountIsImpossibleIsDamagedNotEmpty)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/1"));
    w.addUrl(Page("http://a.example/2"));
    std::string bytes = w.build();
    std::vector<uint32_t> records = w.hashTableOffsets();
    for (size_t i = 0; i < w.recordCount(); ++i)
        records.push_back(w.recordOffset(i));
    for (uint32_t at : records)
        PutU32(bytes, at + 4, 0xFFFFFFFFu);
    EXPECT_EQ(Decode(bytes, true), -1);
    EXPECT_EQ(cache_->GetItemCount(), 0);
    ASSERT_EQ(sink_->messages.size(), 1u);
    EXPECT_EQ(sink_->messages[0], "The cache index is damaged, so nothing can be listed: " + dir_.file("index.dat") +
                                      ": " + std::to_string(records.size()) +
                                      " record(s) whose block count runs past the end of the file, and no other record");

    // One readable record is enough for an index that is merely sparse.
    sink_->messages.clear();
    bytes = w.build();
    PutU32(bytes, w.recordOffset(1) + 4, 0xFFFFFFFFu);
    EXPECT_EQ(Decode(bytes, true), 0);
    EXPECT_EQ(Urls(), std::vector<std::string>{"http://a.example/1"});
    EXPECT_TRUE(sink_->messages.empty());
}

// --- Offsets and lengths inside records -------------------------------------

TEST_F(ClientUrlCacheTest, TextOffsetsOutsideTheRecordFindNoText)
{
    struct Case {
        const char* what;
        size_t field; // record offset of the text offset
        uint32_t value;
        bool item;             // an item is made
        bool cacheName;        // with a cache name
        bool headers;          // with headers
    };
    const Case cases[] = {
        {"URL offset at the record's end", 52, 256, false, false, false},
        {"URL offset onto the next record's URL", 52, 256 + 0x68, false, false, false},
        {"URL offset far away", 52, 0x00100000, false, false, false},
        {"URL offset negative", 52, 0x80000000, false, false, false},
        {"file-name offset past the record", 60, 256, true, false, true},
        {"file-name offset onto the next record's URL", 60, 256 + 0x68, true, false, true},
        {"file-name offset negative", 60, 0xFFFFFFF0, true, false, true},
        {"header offset past the record", 68, 300, true, true, false},
        {"header offset negative", 68, 0x80000001, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        // The record is two blocks; the next record's URL text lies right
        // behind it, where a reader ignoring the record length would look.
        size_t r = w.addUrl(Page("http://a.example/1"));
        w.addUrl(Page("http://b.example/2"));
        std::string bytes = w.build();
        ASSERT_EQ(w.recordOffset(r + 1), w.recordOffset(r) + 256);
        PutU32(bytes, w.recordOffset(r) + c.field, c.value);
        ASSERT_EQ(Decode(bytes), 0);
        auto items = Items();
        ASSERT_EQ(items.size(), c.item ? 2u : 1u);
        EXPECT_STREQ(items.back()->GetURL(), "http://b.example/2");
        if (!c.item)
            continue;
        EXPECT_STREQ(items[0]->GetURL(), "http://a.example/1");
        EXPECT_EQ(items[0]->GetCacheName() != nullptr, c.cacheName);
        EXPECT_EQ(items[0]->GetHeaders() != nullptr, c.headers);
        EXPECT_EQ(items[0]->GetContentType() != nullptr, c.headers);
    }
}

TEST_F(ClientUrlCacheTest, UnterminatedTextStopsAtTheEndOfItsRecord)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    // One block: the URL runs from 0x68 to the block's end without a NUL,
    // and the next record follows at once.
    std::string url = "http://a.example/" + std::string(128 - 0x68 - 17, 'x');
    std::string record = IndexDatWriter::UrlRecordBytes({.url = "http://placeholder/"}, 0x204C5255);
    record.resize(128);
    PutU32(record, 4, 1);
    record.replace(0x68, url.size(), url);
    ASSERT_EQ(record.size(), 128u);
    w.addRawRecord(record, true);
    w.addUrl(Page("http://b.example/next"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(), (std::vector<std::string>{url, "http://b.example/next"}));
}

TEST_F(ClientUrlCacheTest, DirectoryCountAboveWhatTheHeaderHoldsIsCut)
{
    for (uint32_t count : {33u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        IndexDatWriter w;
        w.addDirectory("ABCD1234", 5);
        w.addDirectory("EFGH5678", 7);
        w.addUrl(Page("http://a.example/1", "a[1].htm", 1));
        w.addUrl(Page("http://a.example/2", "b[1].htm", 0));
        std::string bytes = w.build();
        PutU32(bytes, 72, count);
        ASSERT_EQ(Decode(bytes), 0);
        auto items = Items();
        ASSERT_EQ(items.size(), 2u);
        EXPECT_STREQ(items[0]->GetCacheName(), "EFGH5678\\a[1].htm");
        EXPECT_STREQ(items[1]->GetCacheName(), "ABCD1234\\b[1].htm");
        // Entries past the two real ones are zero in the writer's header.
        EXPECT_EQ(cache_->GetProgressTotal(), 12);
    }
}

// --- Header, messages, progress and stop ------------------------------------

TEST_F(ClientUrlCacheTest, InvalidHeaderIsReportedAndStopsTheDecode)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/1"));
    const std::string valid = w.build();
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string noNul = valid;
    noNul[27] = ' ';
    std::string otherVersion = valid;
    otherVersion[26] = '1';
    std::string lowerCase = valid;
    lowerCase[0] = 'c';
    const Case cases[] = {
        {"signature without its NUL", noNul},
        {"version 5.1", otherVersion},
        {"signature in lower case", lowerCase},
        {"header of 254 bytes", valid.substr(0, 254)},
        {"header of 28 bytes", valid.substr(0, 28)},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sink_->messages.clear();
        sink_->icons.clear();
        EXPECT_NE(Decode(c.bytes, true), 0);
        EXPECT_EQ(cache_->GetItemCount(), 0);
        EXPECT_FALSE(cache_->IsDecoded());
        EXPECT_TRUE(cache_->StopRequested());
        ASSERT_EQ(sink_->messages.size(), 1u);
        EXPECT_EQ(sink_->messages[0], "Invalid cache database header information! Cannot decode.\n" + dir_.file("index.dat"));
        EXPECT_EQ(sink_->icons[0], MessageIcon::Exclamation);
    }
}

TEST_F(ClientUrlCacheTest, InvalidHeaderShowsNothingWithMessagesOff)
{
    EXPECT_NE(Decode(std::string(300, 'x'), false), 0);
    EXPECT_TRUE(cache_->StopRequested());
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(ClientUrlCacheTest, HeaderOfExactly255BytesIsReadButHoldsNoHashTable)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234", 3);
    std::string bytes = w.build().substr(0, 255);
    EXPECT_EQ(Decode(bytes, true), -1);
    EXPECT_EQ(cache_->GetItemCount(), 0);
    EXPECT_EQ(cache_->GetProgressTotal(), 3);
    ASSERT_EQ(sink_->messages.size(), 1u);
    EXPECT_NE(sink_->messages[0].find(": the hash table offset 16384 lies outside the file (255 bytes)"),
              std::string::npos)
        << sink_->messages[0];
}

TEST_F(ClientUrlCacheTest, MissingIndexFileIsReportedWithTheFolder)
{
    cache_ = std::make_unique<ClientUrlCache>(test::Context(), nullptr, dir_.path());
    EXPECT_NE(cache_->Decode(nullptr, true), 0);
    EXPECT_FALSE(cache_->IsDecoded());
    EXPECT_EQ(cache_->GetItemCount(), 0);
    ASSERT_EQ(sink_->messages.size(), 1u);
    EXPECT_EQ(sink_->messages[0], "Cache database file not found in folder:\n" + dir_.path());
    EXPECT_EQ(sink_->icons[0], MessageIcon::Exclamation);

    sink_->messages.clear();
    EXPECT_NE(cache_->Decode(nullptr, false), 0);
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(ClientUrlCacheTest, ProgressRunsToTheSumOfTheDirectoryFileCounts)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234", 10);
    w.addDirectory("EFGH5678", 20);
    w.addDirectory("IJKL9012", 5);
    w.addUrl(Page("http://a.example/1"));
    w.addRedirect("http://a.example/r");
    w.addLeak(Page("http://a.example/2"));
    w.addFreedUrl(Page("http://a.example/3"));
    RecordingProgress progress;
    ASSERT_EQ(Decode(w, false, &progress), 0);
    EXPECT_EQ(cache_->GetProgressTotal(), 35);
    ASSERT_FALSE(progress.ranges.empty());
    EXPECT_EQ(progress.ranges[0], std::make_pair(0, 35));
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_EQ(progress.positions.back(), 3); // URL and LEAK records read, freed one included
}

TEST_F(ClientUrlCacheTest, StopRequestEndsTheWalkWithTheItemsReadSoFar)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    for (int i = 0; i < 10; ++i)
        w.addUrl(Page("http://a.example/" + std::to_string(i)));
    RecordingProgress progress;
    progress.onPos = [this](int position) {
        if (position == 3)
            cache_->RequestStop();
    };
    ASSERT_EQ(Decode(w, false, &progress), 0);
    EXPECT_EQ(cache_->GetItemCount(), 3);
    EXPECT_TRUE(cache_->IsDecoded());
}

TEST_F(ClientUrlCacheTest, TruncatedFileKeepsTheRecordsBeforeTheCut)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.setTrailingFreeBlocks(0);
    w.setHashEntriesPerTable(8);
    std::vector<std::pair<size_t, std::string>> records; // end offset, URL
    for (int i = 0; i < 20; ++i) {
        std::string url = "http://h" + std::to_string(i % 3) + ".example/" + std::to_string(i);
        IndexDatUrl e = Page(url);
        e.headers += std::string(size_t(i) * 13, 'h'); // records of 1 to 4 blocks
        size_t r = w.addUrl(e);
        if (i % 4 == 1)
            w.addStrayBlock(IndexDatWriter::Stray::FakeRecord);
        records.emplace_back(0, url);
        records.back().first = r; // index for now
    }
    const std::string whole = w.build();
    for (auto& [end, url] : records) {
        uint32_t offset = w.recordOffset(end);
        uint32_t blocks = uint32_t(uint8_t(whole[offset + 4])) | uint32_t(uint8_t(whole[offset + 5])) << 8;
        end = offset + blocks * 128;
    }
    // A cut before the end of the first hash table leaves no record to
    // read: the header or the table is damaged, and the decode fails.
    const uint32_t firstTable = w.hashTableOffsets().front();
    const uint32_t tableBlocks = uint32_t(uint8_t(whole[firstTable + 4])) | uint32_t(uint8_t(whole[firstTable + 5])) << 8;
    for (size_t cut = 0; cut < whole.size(); cut += 97) {
        SCOPED_TRACE(cut);
        int result = Decode(whole.substr(0, cut));
        if (cut < firstTable + tableBlocks * 128) {
            EXPECT_NE(result, 0);
            EXPECT_EQ(cache_->GetItemCount(), 0);
            continue;
        }
        EXPECT_EQ(result, 0);
        std::vector<std::string> expected;
        for (const auto& [end, url] : records)
            if (end <= cut)
                expected.push_back(url);
        std::vector<std::string> urls = Urls();
        std::sort(urls.begin(), urls.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(urls, expected);
    }
}

} // namespace
} // namespace oriel::test
