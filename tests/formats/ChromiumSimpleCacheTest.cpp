#include "formats/ChromiumSimpleCache.h"

#include "catalog/FormatCatalog.h"
#include "formats/ChromiumBlockFile.h"
#include "model/TextForms.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::ChromiumSimpleCacheWriter;
using test::TempDir;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

struct Decoded {
    std::unique_ptr<ChromiumSimpleCache> cache;
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
    d.cache = std::make_unique<ChromiumSimpleCache>(test::Context(), nullptr, folder);
    d.result = d.cache->Decode(nullptr, true);
    d.items = test::Items(*d.cache);
    return d;
}

std::map<std::string, std::string> Properties(CCacheItem* item)
{
    std::map<std::string, std::string> out;
    for (auto& [label, value] : item->GetFormatProperties())
        out[label] = value;
    return out;
}

std::string PreparedBody(CCacheItem* item)
{
    if (!item->PrepareFile() || !item->GetFilePath())
        return "<none>";
    return ReadAll(item->GetFilePath());
}

std::string UrlOf(const std::string& key)
{
    return key.find("_dk_") != std::string::npos ? key.substr(key.rfind(' ') + 1) : key;
}

ChromiumSimpleCacheWriter Sample()
{
    ChromiumSimpleCacheWriter w;
    w.Add("https://www.example.com/", "<html>home</html>", "HTTP/1.1 200 OK\nContent-Type: text/html");
    w.Add("https://www.example.com/logo.png", std::string(30000, 'P'),
          "HTTP/1.1 200 OK\nContent-Type: image/png\nContent-Length: 30000");
    w.Add("1/0/_dk_https://site.example https://site.example https://ads.example.org/pixel.gif", "GIF89a",
          "HTTP/1.1 200 OK\nContent-Type: image/gif")
        .keySha256 = false;
    w.Add("https://www.example.com/long?" + std::string(5000, 'q'), "long key", "HTTP/1.1 200 OK");
    w.Add("https://www.example.com/empty", "", "HTTP/1.1 204 No Content").indexed = false;
    w.Add("https://www.example.com/no-headers", "bare", "");
    w.Add("data:text/plain,hello", "hello", "HTTP/1.1 200 OK");
    return w;
}

TEST(ChromiumSimpleCache, EveryEntryFileIsListedWithItsUrlAsStoredWithOrWithoutIndex)
{
    for (bool withIndex : {true, false}) {
        for (uint32_t version : {5u, 9u}) {
            SCOPED_TRACE(std::string(withIndex ? "index" : "no index") + " v" + std::to_string(version));
            TempDir dir;
            ChromiumSimpleCacheWriter w = Sample();
            w.writeIndex = withIndex;
            for (auto& e : w.Entries())
                e.version = version;
            w.Write(dir.path());
            Decoded d = Decode(dir.path());
            ASSERT_EQ(d.result, 0);
            EXPECT_EQ(d.cache->GetIndex().has_value(), withIndex);
            ASSERT_EQ(d.items.size(), w.Entries().size());
            for (const auto& e : w.Entries()) {
                const std::string url = UrlOf(e.key);
                CCacheItem* item = d.Find(url);
                ASSERT_NE(item, nullptr) << url;
                EXPECT_EQ(item->GetSize(), int32_t(e.body.size())) << url;
                EXPECT_STREQ(item->GetCacheName(), ChromiumSimpleCacheWriter::FileName(e.key, '0').c_str());
                EXPECT_EQ(PreparedBody(item), e.body) << url;
                auto properties = Properties(item);
                EXPECT_EQ(properties["Entry version"], std::to_string(version));
                EXPECT_EQ(properties["Entry hash"], ChromiumSimpleCacheWriter::FileName(e.key, '0').substr(0, 16));
                EXPECT_EQ(properties.count("Damaged"), 0u) << url;
                const std::string lastUsed = withIndex && e.indexed ? FormatDate(e.lastUsed) : "not indexed";
                EXPECT_EQ(properties["Last used"], lastUsed) << url;
                EXPECT_EQ(item->GetDownloaded(), e.headers.empty() ? 0 : e.responded) << url;
            }
        }
    }
}

