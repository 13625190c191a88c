#include "formats/FirefoxCache2Cache.h"

#include "catalog/FormatCatalog.h"
#include "support/CacheContents.h"
#include "support/FirefoxCache2Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::FirefoxCache2Writer;
using test::GzipBytes;
using test::DeflateBytes;
using test::ReadWholeFile;
using test::TempDir;

void PutBE32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xFF);
}

// ---- the pure parsers ----

TEST(Cache2EntryFile, MetadataOfEveryVersionGivesItsFields)
{
    for (uint32_t version : {1u, 2u, 3u}) {
        SCOPED_TRACE(version);
        FirefoxCache2Writer::Entry e;
        e.url = "https://a.example/x.png?q=1:2";
        e.tags = "O^partitionKey=%28https%2Cb.example%29,a,";
        e.body = std::string(300000, 'b'); // two chunk hashes
        e.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
        e.metadataVersion = version;
        e.fetchCount = 7;
        e.lastFetched = 1700000001;
        e.lastModified = 1690000002;
        e.frecency = 4242;
        e.expiration = 1710000003;
        e.flags = 0x5;
        const std::string block = FirefoxCache2Writer::MetadataBlock(e);
        auto meta = ParseCache2Metadata(ByteReader(block), uint32_t(e.body.size()));
        ASSERT_TRUE(meta);
        EXPECT_EQ(meta->header.version, version);
        EXPECT_EQ(meta->header.fetchCount, 7u);
        EXPECT_EQ(meta->header.lastFetched, 1700000001u);
        EXPECT_EQ(meta->header.lastModified, 1690000002u);
        EXPECT_EQ(meta->header.frecency, 4242u);
        EXPECT_EQ(meta->header.expiration, 1710000003u);
        EXPECT_EQ(meta->header.flags, version == 1 ? 0u : 5u);
        EXPECT_EQ(meta->key, e.Key());
        EXPECT_EQ(meta->splitKey.tags, "O^partitionKey=%28https%2Cb.example%29,a,");
        EXPECT_EQ(meta->splitKey.url, "https://a.example/x.png?q=1:2");
        EXPECT_EQ(meta->Element("request-method"), "GET");
        EXPECT_EQ(meta->Element("response-head"), e.responseHead);
        EXPECT_TRUE(meta->Element("security-info"));
        EXPECT_FALSE(meta->elementsCutShort);
    }
}

TEST(Cache2EntryFile, KeysSplitAtTheirFirstColon)
{
    struct Case {
        const char* key;
        const char* tags;
        const char* url;
    } cases[] = {
        {"a,:http://a.example/", "a,", "http://a.example/"},
        {":http://a.example/", "", "http://a.example/"},
        {"~1677526967,:http://a.example/p:q", "~1677526967,", "http://a.example/p:q"},
        {"a,:", "a,", ""},
    };
    for (const Case& c : cases) {
        auto key = ParseCache2Key(c.key);
        ASSERT_TRUE(key) << c.key;
        EXPECT_EQ(key->tags, c.tags);
        EXPECT_EQ(key->url, c.url);
    }
    EXPECT_FALSE(ParseCache2Key("no colon at all"));
}

TEST(Cache2EntryFile, ElementPairsWithoutTheirNulStopAtTheEnd)
{
    struct Case {
        std::string bytes;
        size_t count;
        bool cutShort;
        std::string lastValue;
    } cases[] = {
        {std::string("a\0b\0", 4), 1, false, "b"},
        {std::string("a\0b", 3), 1, true, "b"},
        {std::string("a\0", 2), 1, true, ""},
        {std::string("abc", 3), 1, true, ""},
        {std::string("a\0b\0\0junk", 9), 1, false, "b"},
        {std::string(), 0, false, ""},
    };
    for (const Case& c : cases) {
        bool cut = false;
        auto elements = ParseCache2Elements(ByteReader(c.bytes), cut);
        ASSERT_EQ(elements.size(), c.count);
        EXPECT_EQ(cut, c.cutShort);
        if (!elements.empty()) {
            EXPECT_EQ(elements.back().value, c.lastValue);
        }
    }
}

