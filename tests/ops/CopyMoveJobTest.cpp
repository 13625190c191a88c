#include "ops/CopyMoveJob.h"

#include "formats/NetscapeCacheMapCache.h"
#include "ops/DestName.h"
#include "support/CacheContents.h"
#include "support/FakeCache.h"
#include "support/FolderSnapshot.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::FakeCache;
using test::MozillaCacheWriter;
using test::SnapshotFolder;
using test::TempDir;
using test::WriteFile;

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Sha256(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray(bytes.data(), qsizetype(bytes.size())), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

CCacheItem* Find(CCache& cache, const std::string& url)
{
    for (CCacheItem* item : test::Items(cache)) {
        if (url == item->GetURL())
            return item;
    }
    return nullptr;
}

std::vector<CopyRequest> SiteTree(CCache& cache)
{
    std::vector<CopyRequest> requests;
    DestNameOptions names; // folders and host on
    for (CCacheItem* item : test::Items(cache))
        requests.push_back({item, DestNameFor(*item, names)});
    return requests;
}

// A Mozilla cache with bodies in block files and in files of their own,
// plain and gzip-encoded.
struct MozillaFixture {
    TempDir root;
    std::string folder = root.file("Cache");
    std::string dest = root.file("out");
    MozillaCacheWriter w;
    const std::string html = "<p>block html</p>";
    const std::string big = std::string(30000, 'g');
    const std::string text = std::string(20000, 't') + "end";

    MozillaFixture()
    {
        w.SetLayout(MozillaCacheWriter::Layout::Nested);
        w.Add("http://a.example/docs/", html, "text/html");                          // block file
        w.Add("http://a.example/img/big.gif", big, "image/gif").dataFile = 0;        // own file
        w.Add("http://b.example/z.txt", test::GzipBytes(text), "text/plain", "gzip").dataFile = 0;
        w.Add("http://b.example/small.css", test::GzipBytes("b{}"), "text/css", "gzip"); // block, gzip
        w.Write(folder);
    }
};

TEST(CopyMoveJob, CopiesDecodedBodiesUnderTheirNamesAndLeavesTheCacheAsItWas)
{
    MozillaFixture f;
    const test::FolderSnapshot before = SnapshotFolder(f.folder);
    {
        NetscapeCacheMapCache cache(test::Context(), nullptr, f.folder);
        ASSERT_EQ(cache.Decode(nullptr, false), 0);
        CopyMoveJob job(SiteTree(cache), f.dest, false);
        ASSERT_TRUE(job.Run().Succeeded());
        ASSERT_EQ(job.CountOf(FileOutcome::Done), 4u);

        struct Expect {
            const char* relative;
            std::string bytes;
            bool decoded;
        };
        const Expect expected[] = {
            {"a.example/docs/index.htm", f.html, false},
            {"a.example/img/big.gif", f.big, false},
            {"b.example/z.txt", f.text, true},
            {"b.example/small.css", "b{}", true},
        };
        for (const Expect& e : expected) {
            SCOPED_TRACE(e.relative);
            const std::string path = f.dest + "/" + e.relative;
            EXPECT_EQ(Read(path), e.bytes);
            auto copy = std::find_if(job.Copies().begin(), job.Copies().end(),
                                     [&](const CopiedFile& c) { return c.destination == path; });
            ASSERT_NE(copy, job.Copies().end());
            EXPECT_EQ(copy->sha256, Sha256(e.bytes));
            EXPECT_EQ(copy->size, int64_t(e.bytes.size()));
            EXPECT_EQ(copy->md5.size(), 32u);
            EXPECT_EQ(copy->decoded, e.decoded);
            EXPECT_FALSE(copy->removed);
        }
    }
    // Bytes and times of everything in the cache folder, the folder's own
    // time included: nothing was written there, not even a working copy.
    EXPECT_EQ(SnapshotFolder(f.folder), before);
}

TEST(CopyMoveJob, ABodyCutAtTheDecodedSizeCapIsCopiedAsFarAsKeptAndSaysSo)
{
    // A cap below the 20 KB text: the gzip body of a file of its own and the
    // one in a block file are each cut once decoded past it; the plain
    // bodies are not.
    test::OptionsScope options;
    test::Options().maxDecodedBytes = 4096;
    MozillaFixture f;
    f.w.Add("http://b.example/long.css", test::GzipBytes(f.text.substr(0, 9000)), "text/css", "gzip");
    fs::remove_all(f.folder);
    f.w.Write(f.folder);
    NetscapeCacheMapCache cache(test::Context(), nullptr, f.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    CopyMoveJob job(SiteTree(cache), f.dest, false);
    ASSERT_TRUE(job.Run().Succeeded());
    const std::map<std::string, std::pair<bool, int64_t>> expected{
        {"a.example/docs/index.htm", {false, int64_t(f.html.size())}},
        {"a.example/img/big.gif", {false, int64_t(f.big.size())}},
        {"b.example/z.txt", {true, 4096}},
        {"b.example/small.css", {false, 3}},
        {"b.example/long.css", {true, 4096}},
    };
    std::map<std::string, std::pair<bool, int64_t>> copied;
    for (const CopiedFile& c : job.Copies())
        copied[fs::relative(c.destination, f.dest).string()] = {c.cut, c.size};
    EXPECT_EQ(copied, expected);
}

TEST(CopyMoveJob, ATakenNameGetsANumberAndALinkAtTheDestinationIsNeverFollowed)
{
    TempDir dir;
    WriteFile(dir.file("cache/a"), "AAA");
    WriteFile(dir.file("cache/b"), "BBB");
    WriteFile(dir.file("cache/c"), "CCC");
    WriteFile(dir.file("outside/secret"), "keep me");
    WriteFile(dir.file("out/x.gif"), "old");
    fs::create_symlink(dir.file("outside/secret"), dir.file("out/y.gif"));
    fs::create_symlink(dir.file("outside"), dir.file("out/sub"));
    FakeCache cache(dir.file("cache"));
    cache.AddUrl("http://h/a", "a");
    cache.AddUrl("http://h/b", "b");
    cache.AddUrl("http://h/c", "c");
    auto items = test::Items(cache);
    CopyMoveJob job({{items[0], "x.gif"}, {items[1], "y.gif"}, {items[2], "sub/z.gif"}, {nullptr, "n"}},
                    dir.file("out"), false);
    job.Run();
    EXPECT_EQ(Read(dir.file("out/x.gif")), "old");
    EXPECT_EQ(Read(dir.file("out/x (2).gif")), "AAA");
    EXPECT_EQ(Read(dir.file("outside/secret")), "keep me");
    EXPECT_TRUE(fs::is_symlink(dir.file("out/y.gif")));
    EXPECT_EQ(Read(dir.file("out/y (2).gif")), "BBB");
    // A folder on the way that is a link is refused, not entered.
    ASSERT_EQ(job.Files().size(), 3u);
    EXPECT_EQ(job.Files()[2].outcome, FileOutcome::Refused);
    EXPECT_FALSE(fs::exists(dir.file("outside/z.gif")));
    EXPECT_EQ(job.Result().status, -1);
}

TEST(CopyMoveJob, TheOverwriteQuestionDecidesAndAReplacedLinkIsReplacedNotWrittenThrough)
{
    struct Case {
        std::vector<OverwriteAnswer> answers;
        int questions;
        std::vector<FileOutcome> outcomes;
        std::vector<std::string> contents; // of out/0, out/1, out/2 afterwards
    };
    const Case cases[] = {
        {{OverwriteAnswer::Yes, OverwriteAnswer::No, OverwriteAnswer::Yes}, 3,
         {FileOutcome::Done, FileOutcome::Skipped, FileOutcome::Done}, {"new0", "old1", "new2"}},
        {{OverwriteAnswer::YesToAll}, 1, {FileOutcome::Done, FileOutcome::Done, FileOutcome::Done},
         {"new0", "new1", "new2"}},
        {{OverwriteAnswer::No, OverwriteAnswer::Cancel}, 2,
         {FileOutcome::Skipped, FileOutcome::Skipped, FileOutcome::Skipped}, {"old0", "old1", "old2"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        FakeCache cache(dir.file("cache"));
        std::vector<CopyRequest> requests;
        for (int i = 0; i < 3; ++i) {
            WriteFile(dir.file("cache/" + std::to_string(i)), "new" + std::to_string(i));
            WriteFile(dir.file("out/" + std::to_string(i)), "old" + std::to_string(i));
            cache.AddUrl("http://h/" + std::to_string(i), std::to_string(i));
        }
        WriteFile(dir.file("target"), "old0");
        fs::remove(dir.file("out/0"));
        fs::create_symlink(dir.file("target"), dir.file("out/0"));
        for (CCacheItem* item : test::Items(cache))
            requests.push_back({item, item->GetCacheName()});
        CopyMoveJob job(requests, dir.file("out"), false);
        int asked = 0;
        job.SetOverwriteQuestion([&](const std::string& path) {
            EXPECT_EQ(path, dir.file("out/" + std::to_string(asked)));
            return c.answers.at(size_t(asked++));
        });
        job.Run();
        EXPECT_EQ(asked, c.questions);
        ASSERT_EQ(job.Files().size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(job.Files()[i].outcome, c.outcomes[i]) << i;
            EXPECT_EQ(Read(dir.file("out/" + std::to_string(i))), c.contents[i]) << i;
        }
        // The link's target is never written.
        EXPECT_EQ(Read(dir.file("target")), "old0");
        EXPECT_EQ(fs::is_symlink(dir.file("out/0")), c.contents[0] == "old0");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("out")), fs::directory_iterator()), 3)
            << "a temporary file was left behind";
    }
}

TEST(CopyMoveJob, AMoveRemovesOwnBodiesOnlyAndReportsWhatStayed)
{
    MozillaFixture f;
    NetscapeCacheMapCache cache(test::Context(), nullptr, f.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    CCacheItem* big = Find(cache, "http://a.example/img/big.gif");
    CCacheItem* block = Find(cache, "http://a.example/docs/");
    CCacheItem* gz = Find(cache, "http://b.example/z.txt");
    ASSERT_TRUE(big && block && gz);
    const std::string bigBody = big->GetFilePath();
    const std::string gzBody = gz->GetFilePath();
    const std::string blockFile = f.folder + "/_CACHE_001_";
    const std::string blockBytes = Read(blockFile);
    CopyMoveJob job({{big, "big.gif"}, {block, "index.htm"}, {gz, "z.txt"}}, f.dest, true);
    job.Run();
    ASSERT_EQ(job.Files().size(), 3u);
    EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Done);
    EXPECT_EQ(job.Files()[1].outcome, FileOutcome::Refused);
    EXPECT_EQ(job.Files()[2].outcome, FileOutcome::Done);
    EXPECT_EQ(job.NotMoved(), 1);
    EXPECT_FALSE(fs::exists(bigBody));
    EXPECT_FALSE(fs::exists(gzBody));
    EXPECT_FALSE(big->Exists());
    EXPECT_TRUE(block->Exists());
    EXPECT_EQ(Read(blockFile), blockBytes);
    EXPECT_EQ(Read(f.dest + "/big.gif"), f.big);
    EXPECT_EQ(Read(f.dest + "/z.txt"), f.text);
    EXPECT_EQ(Read(f.dest + "/index.htm"), f.html);
    EXPECT_TRUE(job.Copies()[0].removed);
    EXPECT_FALSE(job.Copies()[1].removed);
}

TEST(CopyMoveJob, AMoveNeverRemovesABodyReachedThroughALinkOutOfTheCache)
{
    TempDir dir;
    WriteFile(dir.file("elsewhere/evidence.gif"), "GIF");
    fs::create_directories(dir.file("cache"));
    fs::create_symlink(dir.file("elsewhere"), dir.file("cache/sub"));
    FakeCache cache(dir.file("cache"));
    cache.AddUrl("http://h/evidence.gif", "sub\\evidence.gif");
    auto items = test::Items(cache);
    // A body reached through a link that leads out of the cache is missing:
    // it is neither copied nor moved.
    EXPECT_FALSE(items[0]->Exists());
    EXPECT_EQ(items[0]->GetBodyProblem().rfind("link not followed: ", 0), 0u) << items[0]->GetBodyProblem();
    CopyMoveJob job({{items[0], "evidence.gif"}}, dir.file("out"), true);
    job.Run();
    ASSERT_EQ(job.Files().size(), 1u);
    EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Skipped);
    EXPECT_EQ(Read(dir.file("elsewhere/evidence.gif")), "GIF");
    EXPECT_FALSE(fs::exists(dir.file("out/evidence.gif")));
    EXPECT_NE(job.Result().status, 0);
}

TEST(CopyMoveJob, AMissingBodyIsSkippedAndAStopSkipsTheRest)
{
    TempDir dir;
    WriteFile(dir.file("cache/a"), "A");
    FakeCache cache(dir.file("cache"));
    cache.AddUrl("http://h/gone", "gone");
    cache.AddUrl("http://h/a", "a");
    auto items = test::Items(cache);
    CopyMoveJob job({{items[0], "gone"}, {items[1], "a"}}, dir.file("out"), false);
    job.Run();
    ASSERT_EQ(job.Files().size(), 2u);
    EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Skipped);
    EXPECT_EQ(job.Files()[1].outcome, FileOutcome::Done);

    CopyMoveJob stopped({{items[1], "b"}}, dir.file("out"), false);
    stopped.RequestStop();
    stopped.Run();
    EXPECT_FALSE(fs::exists(dir.file("out/b")));
}

} // namespace
} // namespace oriel
