#include "ops/Timeline.h"

#include "model/CacheItem.h"
#include "support/FakeCache.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sstream>

namespace oriel {
namespace {

using test::FakeCache;

struct Times {
    int64_t modified = 0, downloaded = 0, expires = 0, accessed = 0;
};

std::unique_ptr<CCacheItem> MakeItem(CCache& cache, const std::string& url, Times t, const char* type = "text/html",
                                     int32_t size = 10, const std::string& cacheName = "AB\\x[1].htm")
{
    auto item = std::make_unique<CFileCacheItem>(&cache, cache.GetItemCount(), url, "/x", cacheName,
                                                 type ? OptText(type) : std::nullopt, size, t.modified, t.downloaded,
                                                 t.expires);
    item->SetLastAccessed(t.accessed);
    return item;
}

// (time, description) of every event, in order.
std::vector<std::pair<int64_t, std::string>> Described(const Timeline& timeline)
{
    std::vector<std::pair<int64_t, std::string>> out;
    for (const TimelineEvent& e : timeline.Events())
        out.emplace_back(e.time, TimeKindsText(e.kinds));
    return out;
}

TEST(Timeline, EachDistinctTimeOfAnItemIsOneEventAndNoTimeGivesNone)
{
    using Events = std::vector<std::pair<int64_t, std::string>>;
    const struct {
        const char* what;
        Times times;
        Events events;
        size_t outOfRange;
    } rows[] = {
        {"no times", {0, 0, 0, 0}, {}, 0},
        {"-1 is no time either", {-1, -1, -1, -1}, {}, 0},
        {"four distinct times, in kind order",
         {400, 100, 300, 200},
         {{400, "Last Modified"}, {100, "Downloaded"}, {300, "Expires"}, {200, "Last Accessed"}},
         0},
        {"one stored field read as download and last access",
         {50, 100, 0, 100},
         {{50, "Last Modified"}, {100, "Downloaded; Last Accessed"}},
         0},
        {"every time the same", {7, 7, 7, 7}, {{7, "Last Modified; Downloaded; Expires; Last Accessed"}}, 0},
        {"only an expiry", {0, 0, 1243857600, 0}, {{1243857600, "Expires"}}, 0},
        {"before 1970", {-86400, 0, 0, 0}, {{-86400, "Last Modified"}}, 0},
        {"times a damaged record gives are left out and counted",
         {Timeline::kLatest + 1, Timeline::kEarliest - 1, Timeline::kLatest, 0},
         {{Timeline::kLatest, "Expires"}},
         2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FakeCache cache;
        auto item = MakeItem(cache, "http://a/x", row.times);
        Timeline timeline;
        timeline.AddItem(timeline.AddSource({}), *item);
        EXPECT_EQ(Described(timeline), row.events);
        EXPECT_EQ(timeline.OutOfRangeCount(), row.outOfRange);
    }
}

TEST(Timeline, ALastModifiedDateKeptAsTextCountsAtTheTimeItDenotes)
{
    FakeCache cache;
    auto item = MakeItem(cache, "http://a/x", {0, 100, 0, 0});
    item->SetLastModifiedText("Mon, 01 Jun 2009 12:00:00 GMT");
    Timeline timeline;
    timeline.AddItem(timeline.AddSource({}), *item);
    EXPECT_EQ(Described(timeline), (std::vector<std::pair<int64_t, std::string>>{
                                        {1243857600, "Last Modified"}, {100, "Downloaded"}}));
}

TEST(Timeline, EventsOfEveryCacheAreSortedByTimeAndRecoveredItemsComeOnlyWhenAsked)
{
    FakeCache first, second;
    first.decode = [](FakeCache& c) {
        c.AddItem("a", MakeItem(c, "http://a/1", {30, 10, 0, 0}));
        auto gone = MakeItem(c, "http://a/gone", {0, 15, 0, 0});
        gone->SetRecovered(false);
        c.AddRecoveredItem(std::move(gone));
        return 0;
    };
    second.decode = [](FakeCache& c) {
        c.AddItem("b", MakeItem(c, "http://b/1", {20, 10, 0, 0}));
        return 0;
    };
    ASSERT_EQ(first.Decode(nullptr, false), 0);
    ASSERT_EQ(second.Decode(nullptr, false), 0);

    for (bool withRecovered : {false, true}) {
        SCOPED_TRACE(withRecovered);
        Timeline timeline;
        timeline.AddCache(timeline.AddSource({"X", "first", "/f", ""}), first, withRecovered);
        timeline.AddCache(timeline.AddSource({"Y", "second", "/s", ""}), second, withRecovered);
        timeline.Sort();
        std::vector<std::string> order;
        for (const TimelineEvent& e : timeline.Events())
            order.push_back(std::to_string(e.time) + " " + e.item->GetURL() + (e.item->IsRecovered() ? " R" : ""));
        // One time: the order the caches were added in.
        std::vector<std::string> expected{"10 http://a/1", "10 http://b/1", "15 http://a/gone R", "20 http://b/1",
                                          "30 http://a/1"};
        if (!withRecovered)
            expected.erase(expected.begin() + 2);
        EXPECT_EQ(order, expected);
    }
}

TEST(Timeline, IsoTimesAreUtcWithTheirOffset)
{
    const std::pair<int64_t, const char*> rows[] = {
        {0, "1970-01-01T00:00:00+00:00"},
        {1243857600, "2009-06-01T12:00:00+00:00"},
        {951825599, "2000-02-29T11:59:59+00:00"},
        {-1, "1969-12-31T23:59:59+00:00"},
        {Timeline::kEarliest, "1601-01-01T00:00:00+00:00"},
        {Timeline::kLatest, "9999-12-31T23:59:59+00:00"},
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(IsoUtcTime(seconds), text) << seconds;
}

// The records of an RFC 4180 text: quoted fields with doubled quotes,
// records ended by CR LF.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records(1);
    std::string field;
    bool quoted = false, wasQuoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = wasQuoted = true;
        } else if (c == ',') {
            records.back().push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            records.back().push_back(field);
            field.clear();
            records.emplace_back();
            ++i;
        } else {
            EXPECT_NE(c, '\n') << "a bare line feed at " << i;
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "unbalanced quotes";
    EXPECT_TRUE(field.empty() && records.back().empty()) << "the last record has no line end";
    records.pop_back();
    (void)wasQuoted;
    return records;
}

struct HostileTimeline {
    FakeCache cache{"/cache"};
    Timeline timeline;

    HostileTimeline()
    {
        cache.decode = [](FakeCache& c) {
            c.AddItem("a", MakeItem(c, "http://a/x?q=\"1\",2\r\nthree", {0, 1243857600, 0, 1243857600}, "text/html",
                                    1234, "=HYPERLINK(\"http://evil/\")"));
            c.AddItem("b", MakeItem(c, std::string("http://b/caf\xC3\xA9\xFF"), {1243857601, 0, 0, 0}, nullptr, 0,
                                    "-2+3"));
            return 0;
        };
        EXPECT_EQ(cache.Decode(nullptr, false), 0);
        timeline.AddCache(timeline.AddSource({"Internet Explorer", "Jane, \"home\"", "/cache", "/cache/index.dat"}),
                          cache, false);
        timeline.Sort();
    }
};

TEST(Timeline, CsvIsRfc4180WithTheTimesketchColumnsAndHostileTextStaysInItsField)
{
    HostileTimeline h;
    std::ostringstream out;
    ASSERT_TRUE(WriteTimelineCsv(out, h.timeline));
    const auto records = ParseCsv(out.str());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"message", "datetime", "timestamp_desc", "timestamp", "url",
                                                    "browser", "profile", "cache_name", "size", "content_type",
                                                    "recovered", "source_file"}));
    // Line breaks inside a text become \x escapes: one record, one line.
    const std::string url = "http://a/x?q=\"1\",2\\x0d\\x0athree";
    EXPECT_EQ(records[1], (std::vector<std::string>{"Downloaded; Last Accessed: " + url, "2009-06-01T12:00:00+00:00",
                                                    "Downloaded; Last Accessed", "1243857600000000", url,
                                                    "Internet Explorer", "Jane, \"home\"",
                                                    "'=HYPERLINK(\"http://evil/\")", "1234", "text/html", "false",
                                                    "/cache/index.dat"}));
    // A byte that is not UTF-8 as its Latin-1 character; a formula-looking
    // name made text; no content type, an empty field.
    EXPECT_EQ(records[2][4], "http://b/caf\xC3\xA9\xC3\xBF");
    EXPECT_EQ(records[2][7], "'-2+3");
    EXPECT_EQ(records[2][9], "");
    EXPECT_EQ(records[2][3], "1243857601000000");
}

