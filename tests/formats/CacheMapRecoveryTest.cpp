// Entries of a Mozilla cache folder that the map no longer lists but that
// still stand: stale records (after a clean map's entry count, behind an
// empty record of a bucket, with the hash number cleared by a delete) and
// separate files that no record names. All of them stay out of the live
// list.
#include "formats/CacheMapRecovery.h"
#include "formats/NetscapeCacheMapCache.h"

#include "support/CacheContents.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

using Format = MozillaCacheWriter::MapFormat;
using Layout = MozillaCacheWriter::Layout;
using Record = MozillaCacheWriter::Entry::Record;

struct Decoded {
    std::unique_ptr<NetscapeCacheMapCache> cache;
    int result = 0;

    std::vector<std::string> Live() const
    {
        auto urls = Urls(*cache);
        std::sort(urls.begin(), urls.end());
        return urls;
    }
    std::vector<std::string> Recovered() const
    {
        auto urls = RecoveredUrls(*cache);
        std::sort(urls.begin(), urls.end());
        return urls;
    }
    CCacheItem* FindRecovered(const std::string& url) const
    {
        for (CCacheItem* item : RecoveredItems(*cache)) {
            if (item->GetURL() && url == item->GetURL())
                return item;
        }
        return nullptr;
    }
};

Decoded Decode(const std::string& folder)
{
    Decoded d;
    d.cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, folder);
    d.result = d.cache->Decode(nullptr, false);
    return d;
}

TEST(CacheMapRecovery, DeletedEntriesWhoseRecordsStillStandAreRecoveredWithTheirFields)
{
    // Firefox deletes an entry by clearing its record's hash number; the
    // locations and the metadata stay. In every map format and layout.
    for (Format format : {Format::RecordArray, Format::Buckets}) {
        for (Layout layout : {Layout::Flat, Layout::Nested}) {
            SCOPED_TRACE(std::string(format == Format::Buckets ? "buckets" : "record array") +
                         (layout == Layout::Flat ? ", flat" : ", nested"));
            TempDir dir;
            MozillaCacheWriter w;
            w.SetFormat(format).SetLayout(layout);
            w.Add("http://a.example/live", "<p>live</p>", "text/html");
            auto& gone = w.Add("http://a.example/gone.gif", std::string(700, 'G'), "image/gif");
            gone.record = Record::Stale;
            gone.lastModified = 1234567890;
            w.Add("http://b.example/gone.js", std::string(3000, 'j'), "text/javascript").record = Record::Stale;
            w.Write(dir.path());

            Decoded d = Decode(dir.path());
            ASSERT_EQ(d.result, 0);
            EXPECT_EQ(d.Live(), std::vector<std::string>{"http://a.example/live"});
            EXPECT_EQ(d.cache->GetItemCount(), 1);
            EXPECT_EQ(d.Recovered(), (std::vector<std::string>{"http://a.example/gone.gif", "http://b.example/gone.js"}));
            CCacheItem* item = d.FindRecovered("http://a.example/gone.gif");
            ASSERT_TRUE(item);
            EXPECT_TRUE(item->IsRecovered());
            EXPECT_FALSE(item->IsPartial());
            EXPECT_EQ(item->GetSize(), 700);
            EXPECT_EQ(item->GetLastModified(), 1234567890);
            EXPECT_STREQ(item->GetContentType(), "image/gif");
            EXPECT_STREQ(item->GetURLPath(), "/gone.gif");
            // Its body lies in a block file and is still extracted.
            ASSERT_TRUE(item->PrepareFile());
            EXPECT_EQ(ReadWholeFile(item->GetFilePath()), std::string(700, 'G'));
        }
    }
}

