#include "formats/ChromiumBlockfileCache.h"

#include "catalog/FormatCatalog.h"
#include "formats/ChromiumBlockFile.h"
#include "formats/ChromiumCacheItems.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::ChromiumBlockfileWriter;
using test::TempDir;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Decoded {
    std::unique_ptr<ChromiumBlockfileCache> cache;
    int result = 0;
    std::vector<CCacheItem*> items;

    CCacheItem* Find(const std::string& url) const
    {
        for (CCacheItem* item : items) {
            if (item->GetURL() && url == item->GetURL())
                return item;
        }
        return nullptr;
    }
};

Decoded Decode(const std::string& folder)
{
    Decoded d;
    d.cache = std::make_unique<ChromiumBlockfileCache>(test::Context(), nullptr, folder);
    d.result = d.cache->Decode(nullptr, true);
    d.items = test::Items(*d.cache);
    return d;
}

std::string SiteKey(CCacheItem* item)
{
    if (auto* file = dynamic_cast<CChromiumFileItem*>(item))
        return file->GetSiteKey();
    if (auto* embedded = dynamic_cast<CChromiumEmbeddedItem*>(item))
        return embedded->GetSiteKey();
    return "?";
}

std::string PreparedBody(CCacheItem* item)
{
    if (!item->PrepareFile() || !item->GetFilePath())
        return "<none>";
    return ReadAll(item->GetFilePath());
}

const char* kPngHeaders = "HTTP/1.1 200 OK\nContent-Type: image/png\nContent-Length: 5000";

ChromiumBlockfileWriter Sample(uint32_t version)
{
    ChromiumBlockfileWriter w;
    w.version = version;
    w.tableLength = 4; // few buckets: long chains
    w.Add("https://www.example.com/", "<html>home</html>", "HTTP/1.1 200 OK\nContent-Type: text/html");
    w.Add("https://www.example.com/logo.png", std::string(5000, 'P'), kPngHeaders);
    w.Add("https://cdn.example.net/app.js", std::string(40000, 'j'),
          "HTTP/1.1 200 OK\nContent-Type: application/javascript");
    w.Add("1/0/_dk_https://site.example https://site.example https://ads.example.org/pixel.gif", "GIF89a",
          "HTTP/1.1 200 OK\nContent-Type: image/gif");
    w.Add("https://www.example.com/long?" + std::string(2000, 'q'), "long key", "HTTP/1.1 200 OK");
    auto& apart = w.Add("https://www.example.com/apart-key", "apart", "HTTP/1.1 200 OK");
    apart.keyApart = true;
    w.Add("https://www.example.com/empty", "", "HTTP/1.1 204 No Content");
    return w;
}

TEST(ChromiumBlockfileCache, EveryIndexVersionListsEveryEntryWithUrlsAsStored)
{
    for (uint32_t version : {0x20000u, 0x20001u, 0x30000u}) {
        SCOPED_TRACE(version);
        TempDir dir;
        ChromiumBlockfileWriter w = Sample(version);
        w.Write(dir.path());
        Decoded d = Decode(dir.path());
        ASSERT_EQ(d.result, 0);
        EXPECT_EQ(d.cache->GetIndexVersion(), version);
        EXPECT_EQ(d.cache->GetIndexEntryCount(), int32_t(w.Entries().size()));
        ASSERT_EQ(d.items.size(), w.Entries().size());
        for (const auto& e : w.Entries()) {
            const std::string url = e.key.rfind(' ') != std::string::npos ? e.key.substr(e.key.rfind(' ') + 1) : e.key;
            CCacheItem* item = d.Find(url);
            ASSERT_NE(item, nullptr) << url;
            EXPECT_EQ(item->GetSize(), int32_t(e.body.size())) << url;
            EXPECT_EQ(item->GetDownloaded(), e.responded) << url;
            EXPECT_EQ(item->GetLastModified(), e.modified) << url;
        }
    }
}

