// The URL-cache service over a "Content.IE5" folder, IECache listing the
// cache through it, and deleting entries through it.
#include "app/TraceLog.h"
#include "formats/ClientUrlCache.h"
#include "formats/IECache.h"
#include "formats/IndexDatFile.h"
#include "formats/UrlCacheService.h"
#include "model/BrowserProfile.h"
#include "platform/ContainedPath.h"
#include "support/CacheContents.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace oriel {
namespace {

using test::FatExpiryFromUnix;
using test::FileTimeFromUnix;
using test::IndexDatUrl;
using test::IndexDatWriter;
using test::PutU32;
using test::ReadWholeFile;
using test::RunCommand;
using test::TempDir;
using test::WindowsTreeWriter;

constexpr const char* kHeaders = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 43\r\n\r\n";

IndexDatUrl Entry(const std::string& url, const std::string& fileName, uint8_t directory = 0)
{
    return {
        .url = url,
        .fileName = fileName,
        .headers = kHeaders,
        .directory = directory,
        .body = "body of " + url,
        .lastModified = FileTimeFromUnix(1200000000),
        .lastAccess = FileTimeFromUnix(1240000000),
        .expires = FatExpiryFromUnix(1250000000),
    };
}

// An index.dat writer whose URL records get an entry type (record offset
// 64) and a last-sync time (offset 80) when written.
class ContentFolder {
public:
    ContentFolder()
    {
        writer.addDirectory("ABCD1234");
        writer.addDirectory("EFGH5678");
    }
    size_t add(IndexDatUrl entry, uint32_t type = NORMAL_CACHE_ENTRY, int64_t lastSync = 1245000000)
    {
        size_t index = writer.addUrl(std::move(entry));
        stamps[index] = {type, lastSync};
        return index;
    }
    std::string write(const std::string& folder)
    {
        std::string index = writer.writeCache(folder);
        std::string bytes = ReadWholeFile(index);
        for (const auto& [record, stamp] : stamps) {
            PutU32(bytes, writer.recordOffset(record) + 64, stamp.first);
            PutU32(bytes, writer.recordOffset(record) + 80,
                   stamp.second ? WindowsTreeWriter::FatDateTime(stamp.second) : 0);
        }
        test::WriteFile(index, bytes);
        return index;
    }
    IndexDatWriter writer;
    std::map<size_t, std::pair<uint32_t, int64_t>> stamps;
};

std::vector<UrlCacheEntryInfo> Enumerate(UrlCacheService& service, std::string_view pattern = "*.*")
{
    std::vector<UrlCacheEntryInfo> out;
    UrlCacheEntryInfo entry;
    auto handle = service.FindFirstUrlCacheEntry(pattern, entry);
    if (!handle)
        return out;
    do {
        out.push_back(entry);
    } while (service.FindNextUrlCacheEntry(*handle, entry));
    service.FindCloseUrlCache(std::move(handle));
    return out;
}

std::vector<std::string> Urls(const std::vector<UrlCacheEntryInfo>& entries)
{
    std::vector<std::string> urls;
    for (const auto& e : entries)
        urls.push_back(e.sourceUrlName);
    return urls;
}

// The items of a decoded cache in decode order: key, URL, cache name.
struct Listed {
    int32_t key;
    std::string url;
    std::string cacheName;
    bool operator==(const Listed&) const = default;
};
std::vector<Listed> Items(CCache& cache)
{
    std::vector<std::pair<int32_t, Listed>> items;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        for (int32_t i = 0; i < cache.GetGroup(g)->GetCount(); ++i) {
            CCacheItem* item = cache.GetGroup(g)->ItemAt(i);
            items.push_back({item->GetRecordKey(),
                             {item->GetRecordKey(), item->GetURL(),
                              item->GetCacheName() ? item->GetCacheName() : "(none)"}});
        }
    }
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Listed> out;
    for (auto& [key, listed] : items)
        out.push_back(listed);
    return out;
}

CCacheItem* FindItem(CCache& cache, const std::string& url)
{
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        for (int32_t i = 0; i < cache.GetGroup(g)->GetCount(); ++i) {
            if (cache.GetGroup(g)->ItemAt(i)->GetURL() == url)
                return cache.GetGroup(g)->ItemAt(i);
        }
    }
    return nullptr;
}

