// Emptying caches as jobs: a Mozilla cache folder decoded first or emptied
// with FastDelete, what stays on disk, the trace of every removed file,
// symbolic links never followed; and the profiles' empty in order.
#include "ops/EmptyJob.h"

#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "ops/DeleteItemsJob.h"
#include "support/CacheContents.h"
#include "support/FakeCache.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::FakeCache;
using test::MozillaCacheWriter;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;

class FastDeleteOption {
public:
    explicit FastDeleteOption(int on) { test::Options().fastDelete = on; }
    ~FastDeleteOption() { test::Options().fastDelete = 0; }
};

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory() || entry.is_symlink())
            files.insert(fs::relative(entry.path(), folder).string());
    }
    return files;
}

// Two entries in block files, two in files of their own, and a file
// outside the cache folder.
struct Sample {
    TempDir root;
    std::string folder = root.file("Cache");
    MozillaCacheWriter writer;
    Sample()
    {
        writer.SetLayout(MozillaCacheWriter::Layout::Nested);
        writer.Add("http://a.example/small.html", "<p>small</p>", "text/html");
        writer.Add("http://a.example/style.css", std::string(3000, 'c'), "text/css");
        writer.Add("http://b.example/big.gif", std::string(30000, 'g'), "image/gif").dataFile = 0;
        writer.Add("http://b.example/big2.gif", std::string(30000, 'h'), "image/gif").dataFile = 0;
        writer.Write(folder);
        WriteFile(root.file("outside/keep"), "keep");
    }
    std::string DataFile(size_t i) const { return folder + "/" + writer.Entries()[i].dataFileName; }
};

TEST(EmptyJob, WithoutFastDeleteItDecodesFirstAndRemovesTheListedFilesOnly)
{
    Sample s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    const std::set<std::string> before = FilesIn(s.folder);
    EmptyJob job(cache, false, nullptr, nullptr, false);
    std::vector<EmptyJob::Phase> phases;
    job.SetPhaseHandler([&phases](EmptyJob::Phase phase) { phases.push_back(phase); });
    EXPECT_EQ(job.Run().status, 0);
    EXPECT_TRUE(job.DecodedFirst());
    EXPECT_TRUE(job.Emptied());
    EXPECT_EQ(phases, (std::vector<EmptyJob::Phase>{EmptyJob::Phase::Decoding, EmptyJob::Phase::Removing}));
    EXPECT_FALSE(fs::exists(s.DataFile(2)));
    EXPECT_FALSE(fs::exists(s.DataFile(3)));
    // The map and the block files stay (no "RemoveDB").
    std::set<std::string> after = FilesIn(s.folder);
    EXPECT_EQ(after.size(), before.size() - 2);
    EXPECT_TRUE(after.count("_CACHE_MAP_"));
    EXPECT_EQ(job.CountOf(FileOutcome::Done), 2u);
    EXPECT_EQ(job.CountOf(FileOutcome::Failed), 0u);
    EXPECT_FALSE(cache.IsDecoded());
    EXPECT_EQ(ReadWholeFile(s.root.file("outside/keep")), "keep");
}

TEST(EmptyJob, FastDeleteEmptiesWithoutDecodingRemovesLinksNeverFollowsThemAndTracesEveryFile)
{
    FastDeleteOption fast(1);
    Sample s;
    // A link to another folder, and a link to a file outside.
    fs::create_directory_symlink(s.root.file("outside"), s.folder + "/escape");
    fs::create_symlink(s.root.file("outside/keep"), s.folder + "/keep-link");
    test::TraceCapture trace(s.root.file("trace.log"));
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    EmptyJob job(cache, true);
    std::vector<EmptyJob::Phase> phases;
    job.SetPhaseHandler([&phases](EmptyJob::Phase phase) { phases.push_back(phase); });
    EXPECT_EQ(job.Run().status, 0);
    EXPECT_FALSE(job.DecodedFirst());
    EXPECT_EQ(phases, std::vector<EmptyJob::Phase>{EmptyJob::Phase::Removing});
    EXPECT_TRUE(fs::is_directory(s.folder));
    EXPECT_TRUE(fs::is_empty(s.folder));
    EXPECT_EQ(ReadWholeFile(s.root.file("outside/keep")), "keep");
    EXPECT_TRUE(job.Files().empty());
    // One line per removed file, link or folder.
    const std::string text = trace.Text();
    for (const char* name : {"/_CACHE_MAP_", "/escape", "/keep-link"})
        EXPECT_NE(text.find("ShellFileOperation::RunDelete - deleted " + s.folder + name), std::string::npos) << name;
    EXPECT_NE(text.find("deleted " + s.DataFile(2)), std::string::npos);
}