TEST(Cache2EntryFile, HostileMetadataIsRejectedWithoutReadingPastIt)
{
    FirefoxCache2Writer::Entry good;
    good.url = "http://a.example/";
    good.body = "body";
    const std::string block = FirefoxCache2Writer::MetadataBlock(good);
    ASSERT_TRUE(ParseCache2Metadata(ByteReader(block), 4));

    // Every cut of the block short of the key's end is rejected; the cuts
    // after it keep the key and lose elements.
    const size_t keyEnd = 4 + 2 + 32 + good.Key().size();
    for (size_t cut = 0; cut < block.size(); ++cut) {
        auto meta = ParseCache2Metadata(ByteReader(block.data(), cut), 4);
        EXPECT_EQ(meta.has_value(), cut >= keyEnd) << cut;
    }

    FirefoxCache2Writer::Entry longKey = good;
    longKey.keySizeWord = 0xFFFFFFF0u;
    EXPECT_FALSE(ParseCache2Metadata(ByteReader(FirefoxCache2Writer::MetadataBlock(longKey)), 4));

    FirefoxCache2Writer::Entry badVersion = good;
    badVersion.metadataVersion = 4;
    EXPECT_FALSE(ParseCache2Metadata(ByteReader(FirefoxCache2Writer::MetadataBlock(badVersion)), 4));

    // A body of 4 GiB less one announces 16384 chunk hashes that the block
    // does not hold.
    EXPECT_FALSE(ParseCache2Metadata(ByteReader(block), 0xFFFFFFFFu));
}

TEST(Cache2EntryFile, MetadataOffsetMustLeaveRoomForItsWord)
{
    struct Case {
        uint32_t offset;
        uint64_t fileSize;
        bool valid;
    } cases[] = {{0, 4, true}, {6, 10, true}, {7, 10, false}, {0xFFFFFFFFu, 100, false}, {0, 3, false}};
    for (const Case& c : cases) {
        std::string tail;
        PutBE32(tail, c.offset);
        EXPECT_EQ(ParseCache2MetadataOffset(ByteReader(tail), c.fileSize).has_value(), c.valid) << c.offset;
    }
}

TEST(Cache2IndexFile, EveryVersionGivesHashFrecencyAndFlags)
{
    for (uint32_t version = 1; version <= 0x0A; ++version) {
        SCOPED_TRACE(version);
        FirefoxCache2Writer w;
        w.SetIndex(true, version);
        auto& a = w.Add("http://a.example/", "aaaa");
        a.indexFrecency = 11;
        a.indexFlags = 0x80000000u | 0x04000000u;
        w.Add("http://b.example/", std::string(5000, 'b')).indexFrecency = 22;
        auto index = ParseCache2Index(ByteReader(w.IndexFile()));
        ASSERT_TRUE(index);
        EXPECT_EQ(index->version, version);
        ASSERT_EQ(index->records.size(), 2u);
        EXPECT_EQ(index->records[0].FileName(), FirefoxCache2Writer::HashName(FirefoxCache2Writer::KeyHash(a.Key())));
        EXPECT_EQ(index->records[0].frecency, 11u);
        EXPECT_EQ(index->records[0].flags, 0x84000001u);
        EXPECT_EQ(index->records[1].frecency, 22u);
        EXPECT_EQ(index->records[1].flags & cache2::kIndexFileSizeMask, 5u);
    }
}

TEST(Cache2IndexFile, UnknownVersionsAndPartialRecordsAreRejected)
{
    FirefoxCache2Writer w;
    w.Add("http://a.example/", "a");
    std::string index = w.IndexFile();
    EXPECT_TRUE(ParseCache2Index(ByteReader(index)));
    EXPECT_FALSE(ParseCache2Index(ByteReader(index.data(), index.size() - 1)));
    EXPECT_FALSE(ParseCache2Index(ByteReader(index.data(), 10)));
    std::string v11 = index;
    v11[3] = 0x0B;
    EXPECT_FALSE(ParseCache2Index(ByteReader(v11)));
    std::string v0 = index;
    v0[3] = 0;
    EXPECT_FALSE(ParseCache2Index(ByteReader(v0)));
}

// ---- the decoder on written folders ----

struct Decoded {
    std::unique_ptr<FirefoxCache2Cache> cache;
    int result = 0;
    std::vector<CCacheItem*> items;

    FirefoxCache2Item* Find(const std::string& url) const
    {
        for (CCacheItem* item : items) {
            if (item->GetURL() && url == item->GetURL())
                return dynamic_cast<FirefoxCache2Item*>(item);
        }
        return nullptr;
    }
};