TEST(UrlCacheService, EntriesCarryTheFieldsOfTheirUrlRecords)
{
    TempDir dir;
    ContentFolder content;
    IndexDatUrl e = Entry("http://a.example/pics/b.gif", "b[1].gif", 1);
    e.size = 4321;
    e.expires = FatExpiryFromUnix(1262304000); // 2010-01-01 00:00:00
    content.add(e, NORMAL_CACHE_ENTRY | 0x40, 1245000000);
    IndexDatUrl bare = Entry("http://a.example/none", "");
    bare.headers.clear();
    content.add(bare, NORMAL_CACHE_ENTRY, 0);
    content.write(dir.path());

    UrlCacheService service(dir.path());
    auto entries = Enumerate(service);
    ASSERT_EQ(entries.size(), 2u);
    const UrlCacheEntryInfo& first = entries[0];
    EXPECT_EQ(first.cacheEntryType, NORMAL_CACHE_ENTRY | 0x40u);
    EXPECT_EQ(first.sourceUrlName, "http://a.example/pics/b.gif");
    EXPECT_EQ(first.localFileName, dir.path() + "/EFGH5678/b[1].gif");
    EXPECT_EQ(first.sizeLow, 4321u);
    EXPECT_EQ(first.lastModifiedTime, FileTimeFromUnix(1200000000));
    EXPECT_EQ(first.expireTime, FileTimeFromUnix(1262304000));
    EXPECT_EQ(first.lastSyncTime, FileTimeFromUnix(1245000000));
    EXPECT_EQ(first.headerInfo, kHeaders);

    const UrlCacheEntryInfo& second = entries[1];
    EXPECT_EQ(second.localFileName, std::nullopt);
    EXPECT_EQ(second.headerInfo, std::nullopt);
    EXPECT_EQ(second.lastSyncTime, 0u);
}

TEST(UrlCacheService, OnlyLiveUrlRecordsAreEntries)
{
    TempDir dir;
    ContentFolder content;
    content.add(Entry("http://a.example/1", "1.htm"));
    content.writer.addLeak(Entry("http://a.example/leak", "leak.htm"));
    content.writer.addFreedUrl(Entry("http://a.example/freed", "freed.htm"));
    content.writer.addStaleUrl(Entry("http://a.example/stale", "stale.htm"));
    content.writer.addRedirect("http://a.example/redirect");
    content.writer.addStrayBlock(IndexDatWriter::Stray::FakeRecord);
    content.writer.addStrayBlock(IndexDatWriter::Stray::BadFood, 3);
    content.add(Entry("http://a.example/2", "2.htm"));
    content.write(dir.path());

    UrlCacheService service(dir.path());
    EXPECT_EQ(Urls(Enumerate(service)), (std::vector<std::string>{"http://a.example/1", "http://a.example/2"}));
}

TEST(UrlCacheService, PatternsPickCookieOrHistoryEntries)
{
    TempDir dir;
    ContentFolder content;
    content.add(Entry("http://a.example/page", "page.htm"));
    content.add(Entry("Cookie:jane@a.example/", "jane@a[1].txt"), COOKIE_CACHE_ENTRY | NORMAL_CACHE_ENTRY);
    content.add(Entry("Visited: jane@http://a.example/", ""), URLHISTORY_CACHE_ENTRY);
    content.write(dir.path());

    UrlCacheService service(dir.path());
    EXPECT_EQ(Enumerate(service).size(), 3u);
    EXPECT_EQ(Urls(Enumerate(service, "cookie:")), std::vector<std::string>{"Cookie:jane@a.example/"});
    EXPECT_EQ(Urls(Enumerate(service, "visited:")), std::vector<std::string>{"Visited: jane@http://a.example/"});
}

TEST(UrlCacheService, NothingToEnumerateWithoutAReadableValidIndex)
{
    TempDir dir;
    UrlCacheService none("");
    EXPECT_TRUE(Enumerate(none).empty());
    EXPECT_FALSE(none.DeleteUrlCacheEntry("http://a/"));

    UrlCacheService missing(dir.path());
    EXPECT_TRUE(Enumerate(missing).empty());

    test::WriteFile(dir.file("index.dat"), std::string(300, 'x'));
    UrlCacheService invalid(dir.path());
    EXPECT_TRUE(Enumerate(invalid).empty());
    EXPECT_FALSE(invalid.DeleteUrlCacheEntry("http://a/"));
}

