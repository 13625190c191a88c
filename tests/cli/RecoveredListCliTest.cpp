// oriel-cli and the recovered entries: `list` and `export` show only the
// live items, `list --recovered` only the recovered ones (with
// "recovered":true in JSON), and `cat --key` reaches a recovered body.
#include "support/ChromiumCacheWriter.h"
#include "support/CliCommand.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oriel::test {
namespace {

std::string Listing(const std::string& args)
{
    std::string out, err;
    EXPECT_EQ(RunCommand(Cli(args), &out, &err), 0) << err;
    return out;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(RecoveredListCliTest, IndexDatRecoveredRecordsAreListedOnlyWhenAskedFor)
{
    TempDir dir;
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl({.url = "http://a.example/live.htm", .fileName = "live[1].htm", .body = "live body"});
    w.addStaleUrl({.url = "http://a.example/deleted.htm", .fileName = "deleted[1].htm", .body = "deleted body"});
    IndexDatUrl cut{.url = "http://b.example/cut", .headers = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(300, 'p')};
    w.addCutStaleUrl(cut, 1);
    w.addUrl({.url = "http://a.example/after.htm", .fileName = "after[1].htm", .body = "after"});
    w.writeCache(dir.path());
    const std::string folder = Quote(dir.path());

    const std::string live = Listing("list " + folder);
    EXPECT_EQ(Lines(live).size(), 2u);
    EXPECT_FALSE(Contains(live, "deleted.htm"));
    EXPECT_FALSE(Contains(Listing("export " + folder), "deleted.htm"));
    EXPECT_FALSE(Contains(Listing("list --json " + folder), "\"recovered\""));

    const std::vector<std::string> recovered = Lines(Listing("list --json --recovered " + folder));
    ASSERT_EQ(recovered.size(), 2u);
    EXPECT_TRUE(Contains(recovered[0], "\"url\":\"http://a.example/deleted.htm\"")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], "\"server\":\"a.example\"")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], "\"cacheName\":\"ABCD1234\\\\deleted[1].htm\"")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], "\"exists\":true")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], ",\"recovered\":true")) << recovered[0];
    EXPECT_FALSE(Contains(recovered[0], "\"partial\"")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[1], "\"url\":\"http://b.example/cut\"")) << recovered[1];
    EXPECT_TRUE(Contains(recovered[1], "\"recovered\":true,\"partial\":true")) << recovered[1];
    EXPECT_EQ(Lines(Listing("list --recovered " + folder)).size(), 2u);

    // The deleted record's body, by the key the listing gives it.
    const size_t keyAt = recovered[0].find("\"key\":") + 6;
    const std::string key = recovered[0].substr(keyAt, recovered[0].find(',', keyAt) - keyAt);
    EXPECT_EQ(Listing("cat --key " + key + " " + folder), "deleted body");
}

TEST(RecoveredListCliTest, MozillaStaleRecordsAndOrphanBodiesAreListedOnlyWhenAskedFor)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://m.example/live", "live", "text/plain");
    w.Add("http://m.example/stale", "stale", "text/plain").record = MozillaCacheWriter::Entry::Record::Stale;
    w.AddOrphanBody(0x00C0FFEE, 1, "orphan");
    w.Write(dir.path());
    const std::string folder = Quote(dir.path());

    EXPECT_EQ(Lines(Listing("list " + folder)).size(), 1u);
    EXPECT_FALSE(Contains(Listing("export " + folder), "m.example/stale"));
    const std::string recovered = Listing("list --json --recovered " + folder);
    ASSERT_EQ(Lines(recovered).size(), 2u);
    EXPECT_TRUE(Contains(recovered, "\"url\":\"http://m.example/stale\""));
    // The body alone keeps an empty URL and its name.
    EXPECT_TRUE(Contains(recovered, "\"url\":\"\",\"server\":null,\"path\":null,\"cacheName\":\"00C0FFEEd01\""))
        << recovered;
}

TEST(RecoveredListCliTest, ChromiumBlockfileDeletedEntriesAreListedOnlyWhenAskedFor)
{
    TempDir dir;
    ChromiumBlockfileWriter w;
    w.Add("https://c.example/live", "live body", "HTTP/1.1 200 OK\nContent-Type: text/plain");
    auto& gone = w.Add("https://c.example/deleted", "deleted body", "HTTP/1.1 200 OK\nContent-Type: text/plain");
    gone.deleted = true;
    w.Write(dir.path());
    const std::string folder = Quote(dir.path());

    const std::string live = Listing("list " + folder);
    EXPECT_EQ(Lines(live).size(), 1u);
    EXPECT_FALSE(Contains(live, "deleted"));
    EXPECT_FALSE(Contains(Listing("export " + folder), "c.example/deleted"));
    const std::vector<std::string> recovered = Lines(Listing("list --json --recovered " + folder));
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_TRUE(Contains(recovered[0], "\"url\":\"https://c.example/deleted\"")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], ",\"recovered\":true")) << recovered[0];
    EXPECT_TRUE(Contains(recovered[0], "\"Recovered from\":\"data_1 block ")) << recovered[0];
    const size_t keyAt = recovered[0].find("\"key\":") + 6;
    const std::string key = recovered[0].substr(keyAt, recovered[0].find(',', keyAt) - keyAt);
    EXPECT_EQ(Listing("cat --key " + key + " " + folder), "deleted body");
}

} // namespace
} // namespace oriel::test
