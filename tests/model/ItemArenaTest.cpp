#include "model/ItemArena.h"

#include "model/Cache.h"
#include "support/FakeCache.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace oriel {
namespace {

using test::FakeCache;

TEST(ItemArena, CopiesStayWholeAndTerminatedAcrossBlocksAndThreads)
{
    ItemArena arena;
    // Four threads at once, as decoders that build items in parallel
    // batches do; texts of every length, some longer than a block's quarter.
    std::vector<std::vector<std::pair<ItemText, std::string>>> made(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < made.size(); ++t) {
        threads.emplace_back([&arena, &made, t] {
            for (int i = 0; i < 3000; ++i) {
                std::string text(size_t(i % 7 == 0 ? 20000 + i : i % 300), char('a' + (i + int(t)) % 26));
                made[t].emplace_back(arena.Copy(text), text);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& list : made) {
        for (const auto& [copy, text] : list) {
            ASSERT_EQ(std::string(copy.c_str()), text); // the NUL ends each copy exactly
            ASSERT_EQ(*copy, text);
        }
    }
    EXPECT_GT(arena.ReservedBytes(), size_t(4 * 3000 * 150));
    arena.Clear();
    EXPECT_EQ(arena.ReservedBytes(), 0u);
}

// Content types are held once per arena, whatever text the caller's
// bytes came from; past the table's size, and for long texts, each caller
// still gets its own exact copy. Items see the same.
TEST(ItemArena, CommonTextsAreHeldOnceAndStayExact)
{
    ItemArena arena;
    std::string a = "text/html", b = "text/html";
    const ItemText first = arena.Common(a);
    a = "XXXX/XXXX"; // the caller's bytes change: the copy does not
    EXPECT_EQ(arena.Common(b).c_str(), first.c_str());
    EXPECT_STREQ(first.c_str(), "text/html");
    EXPECT_NE(arena.Common("image/gif").c_str(), first.c_str());

    std::vector<std::pair<ItemText, std::string>> many;
    for (size_t i = 0; i < ItemArena::kCommonTexts + 50; ++i) {
        const std::string type = "type/" + std::to_string(i);
        many.emplace_back(arena.Common(type), type);
    }
    for (const auto& [copy, text] : many) {
        ASSERT_EQ(*copy, text);
        ASSERT_EQ(*arena.Common(text), text);
    }
    const std::string longType(ItemArena::kCommonLongest + 1, 'l');
    EXPECT_NE(arena.Common(longType).c_str(), arena.Common(longType).c_str());
    EXPECT_EQ(*arena.Common(longType), longType);

    FakeCache cache("/nowhere");
    CFileCacheItem one(&cache, 1, "http://h/1", "/1", std::nullopt, "image/png", 0, 0, 0, 0);
    CFileCacheItem two(&cache, 2, "http://h/2", "/2", std::nullopt, 0, 0, 0, 0,
                       "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n");
    EXPECT_EQ(one.GetContentType(), two.GetContentType());
    EXPECT_STREQ(two.GetContentType(), "image/png");
    arena.Clear();
    EXPECT_EQ(arena.ReservedBytes(), 0u);
    EXPECT_STREQ(arena.Common("text/html").c_str(), "text/html"); // made again after Clear
}

// Lanes on two threads copy texts into one arena at once: every copy stays
// exact, a common text is still held once for both, and a lane goes on in
// the arena's block and hands back the rest of its own.
TEST(ItemArena, LanesCopyApartShareCommonTextsAndLeaveNoRoomUnused)
{
    ItemArena arena;
    const ItemText before = arena.Copy("first");
    std::vector<std::vector<std::pair<ItemText, std::string>>> made(2);
    std::vector<ItemText> types(2);
    auto copy = [&](size_t t) {
        ItemArena::Lane lane(arena);
        types[t] = arena.Common("text/html");
        for (int i = 0; i < 4000; ++i) {
            std::string text(size_t(i % 9 == 0 ? 17000 + i : i % 200), char('a' + (i + int(t)) % 26));
            made[t].emplace_back(arena.Copy(text), text);
            ASSERT_EQ(arena.Common("text/html").c_str(), types[t].c_str());
        }
    };
    std::thread other(copy, 1);
    copy(0);
    other.join();
    EXPECT_EQ(types[0].c_str(), types[1].c_str());
    EXPECT_EQ(arena.Common("text/html").c_str(), types[0].c_str());
    std::vector<std::pair<const char*, size_t>> spans;
    for (const auto& list : made) {
        for (const auto& [text, expected] : list) {
            ASSERT_EQ(std::string(text.c_str()), expected);
            spans.emplace_back(text.c_str(), expected.size() + 1);
        }
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        ASSERT_LE(spans[i - 1].first + spans[i - 1].second, spans[i].first);

    // A lane that copies a little takes no block of its own: it goes on
    // after what the arena had, and the arena goes on after it.
    const size_t reserved = arena.ReservedBytes();
    const ItemText last = arena.Copy("x");
    ItemText inLane;
    {
        ItemArena::Lane lane(arena);
        inLane = arena.Copy("y");
    }
    const ItemText after = arena.Copy("z");
    EXPECT_EQ(inLane.c_str(), last.c_str() + 2);
    EXPECT_EQ(after.c_str(), inLane.c_str() + 2);
    EXPECT_EQ(arena.ReservedBytes(), reserved);
    EXPECT_STREQ(before.c_str(), "first");
}

TEST(ItemArena, AnItemsTextsLiveInItsCacheUntilTheItemsGo)
{
    FakeCache cache("/some/cache");
    cache.AddItem("a", std::make_unique<CFileCacheItem>(&cache, 1, "http://a/b/c.gif", "/b/c.gif", "X\\c[1].gif",
                                                        "image/gif", 10, 0, 0, 0));
    cache.AddItem("a", std::make_unique<CFileCacheItem>(&cache, 2, "http://a/d", "/other", std::nullopt,
                                                        std::string_view(""), 0, 0, 0, 0));
    const CCacheItem& first = *cache.GetGroup(0)->ItemAt(0);
    EXPECT_STREQ(first.GetURL(), "http://a/b/c.gif");
    EXPECT_EQ(first.GetURLLength(), 16);
    // The path that ends the URL is the URL's own tail.
    EXPECT_EQ(first.GetURLPath(), first.GetURL() + 8);
    EXPECT_STREQ(first.GetCacheName(), "X\\c[1].gif");
    EXPECT_STREQ(first.GetContentType(), "image/gif");
    const CCacheItem& second = *cache.GetGroup(0)->ItemAt(1);
    EXPECT_STREQ(second.GetURLPath(), "/other");
    EXPECT_EQ(second.GetCacheName(), nullptr); // none stays none
    ASSERT_NE(second.GetContentType(), nullptr); // empty stays empty
    EXPECT_STREQ(second.GetContentType(), "");
    EXPECT_GT(cache.GetItemArena().ReservedBytes(), 0u);
    cache.DoShutdown();
    EXPECT_EQ(cache.GetItemCount(), 0);
    EXPECT_EQ(cache.GetItemArena().ReservedBytes(), 0u);
}

TEST(ItemArena, AnItemWithoutACacheKeepsItsOwnTexts)
{
    auto item = std::make_unique<CFileCacheItem>(nullptr, 1, "http://a/p", "/p", std::nullopt, 0, 0, 0, 0,
                                                 std::string_view("HTTP/1.1 200 OK\r\nContent-Type: text/html; q\r\n"
                                                                  "Content-Length: 12\r\n\r\n"));
    item->SetCacheName("N\\p[1]");
    EXPECT_STREQ(item->GetContentType(), "text/html");
    EXPECT_EQ(item->GetSize(), 12);
    EXPECT_STREQ(item->GetCacheName(), "N\\p[1]");
    EXPECT_STREQ(item->GetHeaders(), "HTTP/1.1 200 OK\r\nContent-Type: text/html; q\r\nContent-Length: 12\r\n\r\n");
}

// Texts at and past the length an item's text holds inline keep their
// exact length, NULs inside included, and a long tail of the URL or a long
// shared header block is copied rather than viewed.
TEST(ItemArena, LongTextsKeepTheirExactLength)
{
    FakeCache cache("/some/cache");
    for (size_t length : {size_t(ItemText::kLongFrom) - 1, size_t(ItemText::kLongFrom),
                          size_t(ItemText::kLongFrom) + 1, size_t(300000)}) {
        SCOPED_TRACE(length);
        std::string path(length, 'p');
        path[0] = '/';
        path[length / 2] = '\0';
        const std::string url = "http://a" + path;
        std::string type(length, 't');
        std::string name(length, 'n');
        auto item = std::make_unique<CFileCacheItem>(&cache, 1, url, path, name, type, 0, 0, 0, 0);
        EXPECT_EQ(item->GetURLLength(), int32_t(url.size()));
        EXPECT_EQ(std::string_view(item->GetURL(), size_t(item->GetURLLength())), url);
        EXPECT_EQ(item->GetURLPathLength(), int32_t(length));
        EXPECT_EQ(std::string_view(item->GetURLPath(), size_t(item->GetURLPathLength())), path);
        EXPECT_EQ(item->GetURLPath() == item->GetURL() + 8, ItemText::FitsView(length));
        EXPECT_EQ(item->GetCacheNameLength(), int32_t(length));
        EXPECT_EQ(item->GetContentType(), type);

        auto shared = std::make_shared<const std::string>(std::string(length, 'h'));
        item->SetSharedHeaders(shared);
        EXPECT_EQ(item->GetHeaders(), *shared);
        EXPECT_EQ(item->GetHeaders() == shared->c_str(), ItemText::FitsView(length));
        item->SetURLPath(std::string_view(url).substr(8));
        EXPECT_EQ(std::string_view(item->GetURLPath(), size_t(item->GetURLPathLength())), path);
        cache.AddItem("a", std::move(item));
    }
}

// A folder whose time of change lies `seconds` back.
void Age(const std::string& folder, int seconds)
{
    timespec times[2] {};
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
}

TEST(ItemArena, MissingBodiesAreKnownFromTheirFolderWithoutMissingOneThatIsThere)
{
    test::TempDir dir;
    FakeCache cache(dir.path());
    std::filesystem::create_directories(dir.file("Old"));
    std::ofstream(dir.file("Old/There.gif")) << "x";
    Age(dir.file("Old"), 60);
    auto item = [&cache](const char* name) {
        return std::make_unique<CFileCacheItem>(&cache, 1, "http://a/x", "/x", name, "image/gif", 0, 0, 0, 0);
    };

    // A folder that is not there, and a name its folder does not hold.
    EXPECT_TRUE(cache.IsCertainlyMissing(dir.file("Gone/a.gif")));
    EXPECT_FALSE(item("Gone\\a.gif")->Exists());
    EXPECT_TRUE(cache.IsCertainlyMissing(dir.file("Old/absent.gif")));
    // A name it holds in another case is for the file's own check, which
    // finds it.
    EXPECT_FALSE(cache.IsCertainlyMissing(dir.file("Old/THERE.GIF")));
    auto there = item("Old\\THERE.GIF");
    EXPECT_TRUE(there->Exists());
    EXPECT_EQ(there->GetSize(), 1);

    // A file added after the listing: the folder's change is seen.
    std::ofstream(dir.file("Old/later.gif")) << "yy";
    EXPECT_FALSE(cache.IsCertainlyMissing(dir.file("Old/later.gif")));
    EXPECT_TRUE(item("Old\\later.gif")->Exists());
    Age(dir.file("Old"), 60);
    EXPECT_FALSE(cache.IsCertainlyMissing(dir.file("Old/later.gif")));
    EXPECT_TRUE(cache.IsCertainlyMissing(dir.file("Old/never.gif")));

    // A folder that appears later is looked at again.
    std::filesystem::create_directories(dir.file("Gone"));
    std::ofstream(dir.file("Gone/a.gif")) << "z";
    EXPECT_FALSE(cache.IsCertainlyMissing(dir.file("Gone/a.gif")));
    EXPECT_TRUE(item("Gone\\a.gif")->Exists());
}

// A listing asks about every item: inside a pass each folder is looked at
// once, so the pass answers as the folders were when it first asked, and
// looks again once no pass is open.
TEST(ItemArena, InsideAPassEachFolderIsLookedAtOnce)
{
    test::TempDir dir;
    FakeCache cache(dir.path());
    const std::string body = dir.file("Gone/a.gif");
    {
        const CCache::FolderPass pass(cache);
        EXPECT_TRUE(cache.IsCertainlyMissing(body));
        std::filesystem::create_directories(dir.file("Gone"));
        std::ofstream(body) << "z";
        EXPECT_TRUE(cache.IsCertainlyMissing(body));
        {
            const CCache::FolderPass overlapping(cache);
            EXPECT_TRUE(cache.IsCertainlyMissing(body));
        }
        EXPECT_TRUE(cache.IsCertainlyMissing(body)); // the first pass is still open
    }
    EXPECT_FALSE(cache.IsCertainlyMissing(body));
    std::filesystem::remove_all(dir.file("Gone"));
    // A later pass looks afresh.
    const CCache::FolderPass later(cache);
    EXPECT_TRUE(cache.IsCertainlyMissing(body));
}

// Threads that ask about the items of a few folders inside one pass get
// the answers one thread gets, and a later pass, or a cache made where an
// earlier one was, does not take what a thread learned in an earlier pass.
TEST(ItemArena, ThreadsInsideAPassAnswerAsOneThreadDoes)
{
    test::TempDir dir;
    std::vector<std::string> paths;
    for (int f = 0; f < 4; ++f) {
        const std::string folder = dir.file("F" + std::to_string(f));
        std::filesystem::create_directories(folder);
        for (int i = 0; i < 300; ++i) {
            if (i % 3 == f % 3)
                std::ofstream(folder + "/b" + std::to_string(i) + ".gif") << "x";
            paths.push_back(folder + "/B" + std::to_string(i) + ".GIF");
        }
        Age(folder, 60);
    }
    paths.insert(paths.begin(), dir.file("Gone/a.gif"));
    // On the calling thread and `helpers` more, each asking about every
    // path in turn (the calling thread keeps what it learned between
    // passes).
    auto answers = [&paths](const CCache& cache, int helpers) {
        std::vector<char> missing(paths.size());
        const CCache::FolderPass pass(cache);
        const auto threads = size_t(helpers + 1);
        auto ask = [&](size_t t) {
            for (size_t i = t; i < paths.size(); i += threads)
                missing[i] = cache.IsCertainlyMissing(paths[i]);
        };
        std::vector<std::thread> running;
        for (size_t t = 1; t < threads; ++t)
            running.emplace_back(ask, t);
        ask(0);
        for (std::thread& thread : running)
            thread.join();
        return missing;
    };
    std::vector<char> alone;
    {
        FakeCache cache(dir.path());
        alone = answers(cache, 0);
        EXPECT_EQ(answers(cache, 3), alone);
    }
    EXPECT_EQ(std::count(alone.begin(), alone.end(), 1), 4 * 200 + 1);
    // The files come, in a new cache and then a new pass of the same one:
    // nothing a thread remembers of the first passes answers for them.
    for (int f = 0; f < 4; ++f) {
        for (int i = 0; i < 300; ++i)
            std::ofstream(dir.file("F" + std::to_string(f) + "/b" + std::to_string(i) + ".gif")) << "x";
        Age(dir.file("F" + std::to_string(f)), 30);
    }
    FakeCache cache(dir.path());
    {
        // The calling thread's last ask was about F3, in a pass now closed.
        const CCache::FolderPass pass(cache);
        EXPECT_FALSE(cache.IsCertainlyMissing(dir.file("F3/B1.GIF")));
    }
    const std::vector<char> later = answers(cache, 0);
    EXPECT_EQ(std::count(later.begin(), later.end(), 1), 1);
    EXPECT_EQ(answers(cache, 3), later);
}

} // namespace
} // namespace oriel