TEST(CacheMapRecovery, RecordsTheMapNoLongerCountsAreRecoveredNotListed)
{
    // A clean map that counts 2 of 4 records, and a bucket map in which an
    // empty record hides the rest of its bucket.
    {
        TempDir dir;
        MozillaCacheWriter w;
        w.SetEntryCount(2);
        for (int i = 0; i < 4; ++i)
            w.Add("http://d.example/" + std::to_string(i), "x", "text/plain");
        w.Write(dir.path());
        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.Live().size(), 2u);
        EXPECT_EQ(d.Recovered().size(), 2u);
        std::vector<std::string> all = d.Live();
        for (const std::string& url : d.Recovered())
            all.push_back(url);
        std::sort(all.begin(), all.end());
        EXPECT_EQ(all, (std::vector<std::string>{"http://d.example/0", "http://d.example/1", "http://d.example/2",
                                                 "http://d.example/3"}));
    }
    {
        TempDir dir;
        MozillaCacheWriter w;
        w.SetFormat(Format::Buckets);
        for (int i = 0; i < 3; ++i) {
            auto& e = w.Add("http://e.example/" + std::to_string(i), "x", "text/plain");
            e.hash = 0x100 + uint32_t(i) * 32; // one bucket for all three
        }
        auto image = w.Build();
        // Clear the middle record's hash: the third is hidden behind it.
        const size_t second = 4096 + 16;
        for (size_t i = 0; i < 4; ++i)
            image.map[second + i] = '\0';
        MozillaCacheWriter::WriteImage(image, dir.path());
        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.Live(), std::vector<std::string>{"http://e.example/0"});
        EXPECT_EQ(d.Recovered(), (std::vector<std::string>{"http://e.example/1", "http://e.example/2"}));
    }
}

TEST(CacheMapRecovery, ALeftoverCopyOfALiveRecordIsNotRecoveredTwice)
{
    // Deleting the first of two records of a bucket moves the last into its
    // place and clears the hash of the old slot: that slot names the live
    // entry's metadata and is not a second entry.
    TempDir dir;
    MozillaCacheWriter w;
    auto& kept = w.Add("http://f.example/kept", "k", "text/plain");
    kept.hash = 0x201;
    auto& copy = w.AddEntry(kept);
    copy.record = Record::Stale;
    auto image = w.Build();
    // The copy's record must name the same places as the live one.
    copy.dataLocationWord = kept.dataLocation;
    copy.metaLocationWord = kept.metaLocation;
    image = w.Build();
    MozillaCacheWriter::WriteImage(image, dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.Live(), std::vector<std::string>{"http://f.example/kept"});
    EXPECT_TRUE(d.Recovered().empty());
}

TEST(CacheMapRecovery, SeparateFilesNoRecordNamesAreRecoveredAndOpen)
{
    for (Layout layout : {Layout::Flat, Layout::Nested}) {
        SCOPED_TRACE(layout == Layout::Flat ? "flat" : "nested");
        TempDir dir;
        MozillaCacheWriter w;
        w.SetLayout(layout);
        auto& live = w.Add("http://g.example/live.bin", std::string(30000, 'L'), "application/octet-stream");
        live.dataFile = 0;
        live.metaFile = 0;
        // An entry whose record is gone but whose two separate files stand.
        auto& pair = w.Add("http://g.example/pair.bin", std::string(30000, 'P'), "application/pdf");
        pair.dataFile = 0;
        pair.metaFile = 0;
        pair.record = Record::None;
        // A body alone.
        w.AddOrphanBody(0x0ABCDEF1, 1, "orphan body bytes");
        w.Write(dir.path());

        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.Live(), std::vector<std::string>{"http://g.example/live.bin"});
        EXPECT_EQ(d.Recovered(), (std::vector<std::string>{"", "http://g.example/pair.bin"}));

        CCacheItem* withMeta = d.FindRecovered("http://g.example/pair.bin");
        ASSERT_TRUE(withMeta);
        EXPECT_STREQ(withMeta->GetContentType(), "application/pdf");
        EXPECT_EQ(withMeta->GetSize(), 30000);
        ASSERT_TRUE(withMeta->PrepareFile());
        EXPECT_EQ(ReadWholeFile(withMeta->GetFilePath()), std::string(30000, 'P'));

        CCacheItem* body = d.FindRecovered("");
        ASSERT_TRUE(body);
        EXPECT_STREQ(body->GetCacheName(),
                     MozillaCacheWriter::SeparateName(0x0ABCDEF1, 'd', 1, layout).c_str());
        EXPECT_EQ(body->GetSize(), 17);
        EXPECT_TRUE(body->Exists());
        ASSERT_TRUE(body->PrepareFile());
        EXPECT_EQ(ReadWholeFile(body->GetFilePath()), "orphan body bytes");
        EXPECT_TRUE(body->IsRecovered());
        // The live entry's own separate files are never listed as orphans.
        for (CCacheItem* item : RecoveredItems(*d.cache))
            EXPECT_STRNE(item->GetCacheName() ? item->GetCacheName() : "", live.dataFileName.c_str());
    }
}

