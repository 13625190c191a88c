// Records Internet Explorer deleted that still stand in free blocks of
// index.dat: listed apart from the live items with every field a live
// record has, cut records kept as far as they stand, and nothing in a free
// block trusted.
#include "formats/ClientUrlCache.h"
#include "formats/IndexDatRecovery.h"

#include "support/CacheContents.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace oriel::test {
namespace {

constexpr const char* kHtmlHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
constexpr int64_t kJune2009 = 1243859696; // 2009-06-01 12:34:56 UTC

IndexDatUrl Page(const std::string& url, const std::string& fileName = "page[1].htm")
{
    return {.url = url, .fileName = fileName, .headers = kHtmlHeaders, .size = 10};
}

class IndexDatRecoveryTest : public testing::Test {
protected:
    int Decode(const std::string& bytes)
    {
        WriteFile(dir_.file("index.dat"), bytes);
        cache_ = std::make_unique<ClientUrlCache>(test::Context(), nullptr, dir_.path());
        return cache_->Decode(nullptr, false);
    }
    int Decode(const IndexDatWriter& w) { return Decode(w.build()); }
    std::vector<CCacheItem*> Recovered() const { return RecoveredItems(*cache_); }

    TempDir dir_;
    std::unique_ptr<ClientUrlCache> cache_;
};

TEST_F(IndexDatRecoveryTest, StaleRecordsInFreeBlocksStayOutOfTheLiveList)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/live1"));
    w.addStaleUrl(Page("http://a.example/stale-url"));
    w.addStaleLeak(Page("http://b.example/stale-leak", "leak[1].gif"));
    w.addStaleRedirect("http://c.example/stale-redirect");
    w.addUrl(Page("http://a.example/live2"));
    ASSERT_EQ(Decode(w), 0);

    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://a.example/live1", "http://a.example/live2"}));
    EXPECT_EQ(cache_->GetItemCount(), 2);
    EXPECT_FALSE(cache_->HasCacheName("ABCD1234\\leak[1].gif"));
    EXPECT_EQ(RecoveredUrls(*cache_), (std::vector<std::string>{"http://a.example/stale-url", "http://b.example/stale-leak",
                                                                 "http://c.example/stale-redirect"}));
    for (CCacheItem* item : Recovered()) {
        EXPECT_TRUE(item->IsRecovered());
        EXPECT_FALSE(item->IsPartial());
    }
    for (CCacheItem* item : Items(*cache_))
        EXPECT_FALSE(item->IsRecovered());
    // Keys follow the live records' keys, so that every item has its own.
    EXPECT_EQ(Recovered()[0]->GetRecordKey(), 3);
    EXPECT_EQ(Recovered()[2]->GetRecordKey(), 5);
}

TEST_F(IndexDatRecoveryTest, RecoveredUrlRecordCarriesEveryFieldOfALiveOne)
{
    IndexDatUrl entry{.url = "http://a.example/dir/stale.gif",
                      .fileName = "stale[1].gif",
                      .headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Encoding: gzip\r\n\r\n",
                      .directory = 1,
                      .size = 4321,
                      .lastModified = FileTimeFromUnix(kJune2009),
                      .lastAccess = FileTimeFromUnix(kJune2009 + 60),
                      .expires = FatExpiryFromUnix(kJune2009 + 86400)};
    // The same record once live and once stale: the two items must agree.
    for (bool stale : {false, true}) {
        SCOPED_TRACE(stale ? "stale" : "live");
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addDirectory("EFGH5678");
        stale ? w.addStaleUrl(entry) : w.addUrl(entry);
        ASSERT_EQ(Decode(w), 0);
        auto items = stale ? Recovered() : Items(*cache_);
        ASSERT_EQ(items.size(), 1u);
        CCacheItem* item = items[0];
        EXPECT_STREQ(item->GetURL(), "http://a.example/dir/stale.gif");
        EXPECT_STREQ(item->GetURLPath(), "/dir/stale.gif");
        EXPECT_STREQ(item->GetCacheName(), "EFGH5678\\stale[1].gif");
        EXPECT_EQ(item->GetSize(), 4321);
        EXPECT_EQ(item->GetLastModified(), kJune2009);
        EXPECT_EQ(item->GetDownloaded(), kJune2009 + 60);
        EXPECT_EQ(item->GetExpires(), kJune2009 + 86400);
        EXPECT_STREQ(item->GetContentType(), "image/gif");
        EXPECT_EQ(item->GetContentEncoding(), CCacheItem::kEncodingGzip);
        ASSERT_NE(item->GetHeaders(), nullptr);
        EXPECT_NE(std::string(item->GetHeaders()).find("image/gif"), std::string::npos);
        EXPECT_EQ(item->IsRecovered(), stale);
    }
}

