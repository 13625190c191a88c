// The index.dat walk split between two threads: whatever the index holds,
// the decode gives what one walk gives (groups, items in order, record keys,
// every field, the recovered items, messages, the result), whether the
// second thread's part is taken or dropped.
#include "formats/ClientUrlCache.h"

#include "formats/IndexDatFile.h"
#include "platform/Cores.h"
#include "support/CacheContents.h"
#include "support/IndexDatWriter.h"
#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace oriel::test {
namespace {

constexpr const char* kTaken = "items follow";
constexpr const char* kDropped = "walk is dropped";

struct Decoded {
    int result = 0;
    std::string contents; // every group and item, field by field
    std::string messages;
    std::string trace;
};

class IndexDatSplitWalkTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (platform::UsableCores() < 2)
            GTEST_SKIP() << "the walk is split only where two cores are usable";
    }

    Decoded Decode(const std::string& bytes, bool split, uint64_t budget = CCache::kDefaultDecodeBudget)
    {
        WriteFile(dir_.file("index.dat"), bytes);
        Decoded out;
        MessageCapture sink;
        {
            TraceCapture trace(dir_.file(split ? "split.log" : "whole.log"));
            ClientUrlCache cache(test::Context(), nullptr, dir_.path());
            cache.SetSplitWalkFrom(split ? 0 : UINT64_MAX);
            cache.SetDecodeBudget(budget);
            out.result = cache.Decode(nullptr, true);
            out.contents = Contents(cache);
            out.trace = trace.Text();
        }
        for (const std::string& message : sink->messages)
            out.messages += message + "\n";
        return out;
    }

    // Decodes `bytes` split and whole: the same in every part. Returns the
    // split decode, for what its trace says.
    Decoded ExpectSameEitherWay(const std::string& bytes, uint64_t budget = CCache::kDefaultDecodeBudget)
    {
        const Decoded whole = Decode(bytes, false, budget);
        const Decoded split = Decode(bytes, true, budget);
        EXPECT_EQ(split.result, whole.result);
        EXPECT_EQ(split.contents, whole.contents);
        EXPECT_EQ(split.messages, whole.messages);
        EXPECT_EQ(whole.trace.find("second thread"), std::string::npos);
        return split;
    }

    TempDir dir_;
};

IndexDatUrl Page(int i, size_t padding = 0)
{
    IndexDatUrl page;
    page.url = "http://host" + std::to_string(i % 7) + ".example/dir/page" + std::to_string(i) + ".htm";
    page.fileName = "page" + std::to_string(i) + "[1].htm";
    page.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/" + std::string(i % 2 ? "html" : "css") +
                   "\r\nContent-Length: " + std::to_string(100 + i) + "\r\n" +
                   (i % 5 == 0 ? "Content-Encoding: gzip\r\n" : "") + std::string(padding, 'p') + "\r\n";
    page.directory = uint8_t(i % 3);
    page.lastModified = FileTimeFromUnix(1243859696 + i);
    page.lastAccess = FileTimeFromUnix(1243869696 + i * 7);
    page.expires = FatExpiryFromUnix(1343859696 + i * 86400);
    return page;
}

// Records of every kind on both sides of the middle: live URL and LEAK
// records, redirects, freed and stale records, cut ones, stray blocks.
IndexDatWriter Mixed(int records)
{
    IndexDatWriter w;
    w.setTrailingFreeBlocks(5);
    w.setHashEntriesPerTable(64);
    for (const char* dir : {"ABCD1234", "EFGH5678", "IJKL9012"})
        w.addDirectory(dir);
    for (int i = 0; i < records; ++i) {
        if (i % 17 == 3)
            w.addStaleUrl(Page(i, 90));
        else if (i % 23 == 5)
            w.addCutStaleUrl(Page(i, 400), 1);
        else if (i % 13 == 7)
            w.addLeak(Page(i));
        else if (i % 19 == 2)
            w.addFreedUrl(Page(i));
        else
            w.addUrl(Page(i, size_t(i % 4) * 120));
        if (i % 29 == 0)
            w.addRedirect("http://host1.example/moved" + std::to_string(i));
        if (i % 31 == 0)
            w.addStrayBlock(IndexDatWriter::Stray::FakeRecord);
        if (i % 37 == 0)
            w.addStaleRedirect("http://host2.example/gone" + std::to_string(i));
    }
    return w;
}

