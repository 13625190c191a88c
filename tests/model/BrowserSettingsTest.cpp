// The profile collection: display modes, loader order, the 256-profile
// limit, the single-folder fallback, and start-up over a synthetic Windows
// tree.
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "formats/ClientUrlCache.h"
#include "formats/IECache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "model/SettingsLoader.h"
#include "model/BrowserSettings.h"
#include "catalog/FormatCatalog.h"
#include "platform/RegistryReader.h"
#include "platform/WindowsSystem.h"
#include "support/FakeCache.h"
#include "support/TestContext.h"
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>
#include <optional>

#include <unistd.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace oriel {
namespace {

using test::TempDir;
using test::WindowsTreeWriter;

// What the fake loaders and their caches did, in order.
std::vector<std::string> g_events;

class CountedCache : public test::FakeCache {
public:
    CountedCache(std::string name, BrowserProfile* profile)
        : FakeCache("", profile)
        , name_(std::move(name))
    {
    }
    ~CountedCache() override { g_events.push_back("destroy " + name_); }

private:
    std::string name_;
};

// A loader that appends `N` profiles named "<tag>-<i>", each with a cache.
template <char Tag, int N>
class FakeLoader : public SettingsLoader {
public:
    explicit FakeLoader(const AppContext& context)
        : SettingsLoader(context)
    {
        g_events.push_back(std::string("create loader ") + Tag);
    }
    void Load(ProfileTable& profiles, int32_t& count) override
    {
        for (int i = 0; i < N && count < kMaxProfiles; ++i) {
            auto profile = std::make_unique<BrowserProfile>();
            profile->profileName = std::string(1, Tag) + "-" + std::to_string(i);
            profile->displayName = profile->profileName;
            profile->cache = std::make_unique<CountedCache>(profile->profileName, profile.get());
            g_events.push_back("add " + profile->profileName);
            profiles[size_t(count)] = std::move(profile);
            ++count;
        }
    }
    std::unique_ptr<CCache> CreateCache(BrowserProfile&, const std::string&) override { return nullptr; }
};

template <char Tag, int N>
std::unique_ptr<SettingsLoader> Make(const AppContext& context)
{
    return std::make_unique<FakeLoader<Tag, N>>(context);
}

std::vector<std::string> Names(const CBrowserSettings& settings)
{
    std::vector<std::string> names;
    for (int32_t i = 0; i < settings.GetCount(); ++i)
        names.push_back(settings.GetProfile(i)->profileName);
    return names;
}

class BrowserSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
    void TearDown() override
    {
        test::Context().SetRegistry(nullptr);
        test::Context().SetSystem(nullptr);
    }
    // A folder holding an index.dat with one entry.
    std::string IndexDatFolder(const std::string& name)
    {
        test::IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addUrl({.url = "http://a.example/x.gif", .fileName = "x.gif", .headers = "HTTP/1.1 200 OK\r\n\r\n"});
        w.writeCache(dir.file(name));
        return dir.file(name);
    }
    TempDir dir;
    AppOptions& options = test::FreshOptions();
};

TEST_F(BrowserSettingsTest, ModeIEOnlyListsExactlyTheIEProfileAndAsksNoOtherLoader)
{
    options.useProfiles = CBrowserSettings::kModeIEOnly;
    options.cacheFolder = IndexDatFolder("folder");
    CBrowserSettings settings(test::Context(), FormatCatalog(), {&Make<'a', 2>});
    EXPECT_EQ(Names(settings), std::vector<std::string>{"Internet Explorer Cache"});
    EXPECT_NE(dynamic_cast<IECache*>(settings.GetProfile(0)->cache.get()), nullptr);
    EXPECT_EQ(settings.GetDefaultProfile(), settings.GetProfile(0));
    EXPECT_TRUE(g_events.empty());
}

TEST_F(BrowserSettingsTest, ModeAllListsTheOtherBrowsersInLoaderOrderAndIELast)
{
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    CBrowserSettings settings(test::Context(), FormatCatalog(), {&Make<'f', 2>, &Make<'n', 0>, &Make<'o', 1>});
    EXPECT_EQ(Names(settings), (std::vector<std::string>{"f-0", "f-1", "o-0", "Internet Explorer Cache"}));
    EXPECT_EQ(settings.GetDefaultProfile(), settings.GetProfile(0));
    EXPECT_EQ(settings.GetProfile(4), nullptr);
    EXPECT_EQ(settings.GetProfile(-1), nullptr);
}