TEST(Timeline, JsonLinesCarryTheSameFieldsWithTheirExactText)
{
    HostileTimeline h;
    std::ostringstream out;
    ASSERT_TRUE(WriteTimelineJsonl(out, h.timeline));
    std::vector<QJsonObject> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        QJsonParseError error{};
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        lines.push_back(doc.object());
    }
    ASSERT_EQ(lines.size(), 2u);
    const QJsonObject& first = lines[0];
    EXPECT_EQ(first.keys().size(), 12);
    EXPECT_EQ(first["url"].toString().toStdString(), "http://a/x?q=\"1\",2\r\nthree");
    EXPECT_EQ(first["cache_name"].toString().toStdString(), "=HYPERLINK(\"http://evil/\")");
    EXPECT_EQ(first["timestamp"].toInteger(), 1243857600000000LL);
    EXPECT_EQ(first["datetime"].toString(), "2009-06-01T12:00:00+00:00");
    EXPECT_EQ(first["timestamp_desc"].toString(), "Downloaded; Last Accessed");
    EXPECT_EQ(first["size"].toInt(), 1234);
    EXPECT_EQ(first["recovered"].toBool(true), false);
    EXPECT_EQ(first["source_file"].toString(), "/cache/index.dat");
    EXPECT_TRUE(lines[1]["content_type"].isNull());
    EXPECT_EQ(lines[1]["url"].toString(), QString::fromUtf8("http://b/caf\xC3\xA9\xC3\xBF"));
}

TEST(Timeline, TheSourceFileOfAFormatWithoutAnIndexIsTheItemsOwnFile)
{
    FakeCache cache("/cache2");
    auto item = MakeItem(cache, "http://a/x", {0, 5, 0, 0}, "text/html", 1, "entries/ABCDEF");
    Timeline timeline;
    timeline.AddItem(timeline.AddSource({"Firefox", "p", "/cache2", ""}), *item);
    std::ostringstream out;
    ASSERT_TRUE(WriteTimelineJsonl(out, timeline));
    EXPECT_NE(out.str().find("\"source_file\":\"/cache2/entries/ABCDEF\""), std::string::npos) << out.str();
}

} // namespace
} // namespace oriel
