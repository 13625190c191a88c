// The Opera dcache4.url decoder: header check, tagged records and fields,
// nested fields, content encoding names, the last-modified text, the 64-bit
// times of Opera 10 and later, bodies kept inside the index, hostile records.
#include "formats/OperaCache.h"

#include "formats/OperaContainerItem.h"
#include "formats/OperaInternalCacheItem.h"
#include "support/CacheFolderTest.h"
#include "support/Dcache4Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

OperaEntry Entry(const std::string& url, std::optional<std::string> cacheName = std::string("opr00001.tmp"))
{
    OperaEntry e;
    e.url = url;
    e.cacheName = std::move(cacheName);
    return e;
}

class OperaCacheTest : public CacheFolderTest<OperaCache> {
protected:
    OperaCacheTest()
        : CacheFolderTest("cache4")
    {
    }

    int Decode(const std::string& bytes)
    {
        WriteFile(folder_ + "/dcache4.url", bytes);
        return DecodeFolder();
    }
    int Decode(const Dcache4Writer& w) { return Decode(w.build()); }
};

TEST_F(OperaCacheTest, ARecordGivesEveryField)
{
    Dcache4Writer w;
    OperaEntry e = Entry("http://www.opera.example/img/logo.gif", "g_0001\\opr0000A.gif");
    e.contentType = "image/gif";
    e.size = 2048;
    e.downloaded = 1200000000;
    e.expires = 3000000000u; // unsigned: after 2038
    e.lastModifiedText = "Wed, 21 Oct 2009 07:28:00 GMT";
    w.addEntry(e);
    WriteFile(folder_ + "/g_0001/opr0000A.gif", "GIF89a");
    ASSERT_EQ(Decode(w), 0);
    ASSERT_EQ(cache_->GetGroupCount(), 1);
    EXPECT_STREQ(cache_->GetGroup(0)->GetName(), "www.opera.example");
    CCacheItem& item = OnlyItem();
    EXPECT_STREQ(item.GetURL(), "http://www.opera.example/img/logo.gif");
    EXPECT_STREQ(item.GetURLPath(), "/img/logo.gif");
    EXPECT_STREQ(item.GetCacheName(), "g_0001\\opr0000A.gif");
    EXPECT_STREQ(item.GetContentType(), "image/gif");
    EXPECT_EQ(item.GetSize(), 2048);
    EXPECT_EQ(item.GetDownloaded(), 1200000000);
    EXPECT_EQ(item.GetExpires(), 3000000000LL);
    EXPECT_EQ(item.GetLastModified(), 0);
    EXPECT_EQ(item.GetLastModifiedText(), "Wed, 21 Oct 2009 07:28:00 GMT");
    EXPECT_EQ(item.GetContentEncoding(), -1);
    EXPECT_EQ(item.GetRecordKey(), 1);
    EXPECT_TRUE(item.Exists());
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(OperaCacheTest, RecordsAreKeyedInFileOrderCountingEveryRecord)
{
    Dcache4Writer w;
    w.addEntry(Entry("http://h/1"));
    w.addRawRecord(2, "not an object");
    w.addEntry(Entry("no-slashes"));
    w.addEntry(Entry("http://h/4"));
    ASSERT_EQ(Decode(w), 0);
    std::vector<std::pair<std::string, int32_t>> got;
    for (CCacheItem* item : Items(*cache_))
        got.emplace_back(item->GetURL(), item->GetRecordKey());
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int32_t>>{{"http://h/1", 1}, {"http://h/4", 4}}));
}

TEST_F(OperaCacheTest, FieldsComeInAnyOrderAndALaterOneSetsTheValueAgain)
{
    std::string body = Dcache4Writer::Field(9, "text/plain") + Dcache4Writer::Flag(0x85) +
                       Dcache4Writer::Field(3, "http://h/first") + Dcache4Writer::Flag(0xFF) +
                       Dcache4Writer::Field(99, std::string(40, '\x03')) + Dcache4Writer::Field(3, "http://h/second") +
                       Dcache4Writer::Field(13, "opr1.tmp") + Dcache4Writer::Field(9, "text/html");
    Dcache4Writer w;
    w.addRawRecord(1, body);
    ASSERT_EQ(Decode(w), 0);
    CCacheItem& item = OnlyItem();
    EXPECT_STREQ(item.GetURL(), "http://h/second");
    EXPECT_STREQ(item.GetContentType(), "text/html");
    EXPECT_STREQ(item.GetCacheName(), "opr1.tmp");
}

