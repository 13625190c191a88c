// Indexes of hostile sizes: gigabytes of zeros or of tiny pages after the
// real records. Each decode reads a bounded part of such a file and keeps
// what comes before it. The files are sources that hold a few real bytes
// and report gigabytes of zeros after them, so that nothing large is
// written and every read is counted.
#include "app/StringTable.h"
#include "formats/ClientUrlCache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "platform/ByteSource.h"
#include "support/CacheContents.h"
#include "support/Dcache4Writer.h"
#include "support/IndexDatWriter.h"
#include "support/MessageCapture.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace oriel {
namespace {

using test::TempDir;

// `head`, then zeros up to `size` bytes; counts what is asked of it.
class ZeroTailSource final : public platform::ByteSource {
public:
    ZeroTailSource(std::string head, uint64_t size)
        : head_(std::move(head))
        , size_(std::max<uint64_t>(size, head_.size()))
    {
    }
    uint64_t Size() const override { return size_; }
    ByteReader Read(uint64_t offset, size_t length) const override
    {
        ++reads_;
        if (offset >= size_)
            return ByteReader();
        length = size_t(std::min<uint64_t>(length, size_ - offset));
        bytesRead_ += length;
        if (offset >= head_.size()) {
            // In the tail: a view of zeros kept for it.
            if (zeros_.size() < length)
                zeros_.assign(length, '\0');
            return ByteReader(zeros_.data(), length);
        }
        buffer_.assign(length, '\0');
        if (offset < head_.size())
            std::memcpy(buffer_.data(), head_.data() + offset, std::min<size_t>(length, head_.size() - offset));
        return ByteReader(buffer_);
    }
    uint64_t BytesRead() const { return bytesRead_; }
    uint64_t Reads() const { return reads_; }

private:
    std::string head_;
    uint64_t size_;
    mutable std::string buffer_;
    mutable std::string zeros_;
    mutable uint64_t bytesRead_ = 0;
    mutable uint64_t reads_ = 0;
};

constexpr uint64_t kTwoGiB = uint64_t(2) << 30;

template <typename Cache>
struct Decoded {
    std::unique_ptr<Cache> cache;
    std::shared_ptr<ZeroTailSource> source;
    int result = 0;
};

template <typename Cache>
Decoded<Cache> Decode(const TempDir& dir, std::string head, uint64_t size)
{
    Decoded<Cache> d;
    d.source = std::make_shared<ZeroTailSource>(std::move(head), size);
    d.cache = std::make_unique<Cache>(test::Context(), nullptr, dir.path());
    d.cache->SetDatabaseSource(d.source);
    d.result = d.cache->Decode(nullptr, true);
    return d;
}

std::vector<std::string> Urls(const CCache& cache)
{
    std::vector<std::string> urls;
    for (CCacheItem* item : test::Items(cache))
        urls.push_back(item->GetURL());
    std::sort(urls.begin(), urls.end());
    return urls;
}

test::OperaEntry Entry(const std::string& url, const std::string& cacheName)
{
    test::OperaEntry e;
    e.url = url;
    e.cacheName = cacheName;
    return e;
}

TEST(HostileSize, AZeroTailOfDcache4UrlIsSteppedOverAtOnceAndRecordsAfterAZeroRunStay)
{
    TempDir dir;
    test::Dcache4Writer w;
    w.addEntry(Entry("http://h/1", "opr1.tmp"));
    std::string bytes = w.build();
    // A run of zeros is a run of empty three-byte records; a record after
    // it is read and keyed counting each of them.
    bytes += std::string(3 * 100000, '\0');
    test::Dcache4Writer second;
    second.addEntry(Entry("http://h/2", "opr2.tmp"));
    bytes += second.build().substr(12);
    // 128 MiB of zeros after the records: 44 million empty records.
    auto d = Decode<OperaCache>(dir, bytes, uint64_t(128) << 20);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(Urls(*d.cache), (std::vector<std::string>{"http://h/1", "http://h/2"}));
    for (CCacheItem* item : test::Items(*d.cache)) {
        if (std::string(item->GetURL()) == "http://h/2") {
            EXPECT_EQ(item->GetRecordKey(), 2 + 100000);
        }
    }
    // The zeros are scanned, not walked three bytes a read.
    EXPECT_LT(d.source->Reads(), 10000u);
}

std::string CacheDbHead(uint32_t pageSize, int entries)
{
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::CacheDb);
    w.setPageSize(pageSize);
    if (entries == 0)
        w.setKeyCount(1); // a header with no key is refused
    for (int i = 0; i < entries; ++i) {
        test::CacheDbEntry e;
        e.url = "http://h/p" + std::to_string(i);
        e.bodyPath = "C:\\NS\\cache\\M" + std::to_string(i);
        w.addCacheEntry(e);
    }
    return w.build();
}

