// The Netscape 4.0 fat.db decoder: record layouts and their content types,
// unsupported record versions (trace-log dump, question 1044, the option
// "IgnoreUnsupported"), duplicate cache names, "wysiwyg" and "INT_" records,
// hostile records.
#include "formats/NetscapeFatDBCache.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "support/CacheFolderTest.h"
#include "support/TestContext.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <optional>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

FatDbEntry Entry(const std::string& url, const std::string& name, uint32_t version = 4)
{
    FatDbEntry e;
    e.url = url;
    e.cacheName = name;
    e.version = version;
    return e;
}

constexpr const char* kQuestion = "Unsupported cache entry version found!\nOK to skip all further version errors this time?";

class NetscapeFatDBCacheTest : public CacheFolderTest<NetscapeFatDBCache> {
protected:
    int Decode(NetscapeDbWriter& w)
    {
        w.write(folder_);
        return DecodeFolder();
    }
};

TEST_F(NetscapeFatDBCacheTest, AnEntryGivesItsUrlCacheNameTypeSizeAndTimes)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    FatDbEntry e = Entry("http://www.example.com/a/b.gif", "M0A1B2C3.gif");
    e.contentType = "image/gif";
    e.size = 4321;
    e.lastModified = 900000000;
    e.downloaded = 950000000;
    e.expires = -1000;
    w.addFatEntry(e);
    WriteFile(folder_ + "/M0A1B2C3.gif", "GIF89a");
    ASSERT_EQ(Decode(w), 0);
    auto items = Items(*cache_);
    ASSERT_EQ(items.size(), 1u);
    CCacheItem& item = *items[0];
    EXPECT_STREQ(cache_->GetGroup(0)->GetName(), "www.example.com");
    EXPECT_STREQ(item.GetURL(), "http://www.example.com/a/b.gif");
    EXPECT_STREQ(item.GetURLPath(), "/a/b.gif");
    EXPECT_STREQ(item.GetCacheName(), "M0A1B2C3.gif");
    EXPECT_STREQ(item.GetContentType(), "image/gif");
    EXPECT_EQ(item.GetSize(), 4321);
    EXPECT_EQ(item.GetLastModified(), 900000000);
    EXPECT_EQ(item.GetDownloaded(), 950000000);
    EXPECT_EQ(item.GetExpires(), -1000);
    EXPECT_TRUE(item.Exists());
    EXPECT_EQ(item.GetRecordKey(), 0);
    EXPECT_TRUE(sink_->questions.empty());
}