TEST(CacheMapRecovery, RecoveredItemsStayOutOfCountsAndCacheNames)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://h.example/live", "x", "text/plain");
    w.Add("http://h.example/stale", "y", "text/plain").record = Record::Stale;
    w.AddOrphanBody(0x12345678, 2, "z");
    w.Write(dir.path());
    Decoded d = Decode(dir.path());
    EXPECT_EQ(d.cache->GetItemCount(), 1);
    EXPECT_EQ(d.cache->GetRecoveredCount(), 2);
    EXPECT_FALSE(d.cache->HasCacheName("12345678d02"));
    // A second decode lists them once.
    ASSERT_EQ(d.cache->Decode(nullptr, false), 0);
    EXPECT_EQ(d.cache->GetRecoveredCount(), 2);
}

TEST(CacheMapRecovery, SlotsThatLieAreBounded)
{
    // Every slot of a map made of records whose words are all set: none is
    // taken live twice, none names more than the bytes there.
    std::string map(276, '\0');
    map[1] = 0x01;
    map[3] = 0x13; // version 0x00010013
    for (int i = 0; i < 64; ++i) {
        std::string slot;
        for (uint32_t word : {uint32_t(i % 3 ? i : 0), 1u, 0x80FFFFFFu | uint32_t(i % 4) << 28, 0xB3FFFFFFu})
            for (int b = 3; b >= 0; --b)
                slot += char(word >> (8 * b));
        map += slot;
    }
    map += "tail"; // a cut slot at the end
    const ByteReader bytes(map);
    auto header = ParseCacheMapHeader(bytes);
    ASSERT_TRUE(header);
    std::vector<CacheMapRecord> live;
    ParseCacheMapRecords(bytes.sub(header->size, bytes.size()), header->buckets, 10, live);
    auto stale = FindStaleCacheMapRecords(bytes, *header, false, live, 1000);
    // All slots name one metadata place: the live ones hold it.
    EXPECT_TRUE(stale.empty());
    EXPECT_LE(FindStaleCacheMapRecords(bytes, *header, false, {}, 1000).size(), 1u);
    EXPECT_TRUE(FindStaleCacheMapRecords(bytes, *header, false, {}, 0).empty());
}

TEST(CacheMapRecovery, SeparateFileNamesAreReadInBothLayouts)
{
    struct Case {
        const char* name;
        bool valid;
        uint32_t hash;
        char kind;
        uint32_t generation;
    };
    const Case cases[] = {
        {"0A1B2C3Dd01", true, 0x0A1B2C3D, 'd', 1},   {"0a1b2c3dm1f", true, 0x0A1B2C3D, 'm', 0x1F},
        {"0/A1/B2C3DD01", true, 0x0A1B2C3D, 'd', 1}, {"_CACHE_MAP_", false, 0, 0, 0},
        {"0A1B2C3Dx01", false, 0, 0, 0},            {"0A1B2C3d01", false, 0, 0, 0},
        {"0/A1/B2C3Gd01", false, 0, 0, 0},          {"", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto parsed = ParseCacheMapSeparateName(c.name);
        ASSERT_EQ(parsed.has_value(), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(parsed->hashNumber, c.hash);
        EXPECT_EQ(parsed->kind, c.kind);
        EXPECT_EQ(parsed->generation, c.generation);
    }
}

} // namespace
} // namespace oriel::test
