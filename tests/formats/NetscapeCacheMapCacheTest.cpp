#include "formats/NetscapeCacheMapCache.h"

#include "formats/InternalCacheItem.h"
#include "catalog/FormatCatalog.h"
#include "platform/FileSystem.h"
#include "support/CacheContents.h"
#include "support/Gate.h"
#include "support/TestContext.h"
#include "support/MessageCapture.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::MessageCapture;
using test::MozillaCacheWriter;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;
using Format = MozillaCacheWriter::MapFormat;
using Layout = MozillaCacheWriter::Layout;

struct Decoded {
    std::unique_ptr<NetscapeCacheMapCache> cache;
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
    std::vector<std::string> Urls() const
    {
        std::vector<std::string> urls;
        for (CCacheItem* item : items)
            urls.push_back(item->GetURL());
        std::sort(urls.begin(), urls.end());
        return urls;
    }
};

Decoded Decode(const std::string& folder)
{
    Decoded d;
    d.cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, folder);
    d.result = d.cache->Decode(nullptr, true);
    d.items = test::Items(*d.cache);
    return d;
}

// A small cache with one entry in each kind of place.
MozillaCacheWriter SampleCache(Format format, Layout layout)
{
    MozillaCacheWriter w;
    w.SetFormat(format).SetLayout(layout);
    w.Add("http://www.example.com/", "<html>home</html>", "text/html; charset=utf-8");
    w.Add("http://www.example.com/img/logo.gif", std::string(900, 'G'), "image/gif");
    w.Add("http://static.example.net/app.js", std::string(3000, 'j'), "application/javascript");
    w.Add("http://static.example.net/big.css", std::string(9000, 'c'), "text/css");
    auto& separate = w.Add("http://media.example.org/video.bin", std::string(40000, 'v'), "application/octet-stream");
    separate.lastModified = 1234567890;
    auto& separateMeta = w.Add("http://media.example.org/long-headers", "tiny", "text/plain");
    separateMeta.responseHead += "X-Padding: " + std::string(20000, 'p') + "\r\n";
    return w;
}

TEST(NetscapeCacheMapCache, EveryMapFormatAndLayoutListsEveryEntryWithItsFields)
{
    for (Format format : {Format::Buckets, Format::RecordArray}) {
        for (Layout layout : {Layout::Flat, Layout::Nested}) {
            SCOPED_TRACE(std::string(format == Format::Buckets ? "buckets" : "record array") + " / " +
                         (layout == Layout::Flat ? "flat" : "nested"));
            TempDir dir;
            MozillaCacheWriter w = SampleCache(format, layout);
            w.Write(dir.path());
            Decoded d = Decode(dir.path());
            ASSERT_EQ(d.result, 0);
            EXPECT_TRUE(d.cache->IsDecoded());
            ASSERT_EQ(d.items.size(), 6u);
            EXPECT_EQ(d.cache->GetGroupCount(), 3);

            CCacheItem* home = d.Find("http://www.example.com/");
            ASSERT_NE(home, nullptr);
            EXPECT_STREQ(home->GetURLPath(), "/");
            EXPECT_STREQ(home->GetContentType(), "text/html");
            EXPECT_EQ(home->GetSize(), 17);
            EXPECT_EQ(home->GetDownloaded(), 1700000000);
            EXPECT_EQ(home->GetLastModified(), 1690000000);
            EXPECT_EQ(home->GetExpires(), 1710000000);
            ASSERT_NE(home->GetHeaders(), nullptr);
            EXPECT_EQ(std::string(home->GetHeaders()).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
            EXPECT_STREQ(home->GetDisplayCacheName(), "<Internal to _CACHE_001_>");

            EXPECT_STREQ(d.Find("http://static.example.net/app.js")->GetDisplayCacheName(),
                         "<Internal to _CACHE_002_>");
            EXPECT_STREQ(d.Find("http://static.example.net/big.css")->GetDisplayCacheName(),
                         "<Internal to _CACHE_003_>");

            // The separate data file as it is spelled on disk.
            const auto& videoEntry = w.Entries()[4];
            CCacheItem* video = d.Find("http://media.example.org/video.bin");
            ASSERT_NE(video, nullptr);
            EXPECT_EQ(dynamic_cast<CInternalCacheItem*>(video), nullptr);
            EXPECT_EQ(video->GetCacheName(), videoEntry.dataFileName);
            EXPECT_TRUE(video->Exists());
            EXPECT_EQ(ReadWholeFile(video->GetFilePath()), std::string(40000, 'v'));
            EXPECT_EQ(video->GetLastModified(), 1234567890);

            // Metadata in a separate file of its own.
            ASSERT_FALSE(w.Entries()[5].metaFileName.empty());
            EXPECT_NE(d.Find("http://media.example.org/long-headers"), nullptr);
        }
    }
}

TEST(NetscapeCacheMapCache, AFolderHoldingAMapAndAnIndexDatIsReadAsAMozillaCache)
{
    TempDir dir;
    SampleCache(Format::RecordArray, Layout::Flat).Write(dir.path());
    WriteFile(dir.file("index.dat"), "Client UrlCache MMF Ver 5.2");
    const CacheFormat* format = RecognizeCacheFolder(dir.path());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->indexFile, "_CACHE_MAP_");
    auto cache = CreateCacheForFolder(test::Context(), nullptr, dir.path());
    EXPECT_NE(dynamic_cast<NetscapeCacheMapCache*>(cache.get()), nullptr);
}