TEST(UrlCacheService, FileNamesThatWouldLeaveTheCacheFolderGiveNoLocalFile)
{
    TempDir dir;
    std::string content = dir.file("Content.IE5");
    test::WriteFile(dir.file("secret.txt"), "not part of the cache");
    ContentFolder folder;
    folder.add(Entry("http://a.example/up", "..\\..\\secret.txt"));
    folder.add(Entry("http://a.example/up2", "../secret.txt"));
    folder.add(Entry("http://a.example/dots", ".."));
    folder.add(Entry("http://a.example/nodir", "x.htm", 7));
    folder.add(Entry("http://a.example/ok", "ok.htm"));
    // The writer would place the bodies outside too; this test writes none.
    std::string index = folder.writer.writeCache(content, false);

    UrlCacheService service(content);
    auto entries = Enumerate(service);
    ASSERT_EQ(entries.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(entries[i].localFileName, std::nullopt) << entries[i].sourceUrlName;
    EXPECT_EQ(entries[4].localFileName, content + "/ABCD1234/ok.htm");

    EXPECT_TRUE(service.DeleteUrlCacheEntry("http://a.example/up"));
    EXPECT_TRUE(service.DeleteUrlCacheEntry("http://a.example/up2"));
    EXPECT_EQ(ReadWholeFile(dir.file("secret.txt")), "not part of the cache");
}

TEST(UrlCacheService, AnIndexOrBodyLinkedOutOfTheCacheIsNeverWrittenNorRemoved)
{
    TempDir dir;
    ContentFolder elsewhere;
    elsewhere.add(Entry("http://a.example/1.gif", "1.gif"));
    const std::string outsideIndex = elsewhere.write(dir.file("outside"));
    const std::string outsideBody = dir.file("outside/ABCD1234/1.gif");
    const std::string indexBefore = ReadWholeFile(outsideIndex);
    std::vector<std::string> traced;
    platform::SetContainmentTrace([&](std::string_view text) { traced.emplace_back(text); });

    // The index itself is a link to a host file: it is not opened for
    // writing, and the refusal is traced.
    {
        const std::string tree = dir.file("linked-index");
        const std::string content = tree + "/Content.IE5";
        fs::create_directories(content);
        fs::create_symlink(outsideIndex, content + "/index.dat");
        auto container = platform::RegisterContainer(tree);
        UrlCacheService service(content);
        EXPECT_FALSE(service.DeleteUrlCacheEntry("http://a.example/1.gif"));
        EXPECT_EQ(ReadWholeFile(outsideIndex), indexBefore);
        EXPECT_EQ(ReadWholeFile(outsideBody), "body of http://a.example/1.gif");
        ASSERT_FALSE(traced.empty());
        EXPECT_NE(traced.back().find(content + "/index.dat is absolute"), std::string::npos) << traced.back();
    }

    // The index is the cache's own but the body's sub-folder links out: the
    // entry goes, the body and the link stay.
    {
        const std::string tree = dir.file("linked-folder");
        const std::string content = tree + "/Content.IE5";
        ContentFolder own;
        own.add(Entry("http://a.example/1.gif", "1.gif"));
        own.writer.writeCache(content, false);
        fs::create_directory_symlink("../../outside/ABCD1234", content + "/ABCD1234");
        auto container = platform::RegisterContainer(tree);
        UrlCacheService service(content);
        EXPECT_TRUE(service.DeleteUrlCacheEntry("http://a.example/1.gif"));
        EXPECT_TRUE(Enumerate(service).empty());
        EXPECT_EQ(ReadWholeFile(outsideBody), "body of http://a.example/1.gif");
        EXPECT_TRUE(fs::is_symlink(content + "/ABCD1234"));
    }
    platform::SetContainmentTrace(nullptr);
    EXPECT_EQ(ReadWholeFile(outsideIndex), indexBefore);
}

class IECacheTest : public ::testing::Test {
protected:
    std::unique_ptr<IECache> MakeCache(const std::string& folder, const std::string& contentFolder)
    {
        profile = std::make_unique<BrowserProfile>();
        profile->cacheFolder = folder;
        return std::make_unique<IECache>(test::Context(), profile.get(), folder, std::make_shared<UrlCacheService>(contentFolder));
    }
    TempDir dir;
    std::unique_ptr<BrowserProfile> profile;
};

TEST_F(IECacheTest, CookieHistoryAndHeaderlessEntriesAreNotItemsAndKeysCountItemsFromZero)
{
    ContentFolder content;
    content.add(Entry("Cookie:jane@a.example/", "jane@a[1].txt"), COOKIE_CACHE_ENTRY | NORMAL_CACHE_ENTRY);
    content.add(Entry("http://a.example/1.gif", "1.gif"));
    content.add(Entry("Visited: jane@http://a.example/", "v.htm"), URLHISTORY_CACHE_ENTRY);
    IndexDatUrl noHeaders = Entry("http://a.example/noheaders.gif", "nh.gif");
    noHeaders.headers.clear();
    content.add(noHeaders);
    content.add(Entry("about:blank", "blank.htm"));
    content.add(Entry("https://b.example/2.gif", "2.gif", 1));
    content.write(dir.path());

    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    EXPECT_EQ(Items(*cache), (std::vector<Listed>{{0, "http://a.example/1.gif", "ABCD1234\\1.gif"},
                                                  {1, "https://b.example/2.gif", "EFGH5678\\2.gif"}}));
    ASSERT_EQ(cache->GetGroupCount(), 2);
    EXPECT_STREQ(cache->GetGroup(0)->GetName(), "a.example");
    EXPECT_STREQ(cache->GetGroup(1)->GetName(), "b.example");
}

TEST_F(IECacheTest, ItemTimesComeFromLastModifiedLastSyncAndExpiry)
{
    ContentFolder content;
    IndexDatUrl e = Entry("http://a.example/t.gif", "t.gif");
    e.lastModified = FileTimeFromUnix(1111111111);
    e.lastAccess = FileTimeFromUnix(1222222222); // not used
    e.expires = FatExpiryFromUnix(1262304000);
    content.add(e, NORMAL_CACHE_ENTRY, 1244444444);
    IndexDatUrl old = Entry("http://a.example/old.gif", "old.gif");
    old.lastModified = 1; // 1601
    old.expires = 0;
    content.add(old, NORMAL_CACHE_ENTRY, 0);
    content.write(dir.path());

    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    CCacheItem* item = FindItem(*cache, "http://a.example/t.gif");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetLastModified(), 1111111111);
    EXPECT_EQ(item->GetDownloaded(), 1244444444); // FAT time: even seconds
    EXPECT_EQ(item->GetExpires(), 1262304000);
    EXPECT_EQ(item->GetSize(), int32_t(std::string("body of http://a.example/t.gif").size()));
    EXPECT_STREQ(item->GetContentType(), "image/gif");

    CCacheItem* oldItem = FindItem(*cache, "http://a.example/old.gif");
    ASSERT_NE(oldItem, nullptr);
    EXPECT_EQ(oldItem->GetLastModified(), 0);
    EXPECT_EQ(oldItem->GetDownloaded(), 0);
    EXPECT_EQ(oldItem->GetExpires(), 0);

    EXPECT_EQ(IECache::ItemTimeFromFileTime(FileTimeFromUnix(-2208988800LL)), -2208988800LL); // 1 Jan 1900
    EXPECT_EQ(IECache::ItemTimeFromFileTime(FileTimeFromUnix(-2208988801LL)), 0);
}