TEST_F(BrowserSettingsTest, ModeAllWithoutBrowserDataListsTheIEProfileAndNotTheFolder)
{
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    options.cacheFolder = IndexDatFolder("folder");
    CBrowserSettings settings(test::Context(), FormatCatalog());
    EXPECT_EQ(Names(settings), std::vector<std::string>{"Internet Explorer Cache"});
    EXPECT_EQ(settings.GetProfile(0)->cacheFolder, "");
}

TEST_F(BrowserSettingsTest, ModeFolderOnlyListsTheChosenFolderRecognisedByItsIndexFile)
{
    options.useProfiles = CBrowserSettings::kModeFolderOnly;
    options.cacheFolder = IndexDatFolder("Folder");
    CBrowserSettings settings(test::Context(), FormatCatalog(), {&Make<'a', 3>});
    ASSERT_EQ(settings.GetCount(), 1);
    BrowserProfile* profile = settings.GetProfile(0);
    // The index.dat loader names the profile as Internet Explorer's.
    EXPECT_EQ(profile->profileName, "Internet Explorer Cache");
    EXPECT_EQ(profile->displayName, "Internet Explorer Cache");
    EXPECT_EQ(profile->cacheFolder, options.cacheFolder);
    ASSERT_NE(dynamic_cast<ClientUrlCache*>(profile->cache.get()), nullptr);
    EXPECT_EQ(profile->cache->GetFolder(), options.cacheFolder);
    EXPECT_EQ(profile->cache->Decode(), 0);
    EXPECT_EQ(profile->cache->GetItemCount(), 1);
    EXPECT_TRUE(g_events.empty());
}

TEST_F(BrowserSettingsTest, TheFirstIndexFileInTableOrderDecidesTheFolderFormat)
{
    enum class Kind { Map, CacheDb, FatDb, Opera, IndexDat };
    struct Case {
        std::vector<std::string> files;
        Kind kind;
    };
    const Case cases[] = {
        {{"_CACHE_MAP_", "index.dat"}, Kind::Map},
        {{"index.dat", "cache.db", "fat.db"}, Kind::CacheDb},
        {{"dcache4.url", "fat.db"}, Kind::FatDb},
        {{"index.dat", "dcache4.url"}, Kind::Opera},
        {{"INDEX.DAT"}, Kind::IndexDat},
        {{"index.dat/"}, Kind::IndexDat}, // a folder of that name counts too
    };
    int n = 0;
    for (const Case& k : cases) {
        std::string folder = dir.file("f" + std::to_string(n++));
        for (const std::string& name : k.files) {
            if (name.back() == '/')
                fs::create_directories(folder + "/" + name);
            else
                test::WriteFile(folder + "/" + name, "");
        }
        options.useProfiles = CBrowserSettings::kModeFolderOnly;
        options.cacheFolder = folder;
        CBrowserSettings settings(test::Context(), FormatCatalog());
        ASSERT_EQ(settings.GetCount(), 1);
        BrowserProfile* profile = settings.GetProfile(0);
        CCache* cache = profile->cache.get();
        ASSERT_NE(cache, nullptr) << n;
        EXPECT_EQ(cache->GetFolder(), folder);
        switch (k.kind) {
        case Kind::Map: EXPECT_NE(dynamic_cast<NetscapeCacheMapCache*>(cache), nullptr) << n; break;
        case Kind::CacheDb: EXPECT_NE(dynamic_cast<NetscapeCacheDBCache*>(cache), nullptr) << n; break;
        case Kind::FatDb: EXPECT_NE(dynamic_cast<NetscapeFatDBCache*>(cache), nullptr) << n; break;
        case Kind::Opera: EXPECT_NE(dynamic_cast<OperaCache*>(cache), nullptr) << n; break;
        case Kind::IndexDat: EXPECT_NE(dynamic_cast<ClientUrlCache*>(cache), nullptr) << n; break;
        }
        // Only the Internet Explorer loader renames the profile.
        EXPECT_EQ(profile->displayName, k.kind == Kind::IndexDat ? "Internet Explorer Cache" : folder) << n;
    }
}