Decoded Decode(const std::string& folder)
{
    Decoded d;
    d.cache = std::make_unique<FirefoxCache2Cache>(test::Context(), nullptr, folder);
    d.result = d.cache->Decode(nullptr, true);
    d.items = test::Items(*d.cache);
    return d;
}

class FirefoxCache2CacheTest : public testing::Test {
protected:
    TempDir dir_;
    std::string folder_ = dir_.file("cache2");
};

TEST_F(FirefoxCache2CacheTest, EntriesOfEveryVersionListTheirUrlsDatesAndHeaders)
{
    FirefoxCache2Writer w;
    for (uint32_t version : {1u, 2u, 3u}) {
        auto& e = w.Add("https://v" + std::to_string(version) + ".example/p/pic.png?x=1", "PNG" + std::to_string(version),
                        "image/png");
        e.metadataVersion = version;
        e.tags = "O^partitionKey=%28https%2Cexample.com%29,a,";
        e.lastFetched = 1700000000 + version;
        e.lastModified = 1690000000 + version;
        e.expiration = 1710000000 + version;
    }
    w.Add("about:blank", "", "text/html").expiration = cache2::kNoExpiration;
    ASSERT_TRUE(w.Write(folder_));

    Decoded d = Decode(folder_);
    ASSERT_EQ(d.result, 0);
    ASSERT_EQ(d.items.size(), 4u);
    for (uint32_t version : {1u, 2u, 3u}) {
        SCOPED_TRACE(version);
        auto* item = d.Find("https://v" + std::to_string(version) + ".example/p/pic.png?x=1");
        ASSERT_TRUE(item);
        EXPECT_STREQ(item->GetURLPath(), "/p/pic.png?x=1");
        EXPECT_EQ(item->GetDetails().tags, "O^partitionKey=%28https%2Cexample.com%29,a,");
        EXPECT_EQ(item->GetDetails().metadataVersion, version);
        EXPECT_EQ(item->GetDownloaded(), 1700000000 + version);
        EXPECT_EQ(item->GetLastModified(), 1690000000 + version);
        EXPECT_EQ(item->GetExpires(), 1710000000 + version);
        EXPECT_STREQ(item->GetContentType(), "image/png");
        EXPECT_EQ(item->GetSize(), 4);
        ASSERT_TRUE(item->GetHeaders());
        EXPECT_NE(std::string(item->GetHeaders()).find("HTTP/1.1 200 OK"), std::string::npos);
        EXPECT_EQ(std::string(item->GetCacheName()).rfind("entries/", 0), 0u);
        EXPECT_FALSE(item->IsDeleted());
    }
    auto* blank = d.Find("about:blank");
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->GetExpires(), 0);
}

TEST_F(FirefoxCache2CacheTest, PreparedBodiesAreThePlainOrDecodedBytes)
{
    std::string page;
    for (int i = 0; i < 50; ++i)
        page += "<p>row " + std::to_string(i) + "</p>\n";
    FirefoxCache2Writer w;
    w.Add("http://a.example/plain.html", page, "text/html");
    w.Add("http://a.example/gz.html", GzipBytes(page), "text/html", "gzip");
    w.Add("http://a.example/deflate.html", DeflateBytes(page, true), "text/html", "deflate");
    w.Add("http://a.example/big.bin", std::string(600000, 'z'), "application/octet-stream");
    ASSERT_TRUE(w.Write(folder_));

    Decoded d = Decode(folder_);
    ASSERT_EQ(d.items.size(), 4u);
    for (const char* url : {"http://a.example/plain.html", "http://a.example/gz.html", "http://a.example/deflate.html"}) {
        SCOPED_TRACE(url);
        auto* item = d.Find(url);
        ASSERT_TRUE(item);
        ASSERT_TRUE(item->PrepareFile());
        ASSERT_TRUE(item->GetFilePath());
        EXPECT_EQ(ReadWholeFile(item->GetFilePath()), page);
    }
    auto* big = d.Find("http://a.example/big.bin");
    ASSERT_TRUE(big && big->PrepareFile());
    EXPECT_EQ(ReadWholeFile(big->GetFilePath()), std::string(600000, 'z'));
    // The entry file itself is left as it was.
    EXPECT_EQ(ReadWholeFile(folder_ + "/" + w.FileNameOf(1)), FirefoxCache2Writer::EntryFile(w.Entries()[1]));
}