TEST_F(IECacheTest, CacheNamesAreRelativeToTheCacheFolder)
{
    std::string temporaryInternetFiles = dir.file("Temporary Internet Files");
    std::string content = temporaryInternetFiles + "/Content.IE5";
    ContentFolder folder;
    folder.add(Entry("http://a.example/x.gif", "x[1].gif", 1));
    folder.write(content);

    struct Case {
        std::string cacheFolder;
        std::string cacheName;
    };
    const Case cases[] = {
        {content, "EFGH5678\\x[1].gif"},
        {content + "/", "EFGH5678\\x[1].gif"},
        {temporaryInternetFiles, "Content.IE5\\EFGH5678\\x[1].gif"},
        // A cache folder the file does not lie in, or none: no cache name
        // rather than a mangled one.
        {dir.file("elsewhere"), "(none)"},
        {dir.file("Temporary"), "(none)"},
        {"", "(none)"},
    };
    for (const Case& k : cases) {
        auto cache = MakeCache(k.cacheFolder, content);
        ASSERT_EQ(cache->Decode(), 0);
        auto items = Items(*cache);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].cacheName, k.cacheName) << k.cacheFolder;
    }
    auto cache = MakeCache(content, content);
    cache->Decode();
    CCacheItem* item = FindItem(*cache, "http://a.example/x.gif");
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Exists());
    EXPECT_EQ(ReadWholeFile(item->GetFilePath()), "body of http://a.example/x.gif");
}