// Where the decoder's second thread starts looking: the middle block on
// the first record's grid.
size_t Middle(const std::string& bytes)
{
    uint32_t first = 0;
    std::memcpy(&first, bytes.data() + 32, sizeof first);
    return first + (bytes.size() - first) / 2 / IndexDatFile::kBlockSize * IndexDatFile::kBlockSize;
}

TEST_F(IndexDatSplitWalkTest, ASoundIndexGivesTheSameItemsInTheSameOrder)
{
    const Decoded split = ExpectSameEitherWay(Mixed(600).build());
    EXPECT_NE(split.trace.find(kTaken), std::string::npos) << split.trace;
    EXPECT_GT(split.contents.size(), 60000u);
}

// The second thread begins at what looks like a record inside a live
// record: the first walk passes that block, so the second walk is dropped
// and the first walks on alone.
TEST_F(IndexDatSplitWalkTest, ASecondWalkThatBeganInsideARecordIsDropped)
{
    IndexDatWriter w = Mixed(0);
    for (int i = 0; i < 200; ++i)
        w.addUrl(Page(i, 700)); // records of 7 blocks or more
    std::string bytes = w.build();
    const size_t middle = Middle(bytes);
    bool inside = false;
    for (size_t r = 0; r + 1 < w.recordCount(); ++r)
        inside = inside || (w.recordOffset(r) < middle && middle < w.recordOffset(r + 1));
    ASSERT_TRUE(inside);
    PutU32(bytes, middle, IndexDatFile::kSigUrl);
    PutU32(bytes, middle + 4, 2);
    const Decoded split = ExpectSameEitherWay(bytes);
    EXPECT_NE(split.trace.find(kDropped), std::string::npos) << split.trace;
}

// A damaged bitmap (free blocks inside live records, allocated ones
// between them) and record signatures scattered over the blocks; and a
// first record off the block grid.
TEST_F(IndexDatSplitWalkTest, DamagedIndexesGiveWhatOneWalkGives)
{
    const std::string clean = Mixed(400).build();
    std::string scrambled = clean;
    uint32_t seed = 7;
    for (size_t at = IndexDatFile::kFirstBitmapBlock; at + 8 <= scrambled.size(); at += IndexDatFile::kBlockSize) {
        seed = seed * 1103515245 + 12345;
        if ((seed >> 16) % 11 == 0) {
            PutU32(scrambled, at, (seed >> 8) % 2 ? IndexDatFile::kSigUrl : IndexDatFile::kSigLeak);
            PutU32(scrambled, at + 4, 1 + (seed >> 20) % 4);
        }
    }
    for (size_t i = IndexDatFile::kBitmapOffset; i < IndexDatFile::kFirstBitmapBlock; ++i) {
        seed = seed * 1103515245 + 12345;
        scrambled[i] = char(scrambled[i] ^ char((seed >> 16) & 0x21));
    }
    ExpectSameEitherWay(scrambled);

    std::string offGrid = clean;
    PutU32(offGrid, 32, uint32_t(IndexDatFile::kFirstBitmapBlock + IndexDatFile::kBlockSize + 64));
    ExpectSameEitherWay(offGrid);

    std::string cut = clean.substr(0, Middle(clean) + 3 * IndexDatFile::kBlockSize + 40);
    ExpectSameEitherWay(cut);
}

// A decode budget spent in the first part, in the second, or as the second
// part's items are filed: the same items are kept and the same failure is
// told.
TEST_F(IndexDatSplitWalkTest, ABudgetRunsOutWhereOneWalkWouldRunOut)
{
    const std::string bytes = Mixed(500).build();
    const Decoded full = Decode(bytes, false);
    ASSERT_EQ(full.result, 0);
    // Roughly what the items hold: enough to fall anywhere in the walk.
    for (uint64_t budget : {uint64_t(5000), uint64_t(40000), uint64_t(75000), uint64_t(110000), uint64_t(150000)}) {
        SCOPED_TRACE(budget);
        ExpectSameEitherWay(bytes, budget);
    }
    EXPECT_NE(Decode(bytes, false, 40000).result, 0);
}

} // namespace
} // namespace oriel::test
