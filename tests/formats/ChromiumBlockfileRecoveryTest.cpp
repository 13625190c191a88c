// Entries of a Chromium blockfile cache that no chain reaches but whose
// records still stand whole in data_1: listed apart from the live items
// with every field a live entry has, taken only when the key stands whole
// and hashes to the record's hash, and never with another entry's bytes
// for a body.
#include "formats/ChromiumBlockfileCache.h"
#include "formats/ChromiumBlockfileRecovery.h"

#include "formats/ChromiumCacheItems.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

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

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

uint32_t Get32(const std::string& bytes, size_t at)
{
    return uint8_t(bytes[at]) | uint32_t(uint8_t(bytes[at + 1])) << 8 | uint32_t(uint8_t(bytes[at + 2])) << 16 |
           uint32_t(uint8_t(bytes[at + 3])) << 24;
}

void Put32(std::string& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char(v >> (8 * i));
}

// Where the record at a data_N address starts in its file.
size_t RecordOffset(uint32_t address)
{
    return 8192 + size_t(address & 0xFFFF) * 256;
}

struct Decoded {
    std::unique_ptr<ChromiumBlockfileCache> cache;
    int result = 0;
    std::vector<CCacheItem*> live;
    std::vector<CCacheItem*> recovered;

    CCacheItem* Recovered(const std::string& url) const
    {
        for (CCacheItem* item : recovered) {
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
    d.result = d.cache->Decode(nullptr, false);
    d.live = test::Items(*d.cache);
    d.recovered = test::RecoveredItems(*d.cache);
    return d;
}

std::vector<std::string> SortedUrls(const std::vector<CCacheItem*>& items)
{
    std::vector<std::string> urls;
    for (CCacheItem* item : items)
        urls.push_back(item->GetURL() ? item->GetURL() : "(null)");
    std::sort(urls.begin(), urls.end());
    return urls;
}

std::string Property(CCacheItem* item, const std::string& label)
{
    for (const auto& [name, text] : item->GetProperties()) {
        if (name == label)
            return text;
    }
    return "(none)";
}

std::string PreparedBody(CCacheItem* item)
{
    if (!item->PrepareFile() || !item->GetFilePath())
        return "<none>";
    return ReadAll(item->GetFilePath());
}

std::string SiteKey(CCacheItem* item)
{
    if (auto* file = dynamic_cast<CChromiumFileItem*>(item))
        return file->GetSiteKey();
    if (auto* embedded = dynamic_cast<CChromiumEmbeddedItem*>(item))
        return embedded->GetSiteKey();
    return "?";
}

TEST(ChromiumKeyHash, PublishedVectorsAndBothImplementationsAgree)
{
    // The vectors Chromium's own tests give for its string hash, and the
    // one the sfhash crate documents.
    std::string nul1 = "hello  world";
    nul1[5] = '\0';
    std::string nul2 = "hello  worle";
    nul2[5] = '\0';
    std::string high;
    for (int i = 0; i < 4096; ++i)
        high.push_back(char((i % 256) - 128));
    const std::pair<std::string, uint32_t> vectors[] = {
        {"", 0u},
        {"hello world", 2794219650u},
        {"helmo world", 1006697176u},
        {nul1, 2319902537u},
        {nul2, 553904462u},
        {high, 2797962408u},
        {"hello w\xab", 615571198u},
        {"hello wo\xab", 623474296u},
        {"hello wor\xab", 4278562408u},
        {"hello worl\xab", 3224633008u},
        {"Hello World!", 1774740540u},
    };
    for (const auto& [text, hash] : vectors) {
        EXPECT_EQ(SuperFastHash(text), hash) << text.size();
        EXPECT_EQ(test::ChromiumKeyHash(text), hash) << text.size();
    }
    std::mt19937 random(7);
    for (size_t length = 0; length < 70; ++length) {
        std::string key;
        for (size_t i = 0; i < length; ++i)
            key.push_back(char(random()));
        EXPECT_EQ(SuperFastHash(key), test::ChromiumKeyHash(key)) << length;
    }
}

TEST(ChromiumBlockfileRecoveryParsers, EntryBlocksAndBitmap)
{
    EXPECT_EQ(blockfile::EntryBlocksForKey(1), 1u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(159), 1u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(160), 2u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(415), 2u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(416), 3u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(927), 4u);
    EXPECT_EQ(blockfile::EntryBlocksForKey(928), 1u); // stored apart

    std::string header(8192, '\0');
    Put32(header, 80, 0x80000001u);
    Put32(header, 80 + 4 * 2027, 0x80000000u);
    EXPECT_TRUE(blockfile::BitmapMarksUsed(ByteReader(header), 0));
    EXPECT_FALSE(blockfile::BitmapMarksUsed(ByteReader(header), 1));
    EXPECT_TRUE(blockfile::BitmapMarksUsed(ByteReader(header), 31));
    EXPECT_TRUE(blockfile::BitmapMarksUsed(ByteReader(header), 2027 * 32 + 31));
    EXPECT_FALSE(blockfile::BitmapMarksUsed(ByteReader(header), 2028 * 32));
    EXPECT_FALSE(blockfile::BitmapMarksUsed(ByteReader(std::string_view(header).substr(0, 84)), 32));
}

constexpr const char* kPng = "HTTP/1.1 200 OK\nContent-Type: image/png";

// Live entries and deleted ones of every kind, in one cache.
ChromiumBlockfileWriter Mixed(bool withDeleted)
{
    ChromiumBlockfileWriter w;
    w.tableLength = 4;
    w.Add("https://www.example.com/", "<html>home</html>", "HTTP/1.1 200 OK\nContent-Type: text/html");
    if (withDeleted) {
        auto& freed = w.Add("https://www.example.com/gone.png", std::string(3000, 'G'), kPng);
        freed.deleted = true;
        freed.created = 1600000000;
        freed.modified = 1600000100;
        freed.responded = 1600000050;
    }
    w.Add("https://cdn.example.net/app.js", std::string(40000, 'j'), "HTTP/1.1 200 OK");
    if (withDeleted) {
        auto& site = w.Add("1/0/_dk_https://s.example https://s.example https://ads.example.org/gone.gif", "GIF89a",
                           "HTTP/1.1 200 OK\nContent-Type: image/gif");
        site.deleted = true;
        auto& longKey = w.Add("https://www.example.com/long?" + std::string(2000, 'q'), "long body", kPng);
        longKey.deleted = true;
        auto& twoBlocks = w.Add("https://www.example.com/two?" + std::string(300, 'r'), "two", kPng);
        twoBlocks.deleted = true;
        auto& unlinked = w.Add("https://www.example.com/unlinked", std::string(30000, 'u'), kPng);
        unlinked.deleted = true;
        unlinked.stillAllocated = true;
        // Keys in separate files: one unlinked (its key file still there),
        // one freed (its key file deleted with it: nothing to check the
        // hash against).
        auto& huge = w.Add("https://www.example.com/huge?" + std::string(17000, 'h'), "huge", kPng);
        huge.deleted = true;
        huge.stillAllocated = true;
        auto& hugeFreed = w.Add("https://www.example.com/huge-freed?" + std::string(17000, 'h'), "freed", kPng);
        hugeFreed.deleted = true;
    }
    w.Add("https://www.example.com/logo.png", std::string(5000, 'P'), kPng);
    return w;
}

TEST(ChromiumBlockfileRecovery, DeletedEntriesAreRecoveredWithEveryFieldAndTheLiveListingStaysAsItWas)
{
    TempDir plain, mixed;
    Mixed(false).Write(plain.path());
    Mixed(true).Write(mixed.path());
    Decoded before = Decode(plain.path());
    Decoded d = Decode(mixed.path());
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(before.recovered.empty());
    EXPECT_EQ(SortedUrls(d.live), SortedUrls(before.live));
    EXPECT_EQ(d.cache->GetItemCount(), 3);
    EXPECT_EQ(SortedUrls(d.recovered),
              (std::vector<std::string>{"https://ads.example.org/gone.gif", "https://www.example.com/gone.png",
                                        "https://www.example.com/huge?" + std::string(17000, 'h'),
                                        "https://www.example.com/long?" + std::string(2000, 'q'),
                                        "https://www.example.com/two?" + std::string(300, 'r'),
                                        "https://www.example.com/unlinked"}));
    for (CCacheItem* item : d.recovered) {
        SCOPED_TRACE(item->GetURL());
        EXPECT_TRUE(item->IsRecovered());
        EXPECT_FALSE(item->IsPartial());
        EXPECT_GE(item->GetRecordKey(), 3); // after the live ones
        EXPECT_EQ(Property(item, "Recovered record"), "whole");
    }
    for (CCacheItem* item : d.live)
        EXPECT_FALSE(item->IsRecovered());

    CCacheItem* gone = d.Recovered("https://www.example.com/gone.png");
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->GetSize(), 3000);
    EXPECT_EQ(gone->GetDownloaded(), 1600000050);
    EXPECT_EQ(gone->GetLastModified(), 1600000100);
    EXPECT_EQ(gone->GetLastAccessed(), 1600000110);
    EXPECT_STREQ(gone->GetContentType(), "image/png");
    EXPECT_STREQ(gone->GetDisplayCacheName(), "<Internal to data_2>");
    EXPECT_EQ(PreparedBody(gone), std::string(3000, 'G'));
    EXPECT_EQ(Property(gone, "Entry state"), "normal");
    const std::string from = Property(gone, "Recovered from");
    EXPECT_EQ(from.rfind("data_1 block ", 0), 0u) << from;
    EXPECT_NE(from.find("a free block"), std::string::npos) << from;

    CCacheItem* site = d.Recovered("https://ads.example.org/gone.gif");
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(SiteKey(site), "https://s.example https://s.example");
    EXPECT_EQ(PreparedBody(site), "GIF89a");

    CCacheItem* longKey = d.Recovered("https://www.example.com/long?" + std::string(2000, 'q'));
    ASSERT_NE(longKey, nullptr);
    EXPECT_EQ(PreparedBody(longKey), "long body");
    CCacheItem* huge = d.Recovered("https://www.example.com/huge?" + std::string(17000, 'h'));
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(PreparedBody(huge), "huge");
    CCacheItem* two = d.Recovered("https://www.example.com/two?" + std::string(300, 'r'));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(PreparedBody(two), "two");

    // Unlinked but not freed: its blocks and its separate file still there.
    CCacheItem* unlinked = d.Recovered("https://www.example.com/unlinked");
    ASSERT_NE(unlinked, nullptr);
    EXPECT_NE(Property(unlinked, "Recovered from").find("allocated but in no chain"), std::string::npos);
    EXPECT_EQ(PreparedBody(unlinked), std::string(30000, 'u'));

    // The live items keep their bodies and properties.
    for (CCacheItem* item : d.live)
        EXPECT_EQ(Property(item, "Recovered from"), "(none)");
}

TEST(ChromiumBlockfileRecovery, ABodyWhoseBlocksALaterEntryTookIsLeftOut)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    auto& taken = w.Add("https://a.example/old.png", std::string(900, 'o'), kPng);
    taken.deleted = true;
    taken.bodyTaken = true;
    w.Add("https://a.example/new.png", std::string(300, 'n'), kPng);
    // A freed entry whose body lay in a separate file, now gone.
    auto& apart = w.Add("https://a.example/apart.png", std::string(100, 'a'), kPng);
    apart.deleted = true;
    apart.bodyApart = true;
    w.Write(dir.path());

    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.live.size(), 1u);
    EXPECT_EQ(PreparedBody(d.live[0]), std::string(300, 'n'));
    ASSERT_EQ(d.recovered.size(), 2u);

    CCacheItem* old = d.Recovered("https://a.example/old.png");
    ASSERT_NE(old, nullptr);
    EXPECT_TRUE(old->IsPartial());
    EXPECT_EQ(old->GetSize(), 900);
    EXPECT_STREQ(old->GetContentType(), "image/png"); // the headers still stand
    EXPECT_FALSE(old->Exists());
    EXPECT_EQ(PreparedBody(old), "<none>");
    const std::string state = Property(old, "Recovered record");
    EXPECT_NE(state.find("the body is missing"), std::string::npos) << state;
    EXPECT_NE(state.find("a live entry's data"), std::string::npos) << state;

    CCacheItem* gone = d.Recovered("https://a.example/apart.png");
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->IsPartial());
    EXPECT_FALSE(gone->Exists());
    EXPECT_NE(Property(gone, "Recovered record").find("f_000001 is gone"), std::string::npos);
}