// Runs `body` in a child process that cannot write the tree's index.dat,
// nor, unless `foldersWritable`, anything else in the tree: as an
// unprivileged user when the tests run as root (root writes anything),
// otherwise with the write permissions taken away. Returns the child's exit
// status.
int RunWithoutWriteAccess(const std::string& tree, bool foldersWritable, const std::function<int()>& body)
{
    const bool root = ::geteuid() == 0;
    const auto dirMode = fs::perms(foldersWritable ? 0777 : root ? 0755 : 0555);
    const auto fileMode = fs::perms(foldersWritable ? 0666 : root ? 0644 : 0444);
    for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it)
        fs::permissions(it->path(), it->is_directory() ? dirMode : fileMode, fs::perm_options::replace);
    fs::permissions(tree, dirMode, fs::perm_options::replace);
    fs::permissions(tree + "/index.dat", fs::perms(0444), fs::perm_options::replace);
    // The temp folder the tree lies in must let the other user through.
    fs::permissions(fs::path(tree).parent_path(), fs::perms::others_exec, fs::perm_options::add);

    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(IECacheTest, DeletingOnAReadOnlyTreeFailsAndChangesNothing)
{
    for (bool foldersWritable : {false, true}) {
        TempDir dir;
        std::string tree = dir.file("tree");
        ContentFolder content;
        content.add(Entry("http://a.example/1.gif", "1.gif"));
        content.add(Entry("http://a.example/2.gif", "2.gif"));
        std::string index = content.write(tree);
        const std::string before = ReadWholeFile(index);

        int status = RunWithoutWriteAccess(tree, foldersWritable, [&] {
            UrlCacheService service(tree);
            if (Enumerate(service).size() != 2)
                return 2;
            if (service.DeleteUrlCacheEntry("http://a.example/1.gif"))
                return 3;
            BrowserProfile p;
            IECache cache(test::Context(), &p, tree, std::make_shared<UrlCacheService>(tree));
            if (cache.Decode() != 0 || cache.GetItemCount() != 2)
                return 4;
            CCacheItem* item = FindItem(cache, "http://a.example/2.gif");
            CCacheItem* items[] = {item};
            if (!item || cache.DeleteItems(nullptr, items) != 0 || cache.Empty(nullptr) != 0)
                return 5;
            return 0;
        });
        EXPECT_EQ(status, 0) << foldersWritable;
        // The bodies stay whenever the index cannot record their removal.
        EXPECT_EQ(ReadWholeFile(index), before);
        EXPECT_TRUE(fs::exists(tree + "/ABCD1234/1.gif"));
        EXPECT_TRUE(fs::exists(tree + "/ABCD1234/2.gif"));
    }
}

bool HaveMsiecfexport()
{
    return RunCommand("command -v msiecfexport", nullptr) == 0;
}

// Locations msiecfexport lists as live records (not recovered ones).
std::vector<std::string> MsiecfLocations(const std::string& file)
{
    std::string out;
    EXPECT_EQ(RunCommand("msiecfexport -m items '" + file + "'", &out), 0);
    std::vector<std::string> urls;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Location", 0) == 0)
            urls.push_back(line.substr(line.find(": ") + 2));
    }
    std::sort(urls.begin(), urls.end());
    return urls;
}

