#include "filters/BrotliDecoder.h"

#include "support/ChromiumCacheWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace oriel {
namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(BrotliDecoder, WholeCutCorruptAndCappedStreams)
{
    test::TempDir dir;
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i) + "\n";
    text += test::NoiseBytes(200000);
    const std::string packed = test::BrotliBytes(text);
    std::string out = dir.file("out");

    ASSERT_EQ(BrotliToFile(packed.data(), packed.size(), out), 0);
    EXPECT_EQ(ReadAll(out), text);

    // Cut short: what was decoded is kept, and it is the start of the text.
    out = dir.file("cut");
    ASSERT_EQ(BrotliToFile(packed.data(), packed.size() / 2, out), 0);
    const std::string cut = ReadAll(out);
    EXPECT_GT(cut.size(), 0u);
    EXPECT_LT(cut.size(), text.size());
    EXPECT_EQ(text.compare(0, cut.size(), cut), 0);

    // Not brotli at all.
    const std::string junk(64, '\xFF');
    out = dir.file("junk");
    EXPECT_EQ(BrotliToFile(junk.data(), junk.size(), out), -1);

    // Capped.
    out = dir.file("capped");
    ASSERT_EQ(BrotliToFile(packed.data(), packed.size(), out, 1000), 0);
    EXPECT_EQ(ReadAll(out), text.substr(0, 1000));

    // A symbolic link at the destination is not followed.
    const std::string target = dir.file("target");
    { std::ofstream(target) << "keep"; }
    std::filesystem::create_symlink(target, dir.file("link"));
    EXPECT_EQ(BrotliToFile(packed.data(), packed.size(), dir.file("link")), -1);
    EXPECT_EQ(ReadAll(target), "keep");
    // Nor is a file that is there replaced.
    EXPECT_EQ(BrotliToFile(packed.data(), packed.size(), target), -1);
    EXPECT_EQ(ReadAll(target), "keep");
}

} // namespace
} // namespace oriel
