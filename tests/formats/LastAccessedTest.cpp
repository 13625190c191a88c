// The time the browser last used an entry, from the field each format
// keeps it in; 0 for the formats that keep none.
#include "catalog/FormatCatalog.h"
#include "support/CacheContents.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/SyntheticFormats.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace oriel {
namespace {

enum class Expect {
    None,           // the format keeps no such time
    SameAsDownload, // one field stands for the download and the last use
    OwnField,       // a field of its own
};

TEST(LastAccessed, EachFormatGivesTheTimeItsRecordsKeep)
{
    std::vector<test::SyntheticFormat> formats = test::EverySyntheticFormat();
    formats.push_back({"chromium-simple", [](auto& f, auto& o) { test::WriteSyntheticChromiumSimpleCache(f, o); }});
    const std::map<std::string, Expect> expected{
        {"index-dat", Expect::SameAsDownload},      {"cache-db", Expect::None},
        {"fat-db", Expect::None},                   {"dcache4", Expect::None},
        {"mozilla-flat", Expect::SameAsDownload},   {"mozilla-nested", Expect::SameAsDownload},
        {"firefox-cache2", Expect::SameAsDownload}, {"chromium", Expect::OwnField},
        {"chromium-simple", Expect::OwnField},
    };
    for (const test::SyntheticFormat& format : formats) {
        SCOPED_TRACE(format.name);
        ASSERT_EQ(expected.count(format.name), 1u) << "a format without an expectation";
        test::TempDir dir;
        test::SynthOptions options;
        options.entries = 12;
        format.write(dir.path(), options);
        auto cache = CreateCacheForFolder(test::Context(), nullptr, dir.path());
        ASSERT_TRUE(cache);
        ASSERT_EQ(cache->Decode(nullptr, false), 0);
        const std::vector<CCacheItem*> items = test::Items(*cache);
        ASSERT_FALSE(items.empty());
        int withTime = 0;
        for (CCacheItem* item : items) {
            switch (expected.at(format.name)) {
            case Expect::None:
                EXPECT_EQ(item->GetLastAccessed(), 0) << item->GetURL();
                break;
            case Expect::SameAsDownload:
                EXPECT_EQ(item->GetLastAccessed(), item->GetDownloaded()) << item->GetURL();
                break;
            case Expect::OwnField:
                break;
            }
            withTime += item->GetLastAccessed() > 0;
        }
        if (expected.at(format.name) != Expect::None) {
            EXPECT_EQ(withTime, int(items.size()));
        }
    }
}

} // namespace
} // namespace oriel