TEST_F(IECacheTest, DeletingAnItemRemovesItsFileAndFreesItsRecord)
{
    ContentFolder content;
    content.writer.setHashEntriesPerTable(2); // the record's slot is in a later table of the chain
    content.add(Entry("http://a.example/1.gif", "1.gif"));
    content.add(Entry("http://a.example/2.gif", "2.gif", 1));
    size_t third = content.add(Entry("http://b.example/3.gif", "3.gif", 1));
    content.add(Entry("http://b.example/4.gif", "4.gif"));
    std::string index = content.write(dir.path());
    const uint32_t offset = content.writer.recordOffset(third);
    const std::string before = ReadWholeFile(index);
    ByteReader was(before);
    const uint32_t recordLength = *was.u32le(offset + 4) * 128;

    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    CCacheItem* items[] = {FindItem(*cache, "http://b.example/3.gif")};
    ASSERT_NE(items[0], nullptr);
    EXPECT_EQ(cache->DeleteItems(nullptr, items), 0);

    EXPECT_FALSE(fs::exists(dir.file("EFGH5678/3.gif")));
    EXPECT_TRUE(fs::exists(dir.file("EFGH5678/2.gif")));
    const std::string after = ReadWholeFile(index);
    ASSERT_EQ(after.size(), before.size());
    ByteReader now(after);
    // The record's blocks hold nothing but 0x0BADF00D, the URL included.
    for (uint32_t at = offset; at < offset + recordLength; at += 4)
        ASSERT_EQ(now.u32le(at), IndexDatFile::kFreed) << at;
    EXPECT_EQ(after.find("http://b.example/3.gif"), std::string::npos);
    // Bitmap bits cleared, allocated-block count and the folder's file count lowered.
    for (uint32_t at = offset; at < offset + recordLength; at += 128) {
        size_t bit = *IndexDatFile::BitmapBit(at);
        EXPECT_EQ((uint8_t(after[0x250 + bit / 8]) >> (bit % 8)) & 1, 0);
        EXPECT_EQ((uint8_t(before[0x250 + bit / 8]) >> (bit % 8)) & 1, 1);
    }
    EXPECT_EQ(*now.u32le(40), *was.u32le(40) - recordLength / 128);
    EXPECT_EQ(*now.u32le(76 + 12), *was.u32le(76 + 12) - 1);
    EXPECT_EQ(*now.u32le(76), *was.u32le(76));
    // No hash-table slot points to the record any more.
    for (uint32_t table : content.writer.hashTableOffsets()) {
        for (uint32_t slot = table + 16; slot < table + 32 * 128; slot += 8)
            EXPECT_NE(*now.u32le(slot + 4), offset);
    }
    // Nothing else changed: every other byte is as it was.
    size_t changed = 0;
    for (size_t i = 0; i < after.size(); ++i)
        changed += after[i] != before[i];
    EXPECT_LE(changed, recordLength + 4 + 4 + 4 + 8 + 4);

    // Every reader agrees: the service, a fresh decode, the index.dat
    // decoder, and libmsiecf.
    const std::vector<std::string> rest{"http://a.example/1.gif", "http://a.example/2.gif", "http://b.example/4.gif"};
    UrlCacheService fresh(dir.path());
    EXPECT_EQ(Urls(Enumerate(fresh)), rest);
    ASSERT_EQ(cache->Decode(), 0);
    EXPECT_EQ(cache->GetItemCount(), 3);
    ClientUrlCache direct(test::Context(), profile.get(), dir.path());
    ASSERT_EQ(direct.Decode(), 0);
    EXPECT_EQ(direct.GetItemCount(), 3);
    EXPECT_EQ(FindItem(direct, "http://b.example/3.gif"), nullptr);
    if (HaveMsiecfexport()) {
        EXPECT_EQ(MsiecfLocations(index), rest);
    }
}