TEST(ChromiumSimpleCache, HeadersSiteKeysAndTheBodyRange)
{
    TempDir dir;
    Sample().Write(dir.path());
    Decoded d = Decode(dir.path());

    CCacheItem* png = d.Find("https://www.example.com/logo.png");
    ASSERT_NE(png, nullptr);
    EXPECT_STREQ(png->GetContentType(), "image/png");
    EXPECT_EQ(std::string(png->GetHeaders()),
              "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 30000\r\n");
    const std::string name = ChromiumSimpleCacheWriter::FileName("https://www.example.com/logo.png", '0');
    EXPECT_EQ(std::string(png->GetDisplayCacheName()), "<Internal to " + name + ">");
    auto* embedded = dynamic_cast<CChromiumEmbeddedItem*>(png);
    ASSERT_NE(embedded, nullptr);
    // The body starts after the 24-byte header and the key.
    EXPECT_EQ(embedded->GetDataOffset(), int64_t(24 + std::string("https://www.example.com/logo.png").size()));
    EXPECT_EQ(embedded->GetDataLength(), 30000);

    CCacheItem* pixel = d.Find("https://ads.example.org/pixel.gif");
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(Properties(pixel)["Site key"], "https://site.example https://site.example");
    EXPECT_EQ(dynamic_cast<CChromiumEmbeddedItem*>(pixel)->GetSiteKey(), "https://site.example https://site.example");
    EXPECT_STREQ(pixel->GetContentType(), "image/gif");

    CCacheItem* bare = d.Find("https://www.example.com/no-headers");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->GetHeaders(), nullptr);
    EXPECT_EQ(PreparedBody(bare), "bare");

    // Grouped by host; a key that is no http URL by its scheme.
    ASSERT_NE(d.Find("data:text/plain,hello"), nullptr);
    std::vector<std::string> groups;
    for (int32_t i = 0; i < d.cache->GetGroupCount(); ++i)
        groups.push_back(d.cache->GetGroup(i)->GetName() ? d.cache->GetGroup(i)->GetName() : "");
    EXPECT_NE(std::find(groups.begin(), groups.end(), "www.example.com"), groups.end());
    EXPECT_NE(std::find(groups.begin(), groups.end(), "data"), groups.end());
}

TEST(ChromiumSimpleCache, EncodedBodiesAreDecodedOnTheWayOut)
{
    TempDir dir;
    std::string page;
    for (int i = 0; i < 2000; ++i)
        page += "<p>" + std::to_string(i * 7919) + "</p>";
    ChromiumSimpleCacheWriter w;
    w.Add("https://z.example/gzip", test::GzipBytes(page), "HTTP/1.1 200 OK\nContent-Encoding: gzip");
    w.Add("https://z.example/deflate", test::DeflateBytes(page, false), "HTTP/1.1 200 OK\nContent-Encoding: deflate");
    w.Add("https://z.example/br", test::BrotliBytes(page), "HTTP/1.1 200 OK\nContent-Encoding: br");
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 3u);
    for (CCacheItem* item : d.items) {
        SCOPED_TRACE(item->GetURL());
        EXPECT_EQ(PreparedBody(item), page);
    }
    EXPECT_EQ(d.Find("https://z.example/br")->GetContentEncoding(), CCacheItem::kEncodingBrotli);
}

TEST(ChromiumSimpleCache, PackedRecordsAndSparseFiles)
{
    TempDir dir;
    ChromiumSimpleCacheWriter w;
    w.Add("https://p.example/packed", std::string(20000, 'k'), "HTTP/1.1 200 OK\nContent-Type: text/plain")
        .packedRecords = true;
    auto& media = w.Add("https://m.example/clip.webm", "", "HTTP/1.1 206 Partial Content");
    media.sparse = {{0, std::string(100, 'a')}, {4096, std::string(50, 'b')}};
    auto& alone = w.Add("https://m.example/only-sparse.webm", "", "");
    alone.entryFile = false;
    alone.sparse = {{0, std::string(10, 'c')}};
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 3u);

    CCacheItem* packed = d.Find("https://p.example/packed");
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(packed->GetSize(), 20000);
    EXPECT_STREQ(packed->GetContentType(), "text/plain");
    EXPECT_EQ(PreparedBody(packed), std::string(20000, 'k'));

    CCacheItem* clip = d.Find("https://m.example/clip.webm");
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(Properties(clip)["Sparse data"], "2 ranges, 150 bytes");
    EXPECT_EQ(Properties(packed).count("Sparse data"), 0u);

    CCacheItem* only = d.Find("https://m.example/only-sparse.webm");
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(Properties(only)["Sparse data"], "1 ranges, 10 bytes");
    EXPECT_FALSE(only->Exists());
    EXPECT_FALSE(only->PrepareFile());
}