TEST_F(IndexDatRecoveryTest, ARecordCutByALaterWriteKeepsOnlyWhatStandsAndIsPartial)
{
    // A record of at least three blocks (a short URL and file name, long
    // headers) cut after one block or after two: the fixed fields stay, the
    // texts that do not end inside what is left go.
    IndexDatUrl entry = Page("http://a.example/" + std::string(100, 'x'));
    entry.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-Pad: " + std::string(300, 'p') + "\r\n\r\n";
    entry.lastModified = FileTimeFromUnix(kJune2009);
    entry.size = 77;
    ASSERT_GE(IndexDatWriter::UrlRecordBytes(entry, IndexDatFile::kSigUrl).size(), 3u * IndexDatWriter::kBlockSize);

    for (uint32_t kept : {1u, 2u}) {
        SCOPED_TRACE(kept);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addCutStaleUrl(entry, kept);
        w.addUrl(Page("http://a.example/overwriter")); // lies over the cut record's tail
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://a.example/overwriter"}));
        ASSERT_EQ(Recovered().size(), 1u);
        CCacheItem* item = Recovered()[0];
        EXPECT_TRUE(item->IsRecovered());
        EXPECT_TRUE(item->IsPartial());
        EXPECT_EQ(item->GetLastModified(), kJune2009);
        EXPECT_EQ(item->GetSize(), 77);
        EXPECT_EQ(item->GetHeaders(), nullptr);
        if (kept == 1) {
            // The URL starts in the first block but ends beyond it; the
            // file name is gone too. The times still say an entry was there.
            EXPECT_STREQ(item->GetURL(), "");
            EXPECT_EQ(item->GetCacheName(), nullptr);
        } else {
            EXPECT_STREQ(item->GetURL(), entry.url.c_str());
            EXPECT_STREQ(item->GetCacheName(), "ABCD1234\\page[1].htm");
        }
    }
}