TEST_F(BrowserSettingsTest, AFolderWithoutAnIndexFileGivesOneProfileWithoutACache)
{
    fs::create_directories(dir.file("plain"));
    test::WriteFile(dir.file("plain/readme.txt"), "x");
    // A file of another name does not count; neither does the current
    // folder when the folder option is empty.
    const char* folders[] = {"plain", ""};
    IndexDatFolder("cwd");
    auto previous = fs::current_path();
    fs::current_path(dir.file("cwd"));
    for (const char* folder : folders) {
        options.useProfiles = CBrowserSettings::kModeFolderOnly;
        options.cacheFolder = *folder ? dir.file(folder) : "";
        CBrowserSettings settings(test::Context(), FormatCatalog());
        ASSERT_EQ(settings.GetCount(), 1) << folder;
        EXPECT_EQ(settings.GetProfile(0)->cache, nullptr) << folder;
        EXPECT_EQ(settings.GetProfile(0)->displayName, *folder ? options.cacheFolder : "Cache Folder");
        EXPECT_EQ(settings.GetDefaultProfile(), settings.GetProfile(0));
    }
    EXPECT_EQ(RecognizeCacheFolder(""), nullptr) << "the current folder holds an index.dat";
    EXPECT_EQ(CreateCacheForFolder(test::Context(), nullptr, ""), nullptr);
    fs::current_path(previous);
}

TEST_F(BrowserSettingsTest, AFolderNamedAsAWindowsPathIsFoundOnTheExaminedSystem)
{
    IndexDatFolder("c/Program Files/Cache");
    platform::SystemConfig config;
    config.root = dir.file("c");
    test::Context().SetSystem(std::make_shared<platform::WindowsSystem>(config));
    options.useProfiles = CBrowserSettings::kModeFolderOnly;
    options.cacheFolder = "C:\\PROGRAM FILES\\cache";
    CBrowserSettings settings(test::Context(), FormatCatalog());
    ASSERT_EQ(settings.GetCount(), 1);
    ASSERT_NE(settings.GetProfile(0)->cache, nullptr);
    EXPECT_EQ(settings.GetProfile(0)->cacheFolder, dir.file("c/Program Files/Cache"));
}

TEST_F(BrowserSettingsTest, NoLoaderRunsOnceTheTableHolds256Profiles)
{
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    CBrowserSettings settings(test::Context(), FormatCatalog(), {&Make<'a', 200>, &Make<'b', 100>, &Make<'c', 1>});
    EXPECT_EQ(settings.GetCount(), kMaxProfiles);
    EXPECT_EQ(settings.GetProfile(255)->profileName, "b-55");
    EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "create loader c"), 0);

    // 255 others leave room for Internet Explorer.
    CBrowserSettings room(test::Context(), FormatCatalog(), {&Make<'a', 200>, &Make<'b', 55>});
    EXPECT_EQ(room.GetCount(), kMaxProfiles);
    EXPECT_EQ(room.GetProfile(255)->profileName, "Internet Explorer Cache");
}

TEST_F(BrowserSettingsTest, AReloadDestroysEveryProfileAndCacheBeforeBuildingTheNewOnes)
{
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    {
        CBrowserSettings settings(test::Context(), FormatCatalog(), {&Make<'a', 2>});
        options.useProfiles = CBrowserSettings::kModeIEOnly;
        g_events.push_back("reload");
        settings.ReloadProfiles();
        EXPECT_EQ(Names(settings), std::vector<std::string>{"Internet Explorer Cache"});
        options.useProfiles = CBrowserSettings::kModeAllBrowsers;
        g_events.push_back("reload");
        settings.ReloadProfiles();
        g_events.push_back("end");
    }
    EXPECT_EQ(g_events, (std::vector<std::string>{"create loader a", "add a-0", "add a-1", "reload", "destroy a-0",
                                                  "destroy a-1", "reload", "create loader a", "add a-0", "add a-1",
                                                  "end", "destroy a-0", "destroy a-1"}));
}

TEST_F(BrowserSettingsTest, TheCollectionWritesItsTraceLines)
{
    std::string log = dir.file("trace.log");
    std::optional<test::TraceCapture> trace(std::in_place, log);
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    CBrowserSettings all(test::Context(), FormatCatalog(), {});
    options.useProfiles = CBrowserSettings::kModeFolderOnly;
    options.cacheFolder = dir.file("none");
    CBrowserSettings folder(test::Context(), FormatCatalog());
    std::string written = test::ReadWholeFile(log);
    trace.reset();
    EXPECT_EQ(written, "Entry - CBrowserSettings::LoadProfiles()\r\n"
                       "Exit - CBrowserSettings::LoadProfiles()\r\n"
                       "Entry - IESettingsLoader::Load()\r\n"
                       "Exit - IESettingsLoader::Load()\r\n"
                       "Entry - CBrowserSettings::SingleCache()\r\n"
                       "Entry  - CBrowserSettings::LoadSingleCache()\r\n"
                       "Exit  - CBrowserSettings::LoadSingleCache()\r\n"
                       "Exit - CBrowserSettings::SingleCache()\r\n");
}

