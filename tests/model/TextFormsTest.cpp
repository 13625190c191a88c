#include "model/TextForms.h"

#include <gtest/gtest.h>

namespace oriel {
namespace {

TEST(TextForms, SizesGroupDigitsByThreeWithCommas)
{
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"},         {7, "7"},         {999, "999"},           {1000, "1,000"},
        {1234, "1,234"},  {12345, "12,345"}, {123456, "123,456"},  {1234567, "1,234,567"},
        {2147483647, "2,147,483,647"},      {-1234, "-1,234"},
    };
    for (auto [size, text] : cases)
        EXPECT_EQ(FormatSize(size), text) << size;
}

TEST(TextForms, DatesShowDayAndHourWithoutLeadingZeroInUtc)
{
    const std::pair<int64_t, const char*> cases[] = {
        {1765033504, "6/12/2025 3:05:04 PM"},  // afternoon
        {1167609600, "1/01/2007 12:00:00 AM"}, // midnight is 12 AM
        {1167652800, "1/01/2007 12:00:00 PM"}, // noon is 12 PM
        {1, "1/01/1970 12:00:01 AM"},
        {32535215999, "31/12/3000 11:59:59 PM"}, // the last second the runtime accepts
    };
    for (auto [time, text] : cases)
        EXPECT_EQ(FormatDate(time), text) << time;
}

// Days are remembered once made: days that share a slot of that memory
// (every 512th), a day met again later and the days around a leap day must
// each still show their own date.
TEST(TextForms, DatesStayRightWhenDaysRepeatOrShareTheirRememberedSlot)
{
    const int64_t day = 86400;
    const int64_t base = 1709164800; // 29/02/2024 00:00:00
    const std::pair<int64_t, const char*> cases[] = {
        {base - day + 5, "28/02/2024 12:00:05 AM"},
        {base + 3600 * 13, "29/02/2024 1:00:00 PM"},
        {base + day, "1/03/2024 12:00:00 AM"},
        {base + 512 * day, "25/07/2025 12:00:00 AM"}, // the slot of 29/02/2024
        {base + 7, "29/02/2024 12:00:07 AM"},         // back to the first
        {base + 1024 * day + 59, "19/12/2026 12:00:59 AM"},
        {base + 512 * day + 3599, "25/07/2025 12:59:59 AM"},
    };
    for (int round = 0; round < 2; ++round) {
        for (auto [time, text] : cases)
            EXPECT_EQ(FormatDate(time), text) << time;
    }
}

TEST(TextForms, UnsetAndOutOfRangeDatesShowEmptyText)
{
    for (int64_t time : {int64_t(0), int64_t(-1), int64_t(-86400), int64_t(32535216000), INT64_MAX, INT64_MIN})
        EXPECT_EQ(FormatDate(time), "") << time;
}

TEST(TextForms, FileTimesBecomeSecondsSince1970)
{
    // 2007-01-01 00:00:00 UTC
    uint64_t ft = (uint64_t(1167609600) + 11644473600ull) * 10000000ull;
    EXPECT_EQ(FileTimeToUnix(uint32_t(ft), uint32_t(ft >> 32)), 1167609600);
    // Sub-second ticks truncate toward zero.
    EXPECT_EQ(FileTimeToUnix(uint32_t(ft + 5000000), uint32_t((ft + 5000000) >> 32)), 1167609600);
    EXPECT_EQ(FileTimeToUnix(uint32_t(ft - 5000000), uint32_t((ft - 5000000) >> 32)), 1167609599);
    // A zero FILETIME is an unset field, not a date in 1601.
    EXPECT_EQ(FileTimeToUnix(0, 0), 0);
    // Real times before 1970 stay negative and show no date.
    EXPECT_LT(FileTimeToUnix(1, 0), 0);
    EXPECT_EQ(FormatDate(FileTimeToUnix(1, 0)), "");
}

TEST(TextForms, FatDateTimesAreReadAsUtc)
{
    // 2026-12-06 15:05:04: date = (46 << 9) | (12 << 5) | 6, time = (15 << 11) | (5 << 5) | 2
    uint16_t date = uint16_t((46 << 9) | (12 << 5) | 6);
    uint16_t time = uint16_t((15 << 11) | (5 << 5) | 2);
    EXPECT_EQ(FormatDate(FatDateTimeToUnix(date, time)), "6/12/2026 3:05:04 PM");
    EXPECT_EQ(FatDateTimeToUnix(uint16_t((0 << 9) | (1 << 5) | 1), 0), 315532800); // 1980-01-01
    EXPECT_EQ(FatDateTimeToUnix(0, 0), 0);                                        // day 0: no date
    EXPECT_EQ(FatDateTimeToUnix(uint16_t((1 << 9) | (13 << 5) | 1), 0), 0);       // month 13
}

TEST(TextForms, HttpDatesOfEachFormGiveTheirTime)
{
    struct Case {
        const char* text;
        std::optional<int64_t> time;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"sun, 06 NOV 1994 08:49:37 gmt", 784111777},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Wed, 21 Oct 2009 07:28:00 GMT", 1256110080},
        {"Sat, 29 Feb 2020 23:59:59 GMT", 1583020799},
        {"Fri, 01 Jan 2100 00:00:00 GMT", 4102444800},
        {"Mon, 01 Jan 1900 00:00:00 GMT", std::nullopt},
        {"Sun, 06 Xyz 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49", std::nullopt},
        {"06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"", std::nullopt},
        {"Sun, 123456789012345 Nov 1994 08:49:37 GMT", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseHttpDate(c.text), c.time);
    }
}

TEST(TextForms, UrlsSplitIntoSchemeHostAndPath)
{
    auto p = SplitUrl("http://www.example.com/a/b.gif?x=1");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scheme, "http");
    EXPECT_EQ(p->host, "www.example.com");
    EXPECT_EQ(p->path, "/a/b.gif?x=1");

    auto hostOnly = SplitUrl("https://example.org");
    ASSERT_TRUE(hostOnly);
    EXPECT_EQ(hostOnly->host, "example.org");
    EXPECT_EQ(hostOnly->path, "");

    auto visited = SplitUrl("Visited: jane@http://a.b/c");
    ASSERT_TRUE(visited);
    EXPECT_EQ(visited->scheme, "Visited: jane@http");
    EXPECT_EQ(visited->host, "a.b");

    EXPECT_FALSE(SplitUrl("about:blank"));
    EXPECT_FALSE(SplitUrl(""));
    auto leading = SplitUrl("//host/x");
    ASSERT_TRUE(leading);
    EXPECT_EQ(leading->scheme, "");
    EXPECT_EQ(leading->host, "host");
}

} // namespace
} // namespace oriel