TEST(EmptyJob, AStopBeforeTheStartRemovesNothing)
{
    Sample s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    const std::set<std::string> before = FilesIn(s.folder);
    EmptyJob job(cache, false);
    job.RequestStop();
    EXPECT_FALSE(job.Run().ran);
    EXPECT_FALSE(job.Emptied());
    EXPECT_EQ(FilesIn(s.folder), before);
}

TEST(EmptyJob, ItDoesNotRunWhileTheCacheDecodes)
{
    test::HeldDecode held;
    held.cache.DecodeThread(nullptr, false);
    EmptyJob job(held.cache, true);
    EXPECT_FALSE(job.Run().ran);
    EXPECT_EQ(held.cache.emptyCalls.load(), 0);
    held.stopped.Open();
    held.cache.WaitForDecodeThread();
}

TEST(DeleteItemsJob, ABodyLinkedOutsideTheFolderIsMissingAndItsTargetIsKept)
{
    Sample s;
    // The separate body of big.gif becomes a link to the file outside.
    fs::remove(s.DataFile(2));
    fs::create_symlink(s.root.file("outside/keep"), s.DataFile(2));
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    std::vector<CCacheItem*> items;
    for (CCacheItem* item : test::Items(cache)) {
        if (std::string(item->GetURL()) == "http://b.example/big.gif")
            items.push_back(item);
    }
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0]->Exists());
    DeleteItemsJob job(cache, items);
    job.Run();
    EXPECT_EQ(ReadWholeFile(s.root.file("outside/keep")), "keep");
    EXPECT_TRUE(fs::exists(s.DataFile(3)));
}

TEST(DeleteItemsJob, ACacheNameWithParentStepsNeverReachesOutsideTheFolder)
{
    for (bool empty : {false, true}) {
        TempDir root;
        const std::string folder = root.file("Cache");
        WriteFile(root.file("outside/keep"), "keep");
        WriteFile(folder + "/inside.html", "in");
        test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::FatDb);
        for (auto [url, name] : {std::pair{"http://a.example/escape", "..\\outside\\keep"},
                                 std::pair{"http://a.example/in", "inside.html"}}) {
            test::FatDbEntry entry;
            entry.url = url;
            entry.cacheName = name;
            w.addFatEntry(entry);
        }
        w.write(folder);
        NetscapeFatDBCache cache(test::Context(), nullptr, folder);
        ASSERT_EQ(cache.Decode(nullptr, false), 0);
        ASSERT_EQ(cache.GetItemCount(), 2);
        if (empty) {
            EmptyJob job(cache, false);
            job.Run();
        } else {
            DeleteItemsJob job(cache, test::Items(cache));
            job.Run();
        }
        EXPECT_FALSE(fs::exists(folder + "/inside.html")) << empty;
        EXPECT_EQ(ReadWholeFile(root.file("outside/keep")), "keep") << empty;
    }
}

TEST(EmptyProfilesJob, EmptiesEachCacheInOrderPassingOverProfilesWithoutOne)
{
    for (bool fast : {false, true}) {
        FakeCache a("a");
        FakeCache b("b");
        std::vector<std::pair<int, std::string>> statuses;
        EmptyProfilesJob job({{&a, "A"}, {nullptr, "none"}, {&b, "B"}}, fast);
        job.SetStatusHandler([&statuses](int id, const std::string& name) { statuses.push_back({id, name}); });
        EXPECT_EQ(job.Run().status, 0);
        EXPECT_EQ(job.EmptiedProfiles(), (std::vector<std::string>{"A", "B"}));
        EXPECT_EQ(a.emptyCalls.load(), 1);
        EXPECT_EQ(b.emptyCalls.load(), 1);
        // Decoded on the cache's decode thread first, messages off.
        EXPECT_EQ(a.decodeCalls, fast ? 0 : 1);
        EXPECT_EQ(b.decodeCalls, fast ? 0 : 1);
        if (!fast) {
            EXPECT_FALSE(a.ShowMessages());
        }
        const size_t perProfile = fast ? 1 : 2;
        ASSERT_EQ(statuses.size(), 2 * perProfile);
        EXPECT_EQ(statuses.back(), (std::pair<int, std::string>{1006, "B"}));
        if (!fast) {
            EXPECT_EQ(statuses.front(), (std::pair<int, std::string>{1002, "A"}));
        }
    }
}

TEST(EmptyProfilesJob, AFailingEmptyGivesItsValueAndTheOthersStillRun)
{
    FakeCache a("a");
    FakeCache b("b");
    a.emptyResult = 3;
    EmptyProfilesJob job({{&a, "A"}, {&b, "B"}}, true);
    EXPECT_EQ(job.Run().status, 3);
    EXPECT_EQ(b.emptyCalls.load(), 1);
}

} // namespace
} // namespace oriel