TEST(NetscapeCacheMapCache, MapAndBlockFilesAreFoundWhateverTheCaseOfTheirNames)
{
    TempDir dir;
    SampleCache(Format::RecordArray, Layout::Flat).Write(dir.path());
    fs::rename(dir.file("_CACHE_MAP_"), dir.file("_cache_map_"));
    fs::rename(dir.file("_CACHE_001_"), dir.file("_Cache_001_"));
    EXPECT_NE(RecognizeCacheFolder(dir.path()), nullptr);
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.items.size(), 6u);
    auto* home = dynamic_cast<CInternalCacheItem*>(d.Find("http://www.example.com/"));
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(home->Exists());
    ASSERT_TRUE(home->PrepareFile());
    EXPECT_EQ(ReadWholeFile(home->GetFilePath()), "<html>home</html>");
}

TEST(NetscapeCacheMapCache, SeparateFileNamesAreBuiltFromHashKindAndGeneration)
{
    EXPECT_EQ(cachemap::SeparateFileName(0x00ABCDEF, 'd', 0x1F), "00abcdefd1f");
    EXPECT_EQ(cachemap::SeparateFileName(0x0A1B2C3D, 'm', 1), "0a1b2c3dm01");
    EXPECT_EQ(cachemap::NestedFileName(0x3D52DAE7, 'd', 1), "3/D5/2DAE7d01");
    EXPECT_EQ(cachemap::NestedFileName(0x0000000F, 'm', 0xAB), "0/00/0000FmAB");
}

TEST(NetscapeCacheMapCache, ASeparateFileFoundInNeitherLayoutKeepsTheFlatNameAndCountsAsMissing)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.SetLayout(Layout::Nested);
    auto& e = w.Add("http://gone.example/file.zip", std::string(50000, 'z'), "application/zip");
    e.hash = 0x3D52DAE7;
    auto image = w.Build();
    const std::string dataName = w.Entries()[0].dataFileName;
    ASSERT_EQ(dataName, "3/D5/2DAE7d01");
    std::erase_if(image.files, [&](const auto& f) { return f.first == dataName; });
    MozillaCacheWriter::WriteImage(image, dir.path());
    ASSERT_FALSE(fs::exists(dir.file("3/D5/2DAE7d01")));
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_STREQ(d.items[0]->GetCacheName(), "3d52dae7d01");
    EXPECT_FALSE(d.items[0]->Exists());
}

TEST(NetscapeCacheMapCache, FlatNameWinsOverNestedWhenBothExist)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.SetLayout(Layout::Nested);
    auto& e = w.Add("http://both.example/x", std::string(50000, 'n'), "text/plain");
    e.hash = 0x3D52DAE7;
    w.Write(dir.path());
    WriteFile(dir.file("3D52DAE7d01"), "flat copy");
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_STREQ(d.items[0]->GetCacheName(), "3D52DAE7d01");
    EXPECT_EQ(ReadWholeFile(d.items[0]->GetFilePath()), "flat copy");
}

TEST(NetscapeCacheMapCache, TheRecordKeyIsThePositionInTheRecordTable)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.SetFormat(Format::Buckets);
    for (int i = 0; i < 5; ++i)
        w.Add("http://k.example/" + std::to_string(i), "body", "text/plain");
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 5u);
    const auto& records = d.cache->GetRecords();
    for (CCacheItem* item : d.items) {
        ASSERT_GE(item->GetRecordKey(), 0);
        ASSERT_LT(size_t(item->GetRecordKey()), records.size());
        uint32_t hash = records[size_t(item->GetRecordKey())].hashNumber;
        auto entry = std::find_if(w.Entries().begin(), w.Entries().end(),
                                  [&](const auto& e) { return e.key == std::string("HTTP:") + item->GetURL(); });
        ASSERT_NE(entry, w.Entries().end());
        EXPECT_EQ(entry->hash, hash);
    }
}

