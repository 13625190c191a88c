// Viewing, listing, exporting and copying out every item of a cache of each
// format leaves every file and folder of the cache as it was: the same bytes,
// modification and status change times, nothing added and nothing left
// behind. In the window's way (every item prepared and extracted in
// process) and through oriel-cli; as root, on a writable and on a read-only
// copy, and as another user.
#include "catalog/FormatCatalog.h"
#include "model/CacheItem.h"
#include "support/SyntheticFormats.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/CliCommand.h"
#include "support/Dcache4Writer.h"
#include "support/FirefoxCache2Writer.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/MessageCapture.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/SynthOptions.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Quote;

using Format = test::SyntheticFormat;

std::vector<Format> Formats()
{
    return test::EverySyntheticFormat();
}

// Every item viewed as the window views it, then extracted, then let go.
void ViewInProcess(const std::string& folder, const std::string& scratch)
{
    auto cache = CreateCacheForFolder(test::Context(), nullptr, folder);
    ASSERT_TRUE(cache);
    ASSERT_EQ(cache->Decode(nullptr, true), 0);
    int n = 0;
    for (CCacheItem* item : test::Items(*cache)) {
        if (!item->Exists())
            continue;
        item->PrepareFile();
        item->ExtractBodyTo(scratch + "/" + std::to_string(++n));
    }
}

// The record keys oriel-cli lists for the folder.
std::set<std::string> Keys(const std::string& prefix, const std::string& folder)
{
    std::string out, err;
    EXPECT_EQ(test::RunCommand(prefix + Cli("list --json " + Quote(folder)), &out, &err), 0) << err;
    std::set<std::string> keys;
    for (const std::string& line : test::Lines(out)) {
        const size_t start = line.find("\"key\":");
        if (start != std::string::npos)
            keys.insert(line.substr(start + 6, line.find(',', start) - start - 6));
    }
    return keys;
}

// Every command that reads the cache; `prefix` runs it (as another user,
// say) and `scratch` takes what they write.
void RunEveryCommand(const std::string& prefix, const std::string& folder, const std::string& scratch)
{
    const std::string f = Quote(folder);
    const std::set<std::string> keys = Keys(prefix, folder);
    EXPECT_FALSE(keys.empty());
    std::vector<std::string> commands = {"list " + f, "export " + f,
                                         "export --output " + Quote(scratch + "/index.csv") + " " + f,
                                         "copy --to " + Quote(scratch + "/out") + " " + f,
                                         "timeline --recovered " + f,
                                         "report --recovered --to " + Quote(scratch + "/report") + " " + f};
    for (const std::string& key : keys)
        commands.push_back("cat --key " + key + " " + f);
    for (const std::string& args : commands) {
        SCOPED_TRACE(args);
        std::string out, err;
        test::RunCommand(prefix + Cli(args), &out, &err);
        EXPECT_EQ(err.find("rror"), std::string::npos) << err;
    }
}

// Makes every folder and file read-only (what root ignores).
void MakeReadOnly(const std::string& folder)
{
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        fs::permissions(it->path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

class ViewingWritesNothingTest : public testing::TestWithParam<Format> {
protected:
    void WriteCache(const std::string& folder)
    {
        test::SynthOptions options;
        options.entries = 16;
        fs::create_directories(folder);
        GetParam().write(folder, options);
    }
    test::MessageCapture sink_;
};

TEST_P(ViewingWritesNothingTest, InTheWindowsWayAndThroughTheCommandLine)
{
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only copy" : "writable cache");
        test::TempDir dir;
        const std::string folder = dir.file("cache");
        WriteCache(folder);
        fs::create_directories(dir.file("scratch"));
        if (readOnly)
            MakeReadOnly(folder);
        const test::FolderSnapshot before = test::SnapshotFolder(folder);
        ViewInProcess(folder, dir.file("scratch"));
        EXPECT_EQ(test::SnapshotFolder(folder), before) << "viewing in process changed the cache";
        RunEveryCommand("", folder, dir.file("scratch"));
        EXPECT_EQ(test::SnapshotFolder(folder), before) << "a command changed the cache";
    }
}

TEST_P(ViewingWritesNothingTest, AsAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run oriel-cli as nobody";
    test::TempDir dir;
    // The other user reaches the cache, and has a folder of its own to write to.
    fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const std::string folder = dir.file("cache");
    WriteCache(folder);
    MakeReadOnly(folder);
    const std::string own = dir.file("nobody");
    fs::create_directories(own);
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    test::WriteFile(own + "/Oriel.ini", "[Options]\nMessageDumpFile=\"\"\n");
    ASSERT_EQ(::chown((own + "/Oriel.ini").c_str(), 65534, 65534), 0);
    const test::FolderSnapshot before = test::SnapshotFolder(folder);
    const std::string prefix = "env TMPDIR=" + Quote(own) + " HOME=" + Quote(own) + " ORIEL_CONFIG=" +
                               Quote(own + "/Oriel.ini") + " setpriv --reuid=65534 --regid=65534 --clear-groups ";
    RunEveryCommand(prefix, folder, own);
    EXPECT_EQ(test::SnapshotFolder(folder), before);
    // Its private folders went with its runs.
    for (const auto& entry : fs::directory_iterator(own))
        EXPECT_NE(entry.path().filename().string().rfind("oriel-", 0), 0u) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ViewingWritesNothingTest, testing::ValuesIn(Formats()),
                         [](const testing::TestParamInfo<Format>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace oriel
