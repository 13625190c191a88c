// Emptying a Netscape-family cache and deleting chosen items, on a Mozilla
// cache folder.
#include "formats/NetscapeCache.h"

#include "app/OptionStore.h"
#include "formats/InternalCacheItem.h"
#include "formats/NetscapeCacheMapCache.h"
#include "platform/FileSystem.h"
#include "support/CacheContents.h"
#include "support/TestContext.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::Items;
using test::MozillaCacheWriter;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;

// Sets "FastDelete" and "RemoveDB" for one test.
class DeleteOptions {
public:
    DeleteOptions(int fastDelete, int removeDB)
    {
        test::Options().fastDelete = fastDelete;
        test::Options().removeDB = removeDB;
    }
    ~DeleteOptions()
    {
        test::Options().fastDelete = 0;
        test::Options().removeDB = 0;
    }
};

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory())
            files.insert(fs::relative(entry.path(), folder).string());
    }
    return files;
}

// Two entries in block files, two in separate files (nested layout).
struct SampleFolder {
    TempDir root;
    std::string folder = root.file("Cache");
    MozillaCacheWriter writer;
    SampleFolder()
    {
        writer.SetLayout(MozillaCacheWriter::Layout::Nested);
        writer.Add("http://a.example/small.html", "<p>small</p>", "text/html");
        writer.Add("http://a.example/style.css", std::string(3000, 'c'), "text/css");
        writer.Add("http://b.example/big.gif", std::string(30000, 'g'), "image/gif").dataFile = 0;
        writer.Add("http://b.example/big.html", test::GzipBytes(std::string(90000, 'h')) + std::string(20000, 'x'),
                   "text/html", "gzip")
            .dataFile = 0;
        writer.Write(folder);
        WriteFile(root.file("outside/keep"), "keep");
    }
    std::string DataFile(size_t i) const { return writer.Entries()[i].dataFileName; }
};

CCacheItem* Find(CCache& cache, const std::string& url)
{
    for (CCacheItem* item : Items(cache)) {
        if (url == item->GetURL())
            return item;
    }
    return nullptr;
}

TEST(NetscapeCache, DeletingItemsRemovesTheirBodiesAndCopiesButNeverABlockFile)
{
    DeleteOptions options(0, 0);
    SampleFolder s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    CCacheItem* small = Find(cache, "http://a.example/small.html");
    CCacheItem* bigHtml = Find(cache, "http://b.example/big.html");
    ASSERT_NE(small, nullptr);
    ASSERT_NE(bigHtml, nullptr);
    ASSERT_TRUE(small->PrepareFile());
    ASSERT_TRUE(bigHtml->PrepareFile());
    const std::string extracted = small->GetFilePath();
    const std::string decoded = bigHtml->GetFilePath();
    ASSERT_TRUE(fs::exists(extracted));
    ASSERT_NE(decoded, platform::MakePath(s.folder, s.DataFile(3)));

    const std::string block = ReadWholeFile(s.folder + "/_CACHE_001_");
    CCacheItem* chosen[] = {small, bigHtml};
    EXPECT_EQ(cache.DeleteItems(nullptr, chosen), 0);
    EXPECT_FALSE(fs::exists(extracted));
    EXPECT_FALSE(fs::exists(decoded));
    EXPECT_FALSE(fs::exists(s.folder + "/" + s.DataFile(3)));
    EXPECT_FALSE(bigHtml->Exists());
    EXPECT_TRUE(small->Exists()) << "the data stays in its block file";
    EXPECT_EQ(ReadWholeFile(s.folder + "/_CACHE_001_"), block);
    EXPECT_TRUE(fs::exists(s.folder + "/" + s.DataFile(2)));
    EXPECT_TRUE(fs::exists(s.folder + "/_CACHE_MAP_"));
}

TEST(NetscapeCache, DeletingStopsAtTheFirstMissingItem)
{
    DeleteOptions options(0, 0);
    SampleFolder s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    CCacheItem* chosen[] = {Find(cache, "http://b.example/big.gif"), nullptr,
                            Find(cache, "http://b.example/big.html")};
    cache.DeleteItems(nullptr, chosen);
    EXPECT_FALSE(fs::exists(s.folder + "/" + s.DataFile(2)));
    EXPECT_TRUE(fs::exists(s.folder + "/" + s.DataFile(3)));
}

TEST(NetscapeCache, EmptyingWithoutFastDeleteRemovesItemFilesAndTheMapOnlyWithRemoveDB)
{
    for (int removeDB : {0, 1}) {
        SCOPED_TRACE(removeDB);
        DeleteOptions options(0, removeDB);
        SampleFolder s;
        NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
        ASSERT_EQ(cache.Decode(nullptr, false), 0);
        ASSERT_TRUE(Find(cache, "http://a.example/small.html")->PrepareFile());
        EXPECT_EQ(cache.Empty(nullptr), 0);
        EXPECT_EQ(cache.GetItemCount(), 0);
        EXPECT_FALSE(cache.IsDecoded());
        std::set<std::string> expected = {"_CACHE_001_", "_CACHE_002_", "_CACHE_003_"};
        if (!removeDB)
            expected.insert("_CACHE_MAP_");
        EXPECT_EQ(FilesIn(s.folder), expected);
        EXPECT_EQ(ReadWholeFile(s.root.file("outside/keep")), "keep");
    }
}

TEST(NetscapeCache, EmptyingACacheNeverDecodedWithoutFastDeleteDeletesNothing)
{
    DeleteOptions options(0, 1);
    SampleFolder s;
    auto before = FilesIn(s.folder);
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    EXPECT_EQ(cache.Empty(nullptr), 0);
    EXPECT_EQ(FilesIn(s.folder), before);
}

TEST(NetscapeCache, AStopRequestBeforeTheFirstGroupDeletesNothing)
{
    DeleteOptions options(0, 1);
    SampleFolder s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    auto before = FilesIn(s.folder);
    cache.RequestStop();
    cache.Empty(nullptr);
    EXPECT_EQ(FilesIn(s.folder), before);
}

TEST(NetscapeCache, FastDeleteEmptiesTheWholeFolderButNothingOutsideIt)
{
    DeleteOptions options(1, 0);
    SampleFolder s;
    fs::create_directory_symlink(s.root.file("outside"), s.folder + "/escape");
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    EXPECT_EQ(cache.Empty(nullptr), 0);
    EXPECT_TRUE(fs::is_directory(s.folder));
    EXPECT_TRUE(fs::is_empty(s.folder));
    EXPECT_EQ(ReadWholeFile(s.root.file("outside/keep")), "keep");
}

TEST(NetscapeCache, FastDeleteIsRefusedOnAnEmptyPathARootOrAHomeFolder)
{
    DeleteOptions options(1, 1);
    TempDir home;
    WriteFile(home.file("document.txt"), "mine");
    MozillaCacheWriter().Write(home.path());
    {
        const test::EnvironmentFor at({{"HOME", home.path()}});
        for (const std::string& folder : {std::string(), std::string("/"), home.path()}) {
            SCOPED_TRACE(folder);
            NetscapeCacheMapCache cache(test::Context(), nullptr, folder);
            EXPECT_EQ(cache.Empty(nullptr), -1);
        }
    }
    EXPECT_EQ(ReadWholeFile(home.file("document.txt")), "mine");
    EXPECT_TRUE(fs::exists(home.file("_CACHE_MAP_")));
}

} // namespace
} // namespace oriel