TEST(NetscapeCacheMapCache, AnEmptyRecordInsideABucketHidesTheRestOfThatBucketOnly)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.SetFormat(Format::Buckets);
    // Bucket 0 holds three records, bucket 1 one.
    w.Add("http://b.example/0", "a", "text/plain").hash = 0x100;
    w.Add("http://b.example/1", "b", "text/plain").hash = 0x200;
    w.Add("http://b.example/2", "c", "text/plain").hash = 0x300;
    w.Add("http://b.example/3", "d", "text/plain").hash = 0x101;
    auto image = w.Build();
    // Empty the second record of bucket 0.
    for (int i = 0; i < 16; ++i)
        image.map[4096 + 16 + size_t(i)] = 0;
    MozillaCacheWriter::WriteImage(image, dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.Urls(), (std::vector<std::string>{"http://b.example/0", "http://b.example/3"}));
}

TEST(NetscapeCacheMapCache, EmptyRecordsOfARecordArrayAreSkipped)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://r.example/0", "a", "text/plain").hash = 0x100;
    w.Add("http://r.example/1", "b", "text/plain").hash = 0x200;
    w.Add("http://r.example/2", "c", "text/plain").hash = 0x300;
    auto image = w.Build();
    for (int i = 0; i < 16; ++i)
        image.map[276 + 16 + size_t(i)] = 0;
    MozillaCacheWriter::WriteImage(image, dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.Urls(), (std::vector<std::string>{"http://r.example/0", "http://r.example/2"}));
}

TEST(NetscapeCacheMapCache, BucketRecordsStoredLittleEndianAreRecognised)
{
    TempDir dir;
    MozillaCacheWriter w = SampleCache(Format::Buckets, Layout::Flat);
    w.SetLittleEndianRecords(true);
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_TRUE(d.cache->RecordsWereLittleEndian());
    EXPECT_EQ(d.items.size(), 6u);
    EXPECT_NE(d.Find("http://media.example.org/video.bin"), nullptr);
}

TEST(NetscapeCacheMapCache, TheKeyGivesTheUrlAfterItsFirstColonAndWyciwygPagesShowThePageWritten)
{
    TempDir dir;
    MozillaCacheWriter w;
    const struct {
        const char* key;
        const char* url; // null: not listed
    } cases[] = {
        {"HTTP:http://a.example/x", "http://a.example/x"},
        {"client:id:http://b.example/y", "id:http://b.example/y"},
        {"wyciwyg:wyciwyg://0/http://c.example/written", "http://c.example/written"},
        {"HTTP:wyciwyg://12/https://d.example/p?q=1", "https://d.example/p?q=1"},
        {"no colon in this key", nullptr},
        {"HTTP:about:blank", nullptr},
    };
    for (const auto& c : cases) {
        MozillaCacheWriter::Entry e;
        e.key = c.key;
        e.body = "x";
        w.AddEntry(e);
    }
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    size_t listed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        if (!c.url)
            continue;
        ++listed;
        ASSERT_NE(d.Find(c.url), nullptr);
    }
    EXPECT_EQ(d.items.size(), listed);
    CCacheItem* written = d.Find("http://c.example/written");
    ASSERT_NE(written, nullptr);
    EXPECT_STREQ(written->GetURLPath(), "/written");
}

TEST(NetscapeCacheMapCache, OnlyMetadataVersionsFrom10000To30000AreListed)
{
    TempDir dir;
    MozillaCacheWriter w;
    const struct {
        uint32_t version;
        bool listed;
    } cases[] = {{0x0000FFFF, false}, {0x00010000, true}, {0x00010008, true}, {0x00030000, true}, {0x00030001, false}};
    for (const auto& c : cases)
        w.Add("http://v.example/" + std::to_string(c.version), "x", "text/plain").metadataVersion = c.version;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(d.Find("http://v.example/" + std::to_string(c.version)) != nullptr, c.listed);
    }
}