TEST(ChromiumSimpleCache, SyntheticCacheDecodesWholeWithPicturesAndEncodedBodies)
{
    TempDir dir;
    test::SynthOptions options;
    options.entries = 60;
    test::WriteSyntheticChromiumSimpleCache(dir.path(), options);
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
    EXPECT_EQ(Properties(pixel)["Site key"], "https://example.com https://example.com");
    CCacheItem* clip = d.Find("https://media.example.com/clip.webm");
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(Properties(clip)["Sparse data"], "2 ranges, 5120 bytes");
    EXPECT_EQ(Properties(d.Find("https://news.example.com/articles/39.html"))["Last used"], "not indexed");
}

TEST(ChromiumSimpleCache, TrimmedAndHostileFilesNeverLoseTheEntryOrReadOutside)
{
    TempDir dir;
    ChromiumSimpleCacheWriter w;
    w.Add("https://t.example/cut", std::string(3000, 'c'), "HTTP/1.1 200 OK\nContent-Type: image/png");
    w.Add("https://t.example/big-stream0", "x", "HTTP/1.1 200 OK").stream0SizeWord = 0xFFFFFFF0u;
    w.Add("https://t.example/long-key", "y", "HTTP/1.1 200 OK").keyLengthWord = 900000;
    w.Add("https://t.example/fine", "fine", "HTTP/1.1 200 OK");
    w.Write(dir.path());
    const std::string cut = dir.file(ChromiumSimpleCacheWriter::FileName("https://t.example/cut", '0'));
    const std::string whole = ReadAll(cut);
    // Not an entry file at all: a foreign file with an entry file's name.
    WriteAll(dir.file("00000000000000aa_0"), std::string(100, 'z'));

    // Every length of the cut file: the decode lists the others whole and
    // the cut one (once its header is there) by its key, without a body.
    for (size_t length = 0; length <= whole.size(); length += (length < 64 ? 1 : 97)) {
        SCOPED_TRACE(length);
        WriteAll(cut, std::string_view(whole).substr(0, length));
        Decoded d = Decode(dir.path());
        ASSERT_EQ(d.result, 0);
        ASSERT_NE(d.Find("https://t.example/fine"), nullptr);
        EXPECT_EQ(PreparedBody(d.Find("https://t.example/fine")), "fine");
        for (CCacheItem* item : d.items)
            EXPECT_NE(item->GetURL(), nullptr);
        if (length >= 24 + std::string("https://t.example/cut").size()) {
            CCacheItem* item = d.Find("https://t.example/cut");
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(Properties(item)["Damaged"], "the entry file's end records do not read");
            EXPECT_FALSE(item->PrepareFile());
        }
        EXPECT_EQ(d.items.size(), length >= 20 ? 4u : 3u);
    }
    WriteAll(cut, whole);
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 4u);
    EXPECT_EQ(PreparedBody(d.Find("https://t.example/cut")), std::string(3000, 'c'));
    CCacheItem* big = d.Find("https://t.example/big-stream0");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(Properties(big).count("Damaged"), 1u);
    // The key length runs past the file: the key is what there is.
    bool longKey = false;
    for (CCacheItem* item : d.items)
        longKey |= item->GetURL() && std::string(item->GetURL()).rfind("https://t.example/long-key", 0) == 0;
    EXPECT_TRUE(longKey);
}

TEST(ChromiumSimpleCache, HostileIndexesAreReadWithinTheirBytes)
{
    TempDir dir;
    ChromiumSimpleCacheWriter w = Sample();
    w.announcedCount = uint64_t(1) << 40;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_TRUE(d.cache->GetIndex());
    EXPECT_EQ(d.cache->GetIndex()->records.size(), 6u); // the indexed ones the file holds
    EXPECT_EQ(d.items.size(), w.Entries().size());

    const std::string index = w.IndexFile();
    for (size_t cut : {size_t(0), size_t(8), size_t(20), index.size() - 1}) {
        WriteAll(dir.file("index-dir/the-real-index"), std::string_view(index).substr(0, cut));
        Decoded cutShort = Decode(dir.path());
        EXPECT_FALSE(cutShort.cache->GetIndex()) << cut;
        EXPECT_EQ(cutShort.items.size(), w.Entries().size()) << cut;
    }
}