TEST(ChromiumBlockfileRecovery, RecordsWhoseKeyIsCutOrDoesNotHashToTheirHashAreNotTaken)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    w.Add("https://a.example/live", "live", "HTTP/1.1 200 OK");
    for (const char* name : {"hash", "nul", "apart", "length", "good"}) {
        auto& e = w.Add(std::string("https://a.example/") + name, name, "HTTP/1.1 200 OK");
        e.deleted = true;
        e.stillAllocated = std::string(name) == "apart";
        e.keyApart = std::string(name) == "apart";
    }
    std::vector<uint32_t> addresses;
    w.Write(dir.path(), &addresses);
    ASSERT_EQ(addresses.size(), 6u);
    std::string data1 = ReadAll(dir.file("data_1"));
    // A flipped bit of the hash.
    data1[RecordOffset(addresses[1])] ^= 1;
    // The inline key's NUL overwritten.
    const size_t nul = RecordOffset(addresses[2]) + 96 + Get32(data1, RecordOffset(addresses[2]) + 32);
    data1[nul] = 'x';
    // The key stored apart overwritten in its blocks.
    const uint32_t keyAddress = Get32(data1, RecordOffset(addresses[3]) + 36);
    ASSERT_EQ((keyAddress >> 16) & 0xFF, 1u);
    data1[RecordOffset(keyAddress) + 20] ^= 0x20;
    // A key length that runs past the key (the hash no longer matches).
    Put32(data1, RecordOffset(addresses[4]) + 32, Get32(data1, RecordOffset(addresses[4]) + 32) - 1);
    WriteAll(dir.file("data_1"), data1);

    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.live.size(), 1u);
    EXPECT_EQ(SortedUrls(d.recovered), (std::vector<std::string>{"https://a.example/good"}));
}