TEST(NetscapeCacheMapCache, TimesAreSignedSecondsAndZeroMeansNoDate)
{
    TempDir dir;
    MozillaCacheWriter w;
    auto& e = w.Add("http://t.example/", "x", "text/plain");
    e.lastFetched = 0;
    e.lastModified = -1;
    e.expires = -86400;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(d.items[0]->GetDownloaded(), 0);
    EXPECT_EQ(d.items[0]->GetDownloadedText(), "");
    EXPECT_EQ(d.items[0]->GetLastModified(), -1);
    EXPECT_EQ(d.items[0]->GetExpires(), -86400);
}

TEST(NetscapeCacheMapCache, RecordsWithALocationNotInitialisedAreSkipped)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://u.example/kept", "x", "text/plain");
    w.Add("http://u.example/no-data", "x", "text/plain").dataLocationWord = 0x10000001;
    w.Add("http://u.example/no-meta", "x", "text/plain").metaLocationWord = 0;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.Urls(), std::vector<std::string>{"http://u.example/kept"});
}

TEST(NetscapeCacheMapCache, AMissingSeparateMetadataFileLosesOnlyThatEntry)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://m.example/kept", "x", "text/plain");
    auto& lost = w.Add("http://m.example/lost", "x", "text/plain");
    lost.metaFile = 0;
    w.Write(dir.path());
    fs::remove(dir.file(w.Entries()[1].metaFileName));
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.Urls(), std::vector<std::string>{"http://m.example/kept"});
}

TEST(NetscapeCacheMapCache, MissingMapOrBlockFileFailsTheDecodeWithItsMessage)
{
    const struct {
        const char* removed;
        const char* message;
    } cases[] = {
        {"_CACHE_MAP_", "Cache database file not found in folder:\n"},
        {"_CACHE_002_", "Error opening the Cache meta data files... cannot decode.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.removed);
        TempDir dir;
        SampleCache(Format::RecordArray, Layout::Flat).Write(dir.path());
        fs::remove(dir.file(c.removed));
        MessageCapture capture;
        Decoded d = Decode(dir.path());
        EXPECT_NE(d.result, 0);
        EXPECT_FALSE(d.cache->IsDecoded());
        EXPECT_TRUE(d.items.empty());
        ASSERT_EQ(capture->messages.size(), 1u);
        EXPECT_EQ(capture->messages[0], c.message + (std::string(c.removed) == "_CACHE_MAP_" ? dir.path() : dir.file(c.removed)));
    }
}

TEST(NetscapeCacheMapCache, AMapTooShortForItsHeaderIsRefusedWithTheHeaderMessage)
{
    TempDir dir;
    SampleCache(Format::RecordArray, Layout::Flat).Write(dir.path());
    WriteFile(dir.file("_CACHE_MAP_"), std::string("\x00\x01\x00\x13\x00", 5));
    MessageCapture capture;
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.result, -1);
    ASSERT_EQ(capture->messages.size(), 1u);
    EXPECT_EQ(capture->messages[0],
              "Invalid cache database header information! Cannot decode.\n" + dir.file("_CACHE_MAP_"));
}

TEST(NetscapeCacheMapCache, AnAllZeroMapIsADamagedIndexNotAnEmptyCache)
{
    for (size_t size : {size_t(276), size_t(4096 + 16 * 100), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        TempDir dir;
        SampleCache(Format::RecordArray, Layout::Flat).Write(dir.path());
        WriteFile(dir.file("_CACHE_MAP_"), std::string(size, '\0'));
        MessageCapture capture;
        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.result, -1);
        EXPECT_FALSE(d.cache->IsDecoded());
        ASSERT_EQ(capture->messages.size(), 1u);
        EXPECT_EQ(capture->messages[0], "Invalid cache database header information! Cannot decode.\n" +
                                            dir.file("_CACHE_MAP_") +
                                            ": the map holds only zero bytes, so the index is damaged");
    }
}

// Many records that name one metadata block: what they share is read once
// and held once.
MozillaCacheWriter SharedMetadataCache(size_t sharing, size_t headerBytes, int metaFile)
{
    MozillaCacheWriter w;
    auto& first = w.Add("http://shared.example/" + std::string(40, 'u'), "body", "text/plain");
    first.responseHead += "X-Padding: " + std::string(headerBytes, 'p') + "\r\n";
    first.metaFile = metaFile;
    for (size_t i = 0; i < sharing; ++i)
        w.Add("http://other.example/" + std::to_string(i), "b", "text/plain").metaFile = metaFile;
    w.Build();
    const uint32_t shared = w.Entries().front().metaLocation;
    for (size_t i = 1; i < w.Entries().size(); ++i) {
        w.Entries()[i].metaLocationWord = shared;
        // A separate metadata file is named by the hash too; the others'
        // own metadata files get names of their own (another generation).
        if (metaFile == 0) {
            w.Entries()[i].hash = w.Entries().front().hash;
            w.Entries()[i].generation = 2;
        }
    }
    return w;
}

