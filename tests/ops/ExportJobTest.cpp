#include "ops/ExportJob.h"

#include "formats/NetscapeCacheMapCache.h"
#include "model/CsvExport.h"
#include "model/DecodeJob.h"
#include "support/FakeCache.h"
#include "support/TestContext.h"
#include "support/FolderSnapshot.h"
#include "support/Gate.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::FakeCache;
using test::Gate;
using test::MozillaCacheWriter;
using test::ReadWholeFile;
using test::SnapshotFolder;
using test::TempDir;

// A Mozilla cache with items in block files and in separate files.
struct SampleCache {
    TempDir root;
    std::string folder = root.file("Cache");
    std::string outDir = root.file("out");

    SampleCache()
    {
        MozillaCacheWriter w;
        w.SetLayout(MozillaCacheWriter::Layout::Nested);
        w.Add("http://a.example/small.html", "<p>small</p>", "text/html");
        w.Add("http://a.example/style.css", std::string(3000, 'c'), "text/css");
        w.Add("http://b.example/big.gif", std::string(30000, 'g'), "image/gif").dataFile = 0;
        w.Write(folder);
        fs::create_directory(outDir);
    }
};

std::string ExpectedCsv(CCache& cache, const std::string& name, const std::string& folder)
{
    std::ostringstream csv;
    WriteCsvExport(csv, cache, name, folder);
    return csv.str();
}

TEST(ExportJob, WritesTheWholeExportToTheNamedFileAndNothingElse)
{
    for (bool onItsThread : {false, true}) {
        SCOPED_TRACE(onItsThread);
        SampleCache s;
        NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
        ASSERT_EQ(cache.Decode(nullptr, false), 0);
        auto before = SnapshotFolder(s.folder);
        const std::string file = s.outDir + "/cache.csv";
        ExportJob job(cache, {file, "Jane", s.folder});
        int calls = 0;
        job.SetCompletionHandler([&](const Job& done) {
            ++calls;
            ASSERT_EQ(static_cast<const ExportJob&>(done).Files().size(), 1u);
        });
        if (onItsThread) {
            ASSERT_TRUE(job.Start());
            job.Wait();
        } else {
            job.Run();
        }
        EXPECT_TRUE(job.Result().Succeeded());
        EXPECT_EQ(calls, 1);
        ASSERT_EQ(job.Files().size(), 1u);
        EXPECT_EQ(job.Files()[0].path, file);
        EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Done);
        EXPECT_EQ(job.Files()[0].reason, "");
        EXPECT_EQ(job.CountOf(FileOutcome::Done), 1u);
        std::string csv = ReadWholeFile(file);
        EXPECT_EQ(csv, ExpectedCsv(cache, "Jane", s.folder));
        EXPECT_NE(csv.find("\"http://b.example/big.gif\""), std::string::npos) << csv;
        // The cache folder is as it was, byte for byte and time for time,
        // and the output folder holds the one file.
        EXPECT_EQ(SnapshotFolder(s.folder), before);
        EXPECT_EQ(SnapshotFolder(s.outDir).size(), 2u); // "." and the file
    }
}

