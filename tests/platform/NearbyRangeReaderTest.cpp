#include "platform/NearbyRangeReader.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace oriel::platform {
namespace {

using Range = NearbyRangeReader::Range;
using test::TempDir;

std::string Text(const ByteReader& r)
{
    return r.size() ? std::string(*r.bytes(0, r.size())) : std::string();
}

// A source over bytes in memory that counts its reads and the bytes they
// asked for, and hands out a copy of its own, overwritten by the next
// read, as a file source does.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(std::string bytes)
        : bytes_(std::move(bytes))
    {
    }
    uint64_t Size() const override { return bytes_.size(); }
    ByteReader Read(uint64_t offset, size_t length) const override
    {
        ++reads;
        asked += length;
        if (offset >= bytes_.size())
            return {};
        buffer_ = bytes_.substr(size_t(offset), length);
        return ByteReader(buffer_);
    }
    mutable int reads = 0;
    mutable uint64_t asked = 0;

private:
    std::string bytes_;
    mutable std::string buffer_;
};

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 26) % 26);
    return bytes;
}

TEST(NearbyRangeReader, NearbyRangesComeFromOneReadAndFarOnesFromTheirOwn)
{
    CountingSource source(Pattern(100000));
    MemoryByteSource direct(Pattern(100000));
    // Three ranges within 100 bytes of each other, then one 10,000 bytes on.
    const std::vector<Range> ranges{{1000, 256}, {1300, 512}, {1900, 256}, {12000, 1024}};
    NearbyRangeReader reader(source, ranges, 100, 64 * 1024);
    for (size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(Text(reader.Read(i)), Text(direct.Read(ranges[i].offset, ranges[i].length))) << i;
    EXPECT_EQ(source.reads, 2);
    // The first read spans the three nearby ranges and no further.
    EXPECT_EQ(source.asked, uint64_t(1900 + 256 - 1000) + 1024);
}

TEST(NearbyRangeReader, AReadStopsAtItsLargestSize)
{
    CountingSource source(Pattern(100000));
    MemoryByteSource direct(Pattern(100000));
    std::vector<Range> ranges;
    for (uint64_t offset = 0; offset < 40000; offset += 1000)
        ranges.push_back({offset, 1000});
    ranges.push_back({50000, 30000}); // longer than a read may be: read alone
    NearbyRangeReader reader(source, ranges, 4096, 10000);
    for (size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(Text(reader.Read(i)), Text(direct.Read(ranges[i].offset, ranges[i].length))) << i;
    EXPECT_EQ(source.reads, 4 + 1);
}

TEST(NearbyRangeReader, EveryRangeGivesTheBytesADirectReadGivesInAnyOrderAndPastTheEnd)
{
    // Random ranges, some overlapping, some running past the end of the
    // source or starting beyond it, one at the top of the offsets; asked
    // in offset order and then shuffled.
    const std::string bytes = Pattern(50000);
    MemoryByteSource direct(bytes);
    std::mt19937 random(7);
    std::vector<Range> ranges;
    for (int i = 0; i < 2000; ++i)
        ranges.push_back({random() % 52000, size_t(random() % 5000)});
    ranges.push_back({UINT64_MAX - 10, 100});
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });
    for (bool shuffled : {false, true}) {
        SCOPED_TRACE(shuffled ? "shuffled" : "in offset order");
        CountingSource source(bytes);
        NearbyRangeReader reader(source, ranges);
        std::vector<size_t> order(ranges.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        if (shuffled)
            std::shuffle(order.begin(), order.end(), random);
        for (size_t i : order) {
            const ByteReader got = reader.Read(i);
            const ByteReader want = direct.Read(ranges[i].offset, ranges[i].length);
            ASSERT_EQ(got.size(), want.size()) << ranges[i].offset << "+" << ranges[i].length;
            ASSERT_EQ(Text(got), Text(want)) << ranges[i].offset << "+" << ranges[i].length;
        }
        if (!shuffled) {
            EXPECT_LT(source.reads, 20);
        }
    }
    CountingSource source(bytes);
    NearbyRangeReader reader(source, ranges);
    EXPECT_EQ(reader.Read(ranges.size()).size(), 0u); // no such range
}

TEST(NearbyRangeReader, ReadsAFileAsItsDirectReadsDo)
{
    TempDir dir;
    const std::string bytes = Pattern(300000);
    test::WriteFile(dir.file("blocks"), bytes);
    auto file = FileRange{dir.file("blocks")}.Open();
    ASSERT_NE(file, nullptr);
    std::vector<Range> ranges;
    for (uint64_t offset = 4096; offset < 310000; offset += 700)
        ranges.push_back({offset, size_t(256 << (offset % 3))});
    NearbyRangeReader reader(*file, ranges);
    for (size_t i = 0; i < ranges.size(); ++i) {
        const std::string got = Text(reader.Read(i));
        const std::string want = ranges[i].offset < bytes.size() ? bytes.substr(size_t(ranges[i].offset), ranges[i].length) : "";
        ASSERT_EQ(got, want) << ranges[i].offset;
    }
}

} // namespace
} // namespace oriel::platform