TEST_F(NetscapeFatDBCacheTest, EveryLayoutGivesTheContentTypeAfterItsVariablePart)
{
    struct Case {
        const char* what;
        uint32_t version;
        uint8_t variant;
        uint32_t variantWord;
    } cases[] = {
        {"layout A, variant 0", 2, 0, 1},          {"layout A, variant 1 with a text", 3, 1, 5},
        {"layout A, variant 1 without", 4, 1, 0},  {"layout A, variant 2", 4, 2, 1},
        {"layout A, another variant", 4, 9, 1},    {"layout B", 5, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        FatDbEntry e = Entry("http://h/x", "M1.css", c.version);
        e.variant = c.variant;
        e.variantWord = c.variantWord;
        e.contentType = "text/css";
        w.addFatEntry(e);
        ASSERT_EQ(Decode(w), 0);
        auto items = Items(*cache_);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_STREQ(items[0]->GetContentType(), "text/css");
    }
}

TEST_F(NetscapeFatDBCacheTest, AnUnsupportedVersionAsksOnceAndLosesThePairsBeforeItInPageOrder)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/lost", "M1.htm"));
    w.addFatEntry(Entry("http://h/new", "M2.htm", 6));
    w.addFatEntry(Entry("http://h/kept", "M3.htm"));
    w.endPage();
    w.addFatEntry(Entry("http://h/next", "M4.htm"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/kept", "http://h/next"}));
    ASSERT_EQ(sink_->questions.size(), 1u);
    EXPECT_EQ(sink_->questions[0], kQuestion);
    EXPECT_EQ(sink_->questionIcons[0], MessageIcon::Question);
}

TEST_F(NetscapeFatDBCacheTest, AnsweringYesSuppressesTheQuestionForTheRestOfTheDecodeOnly)
{
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        sink_->questions.clear();
        sink_->answer = yes;
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        for (int page = 0; page < 3; ++page) {
            w.addFatEntry(Entry("http://h/" + std::to_string(page), "M" + std::to_string(page), 7));
            w.endPage();
        }
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(sink_->questions.size(), yes ? 1u : 3u);
        // A new decode asks again.
        sink_->questions.clear();
        ASSERT_EQ(cache_->Decode(nullptr, true), 0);
        EXPECT_EQ(sink_->questions.size(), yes ? 1u : 3u);
    }
}

TEST_F(NetscapeFatDBCacheTest, IgnoreUnsupportedAsksNothing)
{
    test::OptionsScope options;
    test::Options().ignoreUnsupported = 1;
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/lost", "M1.htm"));
    w.addFatEntry(Entry("http://h/new", "M2.htm", 6));
    w.endPage();
    w.addFatEntry(Entry("http://h/next", "M3.htm"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_TRUE(sink_->questions.empty());
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/next"}));
}

TEST_F(NetscapeFatDBCacheTest, AnUnsupportedRecordIsDumpedToTheTraceLog)
{
    const std::string log = dir_.file("t.log");
    std::optional<test::TraceCapture> trace(std::in_place, log);
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/new", "UNIQUE-NAME-IN-RECORD.htm", 6));
    ASSERT_EQ(Decode(w), 0);
    trace.reset();
    std::string text = ReadWholeFile(log);
    EXPECT_NE(text.find("UNIQUE-NAME-IN-RECORD.htm"), std::string::npos);
    // Only the record: its key (the URL) follows it in the page.
    EXPECT_EQ(text.find("http://h/new"), std::string::npos);
}

TEST_F(NetscapeFatDBCacheTest, TwoRecordsNamingOneFileGiveTheOneDecodedFirst)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/earlier", "SAME.htm"));
    w.addFatEntry(Entry("http://h/later", "SAME.htm"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/later"}));
}

TEST_F(NetscapeFatDBCacheTest, WysiwygAndInternalRecordsGiveNoItem)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/1", "M1.htm"));
    w.addFatEntry(Entry("wysiwyg://3/http://h/written", "M2.htm"));
    w.addFatEntry(Entry("http://h/internal", "M3.htm", NetscapeDbWriter::kInternalVersion));
    w.addFatEntry(Entry("http://h/4", "M4.htm"));
    ASSERT_EQ(Decode(w), 0);
    EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/4", "http://h/1"}));
    // The "wysiwyg" entry counts as decoded: the keys go on after it.
    std::vector<int32_t> keys;
    for (CCacheItem* item : Items(*cache_))
        keys.push_back(item->GetRecordKey());
    EXPECT_EQ(keys, (std::vector<int32_t>{0, 2}));
    EXPECT_TRUE(sink_->questions.empty());
}

TEST_F(NetscapeFatDBCacheTest, HostileRecordsAreSkippedWithoutLeavingThePage)
{
    struct Case {
        const char* what;
        std::function<void(std::string& key, std::string& data)> damage;
    } cases[] = {
        {"record length 0", [](std::string&, std::string& d) { d[0] = d[1] = d[2] = d[3] = 0; }},
        {"record length of a page", [](std::string&, std::string& d) { d[0] = 0; d[1] = 0x10; }},
        {"key length 0", [](std::string& k, std::string&) { k[0] = k[1] = k[2] = k[3] = 0; }},
        {"cache name longer than 10000 bytes", [](std::string&, std::string& d) { d[29] = char(0x11); d[30] = char(0x27); }},
        {"cache name running past the page", [](std::string&, std::string& d) { d[29] = char(0x10); d[30] = char(0x27); }},
        {"URL running past the page", [](std::string& k, std::string&) { k[4] = char(0x10); k[5] = char(0x27); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        w.addFatEntry(Entry("http://h/1", "M1.htm"));
        FatDbEntry bad = Entry("http://h/bad", "M2.htm");
        std::string key = NetscapeDbWriter::FatDbKey(bad), data = NetscapeDbWriter::FatDbData(bad);
        c.damage(key, data);
        w.addRawPair(key, data);
        w.addFatEntry(Entry("http://h/3", "M3.htm"));
        ASSERT_EQ(Decode(w), 0);
        EXPECT_EQ(Urls(*cache_), (std::vector<std::string>{"http://h/3", "http://h/1"}));
    }
}

TEST_F(NetscapeFatDBCacheTest, APageSizeAbove32768IsAnInvalidHeader)
{
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    w.addFatEntry(Entry("http://h/1", "M1.htm"));
    std::string bytes = w.build();
    bytes[12] = 0;
    bytes[13] = 0;
    bytes[14] = char(0x80);
    bytes[15] = 1;
    WriteFile(folder_ + "/fat.db", bytes);
    NetscapeFatDBCache cache(test::Context(), nullptr, folder_);
    EXPECT_EQ(cache.Decode(nullptr, true), -1);
    EXPECT_EQ(cache.GetItemCount(), 0);
    EXPECT_EQ(sink_->messages, (std::vector<std::string>{"Invalid cache database header information! Cannot decode.\n" +
                                                       folder_ + "/fat.db"}));
}

TEST_F(NetscapeFatDBCacheTest, ASyntheticCacheDecodesEveryEntry)
{
    ExpectEverySyntheticEntryPresent(&WriteSyntheticFatDbCache, 600);
}

} // namespace
} // namespace oriel::test