TEST_F(IndexDatRecoveryTest, WhatEndsARecordThatStillStands)
{
    // The cut record's blocks after the first are taken by other content:
    // each ends the record there, and a later stale record is still found.
    IndexDatUrl entry = Page("http://a.example/" + std::string(300, 'y'));
    struct Case {
        const char* what;
        void (*addAfter)(IndexDatWriter&);
        size_t recovered;
    };
    const Case cases[] = {
        {"freed-block filler", [](IndexDatWriter& w) { w.addStrayBlock(IndexDatWriter::Stray::BadFood, 3); }, 1},
        {"a later stale record", [](IndexDatWriter& w) { w.addStaleUrl(Page("http://b.example/later")); }, 2},
        {"the end of the file",
         [](IndexDatWriter& w) { w.setTrailingFreeBlocks(0); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addCutStaleUrl(entry, 2);
        c.addAfter(w);
        ASSERT_EQ(Decode(w), 0);
        ASSERT_EQ(Recovered().size(), c.recovered);
        EXPECT_TRUE(Recovered()[0]->IsPartial());
        if (c.recovered == 2) {
            EXPECT_STREQ(Recovered()[1]->GetURL(), "http://b.example/later");
            EXPECT_FALSE(Recovered()[1]->IsPartial());
        }
    }
}

TEST_F(IndexDatRecoveryTest, RecordsInAllocatedBlocksOrWithoutABitmapAreNeverRecovered)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Page("http://a.example/live"));
    w.addLeak(Page("http://a.example/leak"));
    w.addRedirect("http://a.example/redirect");
    w.addFreedUrl(Page("http://a.example/freed"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(cache_->GetRecoveredCount(), 0);

    // With the bitmap all zero no block is known free: the stale record is
    // walked as a live one (as before) and nothing is recovered.
    IndexDatWriter z;
    z.addDirectory("ABCD1234");
    z.addStaleUrl(Page("http://a.example/stale"));
    std::string bytes = z.build();
    for (size_t i = IndexDatWriter::kBitmapOffset; i < IndexDatWriter::kFirstBlockOffset; ++i)
        bytes[i] = 0;
    ASSERT_EQ(Decode(bytes), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://a.example/stale"}));
    EXPECT_EQ(cache_->GetRecoveredCount(), 0);
}

TEST_F(IndexDatRecoveryTest, HostileStaleRecordsAreBoundedByTheBlocksRead)
{
    // Block counts past the end of the file, zero, text offsets outside the
    // record, and a record claiming every block: none reads past the bytes
    // there, none stalls the walk, and a zero block count yields nothing.
    auto record = [](uint32_t blocks, uint32_t urlOffset, uint32_t nameOffset) {
        std::string bytes = IndexDatWriter::UrlRecordBytes(Page("http://h.example/x"), IndexDatFile::kSigUrl);
        PutU32(bytes, 4, blocks);
        PutU32(bytes, 52, urlOffset);
        PutU32(bytes, 60, nameOffset);
        return bytes;
    };
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addRawRecord(record(0, IndexDatWriter::kUrlTextStart, 0), false);
    w.addRawRecord(record(0xFFFFFFFF, IndexDatWriter::kUrlTextStart, 0xFFFFFF00), false);
    w.addRawRecord(record(1, 0x7FFFFFF0, 0x80000000), false);
    w.addUrl(Page("http://a.example/live"));
    w.setTrailingFreeBlocks(0);
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://a.example/live"}));
    // The huge count is cut by the live record after it: partial, with
    // the URL that ends inside its first block; the one whose texts all
    // point outside it has nothing to show.
    ASSERT_EQ(Recovered().size(), 1u);
    EXPECT_STREQ(Recovered()[0]->GetURL(), "http://h.example/x");
    EXPECT_TRUE(Recovered()[0]->IsPartial());
    EXPECT_EQ(Recovered()[0]->GetCacheName(), nullptr);
}

TEST_F(IndexDatRecoveryTest, RecoveredBodyStillInTheFolderOpensAndCopies)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    IndexDatUrl entry = Page("http://a.example/gone.htm", "gone[1].htm");
    entry.body = "<html>still here</html>";
    entry.size.reset();
    w.addStaleUrl(entry);
    w.writeCache(dir_.path());
    cache_ = std::make_unique<ClientUrlCache>(test::Context(), nullptr, dir_.path());
    ASSERT_EQ(cache_->Decode(nullptr, false), 0);
    ASSERT_EQ(Recovered().size(), 1u);
    CCacheItem* item = Recovered()[0];
    EXPECT_TRUE(item->Exists());
    ASSERT_TRUE(item->PrepareFile());
    ASSERT_NE(item->GetFilePath(), nullptr);
    EXPECT_EQ(ReadWholeFile(item->GetFilePath()), "<html>still here</html>");
    auto props = item->GetProperties();
    ASSERT_FALSE(props.empty());
    EXPECT_EQ(props[0].first, "Recovered from");
    EXPECT_NE(props[0].second.find("URL record in free blocks at offset 0x"), std::string::npos);
}

TEST_F(IndexDatRecoveryTest, ASecondDecodeListsTheRecoveredItemsOnce)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addStaleUrl(Page("http://a.example/stale"));
    ASSERT_EQ(Decode(w), 0);
    ASSERT_EQ(cache_->Decode(nullptr, false), 0);
    EXPECT_EQ(cache_->GetRecoveredCount(), 1);
}

// The walk to the next free block passes allocated runs a bitmap word at a
// time: it must stop at exactly the blocks a block-by-block look finds free,
// from any start, at the file's end and at the bitmap's end.
TEST(IndexDatFreeBlocks, TheNextFreeBlockIsTheOneABlockByBlockLookFinds)
{
    IndexDatWriter w;
    for (int i = 0; i < 40; ++i)
        w.addUrl(Page("http://host/" + std::to_string(i)));
    std::string bytes = w.build();
    // A file that ends inside a bitmap word, with a bitmap of long full runs,
    // single free bits and free bits at word edges.
    bytes.resize(IndexDatFile::kFirstBitmapBlock + 300 * IndexDatFile::kBlockSize + 77);
    uint32_t seed = 12345;
    for (size_t i = IndexDatFile::kBitmapOffset; i < IndexDatFile::kFirstBitmapBlock; ++i) {
        seed = seed * 1103515245 + 12345;
        const size_t word = (i - IndexDatFile::kBitmapOffset) / 8, byte = (i - IndexDatFile::kBitmapOffset) % 8;
        unsigned char value = 0xff;                  // full words
        if (word % 5 == 1 && byte == 0)
            value = 0xfe;                            // only the word's first block free
        else if (word % 5 == 2 && byte == 7)
            value = 0x7f;                            // only its last
        else if (word % 5 == 3)
            value = (unsigned char)(seed >> 16);     // any
        bytes[i] = char(value);
    }
    for (bool shortFile : {false, true}) {
        if (shortFile) { // five blocks, inside the first (otherwise full) word
            bytes.resize(IndexDatFile::kFirstBitmapBlock + 5 * IndexDatFile::kBlockSize);
            bytes[IndexDatFile::kBitmapOffset] = char(0xe7);
        }
        IndexDatFile index(bytes);
        ASSERT_TRUE(index.ParseHeader());
        ASSERT_TRUE(index.UsesBitmap());
        auto naive = [&](size_t from) -> std::optional<size_t> {
            for (size_t at = from; at + IndexDatFile::kBlockSize <= bytes.size(); at += IndexDatFile::kBlockSize) {
                if (IndexDatFile::BitmapBit(at) && !index.IsBlockAllocated(at))
                    return at;
            }
            return std::nullopt;
        };
        size_t found = 0;
        for (size_t from = IndexDatFile::kFirstBitmapBlock; from <= bytes.size() + IndexDatFile::kBlockSize;
             from += IndexDatFile::kBlockSize) {
            ASSERT_EQ(index.NextFreeBlock(from), naive(from)) << from;
            found += naive(from) == from;
        }
        EXPECT_GE(found, shortFile ? 2u : 20u);
    }
}

} // namespace
} // namespace oriel::test