std::string FatDbHead(uint32_t pageSize, int entries)
{
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::FatDb);
    w.setPageSize(pageSize);
    if (entries == 0)
        w.setKeyCount(1);
    for (int i = 0; i < entries; ++i) {
        test::FatDbEntry e;
        e.url = "http://h/p" + std::to_string(i);
        e.cacheName = "M" + std::to_string(i);
        w.addFatEntry(e);
    }
    return w.build();
}

TEST(HostileSize, GigabytesOfPagesWithoutItemsEndTheCacheDbAndFatDbWalks)
{
    struct Case {
        const char* what;
        std::string (*head)(uint32_t, int);
        bool cacheDb;
        uint32_t pageSize;
        int entries;
    } cases[] = {
        {"cache.db, 512-byte pages", &CacheDbHead, true, 512, 5},
        {"fat.db, 512-byte pages", &FatDbHead, false, 512, 5},
        {"cache.db, 64-byte pages", &CacheDbHead, true, 64, 0},
        {"fat.db, 64-byte pages", &FatDbHead, false, 64, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string head = c.head(c.pageSize, c.entries);
        std::vector<std::string> expected;
        for (int i = 0; i < c.entries; ++i)
            expected.push_back("http://h/p" + std::to_string(i));
        CCache* cache = nullptr;
        std::shared_ptr<ZeroTailSource> source;
        Decoded<NetscapeCacheDBCache> db;
        Decoded<NetscapeFatDBCache> fat;
        if (c.cacheDb) {
            db = Decode<NetscapeCacheDBCache>(dir, head, kTwoGiB);
            ASSERT_EQ(db.result, 0);
            cache = db.cache.get();
            source = db.source;
        } else {
            fat = Decode<NetscapeFatDBCache>(dir, head, kTwoGiB);
            ASSERT_EQ(fat.result, 0);
            cache = fat.cache.get();
            source = fat.source;
        }
        EXPECT_EQ(Urls(*cache), expected);
        // The walk ends after 16 MiB (or 256 pages) without an item.
        EXPECT_LT(source->BytesRead(), head.size() + NetscapeHashDBCache::kMaxBarrenRun + (1 << 20));
    }
}

TEST(HostileSize, AnIndexDatIsCheckedByItsHeaderBeforeItIsReadAndRefusedAbove4GiB)
{
    test::MessageCapture sink;
    TempDir dir;
    // Zeros: no signature, found from the header alone.
    auto zeros = Decode<ClientUrlCache>(dir, "", uint64_t(3) << 30);
    EXPECT_EQ(zeros.result, -1);
    EXPECT_LE(zeros.source->BytesRead(), 0x4000u);
    ASSERT_EQ(sink->messages.size(), 1u);
    EXPECT_EQ(sink->messages[0], std::string(LoadString(IDS_INVALID_HEADER)) + "\n" + dir.file("index.dat"));

    // A sound header on a file larger than its 32-bit offsets reach is
    // refused with the reason, not read whole nor cut.
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl({.url = "http://h/p", .fileName = "p[1]"});
    const uint64_t tooLarge = uint64_t(UINT32_MAX) + 1;
    auto large = Decode<ClientUrlCache>(dir, w.build(), tooLarge);
    EXPECT_EQ(large.result, -1);
    EXPECT_LE(large.source->BytesRead(), 0x4000u);
    ASSERT_EQ(sink->messages.size(), 2u);
    EXPECT_EQ(sink->messages[1], std::string(LoadString(IDS_INVALID_HEADER)) + "\n" + dir.file("index.dat") +
                                     ": the file is larger than the 4 GiB an index can address (" +
                                     std::to_string(tooLarge) + " bytes)");
}

} // namespace
} // namespace oriel