TEST_F(OperaCacheTest, FieldsInsideANestedFieldAreTakenAsIfTheyStoodOutside)
{
    Dcache4Writer w;
    OperaEntry e = Entry("http://h/nested");
    e.nested = true;
    e.size = 77;
    e.encoding = "deflate";
    w.addEntry(e);
    // Two levels deep, then a field after the nested one.
    std::string inner = Dcache4Writer::Field(22, Dcache4Writer::U32(1300000000));
    std::string body = Dcache4Writer::Field(3, "http://h/deep") +
                       Dcache4Writer::Field(16, Dcache4Writer::Field(16, inner) + Dcache4Writer::Field(9, "a/b")) +
                       Dcache4Writer::Field(13, "deep.tmp");
    w.addRawRecord(1, body);
    ASSERT_EQ(Decode(w), 0);
    auto items = Items(*cache_);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->GetSize(), 77);
    EXPECT_EQ(items[0]->GetContentEncoding(), 3);
    EXPECT_EQ(items[0]->GetDownloaded(), 1200000000);
    EXPECT_EQ(items[1]->GetExpires(), 1300000000);
    EXPECT_STREQ(items[1]->GetContentType(), "a/b");
    EXPECT_STREQ(items[1]->GetCacheName(), "deep.tmp");
}

TEST_F(OperaCacheTest, ContentEncodingNamesAreComparedWithoutCase)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"gzip", 1},     {"GZIP", 1},     {"x-gzip", 1},        {"Deflate", 3}, {"compress", 2},
        {"x-compress", 2}, {"br", -1},    {"gzip, deflate", -1}, {"", -1},
    };
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OperaContentEncoding(name), expected);
        Dcache4Writer w;
        OperaEntry e = Entry("http://h/x");
        e.encoding = name;
        w.addEntry(e);
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(OnlyItem().GetContentEncoding(), expected);
    }
}