TEST(NetscapeCacheMapCache, RecordsSharingOneMetadataBlockShareItsHeaders)
{
    for (int metaFile : {0, 3}) {
        SCOPED_TRACE(metaFile);
        TempDir dir;
        // 2000 records over 12 KB of headers: 24 MB if each item copied them.
        SharedMetadataCache(2000, metaFile == 3 ? 12000 : 200000, metaFile).Write(dir.path());
        MessageCapture capture;
        Decoded d = Decode(dir.path());
        ASSERT_EQ(d.result, 0);
        ASSERT_EQ(d.items.size(), 2001u);
        const char* headers = d.items.front()->GetHeaders();
        ASSERT_NE(headers, nullptr);
        for (CCacheItem* item : d.items) {
            EXPECT_EQ(item->GetHeaders(), headers); // the one block, not a copy
            EXPECT_STREQ(item->GetContentType(), "text/plain");
            EXPECT_EQ(std::string(item->GetURL()), "http://shared.example/" + std::string(40, 'u'));
        }
        EXPECT_TRUE(capture->messages.empty());
    }
}

TEST(NetscapeCacheMapCache, ADecodePastItsMemoryBudgetStopsWithAMessage)
{
    TempDir dir;
    SharedMetadataCache(3000, 100, 3).Write(dir.path());
    MessageCapture capture;
    auto cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, dir.path());
    cache->SetDecodeBudget(256 * 1024); // 3001 items of about 250 bytes each do not fit
    EXPECT_EQ(cache->Decode(nullptr, true), -1);
    EXPECT_FALSE(cache->IsDecoded());
    EXPECT_EQ(cache->GetItemCount(), 0);
    ASSERT_EQ(capture->messages.size(), 1u);
    EXPECT_EQ(capture->messages[0],
              "The cache index needs more memory than a decode may use; the decode stopped. Cache folder:\n" +
                  dir.path());

    // Within the budget the same cache decodes, and a later decode starts
    // the count afresh.
    cache->SetDecodeBudget(CCache::kDefaultDecodeBudget);
    EXPECT_EQ(cache->Decode(nullptr, true), 0);
    EXPECT_EQ(cache->GetItemCount(), 3001);
    EXPECT_EQ(cache->Decode(nullptr, true), 0);
    EXPECT_EQ(cache->GetItemCount(), 3001);
}

TEST(NetscapeCacheMapCache, A4GBSizeFieldIsKeptAsItsUnsigned32Bits)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://h/huge", "tiny", "text/plain").dataSize = 0xFFFFFFFFu;
    w.Add("http://h/big", "tiny", "text/plain").dataSize = 0x80000000u;
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.Find("http://h/huge")->GetSize(), 4294967295);
    EXPECT_EQ(d.Find("http://h/huge")->GetSizeText(), "4,294,967,295");
    EXPECT_EQ(d.Find("http://h/big")->GetSize(), 2147483648);
}

TEST(NetscapeCacheMapCache, CutAndOverAnnouncingMapsYieldTheRecordsThatAreThere)
{
    for (Format format : {Format::Buckets, Format::RecordArray}) {
        SCOPED_TRACE(format == Format::Buckets ? "buckets" : "record array");
        const size_t headerSize = format == Format::Buckets ? 4096 : 276;
        MozillaCacheWriter w;
        w.SetFormat(format).SetEntryCount(0x7FFFFFFF);
        w.Add("http://c.example/0", "a", "text/plain").hash = 0x20;
        w.Add("http://c.example/1", "b", "text/plain").hash = 0x40;
        auto image = w.Build();

        TempDir whole, header, midRecord;
        MozillaCacheWriter::WriteImage(image, whole.path());
        EXPECT_EQ(Decode(whole.path()).items.size(), 2u);

        auto cut = image;
        cut.map.resize(headerSize);
        MozillaCacheWriter::WriteImage(cut, header.path());
        Decoded h = Decode(header.path());
        EXPECT_EQ(h.result, 0);
        EXPECT_TRUE(h.items.empty());

        cut = image;
        cut.map.resize(headerSize + 16 + 9); // the first record and part of the second
        MozillaCacheWriter::WriteImage(cut, midRecord.path());
        EXPECT_EQ(Decode(midRecord.path()).Urls(), std::vector<std::string>{"http://c.example/0"});
    }
}