TEST_F(IECacheTest, EmptyingRemovesEveryEntryWhoseFileExists)
{
    ContentFolder content;
    for (int i = 0; i < 30; ++i)
        content.add(Entry("http://h" + std::to_string(i % 4) + ".example/" + std::to_string(i) + ".gif",
                          std::to_string(i) + ".gif", uint8_t(i % 2)));
    std::string index = content.write(dir.path());
    fs::remove(dir.file("ABCD1234/4.gif")); // missing: left alone

    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    ASSERT_EQ(cache->GetItemCount(), 30);
    EXPECT_EQ(cache->Empty(nullptr), 0);

    UrlCacheService fresh(dir.path());
    EXPECT_EQ(Urls(Enumerate(fresh)), std::vector<std::string>{"http://h0.example/4.gif"});
    EXPECT_TRUE(fs::is_empty(dir.file("ABCD1234")));
    EXPECT_TRUE(fs::is_empty(dir.file("EFGH5678")));
    const std::string after = ReadWholeFile(index);
    ByteReader now(after);
    EXPECT_EQ(*now.u32le(76) + *now.u32le(88), 1u); // the folders' file counts
    if (HaveMsiecfexport()) {
        EXPECT_EQ(MsiecfLocations(index), std::vector<std::string>{"http://h0.example/4.gif"});
    }
}

TEST_F(IECacheTest, DeletingFollowsAnIndexChangedByOthers)
{
    ContentFolder first;
    first.add(Entry("http://a.example/1.gif", "1.gif"));
    first.add(Entry("http://a.example/2.gif", "2.gif"));
    first.write(dir.path());
    UrlCacheService service(dir.path());
    EXPECT_TRUE(service.DeleteUrlCacheEntry("http://a.example/1.gif"));
    EXPECT_FALSE(service.DeleteUrlCacheEntry("http://a.example/1.gif"));
    EXPECT_FALSE(service.DeleteUrlCacheEntry("http://a.example/unknown"));

    // Another index replaces the file, with the records in other places.
    ContentFolder second;
    second.writer.addStrayBlock(IndexDatWriter::Stray::Zero, 5);
    second.add(Entry("http://a.example/3.gif", "3.gif"));
    second.add(Entry("http://a.example/2.gif", "2.gif"));
    second.write(dir.path());
    EXPECT_TRUE(service.DeleteUrlCacheEntry("http://a.example/2.gif"));
    EXPECT_EQ(Urls(Enumerate(service)), std::vector<std::string>{"http://a.example/3.gif"});
}

// The deleted records of a content folder: stale URL, LEAK and REDR
// records and a URL record cut by a later write, among live ones.
void AddDeletedRecords(ContentFolder& content)
{
    content.add(Entry("http://a.example/live1.gif", "live1.gif"));
    content.writer.addStaleUrl(Entry("http://a.example/gone.gif", "gone.gif", 1));
    content.add(Entry("http://a.example/live2.gif", "live2.gif", 1));
    content.writer.addStaleLeak(Entry("http://b.example/leak.gif", "leak.gif"));
    content.writer.addStaleRedirect("http://c.example/moved");
    IndexDatUrl cut = Entry("http://b.example/" + std::string(100, 'c'), "cut.gif");
    cut.headers += "X-Pad: " + std::string(300, 'p') + "\r\n";
    content.writer.addCutStaleUrl(cut, 1);
    content.add(Entry("http://a.example/live3.gif", "live3.gif"));
}

// What a recovered item shows, for comparing the two readers of index.dat.
std::string Shown(CCacheItem* item)
{
    std::ostringstream out;
    out << (item->GetURL() ? item->GetURL() : "(null)") << " | "
        << (item->GetCacheName() ? item->GetCacheName() : "(none)") << " | " << item->GetSize() << " | "
        << item->GetLastModified() << " | " << item->GetDownloaded() << " | " << item->GetExpires() << " | "
        << (item->GetHeaders() ? item->GetHeaders() : "(none)") << " | " << item->IsPartial();
    for (const auto& [label, text] : item->GetProperties())
        out << " | " << label << ": " << text;
    return out.str();
}

std::vector<std::string> ShownRecovered(const CCache& cache)
{
    std::vector<std::string> out;
    for (CCacheItem* item : test::RecoveredItems(cache))
        out.push_back(Shown(item));
    return out;
}

