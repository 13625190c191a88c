// Delete and Empty through the jobs on a synthesized cache of each format
// that keeps its bodies in files of their own, checking the files left on
// disk: the chosen bodies go, every other body stays, the index and block
// files stay; and what a fresh decode of the folder lists afterwards.
#include "formats/ClientUrlCache.h"
#include "formats/IECache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "formats/UrlCacheService.h"
#include "ops/DeleteItemsJob.h"
#include "ops/EmptyJob.h"
#include "support/CacheContents.h"
#include "support/Dcache4Writer.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// What a fresh decode of the folder shows of the removed items.
enum class Afterwards {
    Unlisted, // the index no longer lists them (index.dat through the URL-cache service)
    Missing,  // still listed, without a body (the Netscape family keeps its index)
};

struct Format {
    const char* name;
    std::function<void(const std::string& folder, const test::SynthOptions& options)> write;
    std::function<std::unique_ptr<CCache>(const std::string& folder)> open;
    Afterwards afterwards;
};

const std::vector<Format>& Formats()
{
    static const std::vector<Format> formats{
        {"_CACHE_MAP_", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticMozillaCache(f, o); },
         [](const std::string& f) { return std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, f); },
         Afterwards::Missing},
        {"cache.db", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticCacheDbCache(f, o); },
         [](const std::string& f) { return std::make_unique<NetscapeCacheDBCache>(test::Context(), nullptr, f); },
         Afterwards::Missing},
        {"fat.db", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticFatDbCache(f, o); },
         [](const std::string& f) { return std::make_unique<NetscapeFatDBCache>(test::Context(), nullptr, f); },
         Afterwards::Missing},
        {"dcache4.url", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticOperaCache(f, o); },
         [](const std::string& f) { return std::make_unique<OperaCache>(test::Context(), nullptr, f); },
         Afterwards::Missing},
        {"index.dat", [](const std::string& f, const test::SynthOptions& o) { test::WriteSyntheticIndexDatCache(f, o); },
         [](const std::string& f) {
             return std::make_unique<IECache>(test::Context(), nullptr, f, std::make_shared<UrlCacheService>(f));
         },
         Afterwards::Unlisted},
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

// Every file (and link) under the folder, by its path relative to it.
std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory() || entry.is_symlink())
            files.insert(fs::relative(entry.path(), folder).string());
    }
    return files;
}

std::string Relative(const std::string& file, const std::string& folder)
{
    return fs::relative(fs::path(file), folder).string();
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
        const std::set<std::string> before = FilesIn(folder);
        std::unique_ptr<CCache> cache = format.open(folder);
        ASSERT_EQ(cache->Decode(nullptr, false), 0);
        const int listed = cache->GetItemCount();
        // Items with bodies inside the index or a block file count too.
        const int presentBefore = test::PresentCount(*cache);
        std::vector<CCacheItem*> present = WithFiles(*cache);
        if (present.size() < 2) {
            ADD_FAILURE() << "only " << present.size() << " bodies in files of their own";
            continue;
        }
        // Every body lies in the cache folder.
        std::set<std::string> bodies;
        for (CCacheItem* item : present) {
            const std::string relative = Relative(item->GetFilePath(), folder);
            EXPECT_TRUE(before.count(relative)) << item->GetFilePath();
            bodies.insert(relative);
        }

        // Bodies from the start, the middle and the end of the list.
        const std::set<size_t> picks{0, present.size() / 2, present.size() - 1};
        std::vector<CCacheItem*> chosenItems;
        std::set<std::string> chosen;
        for (size_t pick : picks) {
            chosenItems.push_back(present[pick]);
            chosen.insert(Relative(present[pick]->GetFilePath(), folder));
        }
        DeleteItemsJob del(*cache, chosenItems);
        del.Run();
        EXPECT_EQ(del.Result().status, 0);
        EXPECT_EQ(del.CountOf(FileOutcome::Done), picks.size());
        std::set<std::string> expected;
        std::set_difference(before.begin(), before.end(), chosen.begin(), chosen.end(),
                            std::inserter(expected, expected.end()));
        EXPECT_EQ(FilesIn(folder), expected);
        {
            std::unique_ptr<CCache> fresh = format.open(folder);
            ASSERT_EQ(fresh->Decode(nullptr, false), 0);
            if (format.afterwards == Afterwards::Unlisted)
                EXPECT_EQ(fresh->GetItemCount(), listed - int(picks.size()));
            else
                EXPECT_EQ(fresh->GetItemCount(), listed);
            EXPECT_EQ(WithFiles(*fresh).size(), present.size() - picks.size());
        }

        EmptyJob empty(*cache, false);
        empty.Run();
        EXPECT_TRUE(empty.Emptied());
        EXPECT_FALSE(empty.DecodedFirst());
        EXPECT_EQ(empty.CountOf(FileOutcome::Failed), 0u);
        EXPECT_GE(empty.CountOf(FileOutcome::Done), present.size() - picks.size());
        // Only the bodies went: the index, block files and folders stay.
        expected.clear();
        std::set_difference(before.begin(), before.end(), bodies.begin(), bodies.end(),
                            std::inserter(expected, expected.end()));
        EXPECT_EQ(FilesIn(folder), expected);
        EXPECT_FALSE(expected.empty());
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(test::ReadWholeFile(root.file("outside/keep")), "keep");
        {
            std::unique_ptr<CCache> fresh = format.open(folder);
            ASSERT_EQ(fresh->Decode(nullptr, false), 0);
            if (format.afterwards == Afterwards::Unlisted)
                EXPECT_EQ(fresh->GetItemCount(), listed - int(present.size()));
            else
                EXPECT_EQ(fresh->GetItemCount(), listed);
            EXPECT_EQ(test::PresentCount(*fresh), presentBefore - int(present.size()));
            EXPECT_TRUE(WithFiles(*fresh).empty());
        }
    }
}

// The index.dat read directly (without the URL-cache service) is a
// read-only reader: Delete and Empty change nothing on disk, and the jobs
// say that every file is still there.
TEST(EveryFormat, TheDirectIndexDatReaderDeletesNothing)
{
    TempDir root;
    const std::string folder = root.file("Content.IE5");
    test::SynthOptions options;
    options.entries = 50;
    test::WriteSyntheticIndexDatCache(folder, options);
    const test::FolderSnapshot before = test::SnapshotFolder(folder);
    ClientUrlCache cache(test::Context(), nullptr, folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    std::vector<CCacheItem*> present = WithFiles(cache);
    ASSERT_GE(present.size(), 10u);

    DeleteItemsJob del(cache, {present.begin(), present.begin() + 5});
    del.Run();
    EXPECT_EQ(del.CountOf(FileOutcome::Failed), 5u);
    EXPECT_EQ(del.Result().status, -1);
    EmptyJob empty(cache, false);
    empty.Run();
    EXPECT_EQ(empty.CountOf(FileOutcome::Done), 0u);
    EXPECT_EQ(empty.CountOf(FileOutcome::Failed), empty.Files().size());
    EXPECT_EQ(test::SnapshotFolder(folder), before);
}

} // namespace
} // namespace oriel
