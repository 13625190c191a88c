// oriel-cli over a Chromium blockfile cache: every entry listed with its
// URL as stored, a body whose separate file is gone listed as missing, and
// "cat" giving a body kept inside a block file.
#include "support/ChromiumCacheWriter.h"
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

} // namespace
} // namespace oriel::test
