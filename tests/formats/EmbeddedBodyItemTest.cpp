// What the two kinds of item whose body lies inside another cache file
// share: a Mozilla body inside a block file and an Opera body inside
// "dcache4.url". Each case runs over both kinds.
#include "formats/EmbeddedBodyItem.h"

#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "formats/InternalCacheItem.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/OperaCache.h"
#include "formats/OperaInternalCacheItem.h"
#include "support/Dcache4Writer.h"
#include "support/TestContext.h"
#include "support/MozillaCacheWriter.h"
#include "platform/FileSystem.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <optional>

#include <filesystem>
#include <memory>
#include <string>

namespace oriel::test {
namespace {

namespace fs = std::filesystem;

const std::string kBody = "a body kept inside another cache file\n";

struct Kind {
    const char* className;
    const char* containerName;
    // Writes a cache with one embedded body into `folder` and decodes it.
    std::unique_ptr<CCache> (*decode)(const std::string& folder);
};

std::unique_ptr<CCache> DecodeMozilla(const std::string& folder)
{
    MozillaCacheWriter w;
    w.Add("http://x.example/k", kBody, "text/plain");
    w.Write(folder);
    auto cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), nullptr, folder);
    EXPECT_EQ(cache->Decode(nullptr, false), 0);
    return cache;
}

std::unique_ptr<CCache> DecodeOpera(const std::string& folder)
{
    OperaEntry e;
    e.url = "http://x.example/k";
    e.embeddedBody = kBody;
    Dcache4Writer w;
    w.addEntry(e);
    w.write(folder);
    auto cache = std::make_unique<OperaCache>(test::Context(), nullptr, folder);
    EXPECT_EQ(cache->Decode(nullptr, false), 0);
    return cache;
}

const Kind kKinds[] = {
    {"CInternalCacheItem", "_CACHE_001_", DecodeMozilla},
    {"COperaInternalCacheItem", "dcache4.url", DecodeOpera},
};

// A decoded cache folder "cache" in `dir` and its one item (null when the
// decoder did not make exactly one embedded-body item).
struct Decoded {
    Decoded(const Kind& kind, const TempDir& dir)
        : folder(dir.file("cache"))
    {
        fs::create_directories(folder);
        cache = kind.decode(folder);
        if (cache->GetGroupCount() == 1 && cache->GetGroup(0)->GetCount() == 1)
            item = dynamic_cast<CEmbeddedBodyItem*>(cache->GetGroup(0)->ItemAt(0));
    }
    std::string folder;
    std::unique_ptr<CCache> cache;
    CEmbeddedBodyItem* item = nullptr;
};

using test::TraceCapture;

TEST(CEmbeddedBodyItem, TraceLinesNameTheKindOfItem)
{
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.className);
        TempDir dir;
        Decoded d(kind, dir);
        CEmbeddedBodyItem* item = d.item;
        ASSERT_NE(item, nullptr);
        const std::string name = kind.className;
        {
            TraceCapture trace(dir.file("made.log"));
            ASSERT_TRUE(item->PrepareFile());
            EXPECT_EQ(ReadWholeFile(item->GetFilePath()), kBody);
            EXPECT_EQ(trace.Text(), "Entry - " + name + "::ExtractFile()\r\nExit - " + name + "::ExtractFile()\r\n");
        }
        ASSERT_TRUE(item->DeleteCacheFile());
        fs::remove(fs::path(d.folder) / kind.containerName);
        {
            TraceCapture trace(dir.file("missing.log"));
            EXPECT_FALSE(item->PrepareFile());
            EXPECT_EQ(trace.Text(), "Entry - " + name + "::ExtractFile()\r\nExit - " + name +
                                        "::ExtractFile() Source open had some errors.\r\n");
        }
    }
}

TEST(CEmbeddedBodyItem, TheBodyIsARangeOfItsContainerReadWhenExtracted)
{
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.className);
        TempDir dir;
        Decoded d(kind, dir);
        ASSERT_NE(d.item, nullptr);
        auto range = d.item->BodyRange();
        ASSERT_TRUE(range);
        EXPECT_EQ(range->path, platform::ResolvePath(d.folder + "/" + kind.containerName));
        EXPECT_EQ(range->length, kBody.size());
        auto source = range->Open();
        ASSERT_TRUE(source);
        ByteReader stored = source->ReadAll();
        EXPECT_EQ(*stored.bytes(0, stored.size()), kBody);

        // A container cut inside the body gives the bytes that are left.
        fs::resize_file(range->path, range->offset + 10);
        ASSERT_TRUE(d.item->PrepareFile());
        EXPECT_EQ(ReadWholeFile(d.item->GetFilePath()), kBody.substr(0, 10));
        ASSERT_TRUE(d.item->DeleteCacheFile());
    }
}

TEST(CEmbeddedBodyItem, ALinkPutInPlaceOfItsCopyIsNeitherFollowedNorRemoved)
{
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.className);
        TempDir dir;
        WriteFile(dir.file("elsewhere.txt"), "not the cache's");
        Decoded d(kind, dir);
        CEmbeddedBodyItem* item = d.item;
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->PrepareFile());
        const std::string copy = item->GetFilePath();
        fs::remove(copy);
        fs::create_symlink(dir.file("elsewhere.txt"), copy);

        EXPECT_FALSE(item->PrepareFile());
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(copy)));
        EXPECT_TRUE(item->DeleteCacheFile());
        d.cache.reset();
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(copy)));
        EXPECT_EQ(ReadWholeFile(dir.file("elsewhere.txt")), "not the cache's");
    }
}

} // namespace
} // namespace oriel::test