namespace oriel::test {
namespace {

// The live walk notes the freed records it passes, and the walk for them
// then reads only those: it must find exactly what a walk over every free
// block finds. Indexes with freed records whole, cut and lying, stray
// blocks, and a bitmap scrambled so that free blocks lie inside live
// records too; and one whose first record is off the block grid, where
// nothing is noted and every free block is looked at.
TEST(IndexDatFreeBlocks, TheFreedRecordsTheLiveWalkNotesAreTheOnesAFullLookFinds)
{
    IndexDatWriter w;
    w.setTrailingFreeBlocks(3);
    w.addDirectory("ABCD1234");
    for (int i = 0; i < 30; ++i) {
        IndexDatUrl page = Page("http://host/" + std::to_string(i));
        page.headers += std::string(size_t(i % 4) * 150, 'h');
        if (i % 3 == 0)
            w.addStaleUrl(page);
        else if (i % 7 == 0)
            w.addCutStaleUrl(page, 1);
        else
            w.addUrl(page);
        if (i % 5 == 0)
            w.addStaleRedirect("http://host/gone" + std::to_string(i));
        if (i % 11 == 0)
            w.addStrayBlock(IndexDatWriter::Stray::FakeRecord);
    }
    const std::string clean = w.build();
    // Freed records' signatures inside live records' blocks, and a bitmap
    // whose bits are flipped at random past the first record.
    std::string scrambled = clean;
    uint32_t seed = 99;
    for (size_t at = IndexDatFile::kFirstBitmapBlock; at + 8 <= scrambled.size(); at += IndexDatFile::kBlockSize) {
        seed = seed * 1103515245 + 12345;
        if ((seed >> 16) % 9 == 0) {
            PutU32(scrambled, at, IndexDatFile::kSigUrl);
            PutU32(scrambled, at + 4, 1 + (seed >> 20) % 3);
        }
    }
    for (size_t i = IndexDatFile::kBitmapOffset; i < IndexDatFile::kFirstBitmapBlock; ++i) {
        seed = seed * 1103515245 + 12345;
        scrambled[i] = char(scrambled[i] ^ char((seed >> 16) & 0x11));
    }
    std::string offGrid = clean;
    PutU32(offGrid, 0x20, uint32_t(IndexDatFile::kFirstBitmapBlock + IndexDatFile::kBlockSize + 64));

    auto key = [](const std::vector<IndexDatStaleRecord>& found) {
        std::vector<std::tuple<size_t, uint32_t, uint32_t, size_t, bool, std::string>> out;
        for (const IndexDatStaleRecord& r : found)
            out.emplace_back(r.offset, r.signature, r.declaredBlocks, r.keptLength, r.partial,
                             std::string(r.fields.url.value_or("-")));
        return out;
    };
    const std::string* const inputs[] = {&clean, &scrambled, &offGrid};
    for (const std::string* bytes : inputs) {
        IndexDatFile walked(*bytes), looked(*bytes);
        ASSERT_TRUE(walked.ParseHeader());
        ASSERT_TRUE(looked.ParseHeader());
        size_t cursor = walked.FirstRecordOffset();
        while (walked.NextRecord(cursor)) {
        }
        EXPECT_EQ(walked.StaleCandidates() != nullptr, bytes != &offGrid);
        const auto fromNoted = FindIndexDatStaleRecords(walked);
        const auto fromAll = FindIndexDatStaleRecords(looked);
        EXPECT_EQ(key(fromNoted), key(fromAll));
        EXPECT_GT(fromAll.size(), 10u);
    }
}

} // namespace
} // namespace oriel::test