TEST(ChromiumBlockfileRecovery, HostileBlocksAndBitmapsEndCleanly)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    w.Add("https://a.example/live", "live", "HTTP/1.1 200 OK");
    auto& e = w.Add("https://a.example/gone", "gone", "HTTP/1.1 200 OK");
    e.deleted = true;
    std::vector<uint32_t> addresses;
    w.Write(dir.path(), &addresses);
    const std::string data1 = ReadAll(dir.file("data_1"));
    const std::string record = data1.substr(RecordOffset(addresses[1]), 256);

    // Every block of data_1 after the written ones a copy of the deleted
    // record, its streams pointing at one another's blocks and into a
    // block file that is not there, some blocks random; the bitmap all
    // set, all clear, or random; the file going on in itself.
    std::mt19937 random(11);
    const uint32_t written = uint32_t((data1.size() - 8192) / 256);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        std::string hostile = data1;
        for (size_t i = 80; i < 8192 && round > 0; ++i)
            hostile[i] = round == 1 ? char(0xFF) : round == 2 ? char(0) : char(random());
        hostile[10] = round == 3 ? 1 : 0; // next file: data_1 itself
        for (uint32_t b = written; b < 65536; ++b) {
            std::string copy = record;
            Put32(copy, 56, 0x80000000u | 2u << 28 | 3u << 24 | 1u << 16 | (b * 7) % 65536);
            Put32(copy, 60, 0xA0FF0000u | b);
            if (round == 3 && b % 2)
                for (char& c : copy)
                    c = char(random());
            hostile += copy;
        }
        WriteAll(dir.file("data_1"), hostile);
        Decoded d = Decode(dir.path());
        EXPECT_EQ(d.result, 0);
        ASSERT_EQ(d.live.size(), 1u);
        EXPECT_STREQ(d.live[0]->GetURL(), "https://a.example/live");
        // The live entry's record is never read as a recovered one.
        ASSERT_FALSE(d.recovered.empty());
        for (CCacheItem* item : d.recovered)
            EXPECT_STREQ(item->GetURL(), "https://a.example/gone");
        EXPECT_LE(d.recovered.size(), size_t(65536));
        // The copies' bodies lie in a file that is not there: none shows
        // one.
        for (size_t i = 1; i < std::min<size_t>(d.recovered.size(), 50); ++i)
            EXPECT_EQ(PreparedBody(d.recovered[i]), "<none>");
    }
}

TEST(ChromiumBlockfileRecovery, SyntheticCacheWithDeletedEntries)
{
    TempDir dir;
    test::SynthOptions options;
    options.entries = 60;
    options.deleted = 10;
    test::WriteSyntheticChromiumCache(dir.path(), options);
    Decoded d = Decode(dir.path());
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.live.size(), 50u);
    ASSERT_EQ(d.recovered.size(), 10u);
    int partial = 0;
    for (CCacheItem* item : d.recovered) {
        if (item->IsPartial()) {
            ++partial;
            EXPECT_EQ(PreparedBody(item), "<none>");
        } else {
            EXPECT_NE(PreparedBody(item), "<none>") << item->GetURL();
        }
    }
    EXPECT_GE(partial, 1);
}

} // namespace
} // namespace oriel
