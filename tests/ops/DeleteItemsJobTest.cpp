#include "ops/DeleteItemsJob.h"

#include "formats/NetscapeCacheMapCache.h"
#include "model/DecodeJob.h"
#include "model/Progress.h"
#include "support/CacheContents.h"
#include "support/TestContext.h"
#include "support/FakeCache.h"
#include "support/FolderSnapshot.h"
#include "support/Gate.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::FakeCache;
using test::Gate;
using test::MozillaCacheWriter;
using test::SnapshotFolder;
using test::TempDir;
using test::WriteFile;

CCacheItem* Find(CCache& cache, const std::string& url)
{
    for (CCacheItem* item : test::Items(cache)) {
        if (url == item->GetURL())
            return item;
    }
    return nullptr;
}

struct Outcome {
    std::string path;
    FileOutcome outcome;
    std::string reason;
    bool operator==(const Outcome&) const = default;
};

std::vector<Outcome> Outcomes(const FileJob& job)
{
    std::vector<Outcome> outcomes;
    for (const FileResult& file : job.Files())
        outcomes.push_back({file.path, file.outcome, file.reason});
    return outcomes;
}

void PrintTo(const Outcome& o, std::ostream* out)
{
    *out << o.path << " " << FileOutcomeName(o.outcome) << " " << o.reason;
}

TEST(DeleteItemsJob, EachItemsOutcomeSaysWhetherItsFileIsGone)
{
    TempDir root;
    const std::string folder = root.file("Cache");
    MozillaCacheWriter w;
    w.SetLayout(MozillaCacheWriter::Layout::Nested);
    w.Add("http://a.example/small.html", "<p>small</p>", "text/html"); // in a block file
    w.Add("http://b.example/big.gif", std::string(30000, 'g'), "image/gif").dataFile = 0;
    w.Add("http://b.example/gone.gif", std::string(30000, 'h'), "image/gif").dataFile = 0;
    w.Add("http://b.example/kept.gif", std::string(30000, 'k'), "image/gif").dataFile = 0;
    w.Write(folder);
    NetscapeCacheMapCache cache(test::Context(), nullptr, folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    CCacheItem* small = Find(cache, "http://a.example/small.html");
    CCacheItem* big = Find(cache, "http://b.example/big.gif");
    CCacheItem* gone = Find(cache, "http://b.example/gone.gif");
    ASSERT_TRUE(small && big && gone);
    const std::string bigPath = big->GetFilePath();
    const std::string gonePath = gone->GetFilePath();
    // A body in a block file has no file path until it is extracted; its
    // outcome is named by its URL.
    ASSERT_EQ(small->GetFilePath(), nullptr);
    const std::string smallPath = "http://a.example/small.html";
    fs::remove(gonePath);
    const std::string kept = folder + "/" + w.Entries()[3].dataFileName;

    DeleteItemsJob job(cache, {small, nullptr, big, gone});
    int calls = 0;
    job.SetCompletionHandler([&](const Job&) { ++calls; });
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Outcomes(job), (std::vector<Outcome>{
                                 {smallPath, FileOutcome::Failed, "the item's file still exists"},
                                 {bigPath, FileOutcome::Done, ""},
                                 {gonePath, FileOutcome::Skipped, "already missing"},
                             }));
    EXPECT_EQ(job.Result().status, -1);
    EXPECT_FALSE(fs::exists(bigPath));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(job.CountOf(FileOutcome::Done), 1u);
    EXPECT_EQ(job.CountOf(FileOutcome::Refused), 0u);
}

// Items over plain files in a folder, deleted by a function of the test.
struct FileItems {
    TempDir dir;
    FakeCache cache{dir.path()};
    std::vector<CCacheItem*> items;