TEST(ExportJob, FailuresAndRefusalsNameTheFileAndWriteNothingIntoTheCache)
{
    struct Case {
        const char* name;
        std::function<std::string(const SampleCache&)> path;
        FileOutcome outcome;
        std::function<std::string(const std::string&)> reason;
    };
    const Case cases[] = {
        {"missing folder", [](const SampleCache& s) { return s.root.file("no/such/x.csv"); }, FileOutcome::Failed,
         [](const std::string& p) { return "cannot create " + p + ": No such file or directory"; }},
        {"full device", [](const SampleCache&) { return std::string("/dev/full"); }, FileOutcome::Failed,
         [](const std::string& p) { return "cannot write " + p; }},
        {"in the cache folder", [](const SampleCache& s) { return s.folder + "/x.csv"; }, FileOutcome::Refused,
         [](const std::string& p) { return "will not write into the cache folder: " + p; }},
        {"over the index", [](const SampleCache& s) { return s.folder + "/_CACHE_MAP_"; }, FileOutcome::Refused,
         [](const std::string& p) { return "will not write into the cache folder: " + p; }},
        {"through a link", [](const SampleCache& s) { return s.outDir + "/link/x.csv"; }, FileOutcome::Refused,
         [](const std::string& p) { return "will not write into the cache folder: " + p; }},
        {"below a dot-dot", [](const SampleCache& s) { return s.outDir + "/../Cache/0/x.csv"; },
         FileOutcome::Refused, [](const std::string& p) { return "will not write into the cache folder: " + p; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleCache s;
        fs::create_directory_symlink(s.folder, s.outDir + "/link");
        NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
        ASSERT_EQ(cache.Decode(nullptr, false), 0);
        auto before = SnapshotFolder(s.folder);
        const std::string path = c.path(s);
        ExportJob job(cache, {path, "Jane", s.folder});
        EXPECT_EQ(job.Run().status, -1);
        ASSERT_EQ(job.Files().size(), 1u);
        EXPECT_EQ(job.Files()[0].path, path);
        EXPECT_EQ(job.Files()[0].outcome, c.outcome);
        EXPECT_EQ(job.Files()[0].reason, c.reason(path));
        EXPECT_EQ(SnapshotFolder(s.folder), before);
    }
}

TEST(ExportJob, TheProfilesFolderIsGuardedAsWellAsTheCaches)
{
    SampleCache s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    ExportJob job(cache, {s.outDir + "/x.csv", "Jane", s.outDir});
    EXPECT_EQ(job.Run().status, -1);
    EXPECT_EQ(job.Files().at(0).outcome, FileOutcome::Refused);
    EXPECT_FALSE(fs::exists(s.outDir + "/x.csv"));
}

TEST(ExportJob, PathLiesInFolderComparesWholeNames)
{
    TempDir dir;
    fs::create_directories(dir.file("cache"));
    fs::create_directories(dir.file("cache2"));
    struct Case {
        std::string path, folder;
        bool inside;
    };
    const Case cases[] = {
        {dir.file("cache/x"), dir.file("cache"), true},
        {dir.file("cache/new/x"), dir.file("cache"), true},
        {dir.file("cache"), dir.file("cache"), true},
        {dir.file("cache/x"), dir.file("cache") + "/", true},
        {dir.file("cache2/x"), dir.file("cache"), false},
        {dir.file("x"), dir.file("cache"), false},
        {dir.file("cache/../x"), dir.file("cache"), false},
        {dir.file("x"), "", false},
        {"", dir.file("cache"), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PathLiesInFolder(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

TEST(ExportJob, AnUndecodedCacheExportsTheHeaderOnlyAndSaysSo)
{
    SampleCache s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    const std::string file = s.outDir + "/x.csv";
    ExportJob job(cache, {file, "Jane", s.folder});
    EXPECT_EQ(job.Run().status, -1);
    EXPECT_EQ(job.Files().at(0).outcome, FileOutcome::Failed);
    EXPECT_EQ(job.Files().at(0).reason, "the cache is not decoded; the file holds the header lines only");
    std::ostringstream header;
    WriteCsvHeader(header, "Jane", s.folder);
    EXPECT_EQ(ReadWholeFile(file), header.str());
}

TEST(ExportJob, DecodeFirstDecodesAnUndecodedCacheBeforeExporting)
{
    SampleCache s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    const std::string file = s.outDir + "/x.csv";
    ExportRequest request{file, "Jane", s.folder};
    request.decodeFirst = true;
    request.showMessages = false;
    ExportJob job(cache, request);
    EXPECT_TRUE(job.Run().Succeeded());
    EXPECT_TRUE(cache.IsDecoded());
    EXPECT_EQ(cache.GetItemCount(), 3);
    EXPECT_EQ(ReadWholeFile(file), ExpectedCsv(cache, "Jane", s.folder));
}

TEST(ExportJob, AStopBeforeTheStartCreatesNoFile)
{
    SampleCache s;
    NetscapeCacheMapCache cache(test::Context(), nullptr, s.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    ExportJob job(cache, {s.outDir + "/x.csv", "Jane", s.folder});
    job.RequestStop();
    EXPECT_FALSE(job.Run().ran);
    EXPECT_TRUE(job.Files().empty());
    EXPECT_FALSE(fs::exists(s.outDir + "/x.csv"));
}

TEST(ExportJob, AStopDuringTheFirstDecodeEndsItAndSkipsTheFile)
{
    TempDir out;
    FakeCache cache;
    Gate started, stopped;
    cache.decode = [&](FakeCache& c) {
        started.Open();
        stopped.WaitOpen();
        if (!c.StopRequested())
            c.AddUrl("http://a/1");
        return 0;
    };
    ExportRequest request{out.file("x.csv"), "Jane", ""};
    request.decodeFirst = true;
    ExportJob job(cache, request);
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(started.WaitOpen());
    job.RequestStop();
    stopped.Open();
    job.Wait();
    EXPECT_TRUE(job.Result().stopped);
    EXPECT_EQ(cache.GetItemCount(), 0); // the decode saw the stop
    ASSERT_EQ(job.Files().size(), 1u);
    EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Skipped);
    EXPECT_EQ(job.Files()[0].reason, "stopped");
    EXPECT_FALSE(fs::exists(out.file("x.csv")));
}

TEST(ExportJob, AStopAfterTheExportLeavesTheCacheFree)
{
    TempDir out;
    FakeCache cache;
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://a/1");
        return 0;
    };
    ASSERT_EQ(cache.Decode(), 0);
    ExportJob job(cache, {out.file("x.csv"), "Jane", ""});
    job.Run();
    job.RequestStop();
    EXPECT_FALSE(cache.StopRequested());
    EXPECT_EQ(job.Files().at(0).outcome, FileOutcome::Done);
}

} // namespace
} // namespace oriel
