// oriel-cli over Mozilla caches: list and export in every map version and
// layout, and cat of bodies kept in block files and separate files, plain,
// gzip and deflate, also from a read-only cache folder.
#include "support/CliCommand.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>
#include <vector>

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

std::string Page(int lines)
{
    std::string page;
    for (int i = 0; i < lines; ++i)
        page += "<tr><td>row " + std::to_string(i) + "</td></tr>\n";
    return page;
}

TEST(MozillaCliTest, ListAndExportShowEveryEntryInEveryVersionAndLayout)
{
    for (const char* version : {"old", "new"}) {
        for (const char* layout : {"flat", "nested"}) {
            SCOPED_TRACE(std::string(version) + " " + layout);
            TempDir dir;
            const std::string folder = dir.file("Cache");
            std::string out, err;
            ASSERT_EQ(RunCommand(Synth("mozilla " + folder + " --entries 300 --layout " + layout + " --version " +
                                       version),
                                 &out, &err),
                      0)
                << err;
            ASSERT_EQ(RunCommand(Cli("list " + folder), &out, &err), 0) << err;
            std::vector<std::string> lines = Lines(out);
            EXPECT_EQ(lines.size(), 300u);
            size_t present = 0, nested = 0;
            for (const std::string& line : lines) {
                std::vector<std::string> fields = Fields(line);
                ASSERT_EQ(fields.size(), 8u) << line;
                present += fields[7] == "yes";
                nested += fields[1].find('/') != std::string::npos;
            }
            EXPECT_EQ(present, 300u) << "every body is there";
            EXPECT_EQ(nested > 0, std::string(layout) == "nested") << "separate files named by their sub-folders";

            ASSERT_EQ(RunCommand(Cli("export " + folder), &out, &err), 0) << err;
            size_t rows = 0;
            for (const std::string& line : Lines(out))
                rows += line.rfind("\"http://www", 0) == 0;
            EXPECT_EQ(rows, 300u);
        }
    }
}

// One cache with a body in each kind of place and encoding.
struct CatFixture {
    TempDir dir;
    std::string folder = dir.file("Cache");
    std::string page = Page(40);
    std::string bigPage = Page(2000);
    MozillaCacheWriter writer;
    CatFixture()
    {
        writer.SetLayout(MozillaCacheWriter::Layout::Nested);
        writer.Add("http://a.example/plain.html", page, "text/html");
        writer.Add("http://a.example/gzip.html", GzipBytes(page, kGzipName), "text/html", "gzip");
        writer.Add("http://a.example/raw-deflate.css", DeflateBytes(page, false), "text/css", "deflate");
        writer.Add("http://b.example/big.html", bigPage, "text/html").dataFile = 0;
        writer.Add("http://b.example/big-deflate.html", DeflateBytes(bigPage, true) + NoiseBytes(20000), "text/html",
                   "deflate")
            .dataFile = 0;
        writer.Add("http://b.example/big-gzip.js", GzipBytes(bigPage) + NoiseBytes(20000), "application/javascript",
                   "gzip")
            .dataFile = 0;
        writer.Write(folder);
    }
};

TEST(MozillaCliTest, CatWritesEachBodyExtractedAndDecoded)
{
    CatFixture f;
    const auto before = Snapshot(f.folder);
    const struct {
        const char* url;
        const std::string& body;
    } cases[] = {
        {"http://a.example/plain.html", f.page},          {"http://a.example/gzip.html", f.page},
        {"http://a.example/raw-deflate.css", f.page},     {"http://b.example/big.html", f.bigPage},
        {"http://b.example/big-deflate.html", f.bigPage}, {"http://b.example/big-gzip.js", f.bigPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string out, err;
        ASSERT_EQ(RunCommand(Cli("cat " + f.folder + " '" + c.url + "'"), &out, &err), 0) << err;
        EXPECT_EQ(out, c.body);
    }
    EXPECT_EQ(Snapshot(f.folder), before) << "working copies leave with the process";
}

TEST(MozillaCliTest, CatByRecordKeyMatchesTheKeyThatListShows)
{
    CatFixture f;
    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("list --json " + f.folder), &out, &err), 0) << err;
    std::string key;
    for (const std::string& line : Lines(out)) {
        if (line.find("\"url\":\"http://b.example/big-gzip.js\"") != std::string::npos)
            key = line.substr(7, line.find(',') - 7); // {"key":N,
    }
    ASSERT_FALSE(key.empty()) << out;
    ASSERT_EQ(RunCommand(Cli("cat --key " + key + " " + f.folder), &out, &err), 0) << err;
    EXPECT_EQ(out, f.bigPage);
}

TEST(MozillaCliTest, CatFailsWithAMessageWhenTheItemOrItsBodyCannotBeHad)
{
    CatFixture f;
    fs::remove(f.folder + "/" + f.writer.Entries()[3].dataFileName);
    const struct {
        const char* name;
        std::string args;
        int status;
        const char* message;
    } cases[] = {
        {"unknown URL", "cat " + f.folder + " http://nowhere.example/", 1, "no cached item with URL"},
        {"unknown key", "cat --key 99999 " + f.folder, 1, "no cached item with key 99999"},
        {"body file gone", "cat " + f.folder + " http://b.example/big.html", 1, "not in the cache any more"},
        {"key not a number", "cat --key x " + f.folder, 2, "--key needs a record key"},
        {"URL missing", "cat " + f.folder, 2, "usage"},
        {"no cache there", "cat " + f.dir.file("empty") + " http://a.example/", 1, "not found"},
    };
    fs::create_directories(f.dir.file("empty"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out, err;
        EXPECT_EQ(RunCommand(Cli(c.args), &out, &err), c.status);
        EXPECT_TRUE(out.empty());
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }

    // Without its block file an entry's body cannot be extracted.
    fs::remove(f.folder + "/_CACHE_001_");
    std::string out, err;
    EXPECT_EQ(RunCommand(Cli("cat " + f.folder + " http://a.example/plain.html"), &out, &err), 1);
    EXPECT_FALSE(err.empty());
}

TEST(MozillaCliTest, CatFromAReadOnlyCacheFolderChangesNothingInIt)
{
    CatFixture f;
    // Root writes anywhere; an unprivileged user is held back by the modes.
    std::string prefix;
    if (::geteuid() == 0) {
        if (RunCommand("command -v setpriv", nullptr) != 0)
            GTEST_SKIP() << "setpriv is needed to drop root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        fs::permissions(f.dir.path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
        // The private option store must stay readable for that user.
        fs::permissions(fs::path(std::getenv("ORIEL_CONFIG")).parent_path(),
                        fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
        fs::permissions(std::getenv("ORIEL_CONFIG"), fs::perms::others_read, fs::perm_options::add);
    }
    for (const auto& entry : fs::recursive_directory_iterator(f.folder)) {
        fs::permissions(entry.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    fs::permissions(f.folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const auto before = Snapshot(f.folder);
    for (const char* url : {"http://a.example/plain.html", "http://a.example/gzip.html", "http://b.example/big-gzip.js"}) {
        SCOPED_TRACE(url);
        std::string out, err;
        ASSERT_EQ(RunCommand(prefix + Cli(std::string("cat ") + f.folder + " " + url), &out, &err), 0) << err;
        EXPECT_EQ(out, std::string(url).find("big") != std::string::npos ? f.bigPage : f.page);
    }
    EXPECT_EQ(Snapshot(f.folder), before);
}

} // namespace
} // namespace oriel::test
