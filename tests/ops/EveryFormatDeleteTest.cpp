// Delete and Empty through the jobs on a synthesized cache of each
// Netscape-family format (the bodies lie in the cache folder), checking the
// files left on disk.
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "ops/DeleteItemsJob.h"
#include "ops/EmptyJob.h"
#include "support/CacheContents.h"
#include "support/Dcache4Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Format {
    const char* name;
    std::function<void(const std::string& folder, const test::SynthOptions& options)> write;
    std::function<std::unique_ptr<CCache>(const std::string& folder)> open;
};

const std::vector<Format>& Formats()
{
    static const std::vector<Format> formats{
        {"_CACHE_MAP_", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticMozillaCache(f, o); },
         [](const std::string& f) { return std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, f); }},
        {"fat.db", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticFatDbCache(f, o); },
         [](const std::string& f) { return std::make_unique<NetscapeFatDBCache>(test::Context(), nullptr, f); }},
        {"dcache4.url", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticOperaCache(f, o); },
         [](const std::string& f) { return std::make_unique<OperaCache>(test::Context(), nullptr, f); }},
    };
    return formats;
}

// Items whose body is a file of its own (not inside a block file).
std::vector<CCacheItem*> WithFiles(const CCache& cache)
{
    std::vector<CCacheItem*> items;
    for (CCacheItem* item : test::Items(cache)) {
        if (item->GetFilePath() && item->Exists())
            items.push_back(item);
    }
    return items;
}

TEST(EveryFormat, DeleteRemovesExactlyTheChosenBodiesAndEmptyTheRest)
{
    for (const Format& format : Formats()) {
        SCOPED_TRACE(format.name);
        TempDir root;
        const std::string folder = root.file("Cache");
        test::SynthOptions options;
        options.entries = 200;
        format.write(folder, options);
        test::WriteFile(root.file("outside/keep"), "keep");
        std::unique_ptr<CCache> cache = format.open(folder);
        ASSERT_EQ(cache->Decode(nullptr, false), 0);
        std::vector<CCacheItem*> present = WithFiles(*cache);
        if (present.size() < 2) {
            ADD_FAILURE() << "only " << present.size() << " bodies in files of their own";
            continue;
        }
        const size_t take = std::min<size_t>(3, present.size() / 2);
        std::vector<std::string> chosen, others;
        for (size_t i = 0; i < present.size(); ++i)
            (i < take ? chosen : others).push_back(present[i]->GetFilePath());

        DeleteItemsJob del(*cache, {present.begin(), present.begin() + std::ptrdiff_t(take)});
        del.Run();
        EXPECT_EQ(del.CountOf(FileOutcome::Done), take);
        for (const std::string& file : chosen)
            EXPECT_FALSE(fs::exists(file)) << file;
        for (const std::string& file : others)
            EXPECT_TRUE(fs::exists(file)) << file;

        EmptyJob empty(*cache, false);
        empty.Run();
        EXPECT_TRUE(empty.Emptied());
        for (const std::string& file : others)
            EXPECT_FALSE(fs::exists(file)) << file;
        EXPECT_EQ(empty.CountOf(FileOutcome::Failed), 0u);
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(test::ReadWholeFile(root.file("outside/keep")), "keep");
    }
}

} // namespace
} // namespace oriel
