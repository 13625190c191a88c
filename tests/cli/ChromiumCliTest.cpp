// oriel-cli over the Chromium caches: every entry of a blockfile cache
// listed with its URL as stored, a body whose separate file is gone listed
// as missing; every entry file of a simple cache (synthesized, and one with
// a double key and a cut file) listed, its body given by "cat".
#include "support/ChromiumCacheWriter.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/CliCommand.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace oriel::test {
namespace {

TEST(ChromiumCliTest, ListShowsEveryEntryAndWhetherItsBodyIsThere)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    w.Add("https://www.example.com/a.png", std::string(3000, 'a'), "HTTP/1.1 200 OK\nContent-Type: image/png");
    w.Add("https://www.example.com/big.js", std::string(30000, 'j'), "HTTP/1.1 200 OK");
    w.Add("1/0/_dk_https://s.example https://s.example https://t.example/p.gif", "GIF89a", "HTTP/1.1 200 OK");
    const auto separate = w.Write(dir.path());
    ASSERT_EQ(separate.size(), 1u);
    std::filesystem::remove(dir.file(separate[0]));

    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("list " + dir.path()), &out, &err), 0) << err;
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u);
    auto find = [&lines](const std::string& url) -> std::vector<std::string> {
        for (const std::string& line : lines) {
            auto fields = Fields(line);
            if (std::find(fields.begin(), fields.end(), url) != fields.end())
                return fields;
        }
        return {};
    };
    auto png = find("https://www.example.com/a.png");
    ASSERT_FALSE(png.empty()) << out;
    EXPECT_EQ(png.back(), "yes");
    auto js = find("https://www.example.com/big.js");
    ASSERT_FALSE(js.empty()) << out;
    EXPECT_EQ(js.back(), "no");
    EXPECT_FALSE(find("https://t.example/p.gif").empty()) << out;
}

TEST(ChromiumCliTest, ListAndCatOverASimpleCache)
{
    TempDir dir;
    const std::string folder = dir.file("simple");
    std::string out, err;
    ASSERT_EQ(RunCommand(Synth("chromium-simple " + Quote(folder) + " --entries 90"), &out, &err), 0) << err;
    ASSERT_EQ(RunCommand(Cli("list " + Quote(folder)), &out, &err), 0) << err;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 90u);
    size_t present = 0;
    for (const std::string& line : lines) {
        std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 8u) << line;
        present += fields[7] == "yes";
        EXPECT_EQ(fields[0].rfind("https://", 0), 0u) << line;
    }
    EXPECT_EQ(present, 90u);

    TempDir small;
    ChromiumSimpleCacheWriter w;
    w.Add("1/0/_dk_https://s.example https://s.example https://t.example/p.gif", "GIF89a",
          "HTTP/1.1 200 OK\nContent-Type: image/gif");
    w.Add("https://t.example/cut.js", std::string(500, 'j'), "HTTP/1.1 200 OK");
    w.Write(small.path());
    const std::string cut = small.file(ChromiumSimpleCacheWriter::FileName("https://t.example/cut.js", '0'));
    std::filesystem::resize_file(cut, 200);
    ASSERT_EQ(RunCommand(Cli("list --json " + Quote(small.path())), &out, &err), 0) << err;
    lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    std::string pixelLine;
    for (const std::string& line : lines) {
        if (line.find("\"url\":\"https://t.example/p.gif\"") != std::string::npos)
            pixelLine = line;
    }
    ASSERT_FALSE(pixelLine.empty()) << out;
    EXPECT_NE(pixelLine.find("\"Site key\":\"https://s.example https://s.example\""), std::string::npos) << pixelLine;
    EXPECT_NE(out.find("\"Damaged\""), std::string::npos) << out;

    ASSERT_EQ(RunCommand(Cli("cat " + Quote(small.path()) + " " + Quote("https://t.example/p.gif")), &out, &err), 0)
        << err;
    EXPECT_EQ(out, "GIF89a");
}

} // namespace
} // namespace oriel::test