TEST(NetscapeCacheMapCache, ACleanMapStopsAtItsEntryCountADirtyMapReadsEveryRecord)
{
    for (bool dirty : {false, true}) {
        SCOPED_TRACE(dirty ? "dirty" : "clean");
        TempDir dir;
        MozillaCacheWriter w;
        w.SetDirty(dirty).SetEntryCount(2);
        for (int i = 0; i < 4; ++i)
            w.Add("http://d.example/" + std::to_string(i), "x", "text/plain");
        w.Write(dir.path());
        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.cache->IsMapDirty(), dirty);
        EXPECT_EQ(d.items.size(), dirty ? 4u : 2u);
    }
}

TEST(NetscapeCacheMapCache, ShortBlockFilesAndMetadataRunningPastTheBytesReadAreDecodedAsFarAsTheyGo)
{
    TempDir dir;
    MozillaCacheWriter w;
    auto& first = w.Add("http://s.example/first", "one", "text/plain");
    first.metaFile = 2;
    auto& second = w.Add("http://s.example/second", "two", "text/plain");
    second.metaFile = 2;
    second.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\nX-Long: " + std::string(600, 'x') + "\r\n";
    auto& third = w.Add("http://s.example/third", "three", "text/plain");
    third.metaFile = 3;
    auto image = w.Build();
    // _CACHE_002_ ends inside the second entry's response head (after its
    // key); _CACHE_003_ ends inside its bitmap.
    const uint32_t secondStart = cachemap::StartBlock(w.Entries()[1].metaLocation);
    image.blocks[1].resize(4096 + secondStart * 1024 + 36 + 40 + 60);
    image.blocks[2].resize(1000);
    MozillaCacheWriter::WriteImage(image, dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.Urls(), (std::vector<std::string>{"http://s.example/first", "http://s.example/second"}));
    CCacheItem* cut = d.Find("http://s.example/second");
    ASSERT_NE(cut, nullptr);
    ASSERT_NE(cut->GetHeaders(), nullptr);
    EXPECT_LT(std::string(cut->GetHeaders()).size(), second.responseHead.size());
}

TEST(NetscapeCacheMapCache, DecodingAgainGivesTheSameItemsOnce)
{
    TempDir dir;
    SampleCache(Format::RecordArray, Layout::Nested).Write(dir.path());
    NetscapeCacheMapCache cache(test::Context(), nullptr, dir.path());
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    EXPECT_EQ(cache.GetItemCount(), 6);
    EXPECT_EQ(cache.GetProgressTotal(), 6);
}

// A map cache whose decode thread waits in its first DoShutdown (the step
// that clears the list) until the test has asked for a stop.
class HeldMapCache : public NetscapeCacheMapCache {
public:
    using NetscapeCacheMapCache::NetscapeCacheMapCache;
    ~HeldMapCache() override { StopDecodeThread(); }
    void DoShutdown() override
    {
        if (!held_.exchange(true))
            stopped.WaitOpen();
        NetscapeCacheMapCache::DoShutdown();
    }
    test::Gate stopped;

private:
    std::atomic<bool> held_{false};
};

TEST(NetscapeCacheMapCache, DecodeOnItsThreadCanBeStoppedAndTheCacheDestroyedSafely)
{
    TempDir dir;
    MozillaCacheWriter w;
    for (int i = 0; i < 3000; ++i)
        w.Add("http://many.example/" + std::to_string(i), "x", "text/plain");
    w.Write(dir.path());
    auto cache = std::make_unique<HeldMapCache>(test::Context(), nullptr, dir.path());
    cache->DecodeThread(nullptr, false);
    cache->RequestStop();
    cache->stopped.Open();
    cache->WaitForDecodeThread();
    // The stop reached the record loop before its first record.
    EXPECT_EQ(cache->GetItemCount(), 0);
    EXPECT_TRUE(cache->IsDecoded());
    cache.reset(); // waits for the thread
    SUCCEED();
}

// ---------------------------------------------------------------------------
// Metadata parser on its own.

std::string MetadataOf(const std::string& key, const std::string& elements, uint32_t version = 0x00010008,
                       uint32_t keySize = 0)
{
    MozillaCacheWriter::Entry e;
    e.key = key;
    e.metadataVersion = version;
    e.elements.clear();
    e.body = "x";
    std::string meta = MozillaCacheWriter::Metadata(e, 0);
    if (keySize) {
        meta[28] = char(keySize >> 24);
        meta[29] = char(keySize >> 16);
        meta[30] = char(keySize >> 8);
        meta[31] = char(keySize);
    }
    return meta + elements;
}