TEST_F(OperaCacheTest, SizesAndTimesTakeTheirPayloadWidth)
{
    struct Case {
        const char* what;
        bool wide;
        uint32_t high;
    } cases[] = {{"32-bit", false, 0}, {"64-bit", true, 0}, {"64-bit with a high word", true, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dcache4Writer w;
        OperaEntry e = Entry("http://h/x");
        e.size = 1000;
        e.wideSize = c.wide;
        e.sizeHighWord = c.high;
        e.wideTimes = c.wide;
        e.downloaded = 1262304000; // 1 January 2010
        e.expires = 1293840000;
        w.addEntry(e);
        ASSERT_EQ(Decode(w), 0);
        CCacheItem& item = OnlyItem();
        EXPECT_EQ(item.GetSize(), 1000);
        EXPECT_EQ(item.GetDownloaded(), 1262304000);
        EXPECT_EQ(item.GetExpires(), 1293840000);
        EXPECT_EQ(item.GetDownloadedText(), "1/01/2010 12:00:00 AM");
    }
}

TEST_F(OperaCacheTest, TimesOfOtherWidthsAreIgnored)
{
    std::string body = Dcache4Writer::Field(3, "http://h/x") + Dcache4Writer::Field(5, "\x01\x02") +
                       Dcache4Writer::Field(22, std::string(6, '\x01')) + Dcache4Writer::Field(8, "\x05");
    Dcache4Writer w;
    w.addRawRecord(1, body);
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(OnlyItem().GetDownloaded(), 0);
    EXPECT_EQ(OnlyItem().GetExpires(), 0);
    EXPECT_EQ(OnlyItem().GetSize(), 0);
}

TEST_F(OperaCacheTest, ARecordWithoutACacheFileOrBodyNeverExists)
{
    Dcache4Writer w;
    w.addEntry(Entry("http://h/x", std::nullopt));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(OnlyItem().GetCacheName(), nullptr);
    EXPECT_FALSE(OnlyItem().Exists());
}

TEST_F(OperaCacheTest, AnIndexOfOnlyItsHeaderHoldsNoItems)
{
    ASSERT_EQ(Decode(Dcache4Writer().build()), 0);
    EXPECT_EQ(cache_->GetItemCount(), 0);
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(OperaCacheTest, AFileVersionOutside4096To8191IsAnInvalidHeader)
{
    for (uint32_t version : {0u, 4095u, 8192u, 0x00020000u}) {
        SCOPED_TRACE(version);
        sink_->messages.clear();
        Dcache4Writer w;
        w.setFileVersion(version);
        w.addEntry(Entry("http://h/x"));
        EXPECT_EQ(Decode(w), -1);
        EXPECT_EQ(cache_->GetItemCount(), 0);
        EXPECT_TRUE(cache_->StopRequested());
        EXPECT_EQ(sink_->messages,
                  (std::vector<std::string>{"Invalid cache database header information! Cannot decode.\n" +
                                            folder_ + "/dcache4.url"}));
    }
    for (uint32_t version : {4096u, 8191u}) {
        Dcache4Writer w;
        w.setFileVersion(version);
        w.addEntry(Entry("http://h/x"));
        EXPECT_EQ(Decode(w), 0);
    }
    sink_->messages.clear();
    EXPECT_EQ(Decode(Dcache4Writer().build().substr(0, 11)), -1);
    EXPECT_EQ(sink_->messages.size(), 1u);
}

TEST_F(OperaCacheTest, HostileRecordsStayInsideTheirBytes)
{
    struct Case {
        const char* what;
        std::string body;
        std::vector<std::string> urls; // of the damaged record; the neighbours are always listed
    } cases[] = {
        {"field longer than its record", Dcache4Writer::Field(3, "http://h/bad") + std::string("\x09\x7F\xFF", 3), {"http://h/bad"}},
        {"length cut by the record's end", Dcache4Writer::Field(3, "http://h/bad") + std::string("\x09\x00", 2), {"http://h/bad"}},
        {"nested field longer than its parent",
         Dcache4Writer::Field(3, "http://h/bad") + std::string("\x10\x7F\x00", 3) + Dcache4Writer::Field(9, "x/y"),
         {"http://h/bad"}},
        {"field inside a nested field running past it",
         Dcache4Writer::Field(16, std::string("\x03\x00\x20", 3) + "http://h/") + Dcache4Writer::Field(3, "http://h/after"),
         {"http://h/after"}},
        {"nesting thousands deep",
         [] {
             std::string deep = Dcache4Writer::Field(3, "http://h/deep");
             std::string prefix;
             for (int i = 0; i < 20000; ++i)
                 prefix += std::string("\x10\xFF\xFF", 3);
             return prefix + deep;
         }(),
         {"http://h/deep"}},
        {"only flags", std::string(200, '\x99'), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dcache4Writer w;
        w.addEntry(Entry("http://h/before"));
        w.addRawRecord(1, c.body);
        w.addEntry(Entry("http://h/last"));
        ASSERT_EQ(Decode(w), 0);
        std::vector<std::string> expected{"http://h/before"};
        expected.insert(expected.end(), c.urls.begin(), c.urls.end());
        expected.push_back("http://h/last");
        std::vector<std::string> urls;
        for (CCacheItem* item : Items(*cache_))
            urls.push_back(item->GetURL());
        EXPECT_EQ(urls, expected);
    }
}

TEST_F(OperaCacheTest, AFileEndingInsideARecordKeepsTheItemsBefore)
{
    Dcache4Writer w;
    w.addEntry(Entry("http://h/1"));
    w.addEntry(Entry("http://h/2"));
    std::string bytes = w.build();
    for (size_t cut : {bytes.size() - 1, w.recordBodyOffset(2) - 2, w.recordBodyOffset(2) + 4}) {
        SCOPED_TRACE(cut);
        ASSERT_EQ(Decode(bytes.substr(0, cut)), 0);
        ASSERT_EQ(cache_->GetItemCount(), 1);
        EXPECT_STREQ(OnlyItem().GetURL(), "http://h/1");
    }
}

TEST_F(OperaCacheTest, ABodyKeptInTheIndexIsListedAndExtractedDecoded)
{
    const std::string html = "<html><body>kept inside dcache4.url</body></html>\n";
    Dcache4Writer w;
    OperaEntry e = Entry("http://h/page.html", std::nullopt);
    e.embeddedBody = GzipBytes(html);
    e.encoding = "gzip";
    e.contentType = "text/html";
    e.size = uint32_t(html.size());
    w.addEntry(e);
    ASSERT_EQ(Decode(w), 0);
    const std::string indexBefore = ReadWholeFile(folder_ + "/dcache4.url");

    auto* item = dynamic_cast<COperaInternalCacheItem*>(&OnlyItem());
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->GetDisplayCacheName(), "<Internal to dcache4.url>");
    EXPECT_EQ(item->GetDisplayCacheNameLength(), 25);
    EXPECT_TRUE(item->Exists());
    EXPECT_EQ(item->GetSize(), int32_t(html.size()));
    EXPECT_EQ(item->GetBodyOffset(), int64_t(w.recordBodyOffset(1) + Dcache4Writer::RecordBody(e).size() -
                                             e.embeddedBody->size()));
    EXPECT_EQ(item->GetFilePath(), nullptr);

    ASSERT_TRUE(item->PrepareFile());
    ASSERT_NE(item->GetFilePath(), nullptr);
    const std::string copy = item->GetFilePath();
    EXPECT_EQ(ReadWholeFile(copy), html);
    EXPECT_EQ(copy.rfind(platform::PrivateTempFolder(), 0), 0u) << "never beside the index: " << copy;

    ASSERT_TRUE(item->DeleteCacheFile());
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(ReadWholeFile(folder_ + "/dcache4.url"), indexBefore);

    ASSERT_TRUE(item->PrepareFile());
    const std::string again = item->GetFilePath();
    cache_.reset(); // destroying the item removes its copy
    EXPECT_FALSE(std::filesystem::exists(again));
}

TEST_F(OperaCacheTest, BodiesKeptInTheIndexDecodeByTheirEncoding)
{
    const std::string text = "plain text body, repeated repeated repeated\n";
    struct Case {
        const char* what;
        std::optional<std::string> encoding;
        std::string stored;
        std::string expected;
    } cases[] = {
        {"no encoding", std::nullopt, text, text},
        {"deflate with a zlib header", "deflate", DeflateBytes(text, true), text},
        {"raw deflate", "deflate", DeflateBytes(text, false), text},
        {"gzip that is not gzip", "gzip", text, text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dcache4Writer w;
        OperaEntry e = Entry("http://h/body.txt", std::nullopt);
        e.embeddedBody = c.stored;
        e.encoding = c.encoding;
        w.addEntry(e);
        ASSERT_EQ(Decode(w), 0);
        ASSERT_TRUE(OnlyItem().PrepareFile());
        EXPECT_EQ(ReadWholeFile(OnlyItem().GetFilePath()), c.expected);
    }
}

TEST_F(OperaCacheTest, ARecordWithACacheFileKeepsItEvenWithABodyField)
{
    Dcache4Writer w;
    OperaEntry e = Entry("http://h/x", "opr9.tmp");
    e.embeddedBody = "inline";
    w.addEntry(e);
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(dynamic_cast<COperaInternalCacheItem*>(&OnlyItem()), nullptr);
    EXPECT_STREQ(OnlyItem().GetCacheName(), "opr9.tmp");
}

TEST_F(OperaCacheTest, EachItemOfAContainerFileGivesItsOwnObject)
{
    const std::string first = "body of the first object\n";
    const std::string second = "<html>the second object</html>\n";
    const std::string third = "third, stored gzip-encoded\n";
    WriteFile(folder_ + "/opr00A01.tmp", OperaContainer({{7, first}, {3, second}, {9, GzipBytes(third)}}));
    WriteFile(folder_ + "/opr00A02.tmp", OperaContainer({{1, second}})); // one object, a 5-byte header
    const std::string containerBefore = ReadWholeFile(folder_ + "/opr00A01.tmp");
    Dcache4Writer w;
    struct Expected {
        const char* url;
        std::string body;
    };
    const Expected expected[] = {{"http://h/3", second}, {"http://h/7", first}, {"http://h/9", third},
                                 {"http://h/single", second}};
    OperaEntry e = Entry("http://h/3", "opr00A01.tmp");
    e.containerObject = 3;
    w.addEntry(e);
    e.url = "http://h/7";
    e.containerObject = 7;
    w.addEntry(e);
    e.url = "http://h/9";
    e.containerObject = 9;
    e.encoding = "gzip";
    w.addEntry(e);
    e = Entry("http://h/single", "opr00A02.tmp");
    e.containerObject = 1;
    w.addEntry(e);
    ASSERT_EQ(Decode(w), 0);
    std::vector<CCacheItem*> items = Items(*cache_);
    ASSERT_EQ(items.size(), 4u);
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(expected[i].url);
        auto* item = dynamic_cast<COperaContainerItem*>(items[i]);
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(item->GetURL(), expected[i].url);
        EXPECT_TRUE(item->Exists());
        ASSERT_TRUE(item->PrepareFile());
        EXPECT_EQ(ReadWholeFile(item->GetFilePath()), expected[i].body);
    }
    EXPECT_STREQ(items[0]->GetDisplayCacheName(), "opr00A01.tmp");
    // The size the record does not give is the object's stored length.
    EXPECT_EQ(items[1]->GetSize(), int32_t(first.size()));
    EXPECT_EQ(ReadWholeFile(folder_ + "/opr00A01.tmp"), containerBefore);
}

TEST_F(OperaCacheTest, AContainerThatDoesNotGiveTheObjectIsAMissingBody)
{
    const std::string a = "object a", b = "object bb";
    struct Case {
        const char* what;
        std::string container;
        uint8_t id;
    } cases[] = {
        {"id not in the header", OperaContainer({{1, a}, {2, b}}), 5},
        {"lengths short of the file", OperaContainer({{1, a}, {2, b}}) + "trailing", 1},
        {"lengths past the file", OperaContainer({{1, a}, {2, b}}).substr(0, 12), 1},
        {"header cut short", OperaContainer({{1, a}, {2, b}}).substr(0, 6), 1},
        {"no container signature", "plain body that is no container", 1},
        {"no objects", std::string{char(0x5A), char(0)}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(folder_ + "/opr1.tmp", c.container);
        Dcache4Writer w;
        OperaEntry e = Entry("http://h/x", "opr1.tmp");
        e.containerObject = c.id;
        w.addEntry(e);
        ASSERT_EQ(Decode(w), 0);
        EXPECT_FALSE(OnlyItem().Exists());
        EXPECT_FALSE(OnlyItem().PrepareFile());
    }
}

TEST_F(OperaCacheTest, AContainerNameLeavingTheFolderNamesNoBody)
{
    WriteFile(folder_ + "/../outside.tmp", OperaContainer({{1, "outside the cache"}}));
    Dcache4Writer w;
    OperaEntry e = Entry("http://h/x", "../outside.tmp");
    e.containerObject = 1;
    w.addEntry(e);
    ASSERT_EQ(Decode(w), 0);
    EXPECT_FALSE(OnlyItem().Exists());
    EXPECT_FALSE(OnlyItem().PrepareFile());
}

TEST_F(OperaCacheTest, ASyntheticCacheDecodesEveryEntryAsPresent)
{
    ExpectEverySyntheticEntryPresent(&WriteSyntheticOperaCache, 400);
}

} // namespace
} // namespace oriel::test