TEST(ChromiumSimpleParsers, RecordsAndNames)
{
    ChromiumSimpleCacheWriter::Entry e;
    e.key = "https://a.example/";
    e.body = "body";
    e.headers = "HTTP/1.1 200 OK";
    const std::string file = ChromiumSimpleCacheWriter::EntryFile(e);
    auto header = ParseSimpleFileHeader(ByteReader(file));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, 5u);
    EXPECT_EQ(header->keyLength, e.key.size());
    EXPECT_FALSE(ParseSimpleFileHeader(ByteReader(std::string_view(file).substr(0, 19))));
    for (uint32_t version : {4u, 10u}) {
        std::string other = file;
        other[8] = char(version);
        EXPECT_FALSE(ParseSimpleFileHeader(ByteReader(other))) << version;
    }

    const ByteReader all(file);
    ASSERT_EQ(SimpleRecordSize(all, file.size()), size_t(24));
    auto eof = ParseSimpleFileEOF(all.sub(file.size() - 24, 24));
    ASSERT_TRUE(eof);
    EXPECT_EQ(eof->flags, simplecache::kFlagHasCrc32 | simplecache::kFlagHasKeySha256);
    auto layout = SimpleEntryLayoutOf(*header, *eof, 24, file.size());
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->stream1Offset, 24 + e.key.size());
    EXPECT_EQ(layout->stream1Size, 4u);
    EXPECT_TRUE(ParseSimpleFileEOF(all.sub(size_t(layout->stream1EofOffset), 24)));
    auto info = ParseResponseInfo(all.sub(size_t(layout->stream0Offset), size_t(layout->stream0Size)));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->headers, "HTTP/1.1 200 OK\r\n");
    // A stream 0 larger than the file leaves no layout.
    SimpleFileEOF huge = *eof;
    huge.streamSize = 0xFFFFFFFFu;
    EXPECT_FALSE(SimpleEntryLayoutOf(*header, huge, 24, file.size()));
    EXPECT_FALSE(SimpleRecordSize(ByteReader(std::string(40, 'x')), 40));

    auto name = ParseSimpleEntryFileName("0123456789abcdef_s");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->hash, 0x0123456789abcdefull);
    EXPECT_EQ(name->kind, 's');
    for (const char* bad : {"0123456789abcdef_2", "0123456789abcdeg_0", "0123456789abcdef0", "the-real-index",
                            "0123456789abcdef_00"})
        EXPECT_FALSE(ParseSimpleEntryFileName(bad)) << bad;

    EXPECT_FALSE(ParseSimpleSparseRangeHeader(ByteReader(std::string(32, '\0'))));
}

TEST(ChromiumSimpleCache, RecognisedByItsIndexItsMarkerOrItsEntryFiles)
{
    auto formatName = [](const std::string& folder) {
        const CacheFormat* format = RecognizeCacheFolder(folder);
        return format ? std::string(format->name) : std::string("none");
    };
    TempDir whole;
    Sample().Write(whole.path());
    EXPECT_EQ(formatName(whole.path()), "chromium-simple");

    TempDir noIndex;
    ChromiumSimpleCacheWriter bare = Sample();
    bare.writeIndex = false;
    bare.writeMarker = false;
    bare.Write(noIndex.path());
    EXPECT_EQ(formatName(noIndex.path()), "chromium-simple");
    auto cache = RecognizeCacheFolder(noIndex.path())->create(test::Context(), nullptr, noIndex.path());
    ASSERT_EQ(cache->Decode(nullptr, false), 0);
    EXPECT_EQ(test::Items(*cache).size(), bare.Entries().size());

    TempDir markerOnly;
    WriteAll(markerOnly.file("index"), ChromiumSimpleCacheWriter::MarkerFile());
    EXPECT_TRUE(ChromiumSimpleCache::Recognize(markerOnly.path()));

    // Entry-like names without the magic, and a blockfile cache, are not.
    TempDir foreign;
    WriteAll(foreign.file("0123456789abcdef_0"), std::string(64, 'x'));
    EXPECT_FALSE(ChromiumSimpleCache::Recognize(foreign.path()));
    EXPECT_EQ(formatName(foreign.path()), "none");
    TempDir blockfile;
    test::ChromiumBlockfileWriter b;
    b.Add("https://b.example/", "b", "HTTP/1.1 200 OK");
    b.Write(blockfile.path());
    EXPECT_FALSE(ChromiumSimpleCache::Recognize(blockfile.path()));
    EXPECT_EQ(formatName(blockfile.path()), "chromium");
}

} // namespace
} // namespace oriel