TEST(ParseCacheMapMetadata, TakesTheFirstResponseHeadElementAndStopsAtTheBytesRead)
{
    using namespace std::string_literals;
    const struct {
        const char* name;
        std::string bytes;
        std::optional<std::string> headers;
    } cases[] = {
        {"no elements", MetadataOf("HTTP:http://a/", ""), std::nullopt},
        {"after another element", MetadataOf("HTTP:http://a/", "charset\0utf-8\0response-head\0H1\0"s), "H1"},
        {"first of two", MetadataOf("HTTP:http://a/", "response-head\0A\0response-head\0B\0"s), "A"},
        {"name that begins with it", MetadataOf("HTTP:http://a/", "response-headers\0C\0"s), "C"},
        {"after an empty name", MetadataOf("HTTP:http://a/", "\0response-head\0D\0"s), std::nullopt},
        {"value cut at the bytes read", MetadataOf("HTTP:http://a/", "response-head\0HTTP/1.1 2"s), "HTTP/1.1 2"},
        {"name cut at the bytes read", MetadataOf("HTTP:http://a/", "response-he"s), std::nullopt},
        {"key size past the bytes read", MetadataOf("HTTP:http://a/", ""s, 0x00010008, 0xFFFFFFF0), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto meta = ParseCacheMapMetadata(c.bytes);
        ASSERT_TRUE(meta.has_value());
        EXPECT_EQ(meta->url, "http://a/");
        ASSERT_EQ(meta->headers.has_value(), c.headers.has_value());
        if (c.headers) {
            EXPECT_EQ(*meta->headers, *c.headers);
        }
    }
}

TEST(ParseCacheMapMetadata, RejectsCutHeadersKeysWithoutColonAndVersionsOutOfRange)
{
    std::string good = MetadataOf("HTTP:http://a/", "");
    EXPECT_TRUE(ParseCacheMapMetadata(good).has_value());
    EXPECT_FALSE(ParseCacheMapMetadata(good.substr(0, 35)).has_value());
    EXPECT_FALSE(ParseCacheMapMetadata(good.substr(0, 36)).has_value());
    EXPECT_FALSE(ParseCacheMapMetadata(MetadataOf("nocolon", "")).has_value());
    EXPECT_FALSE(ParseCacheMapMetadata(MetadataOf("HTTP:http://a/", "", 0x00030001)).has_value());
    EXPECT_FALSE(ParseCacheMapMetadata("").has_value());
}

} // namespace
} // namespace oriel