TEST(ChromiumBlockfileCache, HeadersBodiesAndDoubleKeys)
{
    TempDir dir;
    Sample(0x30000).Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.result, 0);

    CCacheItem* png = d.Find("https://www.example.com/logo.png");
    ASSERT_NE(png, nullptr);
    EXPECT_STREQ(png->GetContentType(), "image/png");
    EXPECT_EQ(std::string(png->GetHeaders()),
              "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 5000\r\n");
    EXPECT_STREQ(png->GetDisplayCacheName(), "<Internal to data_3>");
    EXPECT_EQ(PreparedBody(png), std::string(5000, 'P'));

    CCacheItem* js = d.Find("https://cdn.example.net/app.js");
    ASSERT_NE(js, nullptr);
    EXPECT_STREQ(js->GetCacheName(), "f_000001");
    EXPECT_EQ(PreparedBody(js), std::string(40000, 'j'));

    CCacheItem* home = d.Find("https://www.example.com/");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(PreparedBody(home), "<html>home</html>");
    EXPECT_EQ(SiteKey(home), "");

    CCacheItem* pixel = d.Find("https://ads.example.org/pixel.gif");
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(SiteKey(pixel), "https://site.example https://site.example");
    EXPECT_EQ(PreparedBody(pixel), "GIF89a");

    ASSERT_NE(d.Find("https://www.example.com/long?" + std::string(2000, 'q')), nullptr);
    CCacheItem* apart = d.Find("https://www.example.com/apart-key");
    ASSERT_NE(apart, nullptr);
    EXPECT_EQ(PreparedBody(apart), "apart");
}

// The rankings file and the block files of a small cache are read whole,
// those past a few MiB by range: with 6,000 entries whose bodies fill four
// blocks each, the 256-byte block files pass that size. Either way every
// entry keeps its own key (inline, at its own address, double-keyed), times,
// headers and body, including the entries whose key, response info and
// body are read from a file read by range one after another.
TEST(ChromiumBlockfileCache, LargeAndSmallBlockFilesGiveEveryEntryItsOwnRecords)
{
    for (const int count : {40, 6000}) {
        SCOPED_TRACE(count);
        TempDir dir;
        ChromiumBlockfileWriter w;
        w.tableLength = 0x400;
        for (int i = 0; i < count; ++i) {
            std::string url = "https://h" + std::to_string(i % 13) + ".example/p/" + std::to_string(i);
            if (i % 5 == 1)
                url = "1/0/_dk_https://s" + std::to_string(i) + ".example https://s.example " + url;
            auto& e = w.Add(url, std::string(900 + i % 100, char('a' + i % 26)),
                            "HTTP/1.1 200 OK\nContent-Type: x/" + std::to_string(i));
            e.keyApart = i % 7 == 3;
            e.modified = 1700000000 + i;
            e.responded = 1690000000 + 2 * i;
        }
        w.Write(dir.path());
        if (count > 1000) {
            ASSERT_GT(fs::file_size(fs::path(dir.path()) / "data_1"), uint64_t(4) << 20);
        }
        Decoded d = Decode(dir.path());
        ASSERT_EQ(d.result, 0);
        ASSERT_EQ(d.items.size(), size_t(count));
        for (int i = 0; i < count; i += (count > 1000 ? 7 : 1)) {
            const std::string url = "https://h" + std::to_string(i % 13) + ".example/p/" + std::to_string(i);
            CCacheItem* item = d.Find(url);
            ASSERT_NE(item, nullptr) << url;
            EXPECT_EQ(std::string(item->GetHeaders()), "HTTP/1.1 200 OK\r\nContent-Type: x/" + std::to_string(i) + "\r\n");
            EXPECT_EQ(item->GetLastModified(), 1700000000 + i) << url;
            EXPECT_EQ(item->GetDownloaded(), 1690000000 + 2 * i) << url;
            EXPECT_EQ(SiteKey(item), i % 5 == 1 ? "https://s" + std::to_string(i) + ".example https://s.example" : "");
            if (i % 97 == 0) {
                EXPECT_EQ(PreparedBody(item), std::string(900 + i % 100, char('a' + i % 26))) << url;
            }
        }
    }
}

TEST(ChromiumBlockfileCache, GzipBodyIsDecodedOnTheWayOut)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    const std::string page(3000, 'z');
    w.Add("https://gz.example/", test::GzipBytes(page), "HTTP/1.1 200 OK\nContent-Type: text/html\nContent-Encoding: gzip");
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(PreparedBody(d.items[0]), page);
}

