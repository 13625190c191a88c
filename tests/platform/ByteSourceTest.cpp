#include "platform/ByteSource.h"

#include "platform/FileSystem.h"
#include "platform/LargeBuffer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace oriel::platform {
namespace {

using test::TempDir;

std::string Text(const ByteReader& r)
{
    return std::string(*r.bytes(0, r.size()));
}

TEST(MemoryByteSource, ReadsAreCutAtTheEndAndViewTheHeldBytesWithoutACopy)
{
    const std::string held = "0123456789";
    auto view = MemoryByteSource::View(held);
    MemoryByteSource owned(std::string("0123456789"));
    struct Case {
        uint64_t offset;
        size_t length;
        std::string expected;
    };
    const Case cases[] = {
        {0, 4, "0123"}, {6, 100, "6789"}, {10, 1, ""}, {11, 1, ""}, {UINT64_MAX, 5, ""}, {3, 0, ""},
    };
    const ByteSource* sources[] = {view.get(), &owned};
    for (const ByteSource* source : sources) {
        EXPECT_EQ(source->Size(), 10u);
        for (const Case& c : cases)
            EXPECT_EQ(Text(source->Read(c.offset, c.length)), c.expected) << c.offset << "+" << c.length;
    }
    // A view of the bytes themselves, which stays valid across reads.
    ByteReader first = view->ReadAll();
    EXPECT_EQ(first.bytes(0, 1)->data(), held.data());
    view->Read(5, 2);
    EXPECT_EQ(Text(first), held);
    const uint8_t raw[] = {1, 2, 3};
    EXPECT_EQ(*MemoryByteSource::View(std::span<const uint8_t>(raw, 3))->ReadAll().u8(2), 3);
}

TEST(OpenWholeFile, ReadsRegularFilesWholeOrUpToTheLimit)
{
    TempDir dir;
    test::WriteFile(dir.file("Index.DAT"), "abcdef");
    test::WriteFile(dir.file("empty"), "");
    auto whole = OpenWholeFile(dir.file("index.dat"));
    ASSERT_TRUE(whole);
    EXPECT_EQ(Text(whole->ReadAll()), "abcdef");
    EXPECT_EQ(Text(whole->Read(4, 10)), "ef");

    auto cut = OpenWholeFile(dir.file("Index.DAT"), 3);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Size(), 3u);
    EXPECT_EQ(Text(cut->ReadAll()), "abc");

    auto empty = OpenWholeFile(dir.file("empty"));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->Size(), 0u);
    EXPECT_EQ(empty->ReadAll().size(), 0u);
}

TEST(OpenWholeFile, RefusesWhatIsNoRegularFile)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(OpenWholeFile(dir.file("folder")));
    EXPECT_FALSE(OpenWholeFile(dir.file("fifo"))); // would block a reader
    EXPECT_FALSE(OpenWholeFile(dir.file("missing")));
    EXPECT_FALSE(OpenWholeFile("/dev/null"));
}

TEST(FileRange, HoldsOnlyTheBytesOfTheRangeThatTheFileHas)
{
    TempDir dir;
    test::WriteFile(dir.file("_CACHE_001_"), "0123456789");
    struct Case {
        uint64_t offset;
        uint64_t length;
        uint64_t size;
        std::string all;
    };
    const Case cases[] = {
        {0, FileRange::kToEnd, 10, "0123456789"},
        {2, 3, 3, "234"},
        {8, 5, 2, "89"},          // runs past the end of the file
        {10, 4, 0, ""},           // starts at the end
        {50, 4, 0, ""},           // starts past the end
        {UINT64_MAX - 1, 9, 0, ""}, // offset and length overflow
        {4, 0, 0, ""},
    };
    for (const Case& c : cases) {
        auto source = FileRange{dir.file("_cache_001_"), c.offset, c.length}.Open();
        ASSERT_TRUE(source) << c.offset;
        EXPECT_EQ(source->Size(), c.size) << c.offset;
        EXPECT_EQ(Text(source->ReadAll()), c.all) << c.offset;
        EXPECT_EQ(Text(source->Read(1, 1000)), c.all.size() > 1 ? c.all.substr(1) : "") << c.offset;
    }
    // Reads inside the range stay inside it.
    auto middle = FileRange{dir.file("_CACHE_001_"), 2, 4}.Open();
    EXPECT_EQ(Text(middle->Read(3, 10)), "5");
    EXPECT_EQ(Text(middle->Read(4, 10)), "");
}