// Start-up over a synthetic tree: the option store names the root, and the
// document lists the examined user's Internet Explorer cache.
class StartUpTest : public BrowserSettingsTest {};

TEST_F(StartUpTest, ASyntheticTreeOfEitherLayoutYieldsTheIEProfileWithItsCacheDecoded)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        for (bool directoryValue : {true, false}) {
            TempDir root;
            WindowsTreeWriter tree(layout);
            tree.addUser("Jane");
            tree.addUser("Tom");
            tree.setCachePathsDirectory(directoryValue);
            tree.addIEEntry("Jane",
                            {.url = "http://www.example.com/a/logo.gif",
                             .fileName = "logo[1].gif",
                             .headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n",
                             .body = "GIF89a",
                             .lastModified = test::FileTimeFromUnix(1200000000)},
                            1, 1240000000);
            tree.addIEEntry("Jane", {.url = "Cookie:jane@example.com/", .fileName = "jane@example[1].txt",
                                     .headers = "x\r\n", .body = "cookie"},
                            0x00100001);
            tree.addIEEntry("Jane", {.url = "https://static.example.net/s.css",
                                     .fileName = "s[1].css",
                                     .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n\r\n",
                                     .body = "body {}"});
            tree.write(root.path());

            OptionStore store(dir.file("start.ini"));
            store.WriteString("System", "Root", root.path());
            store.WriteInt("Netscape", "UseProfiles", 1);
            CCacheApp app(store);
            ASSERT_TRUE(app.InitInstance("oriel.exe"));
            // The window builds its document over the application's context.
            CBrowserSettings settings(app.Context(), FormatCatalog());
            CBrowserSettings* document = &settings;
            ASSERT_NE(document, nullptr);
            ASSERT_EQ(document->GetCount(), 1);
            BrowserProfile* profile = document->GetDefaultProfile();
            const std::string content = root.path() + "/" + tree.contentFolder("Jane");
            EXPECT_EQ(profile->cacheFolder, content);
            ASSERT_NE(dynamic_cast<IECache*>(profile->cache.get()), nullptr);
            ASSERT_EQ(profile->cache->Decode(), 0);
            ASSERT_EQ(profile->cache->GetItemCount(), 2);
            ASSERT_EQ(profile->cache->GetGroupCount(), 2);
            CCacheItem* logo = profile->cache->GetGroup(0)->ItemAt(0);
            EXPECT_STREQ(profile->cache->GetGroup(0)->GetName(), "www.example.com");
            EXPECT_STREQ(logo->GetURL(), "http://www.example.com/a/logo.gif");
            EXPECT_STREQ(logo->GetCacheName(), "Q0000000\\logo[1].gif");
            EXPECT_TRUE(logo->Exists());
            EXPECT_EQ(logo->GetSize(), 6);
            EXPECT_EQ(logo->GetLastModified(), 1200000000);
            EXPECT_EQ(logo->GetDownloaded(), 1240000000);
            EXPECT_STREQ(logo->GetContentType(), "image/gif");
            EXPECT_EQ(logo->GetRecordKey(), 0);
            EXPECT_EQ(profile->cache->GetGroup(1)->ItemAt(0)->GetRecordKey(), 1);
        }
    }
}

TEST_F(StartUpTest, TheEmptySwitchEndsStartUpWithoutADocument)
{
    OptionStore store(dir.file("empty.ini"));
    CCacheApp app(store);
    EXPECT_FALSE(app.InitInstance("oriel.exe /empty"));
}

TEST_F(StartUpTest, TheSystemsRegistryIsOpenBeforeTheOptionsAreLoaded)
{
    TempDir root;
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
    tree.addUser("Jane");
    tree.userHive("Jane").setString("Software\\Netscape\\Netscape Navigator\\Cache", "Cache Dir",
                                    "C:\\Program Files\\Netscape\\Cache\\");
    tree.software().setString("Mozilla\\Mozilla", "CurrentVersion", "1.7.13");
    tree.write(root.path());

    OptionStore store(dir.file("registry.ini"));
    CCacheApp app(store);
    platform::SystemConfig config;
    config.root = root.path();
    app.SetSystemConfig(config);
    app.Start();
    EXPECT_EQ(app.Options().cacheFolder, "C:\\Program Files\\Netscape\\Cache");
    EXPECT_EQ(app.Options().netscapeVersion, 17);
}

} // namespace
} // namespace oriel