TEST(ChromiumBlockfileCache, BrotliBodiesInBlocksAndSeparateFilesAreDecoded)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    std::string page;
    for (int i = 0; i < 3000; ++i)
        page += "<p>" + std::to_string(i * 7919) + "</p>";
    const std::string packed = test::BrotliBytes(page);
    ASSERT_LT(packed.size(), 16384u);
    w.Add("https://br.example/inline", packed, "HTTP/1.1 200 OK\nContent-Type: text/html\nContent-Encoding: br");
    w.Add("https://br.example/apart", packed, "HTTP/1.1 200 OK\nContent-Type: text/html\nContent-Encoding: br")
        .bodyApart = true;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 2u);
    for (CCacheItem* item : d.items) {
        SCOPED_TRACE(item->GetURL());
        EXPECT_EQ(item->GetContentEncoding(), CCacheItem::kEncodingBrotli);
        EXPECT_EQ(PreparedBody(item), page);
    }
}

TEST(ChromiumBlockfileCache, SyntheticCacheDecodesWholeWithPicturesAndEncodedBodies)
{
    TempDir dir;
    test::SynthOptions options;
    options.entries = 60;
    test::WriteSyntheticChromiumCache(dir.path(), options);
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.result, 0);
    ASSERT_EQ(d.items.size(), 60u);
    CCacheItem* png = d.Find("https://www.example.com/img/photo0.png");
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(PreparedBody(png).substr(0, 4), "\x89PNG");
    CCacheItem* page = d.Find("https://news.example.com/articles/3.html");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(PreparedBody(page), "<html><body><h1>Page 3</h1></body></html>");
    CCacheItem* script = d.Find("https://www.example.com/js/app4.js");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(PreparedBody(script), "console.log(4);\n");
    CCacheItem* pixel = d.Find("https://ads.example.org/px5.gif");
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(SiteKey(pixel), "https://example.com https://example.com");
}

TEST(ChromiumBlockfileCache, MissingFilesKeepTheirEntries)
{
    TempDir dir;
    Sample(0x20001).Write(dir.path());
    fs::remove(dir.file("f_000001"));
    fs::remove(dir.file("data_3"));
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.items.size(), 7u);
    CCacheItem* js = d.Find("https://cdn.example.net/app.js");
    ASSERT_NE(js, nullptr);
    EXPECT_FALSE(js->Exists());
    CCacheItem* png = d.Find("https://www.example.com/logo.png");
    ASSERT_NE(png, nullptr);
    EXPECT_FALSE(png->Exists());
    EXPECT_FALSE(png->PrepareFile());
    // The headers lay in data_1, which is there.
    EXPECT_STREQ(png->GetContentType(), "image/png");
}

void PatchIndexBucket(const std::string& path, uint32_t bucket, uint32_t value)
{
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(std::streamoff(368 + 4 * bucket));
    char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    f.write(bytes, 4);
}

TEST(ChromiumBlockfileCache, ChainCyclesAndHostileAddressesEndTheWalk)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    w.tableLength = 1;
    w.Add("https://a.example/1", "one", "HTTP/1.1 200 OK");
    w.Add("https://a.example/2", "two", "HTTP/1.1 200 OK");
    w.Write(dir.path());
    // The second entry (the bucket's head) is at data_1 block 2 (after the
    // first entry's record and stream blocks); point the first entry's next
    // back at the head: a cycle.
    const std::string index = ReadAll(dir.file("index"));
    uint32_t head = uint8_t(index[368]) | uint32_t(uint8_t(index[369])) << 8 | uint32_t(uint8_t(index[370])) << 16 |
                    uint32_t(uint8_t(index[371])) << 24;
    std::string data1 = ReadAll(dir.file("data_1"));
    const size_t headAt = 8192 + size_t(head & 0xFFFF) * 256;
    uint32_t first = uint8_t(data1[headAt + 4]) | uint32_t(uint8_t(data1[headAt + 5])) << 8 |
                     uint32_t(uint8_t(data1[headAt + 6])) << 16 | uint32_t(uint8_t(data1[headAt + 7])) << 24;
    const size_t firstAt = 8192 + size_t(first & 0xFFFF) * 256;
    for (int i = 0; i < 4; ++i)
        data1[firstAt + 4 + size_t(i)] = char(head >> (8 * i));
    {
        std::ofstream out(dir.file("data_1"), std::ios::binary | std::ios::trunc);
        out << data1;
    }
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.items.size(), 2u);

    // A bucket naming a block past the file's end, or in a file that is
    // not there, lists nothing and stops nothing.
    for (uint32_t hostile : {0xA001FFFFu, 0xA0FE0000u, 0x9FFFFFFFu}) {
        PatchIndexBucket(dir.file("index"), 0, hostile);
        Decoded h = Decode(dir.path());
        EXPECT_EQ(h.result, 0);
        EXPECT_TRUE(h.items.empty());
    }
}

