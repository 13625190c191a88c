// A hostile tree may hold FIFOs (or devices) under the names of indexes,
// block files and bodies: nothing may block on them or read them as files.
#include "formats/NetscapeCacheMapCache.h"
#include "model/Cache.h"
#include "catalog/FormatCatalog.h"
#include "model/CacheItem.h"
#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::MessageCapture;
using test::TempDir;

void MakeFifo(const std::string& path)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

TEST(SpecialFiles, AFifoNamedAsAnIndexIsNoCacheDatabase)
{
    for (const char* index : {"_CACHE_MAP_", "cache.db", "fat.db", "dcache4.url", "index.dat"}) {
        SCOPED_TRACE(index);
        TempDir dir;
        MakeFifo(dir.file(index));
        MessageCapture messages;
        const CacheFormat* format = nullptr;
        std::unique_ptr<CCache> cache = CreateCacheForFolder(test::Context(), nullptr, dir.path(), &format);
        ASSERT_NE(cache, nullptr);
        EXPECT_STREQ(format->indexFile, index);
        EXPECT_NE(cache->Decode(), 0);
        EXPECT_EQ(cache->GetItemCount(), 0);
        EXPECT_FALSE(messages->messages.empty()) << "the user is told the index could not be read";
    }
}

TEST(SpecialFiles, AFifoInPlaceOfABlockFileStopsTheDecodeWithItsMessage)
{
    TempDir dir;
    test::MozillaCacheWriter w;
    w.Add("http://www.example.com/", "<html>home</html>", "text/html");
    w.Write(dir.path());
    fs::remove(dir.file("_CACHE_002_"));
    MakeFifo(dir.file("_CACHE_002_"));
    MessageCapture messages;
    NetscapeCacheMapCache cache(test::Context(), nullptr, dir.path());
    EXPECT_NE(cache.Decode(), 0);
    EXPECT_FALSE(messages->messages.empty());
}

TEST(SpecialFiles, AFifoInPlaceOfABodyIsAMissingBody)
{
    TempDir dir;
    test::MozillaCacheWriter w;
    w.Add("http://www.example.com/big.bin", std::string(40000, 'b'), "application/octet-stream").dataFile = 0;
    w.Write(dir.path());
    const std::string body = dir.file(w.Entries()[0].dataFileName);
    fs::remove(body);
    MakeFifo(body);
    NetscapeCacheMapCache cache(test::Context(), nullptr, dir.path());
    ASSERT_EQ(cache.Decode(), 0);
    ASSERT_EQ(cache.GetItemCount(), 1);
    CCacheItem* item = cache.GetGroup(0)->ItemAt(0);
    EXPECT_FALSE(item->Exists());
    EXPECT_FALSE(item->PrepareFile());
}

} // namespace
} // namespace oriel
