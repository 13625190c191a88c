// oriel-cli over Firefox cache2 folders: list (also as JSON), export and cat,
// the folder left as it was.
#include "support/CliCommand.h"
#include "support/FirefoxCache2Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace oriel::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files[fs::relative(entry.path(), folder).string()] = entry.is_regular_file() ? ReadWholeFile(entry.path()) : "";
    return files;
}

TEST(FirefoxCache2CliTest, ListAndExportShowEverySynthesizedEntry)
{
    TempDir dir;
    const std::string folder = dir.file("cache2");
    std::string out, err;
    ASSERT_EQ(RunCommand(Synth("firefox-cache2 " + Quote(folder) + " --entries 120"), &out, &err), 0) << err;
    // The synthesized cache's last entry is doomed: recovered, not live.
    ASSERT_EQ(RunCommand(Cli("list --recovered " + Quote(folder)), &out, &err), 0) << err;
    ASSERT_EQ(Lines(out).size(), 1u);
    ASSERT_EQ(RunCommand(Cli("list " + Quote(folder)), &out, &err), 0) << err;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 119u);
    size_t present = 0;
    for (const std::string& line : lines) {
        std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 8u) << line;
        present += fields[7] == "yes";
        EXPECT_EQ(fields[0].rfind("https://www.cache2.example/", 0), 0u) << line;
    }
    EXPECT_EQ(present, 119u);

    ASSERT_EQ(RunCommand(Cli("export " + Quote(folder)), &out, &err), 0) << err;
    size_t rows = 0;
    for (const std::string& line : Lines(out))
        rows += line.rfind("\"https://www.cache2.example/", 0) == 0;
    EXPECT_EQ(rows, 119u);
}

TEST(FirefoxCache2CliTest, JsonListingNamesTagsAndListsTheDeletedEntriesAsRecovered)
{
    TempDir dir;
    const std::string folder = dir.file("cache2");
    FirefoxCache2Writer w;
    w.Add("https://a.example/live.png", "png", "image/png").tags = "O^partitionKey=%28https%2Cb.example%29,a,";
    w.Add("https://a.example/gone.png", "png", "image/png").doomed = true;
    ASSERT_TRUE(w.Write(folder));
    std::string out, err, recovered;
    ASSERT_EQ(RunCommand(Cli("list --json --recovered " + Quote(folder)), &recovered, &err), 0) << err;
    ASSERT_EQ(Lines(recovered).size(), 1u);
    ASSERT_EQ(RunCommand(Cli("list --json " + Quote(folder)), &out, &err), 0) << err;
    ASSERT_EQ(Lines(out).size(), 1u);
    std::vector<std::string> lines = Lines(out + recovered);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        const bool gone = line.find("gone.png") != std::string::npos;
        EXPECT_EQ(line.find("\"deleted\":true") != std::string::npos, gone) << line;
        EXPECT_EQ(line.find("\"recovered\":true") != std::string::npos, gone) << line;
        EXPECT_NE(line.find("\"Deleted\":\"" + std::string(gone ? "yes" : "no") + "\""), std::string::npos) << line;
        if (!gone) {
            EXPECT_NE(line.find("\"Key tags\":\"O^partitionKey=%28https%2Cb.example%29,a,\""), std::string::npos)
                << line;
        }
    }
}

TEST(FirefoxCache2CliTest, CatGivesPlainAndDecodedBodiesAndLeavesTheFolderAsItWas)
{
    TempDir dir;
    const std::string folder = dir.file("cache2");
    std::string page;
    for (int i = 0; i < 40; ++i)
        page += "<li>item " + std::to_string(i) + "</li>\n";
    FirefoxCache2Writer w;
    w.Add("https://a.example/plain.html", page, "text/html");
    w.Add("https://a.example/gz.html", GzipBytes(page), "text/html", "gzip");
    w.Add("https://a.example/deflate.html", DeflateBytes(page, false), "text/html", "deflate");
    ASSERT_TRUE(w.Write(folder));
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::permissions(folder + "/entries", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const auto before = Snapshot(folder);
    for (const char* url : {"https://a.example/plain.html", "https://a.example/gz.html", "https://a.example/deflate.html"}) {
        SCOPED_TRACE(url);
        std::string out, err;
        ASSERT_EQ(RunCommand(Cli("cat " + Quote(folder) + " " + Quote(url)), &out, &err), 0) << err;
        EXPECT_EQ(out, page);
    }
    EXPECT_EQ(Snapshot(folder), before);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    fs::permissions(folder + "/entries", fs::perms::owner_all, fs::perm_options::add);
}

} // namespace
} // namespace oriel::test
