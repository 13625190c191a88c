// No cache format reads a file of the host through a symbolic link of the
// examined cache: every index, metadata file, block file, body and
// sub-folder in turn is moved out of the cache folder and replaced by a link
// to it (absolute, or relative through ".."), the cache is decoded and every
// item viewed and extracted, and inotify tells whether anything was opened
// where the link led. A link that stays inside the folder still works.
#include "catalog/FormatCatalog.h"
#include "model/CacheItem.h"
#include "platform/FileSystem.h"
#include "support/SyntheticFormats.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/Dcache4Writer.h"
#include "support/FirefoxCache2Writer.h"
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
#include <map>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace oriel {
namespace {

namespace fs = std::filesystem;

using Format = test::SyntheticFormat;

std::vector<Format> Formats()
{
    return test::EverySyntheticFormat();
}

void WriteCache(const Format& format, const std::string& folder)
{
    test::SynthOptions options;
    options.entries = 12; // bodies in files and in block files, a few of each
    fs::create_directories(folder);
    format.write(folder, options);
}

// Everything a viewer asks of every item; the bodies got, by URL and key.
std::map<std::string, std::string> ViewEveryItem(CCache& cache, const std::string& scratch)
{
    std::map<std::string, std::string> bodies;
    int n = 0;
    for (CCacheItem* item : test::Items(cache)) {
        const std::string id = std::string(item->GetURL() ? item->GetURL() : "") + "#" +
                               std::to_string(item->GetRecordKey());
        if (!item->Exists())
            continue;
        const std::string extracted = scratch + "/" + std::to_string(++n);
        if (item->ExtractBodyTo(extracted))
            bodies[id + " extracted"] = test::ReadWholeFile(extracted);
        if (item->PrepareFile() && item->GetFilePath()) {
            if (auto bytes = platform::ReadFile(item->GetFilePath()))
                bodies[id] = *bytes;
        }
    }
    return bodies;
}

// Every file and folder under `folder`, relative, folders first at each level.
std::vector<std::string> EntriesUnder(const std::string& folder)
{
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        out.push_back(fs::relative(it->path(), folder).string());
    return out;
}

// Watches a folder tree for files being opened.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& tree)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // The folders are listed before any watch begins: the listing
        // opens them.
        std::vector<std::string> folders{tree};
        for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it) {
            if (it->is_directory() && !it->is_symlink())
                folders.push_back(it->path().string());
        }
        for (const std::string& folder : folders)
            Add(folder);
    }
    ~OpenWatch() { ::close(fd_); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    bool Valid() const { return fd_ >= 0; }
    // The names opened since the watch began.
    std::vector<std::string> Opened()
    {
        std::vector<std::string> names;
        alignas(struct inotify_event) char buffer[8192];
        for (;;) {
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t pos = 0; pos < n;) {
                auto* event = reinterpret_cast<struct inotify_event*>(buffer + pos);
                names.push_back(event->len ? std::string(event->name) : std::string("(the folder itself)"));
                pos += ssize_t(sizeof(struct inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    void Add(const std::string& path) { ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS); }
    int fd_;
};

class ContainedCacheFilesTest : public testing::TestWithParam<Format> {
protected:
    test::MessageCapture sink_;
};

TEST_P(ContainedCacheFilesTest, NoFileIsOpenedThroughALinkThatLeadsOut)
{
    const Format& format = GetParam();
    std::vector<std::string> entries;
    {
        test::TempDir probe;
        WriteCache(format, probe.file("cache"));
        entries = EntriesUnder(probe.file("cache"));
    }
    ASSERT_GT(entries.size(), 2u);
    int index = 0;
    for (const std::string& entry : entries) {
        const bool absolute = index++ % 2 == 0;
        SCOPED_TRACE(entry + (absolute ? " (absolute link)" : " (relative link)"));
        test::TempDir dir;
        const std::string folder = dir.file("cache");
        WriteCache(format, folder);
        fs::create_directories(dir.file("host"));
        fs::create_directories(dir.file("scratch"));
        // The entry moves out; a link to it takes its place.
        const std::string moved = dir.file("host/moved");
        fs::rename(fs::path(folder) / entry, moved);
        const fs::path at = fs::path(folder) / entry;
        std::string up;
        for (size_t depth = std::count(entry.begin(), entry.end(), '/') + 1; depth > 0; --depth)
            up += "../";
        fs::create_symlink(absolute ? moved : up + "host/moved", at);

        OpenWatch watch(dir.file("host"));
        ASSERT_TRUE(watch.Valid());
        auto cache = CreateCacheForFolder(test::Context(), nullptr, folder);
        if (cache) {
            cache->Decode(nullptr, true);
            ViewEveryItem(*cache, dir.file("scratch"));
            cache.reset();
        }
        EXPECT_EQ(watch.Opened(), std::vector<std::string>{});
        // The watch sees a read where the link leads.
        std::string file = moved;
        if (fs::is_directory(moved)) {
            for (auto it = fs::recursive_directory_iterator(moved); it != fs::recursive_directory_iterator(); ++it) {
                if (it->is_regular_file())
                    file = it->path().string();
            }
        }
        if (fs::is_regular_file(file)) {
            test::ReadWholeFile(file);
            EXPECT_FALSE(watch.Opened().empty());
        }
    }
}

TEST_P(ContainedCacheFilesTest, LinksThatStayInsideTheFolderAreFollowed)
{
    const Format& format = GetParam();
    test::TempDir base;
    WriteCache(format, base.file("cache"));
    fs::create_directories(base.file("scratch"));
    std::map<std::string, std::string> expected;
    {
        auto cache = CreateCacheForFolder(test::Context(), nullptr, base.file("cache"));
        ASSERT_TRUE(cache);
        ASSERT_EQ(cache->Decode(nullptr, true), 0);
        expected = ViewEveryItem(*cache, base.file("scratch"));
    }
    ASSERT_FALSE(expected.empty());
    for (const std::string& entry : EntriesUnder(base.file("cache"))) {
        // Firefox lists only the plain files of its entry folders.
        if (std::string_view(format.name) == "firefox-cache2" && entry.find('/') != std::string::npos)
            continue;
        SCOPED_TRACE(entry);
        test::TempDir dir;
        const std::string folder = dir.file("cache");
        WriteCache(format, folder);
        fs::create_directories(dir.file("scratch"));
        fs::create_directories(fs::path(folder) / "kept");
        fs::rename(fs::path(folder) / entry, fs::path(folder) / "kept" / "moved");
        std::string up;
        for (size_t depth = std::count(entry.begin(), entry.end(), '/'); depth > 0; --depth)
            up += "../";
        fs::create_symlink(up + "kept/moved", fs::path(folder) / entry);
        auto cache = CreateCacheForFolder(test::Context(), nullptr, folder);
        ASSERT_TRUE(cache);
        ASSERT_EQ(cache->Decode(nullptr, true), 0);
        EXPECT_EQ(ViewEveryItem(*cache, dir.file("scratch")), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ContainedCacheFilesTest, testing::ValuesIn(Formats()),
                         [](const testing::TestParamInfo<Format>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace oriel