    explicit FileItems(int count)
    {
        for (int i = 0; i < count; ++i) {
            std::string name = "f" + std::to_string(i);
            WriteFile(dir.file(name), name);
            cache.AddUrl("http://a/" + name, name);
        }
        items = test::Items(cache);
        // The format's delete loop: one file per item, a stop check before
        // each.
        cache.deleteItems = [](FakeCache& c, std::span<CCacheItem* const> chosen) {
            for (CCacheItem* item : chosen) {
                if (c.StopRequested())
                    break;
                fs::remove(item->GetFilePath());
            }
            return 0;
        };
    }
};

TEST(DeleteItemsJob, AStopWhileTheCacheDeletesSkipsTheItemsLeft)
{
    FileItems f(3);
    Gate started, stopped;
    auto loop = f.cache.deleteItems;
    f.cache.deleteItems = [&](FakeCache& c, std::span<CCacheItem* const> chosen) {
        fs::remove(chosen[0]->GetFilePath());
        started.Open();
        stopped.WaitOpen();
        return loop(c, chosen.subspan(1));
    };
    DeleteItemsJob job(f.cache, f.items);
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(started.WaitOpen());
    job.RequestStop();
    stopped.Open();
    job.Wait();
    EXPECT_TRUE(job.Result().stopped);
    EXPECT_EQ(Outcomes(job), (std::vector<Outcome>{
                                 {f.dir.file("f0"), FileOutcome::Done, ""},
                                 {f.dir.file("f1"), FileOutcome::Skipped, "stopped"},
                                 {f.dir.file("f2"), FileOutcome::Skipped, "stopped"},
                             }));
    EXPECT_EQ(job.Result().status, 0);
    EXPECT_TRUE(fs::exists(f.dir.file("f1")));
}

TEST(DeleteItemsJob, AStopLeftOnTheCacheByAnEarlierOperationDoesNotStopIt)
{
    FileItems f(2);
    f.cache.RequestStop();
    DeleteItemsJob job(f.cache, f.items);
    EXPECT_TRUE(job.Run().Succeeded());
    EXPECT_EQ(job.CountOf(FileOutcome::Done), 2u);
    EXPECT_FALSE(fs::exists(f.dir.file("f0")));
    EXPECT_FALSE(fs::exists(f.dir.file("f1")));
}

TEST(DeleteItemsJob, AStopBeforeTheStartDeletesNothing)
{
    FileItems f(2);
    auto before = SnapshotFolder(f.dir.path());
    DeleteItemsJob job(f.cache, f.items);
    job.RequestStop();
    EXPECT_FALSE(job.Run().ran);
    EXPECT_TRUE(job.Files().empty());
    EXPECT_EQ(SnapshotFolder(f.dir.path()), before);
}

TEST(DeleteItemsJob, ItDoesNotRunWhileTheCacheDecodes)
{
    FileItems f(2);
    auto before = SnapshotFolder(f.dir.path());
    Gate release;
    f.cache.decode = [&](FakeCache&) { return release.WaitOpen() ? 0 : 1; };
    DecodeJob decode(f.cache, nullptr, false);
    ASSERT_TRUE(decode.Start());
    DeleteItemsJob job(f.cache, f.items);
    EXPECT_FALSE(job.Run().ran);
    EXPECT_EQ(SnapshotFolder(f.dir.path()), before);
    release.Open();
}

TEST(DeleteItemsJob, AFailingCacheDeleteGivesItsValueAndTheProgressRangeIsTheItemCount)
{
    struct RangeProgress : Progress {
        void SetRange(int, int upper) override { range = upper; }
        void SetPos(int) override {}
        void OffsetPos(int) override {}
        void StepIt() override {}
        int range = -1;
    } progress;
    FileItems f(3);
    fs::remove(f.dir.file("f1"));
    f.cache.deleteItems = [](FakeCache&, std::span<CCacheItem* const>) { return 7; };
    DeleteItemsJob job(f.cache, f.items, nullptr, &progress);
    EXPECT_EQ(job.Run().status, 7);
    EXPECT_EQ(progress.range, 2);
    EXPECT_EQ(job.CountOf(FileOutcome::Failed), 2u);
    EXPECT_EQ(job.CountOf(FileOutcome::Skipped), 1u);
}

} // namespace
} // namespace oriel