TEST_F(FirefoxCache2CacheTest, UnindexedEntriesAreListedDoomedOnesRecoveredAndTheIndexGivesFrecency)
{
    FirefoxCache2Writer w;
    auto& indexed = w.Add("http://a.example/indexed", "i");
    indexed.indexFrecency = 9999;
    indexed.indexFlags = 0x80000000u | 0x04000000u;
    w.Add("http://a.example/unindexed", "u").indexed = false;
    w.Add("http://a.example/doomed", "d").doomed = true;
    ASSERT_TRUE(w.Write(folder_));

    Decoded d = Decode(folder_);
    // The doomed entry stays out of the live list and its counts.
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.cache->GetItemCount(), 2);
    EXPECT_FALSE(d.Find("http://a.example/doomed"));
    ASSERT_TRUE(d.cache->GetIndex());
    auto* a = d.Find("http://a.example/indexed");
    auto* u = d.Find("http://a.example/unindexed");
    auto recovered = test::RecoveredItems(*d.cache);
    ASSERT_EQ(recovered.size(), 1u);
    auto* doomed = dynamic_cast<FirefoxCache2Item*>(recovered[0]);
    ASSERT_TRUE(a && u && doomed);
    EXPECT_STREQ(doomed->GetURL(), "http://a.example/doomed");
    EXPECT_TRUE(doomed->IsRecovered());
    EXPECT_FALSE(doomed->IsPartial());
    EXPECT_FALSE(a->IsRecovered());
    // Its body is still there to open.
    ASSERT_TRUE(doomed->PrepareFile());
    ASSERT_TRUE(doomed->GetFilePath());
    EXPECT_EQ(ReadWholeFile(doomed->GetFilePath()), "d");
    EXPECT_EQ(a->GetDetails().frecency, 9999u);
    ASSERT_TRUE(a->GetDetails().indexFlags);
    EXPECT_EQ(*a->GetDetails().indexFlags & cache2::kIndexPinned, cache2::kIndexPinned);
    EXPECT_FALSE(u->GetDetails().indexFlags);
    EXPECT_EQ(u->GetDetails().frecency, 5000u); // the metadata's own
    EXPECT_TRUE(doomed->IsDeleted());
    EXPECT_STREQ(doomed->GetCacheName(), "doomed/2");
    bool listedDeleted = false;
    for (const auto& [label, text] : doomed->GetFormatProperties())
        listedDeleted |= label == "Deleted" && text == "yes";
    EXPECT_TRUE(listedDeleted);
}

TEST_F(FirefoxCache2CacheTest, MetadataLargerThanTheFirstReadIsReadWhole)
{
    // Metadata blocks of a few bytes up to many kilobytes, with bodies
    // shorter and longer than the block.
    FirefoxCache2Writer w;
    for (size_t big : {size_t(0), size_t(8000), size_t(9000), size_t(40000)}) {
        for (size_t body : {size_t(0), size_t(10), size_t(20000)}) {
            auto& e = w.Add("http://a.example/" + std::to_string(big) + "/" + std::to_string(body),
                            std::string(body, 'b'), "text/plain");
            e.elements.emplace_back("alt-data", std::string(big, 'x'));
        }
    }
    ASSERT_TRUE(w.Write(folder_));
    Decoded d = Decode(folder_);
    ASSERT_EQ(d.items.size(), 12u);
    for (CCacheItem* item : d.items) {
        SCOPED_TRACE(item->GetURL());
        ASSERT_TRUE(item->GetContentType());
        EXPECT_STREQ(item->GetContentType(), "text/plain");
        const std::string url = item->GetURL();
        EXPECT_EQ(std::to_string(item->GetSize()), url.substr(url.rfind('/') + 1));
    }
}

TEST_F(FirefoxCache2CacheTest, WithoutAnIndexEveryEntryFileIsStillListed)
{
    FirefoxCache2Writer w;
    w.SetIndex(false);
    w.Add("http://a.example/1", "1");
    w.Add("http://a.example/2", "2");
    ASSERT_TRUE(w.Write(folder_));
    Decoded d = Decode(folder_);
    EXPECT_EQ(d.result, 0);
    EXPECT_FALSE(d.cache->GetIndex());
    EXPECT_EQ(d.items.size(), 2u);
}