namespace oriel {
namespace {

// Many entries in every block file with metadata of one to four blocks,
// some of it in separate files, some records sharing metadata, and the
// block files cut short: _CACHE_002_ inside its blocks and _CACHE_003_
// inside one entry's metadata.
MozillaCacheWriter::Image ReadAheadCache(MozillaCacheWriter& w, Format format)
{
    w.SetFormat(format).SetLayout(Layout::Nested);
    for (int i = 0; i < 900; ++i) {
        auto& e = w.Add("http://h" + std::to_string(i % 13) + ".example/" + std::to_string(i), std::string(size_t(i % 5) * 700, 'b'),
                        "text/plain");
        e.responseHead += "X-Pad: " + std::string(size_t(i * 37 % 3000), 'p') + "\r\n";
        e.lastModified = 1500000000 + i;
        e.metaFile = i % 17 == 5 ? 0 : 1 + i % 3;
    }
    w.Build();
    // Records 100 to 109 name record 99's metadata.
    for (size_t i = 100; i < 110; ++i)
        w.Entries()[i].metaLocationWord = w.Entries()[99].metaLocation;
    MozillaCacheWriter::Image image = w.Build();
    image.blocks[1].resize(image.blocks[1].size() * 2 / 3);
    image.blocks[2].resize(image.blocks[2].size() / 2 + 3000);
    return image;
}

TEST(NetscapeCacheMapCache, MetadataReadAheadInBlockOrderGivesWhatEachRecordsOwnReadGives)
{
    for (Format format : {Format::RecordArray, Format::Buckets}) {
        SCOPED_TRACE(format == Format::Buckets ? "buckets" : "record array");
        TempDir dir;
        MozillaCacheWriter w;
        const MozillaCacheWriter::Image image = ReadAheadCache(w, format);
        MozillaCacheWriter::WriteImage(image, dir.path());
        Decoded d = Decode(dir.path());
        ASSERT_EQ(d.result, 0);
        const auto& records = d.cache->GetRecords();
        ASSERT_EQ(records.size(), 900u);

        // Each record's metadata read alone, straight from the block file
        // as written, and parsed: what its item must show.
        std::map<int32_t, CCacheItem*> byKey;
        for (CCacheItem* item : d.items)
            byKey[item->GetRecordKey()] = item;
        size_t checked = 0, missing = 0;
        for (size_t key = 0; key < records.size(); ++key) {
            const uint32_t location = records[key].metaLocation;
            const int selector = cachemap::FileSelector(location);
            if (selector == 0)
                continue;
            const std::string& file = image.blocks[selector - 1];
            const size_t blockSize = cachemap::BlockSize(selector);
            const size_t offset = 4096 + size_t(cachemap::StartBlock(location)) * blockSize;
            const std::string bytes =
                offset < file.size() ? file.substr(offset, cachemap::BlockCount(location) * blockSize) : "";
            auto meta = bytes.empty() ? std::nullopt : ParseCacheMapMetadata(std::string_view(bytes));
            auto found = byKey.find(int32_t(key));
            if (!meta) {
                EXPECT_EQ(found, byKey.end()) << key;
                ++missing;
                continue;
            }
            ASSERT_NE(found, byKey.end()) << key;
            CCacheItem* item = found->second;
            EXPECT_EQ(std::string(item->GetURL()), std::string(meta->url)) << key;
            EXPECT_EQ(item->GetLastModified(), meta->lastModified) << key;
            EXPECT_EQ(item->GetDownloaded(), meta->lastFetched) << key;
            EXPECT_EQ(item->GetExpires(), meta->expires) << key;
            EXPECT_EQ(item->GetSize(), int64_t(meta->dataSize)) << key;
            ASSERT_TRUE(meta->headers.has_value()) << key;
            ASSERT_NE(item->GetHeaders(), nullptr) << key;
            EXPECT_EQ(std::string(item->GetHeaders()), std::string(*meta->headers)) << key;
            ++checked;
        }
        // The cut files lose some entries, the rest are all there.
        EXPECT_GT(checked, 600u);
        EXPECT_GT(missing, 50u);

        // Items go to their groups in map order: the groups in the order
        // their first records come, each group's records rising.
        std::vector<std::string> groupOrder;
        for (size_t key = 0; key < records.size(); ++key) {
            auto found = byKey.find(int32_t(key));
            if (found == byKey.end())
                continue;
            const std::string url = found->second->GetURL();
            const std::string host = url.substr(7, url.find('/', 7) - 7);
            if (std::find(groupOrder.begin(), groupOrder.end(), host) == groupOrder.end())
                groupOrder.push_back(host);
        }
        ASSERT_EQ(d.cache->GetGroupCount(), int32_t(groupOrder.size()));
        for (int32_t g = 0; g < d.cache->GetGroupCount(); ++g) {
            const CNamedCacheItemArray& group = *d.cache->GetGroup(g);
            int32_t previous = -1;
            for (int32_t i = 0; i < group.GetCount(); ++i) {
                const std::string url = group.ItemAt(i)->GetURL();
                EXPECT_EQ(url.substr(7, url.find('/', 7) - 7), groupOrder[size_t(g)]);
                EXPECT_GT(group.ItemAt(i)->GetRecordKey(), previous);
                previous = group.ItemAt(i)->GetRecordKey();
            }
        }
    }
}

TEST(NetscapeCacheMapCache, ADecodePastItsBudgetStopsAlsoWhenItsMetadataIsReadAhead)
{
    // No record shares its metadata here: every item is made ahead.
    TempDir dir;
    MozillaCacheWriter w;
    for (int i = 0; i < 3000; ++i)
        w.Add("http://budget.example/" + std::to_string(i), "b", "text/plain").metaFile = 1 + i % 3;
    w.Write(dir.path());
    MessageCapture capture;
    auto cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, dir.path());
    cache->SetDecodeBudget(256 * 1024);
    EXPECT_EQ(cache->Decode(nullptr, true), -1);
    EXPECT_EQ(cache->GetItemCount(), 0);
    ASSERT_EQ(capture->messages.size(), 1u);
    cache->SetDecodeBudget(CCache::kDefaultDecodeBudget);
    EXPECT_EQ(cache->Decode(nullptr, true), 0);
    EXPECT_EQ(cache->GetItemCount(), 3000);
}

} // namespace
} // namespace oriel