TEST(ChromiumBlockfileParsers, CutAndForeignBytesAreRefused)
{
    TempDir dir;
    Sample(0x20000).Write(dir.path());
    const std::string index = ReadAll(dir.file("index"));
    ASSERT_TRUE(ParseBlockfileIndexHeader(ByteReader(index)));
    EXPECT_FALSE(ParseBlockfileIndexHeader(ByteReader(std::string_view(index).substr(0, 367))));
    std::string wrongVersion = index;
    wrongVersion[6] = 4;
    EXPECT_FALSE(ParseBlockfileIndexHeader(ByteReader(wrongVersion)));
    std::string wrongMagic = index;
    wrongMagic[0] ^= 1;
    EXPECT_FALSE(ParseBlockfileIndexHeader(ByteReader(wrongMagic)));
    EXPECT_FALSE(ParseBlockfileBucket(ByteReader(index), 4));

    EXPECT_FALSE(ParseEntryStore(ByteReader(std::string(95, '\0'))));
    // A key longer than the run is cut at the run.
    std::string record(256, '\0');
    record[32] = char(0xFF);
    record[33] = char(0xFF);
    record.replace(96, 4, "http");
    auto entry = ParseEntryStore(ByteReader(record));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->inlineKey.size(), 160u);

    EXPECT_FALSE(ParseRankingsNode(ByteReader(std::string(35, '\0'))));

    const std::string info = test::ChromiumResponseInfo("HTTP/1.1 200 OK\nA: b", 1, 2);
    auto parsed = ParseResponseInfo(ByteReader(info));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->headers, "HTTP/1.1 200 OK\r\nA: b\r\n");
    EXPECT_EQ(parsed->responseTime, 2u);
    for (size_t cut : {size_t(0), size_t(20), size_t(30), info.size() - 4})
        EXPECT_FALSE(ParseResponseInfo(ByteReader(std::string_view(info).substr(0, cut)))) << cut;
}

TEST(ChromiumBlockfileParsers, BrotliIsNamedOnlyByItsOwnHeader)
{
    EXPECT_TRUE(NamesBrotliEncoding("HTTP/1.1 200 OK\r\nContent-Encoding: br\r\n"));
    EXPECT_TRUE(NamesBrotliEncoding("HTTP/1.1 200 OK\r\ncontent-encoding:BR \r\n"));
    EXPECT_FALSE(NamesBrotliEncoding("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n"));
    EXPECT_FALSE(NamesBrotliEncoding("HTTP/1.1 200 OK\r\nContent-Encoding: brx\r\n"));
    EXPECT_FALSE(NamesBrotliEncoding("HTTP/1.1 200 OK\r\nX-Note: Content-Encoding: br\r\n"));
}

TEST(ChromiumBlockfileParsers, KeysSplitIntoUrlAndSiteKey)
{
    struct Case {
        const char* key;
        const char* url;
        const char* site;
    };
    const Case cases[] = {
        {"https://a.example/x", "https://a.example/x", ""},
        {"1/0/_dk_https://s.example https://s.example https://a.example/x", "https://a.example/x",
         "https://s.example https://s.example"},
        {"_dk_https://s.example https://a.example/x", "https://a.example/x", "https://s.example"},
        {"_dk_nothing-after", "_dk_nothing-after", ""},
        {"https://a.example/with space", "https://a.example/with space", ""},
    };
    for (const Case& c : cases) {
        ChromiumKey key = SplitChromiumKey(c.key);
        EXPECT_EQ(key.url, c.url) << c.key;
        EXPECT_EQ(key.siteKey, c.site) << c.key;
    }
}

TEST(ChromiumBlockfileCache, RecognitionLooksAtTheIndexMagic)
{
    TempDir chromium;
    Sample(0x20001).Write(chromium.path());
    const CacheFormat* format = RecognizeCacheFolder(chromium.path());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name, "chromium");

    // Another file named "index" (a simple cache's, a cache2 folder's) is
    // not taken for a blockfile index.
    TempDir other;
    {
        std::ofstream out(other.file("index"), std::ios::binary);
        out << std::string(400, '\x0a');
    }
    EXPECT_FALSE(ChromiumBlockfileCache::Recognize(other.path()));
    const CacheFormat* none = RecognizeCacheFolder(other.path());
    EXPECT_TRUE(none == nullptr || std::string(none->name) != "chromium");
}

} // namespace
} // namespace oriel