TEST(FileRange, ReadAheadServesTheSameBytesAsExactReads)
{
    TempDir dir;
    std::string content;
    for (int i = 0; i < 1000; ++i)
        content += char('a' + i % 26);
    test::WriteFile(dir.file("dcache4.url"), content);
    // A walk forward, a step back into the buffer, a jump past it, reads
    // that run past the end.
    const std::pair<uint64_t, size_t> reads[] = {{0, 12}, {12, 3},  {15, 40}, {14, 2}, {300, 100},
                                                 {299, 1}, {990, 20}, {995, 5}, {1000, 1}, {2, 998}};
    for (size_t readAhead : {size_t(0), size_t(7), size_t(64), size_t(1 << 16)}) {
        auto source = FileRange{dir.file("dcache4.url"), 0, FileRange::kToEnd}.Open(readAhead);
        ASSERT_TRUE(source);
        for (const auto& [offset, length] : reads) {
            const std::string expected = offset < content.size() ? content.substr(size_t(offset), length) : "";
            EXPECT_EQ(Text(source->Read(offset, length)), expected) << readAhead << ": " << offset << "+" << length;
        }
    }
    // Inside a range, read-ahead stops at the range's end.
    auto inner = FileRange{dir.file("dcache4.url"), 100, 10}.Open(1 << 16);
    EXPECT_EQ(Text(inner->Read(0, 4)), content.substr(100, 4));
    EXPECT_EQ(Text(inner->Read(8, 50)), content.substr(108, 2));
}

// An index read whole goes into a buffer of its own mapping (large pages):
// the same bytes, the whole way, whichever buffer came before.
TEST(FileRange, AFileOfMegabytesReadsWholeIntoItsOwnBuffer)
{
    TempDir dir;
    std::string content(platform::LargeBuffer::kMappedFrom * 2 + 4099, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = char((i * 131 + i / 4096) & 0xff);
    test::WriteFile(dir.file("index.dat"), content);
    auto source = FileRange{dir.file("index.dat"), 0, FileRange::kToEnd}.Open();
    ASSERT_TRUE(source);
    EXPECT_EQ(Text(source->Read(5, 10)), content.substr(5, 10));
    EXPECT_EQ(Text(source->Read(0, content.size())), content);
    // A larger read after a large one, and a small one served from it.
    EXPECT_EQ(Text(source->Read(7, content.size())), content.substr(7));
    EXPECT_EQ(Text(source->Read(content.size() - 3, 10)), content.substr(content.size() - 3));
    EXPECT_EQ(Text(source->Read(3, platform::LargeBuffer::kMappedFrom + 1)),
              content.substr(3, platform::LargeBuffer::kMappedFrom + 1));
}

TEST(FileRange, IsOpenedOnlyWhenAskedAndNeverOnWhatIsNoRegularFile)
{
    TempDir dir;
    FileRange later{dir.file("body"), 1, 2};
    EXPECT_FALSE(later.Open()); // not there yet
    test::WriteFile(dir.file("body"), "xyz");
    auto source = later.Open();
    ASSERT_TRUE(source);
    EXPECT_EQ(Text(source->ReadAll()), "yz");

    std::filesystem::create_directories(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE((FileRange{dir.file("folder")}.Open()));
    EXPECT_FALSE((FileRange{dir.file("fifo")}.Open()));
    EXPECT_FALSE((FileRange{"/dev/zero", 0, 10}.Open()));
}

} // namespace
} // namespace oriel::platform
