// oriel-cli copy end to end on synthesized caches of every format.
#include "support/CliCommand.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Quote;
using test::Synth;
using test::TempDir;

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t FilesUnder(const std::string& folder)
{
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

class CopyCommandFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(CopyCommandFormats, CopiesEveryBodyWithAManifestAndLeavesTheCacheAlone)
{
    TempDir dir;
    const std::string cache = dir.file("cache");
    const std::string out = dir.file("out");
    std::string synthOut;
    ASSERT_EQ(test::RunCommand(Synth(std::string(GetParam()) + " " + Quote(cache) + " --entries 40"), &synthOut), 0);
    const test::FolderSnapshot before = test::SnapshotFolder(cache);

    std::string listed, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + Quote(cache)), &listed, &err), 0) << err;
    size_t present = 0;
    for (const std::string& line : test::Lines(listed))
        present += line.size() >= 3 && line.compare(line.size() - 3, 3, "yes") == 0 ? 1 : 0;
    ASSERT_GT(present, 0u);

    int status = test::RunCommand(Cli("copy --to " + Quote(out) + " --paths --server-dirs " + Quote(cache)), nullptr, &err);
    // Items listed as missing cannot be copied and are named.
    EXPECT_EQ(status, present == test::Lines(listed).size() ? 0 : 1) << err;
    EXPECT_EQ(test::SnapshotFolder(cache), before);

    const std::vector<std::string> manifest = test::Lines(Read(out + "/manifest.csv"));
    ASSERT_EQ(manifest.size(), present + 1);
    EXPECT_EQ(manifest[0], "\"URL\",\"Destination\",\"Cache Name\",\"Size\",\"SHA-256\",\"MD5\",\"Last Modified\","
                           "\"Downloaded\",\"Expires\",\"Decompressed\"");
    EXPECT_EQ(FilesUnder(out), present + 1);
    // Each row's destination exists with the size it gives.
    for (size_t i = 1; i < manifest.size(); ++i) {
        const std::string& row = manifest[i];
        size_t a = row.find("\",\"");
        ASSERT_NE(a, std::string::npos) << row;
        size_t b = row.find('"', a + 3);
        const std::string dest = row.substr(a + 3, b - a - 3);
        EXPECT_TRUE(fs::is_regular_file(out + "/" + dest)) << row;
    }

    // A second copy into the same folder overwrites nothing: numbered names.
    status = test::RunCommand(Cli("copy --to " + Quote(out) + " --paths --server-dirs " + Quote(cache)), nullptr, &err);
    EXPECT_EQ(FilesUnder(out), 2 * (present + 1));
    EXPECT_TRUE(fs::exists(out + "/manifest (2).csv"));
}

INSTANTIATE_TEST_SUITE_P(Formats, CopyCommandFormats,
                         ::testing::Values("index-dat", "cache-db", "fat-db", "dcache4", "mozilla"));

TEST(CopyCommand, NamesFlagsAndBadArguments)
{
    TempDir dir;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    a.url = "http://www.example.com/a/../../b.gif";
    a.fileName = "b[1].gif";
    a.headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n";
    a.body = "GIF89a";
    w.addUrl(a);
    w.writeCache(dir.file("cache"), true);

    std::string err;
    EXPECT_EQ(test::RunCommand(Cli("copy --to " + Quote(dir.file("flat")) + " " + Quote(dir.file("cache"))), nullptr, &err), 0) << err;
    EXPECT_EQ(Read(dir.file("flat/b.gif")), "GIF89a");
    EXPECT_EQ(test::RunCommand(Cli("copy --paths --server-dirs --to " + Quote(dir.file("tree")) + " " +
                                   Quote(dir.file("cache"))),
                               nullptr, &err),
              0)
        << err;
    EXPECT_EQ(Read(dir.file("tree/www.example.com/a/_/_/b.gif")), "GIF89a");
    EXPECT_EQ(test::RunCommand(Cli("copy --names cache --to " + Quote(dir.file("byname")) + " " +
                                   Quote(dir.file("cache"))),
                               nullptr, &err),
              0)
        << err;
    EXPECT_EQ(Read(dir.file("byname/ABCD1234/b[1].gif")), "GIF89a");

    EXPECT_EQ(test::RunCommand(Cli("copy " + Quote(dir.file("cache"))), nullptr, &err), 2);
    EXPECT_EQ(test::RunCommand(Cli("copy --names odd --to x " + Quote(dir.file("cache"))), nullptr, &err), 2);
    EXPECT_EQ(test::RunCommand(Cli("copy --to " + Quote(dir.file("x")) + " " + Quote(dir.file("nothing"))), nullptr, &err), 1);
}

TEST(CopyCommand, ABodyCutAtTheDecodedSizeCapIsNamedInAWarning)
{
    // The cap of a run is 256 MiB: a gzip body one byte longer once decoded
    // is copied as far as kept and named on stderr; a short one is not.
    TempDir dir;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    const std::string gzipHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Encoding: gzip\r\n\r\n";
    test::IndexDatUrl longer;
    longer.url = "http://www.example.com/long.txt";
    longer.fileName = "long[1].txt";
    longer.headers = gzipHeaders;
    longer.body = test::GzipBytes(std::string((size_t(256) << 20) + 1, 'a'));
    w.addUrl(longer);
    test::IndexDatUrl fits = longer;
    fits.url = "http://www.example.com/short.txt";
    fits.fileName = "short[1].txt";
    fits.body = test::GzipBytes("short");
    w.addUrl(fits);
    w.writeCache(dir.file("cache"), true);

    std::string err;
    ASSERT_EQ(test::RunCommand(Cli("copy --to " + Quote(dir.file("out")) + " " + Quote(dir.file("cache"))), nullptr, &err),
              0)
        << err;
    EXPECT_EQ(fs::file_size(dir.file("out/long.txt")), uintmax_t(256) << 20);
    EXPECT_EQ(Read(dir.file("out/short.txt")), "short");
    EXPECT_EQ(test::Lines(err),
              std::vector<std::string>{"oriel-cli: warning: The decoded body is longer than 256 MiB; only its first "
                                       "256 MiB are kept: http://www.example.com/long.txt"});
}

} // namespace
} // namespace oriel