TEST_F(FirefoxCache2CacheTest, DamagedEntryFilesAreSkippedAndTheOthersKept)
{
    FirefoxCache2Writer w;
    w.Add("http://a.example/good", "good");
    w.Add("http://a.example/offset-past-end", "x").offsetWord = 0x7FFFFFFF;
    w.Add("http://a.example/key-past-end", "x").keySizeWord = 100000;
    w.Add("http://a.example/raw", "x").rawMetadata = std::string("\0\0", 2);
    ASSERT_TRUE(w.Write(folder_));
    // A file too short for the offset word, a folder and a corrupt index.
    test::WriteFile(folder_ + "/entries/SHORT", "ab");
    fs::create_directories(folder_ + "/entries/SUBFOLDER");
    test::WriteFile(folder_ + "/index", "garbage!");

    Decoded d = Decode(folder_);
    EXPECT_EQ(d.result, 0);
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_STREQ(d.items[0]->GetURL(), "http://a.example/good");
}

TEST_F(FirefoxCache2CacheTest, TheCatalogRecognisesACache2FolderAndKeepsTheOthers)
{
    FirefoxCache2Writer w;
    w.SetIndex(false);
    w.Add("http://a.example/", "a");
    ASSERT_TRUE(w.Write(folder_));
    const CacheFormat* format = RecognizeCacheFolder(folder_);
    ASSERT_TRUE(format);
    EXPECT_STREQ(format->name, "firefox-cache2");
    auto cache = CreateCacheForFolder(test::Context(), nullptr, folder_);
    EXPECT_TRUE(dynamic_cast<FirefoxCache2Cache*>(cache.get()));

    // A Mozilla map beside "entries" is still the Mozilla format.
    const std::string both = dir_.file("both");
    test::MozillaCacheWriter m;
    m.Add("http://m.example/", "m", "text/plain");
    m.Write(both);
    fs::create_directories(both + "/entries");
    format = RecognizeCacheFolder(both);
    ASSERT_TRUE(format);
    EXPECT_STREQ(format->name, "mozilla");
}

TEST_F(FirefoxCache2CacheTest, AFourGigabyteBodyKeepsItsWholeSize)
{
    // The size is the metadata offset, read as unsigned 32 bits: a body of
    // 0xFFFFFFFF bytes (a sparse file here) is 4294967295, not clamped to
    // the largest signed value. Bodies just below and above 2 GiB alike.
    const std::pair<uint32_t, const char*> cases[] = {
        {0x7FFFFFFFu, "2,147,483,647"}, {0x80000000u, "2,147,483,648"}, {0xFFFFFFFFu, "4,294,967,295"}};
    for (const auto& [size, text] : cases) {
        SCOPED_TRACE(size);
        fs::remove_all(folder_);
        FirefoxCache2Writer w;
        w.SetIndex(false);
        auto& e = w.Add("http://big.example/" + std::to_string(size), "x", "application/octet-stream");
        std::string block = FirefoxCache2Writer::MetadataBlock(e);
        // One chunk hash per 256 KiB of the real size instead of the one
        // the 1-byte body has.
        const std::string hashes(size_t(2 * cache2::ChunkCount(size)), '\0');
        e.rawMetadata = block.substr(0, 4) + hashes + block.substr(6);
        ASSERT_TRUE(w.Write(folder_));
        std::string tail = *e.rawMetadata;
        PutBE32(tail, size);
        const std::string file = folder_ + "/" + w.FileNameOf(0);
        fs::resize_file(file, 0);
        fs::resize_file(file, uint64_t(size));
        {
            std::ofstream out(file, std::ios::binary | std::ios::in | std::ios::out);
            out.seekp(std::streamoff(size));
            out.write(tail.data(), std::streamsize(tail.size()));
            ASSERT_TRUE(out.good());
        }
        Decoded d = Decode(folder_);
        ASSERT_EQ(d.items.size(), 1u);
        EXPECT_EQ(d.items[0]->GetSize(), int64_t(size));
        EXPECT_EQ(d.items[0]->GetSizeText(), text);
    }
}

} // namespace
} // namespace oriel