TEST_F(IECacheTest, RecoversTheSameRecordsAsTheIndexDatDecoder)
{
    ContentFolder content;
    AddDeletedRecords(content);
    content.write(dir.path());

    ClientUrlCache direct(test::Context(), nullptr, dir.path());
    ASSERT_EQ(direct.Decode(nullptr, false), 0);
    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    EXPECT_EQ(cache->GetItemCount(), 3);
    EXPECT_EQ(test::RecoveredUrls(*cache),
              (std::vector<std::string>{"http://a.example/gone.gif", "http://b.example/leak.gif",
                                        "http://c.example/moved", ""}));
    EXPECT_EQ(ShownRecovered(*cache), ShownRecovered(direct));
    for (CCacheItem* item : test::RecoveredItems(*cache)) {
        EXPECT_TRUE(item->IsRecovered());
        EXPECT_GE(item->GetRecordKey(), 3);
    }
    EXPECT_TRUE(test::RecoveredItems(*cache)[3]->IsPartial());
    // The recovered record's body, where it still lies.
    CCacheItem* gone = test::RecoveredItems(*cache)[0];
    EXPECT_STREQ(gone->GetCacheName(), "EFGH5678\\gone.gif");
    ASSERT_TRUE(gone->Exists());
    EXPECT_EQ(ReadWholeFile(gone->GetFilePath()), "body of http://a.example/gone.gif");

    // A cache folder above the content folder: the names are relative to
    // it, as the live items' are.
    TempDir tree;
    const std::string content5 = tree.file("Content.IE5");
    content.write(content5);
    auto above = MakeCache(tree.path(), content5);
    ASSERT_EQ(above->Decode(), 0);
    ASSERT_EQ(above->GetRecoveredCount(), 4);
    EXPECT_STREQ(test::RecoveredItems(*above)[0]->GetCacheName(), "Content.IE5\\EFGH5678\\gone.gif");
    EXPECT_TRUE(test::RecoveredItems(*above)[0]->Exists());

    // An index whose live records are all gone still gives its recovered
    // ones.
    ContentFolder onlyDeleted;
    onlyDeleted.writer.addStaleUrl(Entry("http://a.example/gone.gif", "gone.gif"));
    TempDir other;
    onlyDeleted.write(other.path());
    auto empty = MakeCache(other.path(), other.path());
    ASSERT_EQ(empty->Decode(), 0);
    EXPECT_EQ(empty->GetItemCount(), 0);
    EXPECT_EQ(test::RecoveredUrls(*empty), std::vector<std::string>{"http://a.example/gone.gif"});
}

TEST_F(IECacheTest, DeletingAndEmptyingLeaveRecoveredEntriesAsTheyAre)
{
    ContentFolder content;
    AddDeletedRecords(content);
    const std::string index = content.write(dir.path());
    const size_t goneOffset = content.writer.recordOffset(1);
    const std::string goneRecord = ReadWholeFile(index).substr(goneOffset, 128);
    const std::string goneBody = dir.file("EFGH5678/gone.gif");
    ASSERT_TRUE(fs::exists(goneBody));

    auto cache = MakeCache(dir.path(), dir.path());
    ASSERT_EQ(cache->Decode(), 0);
    std::vector<CCacheItem*> selection = test::RecoveredItems(*cache);
    selection.push_back(FindItem(*cache, "http://a.example/live1.gif"));
    EXPECT_EQ(cache->DeleteItems(nullptr, selection), 0);
    EXPECT_FALSE(fs::exists(dir.file("ABCD1234/live1.gif")));
    EXPECT_TRUE(fs::exists(goneBody));
    EXPECT_EQ(ReadWholeFile(index).substr(goneOffset, 128), goneRecord);

    ASSERT_EQ(cache->Decode(), 0);
    EXPECT_EQ(cache->GetItemCount(), 2);
    // The live record the delete freed is filled, not left to recover.
    EXPECT_EQ(cache->GetRecoveredCount(), 4);
    EXPECT_EQ(cache->Empty(nullptr), 0);
    EXPECT_TRUE(fs::exists(goneBody));
    EXPECT_EQ(ReadWholeFile(index).substr(goneOffset, 128), goneRecord);
    ASSERT_EQ(cache->Decode(), 0);
    EXPECT_EQ(cache->GetItemCount(), 0);
    EXPECT_EQ(test::RecoveredUrls(*cache),
              (std::vector<std::string>{"http://a.example/gone.gif", "http://b.example/leak.gif",
                                        "http://c.example/moved", ""}));
}

} // namespace
} // namespace oriel
