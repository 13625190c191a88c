// The Netscape 4.0, Netscape 4.5 and Opera loaders on synthetic Windows
// trees: profiles from the examined registry, nsreg.dat in the Windows
// folder, OperaDef6.ini, Windows paths mapped onto the tree; the collection's
// order of the browser families and the single-folder table.
#include "loaders/Netscape40SettingsLoader.h"
#include "catalog/FormatCatalog.h"
#include "loaders/Netscape45SettingsLoader.h"
#include "loaders/OperaSettingsLoader.h"

#include "app/CacheApp.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "model/BrowserSettings.h"
#include "catalog/FormatCatalog.h"
#include "platform/WindowsSystem.h"
#include "support/Dcache4Writer.h"
#include "support/TestContext.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaProfileWriter.h"
#include "support/Netscape4OperaProfileWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/ProfileLoaderTest.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace oriel::test {
namespace {

namespace fs = std::filesystem;

SynthOptions Small(int entries, uint32_t seed = 1)
{
    SynthOptions options;
    options.entries = entries;
    options.seed = seed;
    return options;
}

class Netscape4OperaLoadersTest : public ProfileLoaderTest {};

// --- Netscape 4.0 ------------------------------------------------------------

TEST_F(Netscape4OperaLoadersTest, Netscape40ProfilesComeFromTheRegistryWithTheirFatDbCaches)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
    tree.addUser("Jane");
    AddNetscape40Profiles(tree, {{.name = "jane", .userName = "Jane Doe", .cache = Small(5)},
                                 {.name = "bob", .userName = "Bob Roe", .cacheDirectory = tree.windowsPath("NSCACHE/bob"),
                                  .cache = Small(3, 2)}});
    Install(tree);

    ASSERT_EQ(Load<Netscape40SettingsLoader>(), 2);
    // Enumeration order of the registry's subkeys.
    std::vector<std::string> names{table[0]->profileName, table[1]->profileName};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bob", "jane"}));
    for (int i = 0; i < 2; ++i) {
        BrowserProfile& p = *table[size_t(i)];
        SCOPED_TRACE(p.profileName);
        const bool jane = p.profileName == "jane";
        EXPECT_EQ(p.displayName, jane ? "Jane Doe (Netscape 4.0)" : "Bob Roe (Netscape 4.0)");
        EXPECT_EQ(p.cacheFolder, jane ? Host("Program Files/Netscape/Users/jane/cache") : Host("NSCACHE/bob"));
        ASSERT_NE(dynamic_cast<NetscapeFatDBCache*>(p.cache.get()), nullptr);
        ASSERT_EQ(p.cache->Decode(nullptr, true), 0);
        EXPECT_EQ(p.cache->GetItemCount(), jane ? 5 : 3);
        EXPECT_EQ(p.cache->GetProfile(), &p);
    }
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(Netscape4OperaLoadersTest, ANetscape40ProfileWithoutItsFolderIsReportedAndLeftOut)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
    tree.addUser("Jane");
    AddNetscape40Profiles(tree, {{.name = "gone", .userName = "Gone", .writeProfileFolder = false},
                                 {.name = "here", .userName = ""}});
    Install(tree);
    ASSERT_EQ(Load<Netscape40SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "here");
    EXPECT_EQ(table[0]->displayName, " (Netscape 4.0)");
    EXPECT_EQ(table[1], nullptr);
    EXPECT_EQ(sink->messages, (std::vector<std::string>{"Netscape Profile data not found for profile named: gone"}));
}

// --- Netscape 4.5 ------------------------------------------------------------

TEST_F(Netscape4OperaLoadersTest, Netscape45ProfilesComeFromNsregDatInTheWindowsFolder)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        SCOPED_TRACE(layout == WindowsTreeWriter::Layout::Xp ? "xp" : "vista");
        TempDir other;
        root = other.file("system");
        WindowsTreeWriter tree(layout);
        tree.addUser("Jane");
        AddNetscape45Profiles(tree, {{.name = "jane", .cache = Small(6)},
                                     {.name = "work", .cacheDirectory = tree.windowsPath("Cache45/work"),
                                      .cache = Small(4, 3)}});
        Install(tree);
        ASSERT_EQ(Load<Netscape45SettingsLoader>(), 2);
        EXPECT_EQ(table[0]->profileName, "jane");
        EXPECT_EQ(table[0]->displayName, "jane (Netscape 4.5)");
        EXPECT_EQ(table[0]->cacheFolder, Host("Program Files/Netscape/Users/jane/cache"));
        EXPECT_EQ(table[1]->displayName, "work (Netscape 4.5)");
        EXPECT_EQ(table[1]->cacheFolder, Host("Cache45/work"));
        for (int i = 0; i < 2; ++i) {
            CCache* cache = table[size_t(i)]->cache.get();
            ASSERT_NE(dynamic_cast<NetscapeCacheDBCache*>(cache), nullptr);
            ASSERT_EQ(cache->Decode(nullptr, true), 0);
            ASSERT_EQ(cache->GetItemCount(), i == 0 ? 6 : 4);
            // The stored Windows paths of the bodies map onto the tree.
            CCacheItem* item = cache->GetGroup(0)->ItemAt(0);
            EXPECT_TRUE(item->Exists()) << item->GetCacheName();
        }
        table = {};
    }
}

TEST_F(Netscape4OperaLoadersTest, WithoutNsregDatNetscape45AddsNothingSilently)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
    tree.addUser("Jane");
    Install(tree);
    EXPECT_EQ(Load<Netscape45SettingsLoader>(), 0);
    WriteFile(Host("WINDOWS/nsreg.dat"), "ADdv");
    EXPECT_EQ(Load<Netscape45SettingsLoader>(), 0);
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(Netscape4OperaLoadersTest, WithoutAnExaminedSystemTheNetscape4LoadersAddNothing)
{
    test::InstallSystem(platform::SystemConfig{});
    EXPECT_EQ(Load<Netscape45SettingsLoader>(), 0);
    EXPECT_EQ(Load<Netscape40SettingsLoader>(), 0);
    EXPECT_EQ(Load<OperaSettingsLoader>(), 0);
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(Netscape4OperaLoadersTest, ANetscape45ProfileWithoutItsFolderIsReported)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
    tree.addUser("Jane");
    AddNetscape45Profiles(tree, {{.name = "gone", .writeProfileFolder = false}, {.name = "kept"}});
    Install(tree);
    ASSERT_EQ(Load<Netscape45SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "kept");
    EXPECT_EQ(sink->messages, (std::vector<std::string>{"Netscape Profile data not found for profile named: gone"}));
}

// --- Opera ------------------------------------------------------------------

TEST_F(Netscape4OperaLoadersTest, OperasCacheFolderFollowsItsSettings)
{
    struct Case {
        const char* what;
        OperaProfileSetup setup;
        bool writeCache;
        const char* expected; // relative to the root; null: no profile
    } cases[] = {
        {"multi-user", {.mode = OperaProfileSetup::Mode::MultiUser}, true,
         "Users/Jane/AppData/Roaming/Opera/Opera/profile/cache4"},
        {"multi-user without its cache folder", {.mode = OperaProfileSetup::Mode::MultiUser}, false, nullptr},
        {"no Multi User key counts as multi-user",
         {.mode = OperaProfileSetup::Mode::SingleUser, .writeMultiUserKey = false}, false, nullptr},
        {"single-user, default folder, added without an existence test",
         {.mode = OperaProfileSetup::Mode::SingleUser}, false, "Program Files/Opera/profile/cache4"},
        {"single-user with Cache Directory4 and a trailing backslash",
         {.mode = OperaProfileSetup::Mode::SingleUser, .cacheDirectory4 = "C:\\OperaCache\\"}, true, "OperaCache"},
        {"not registered", {.mode = OperaProfileSetup::Mode::Unregistered}, true,
         "Users/Jane/AppData/Roaming/Opera/Opera/profile/cache4"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir other;
        root = other.file("system");
        WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
        tree.addUser("Jane");
        if (c.writeCache)
            c.setup.cache = Small(7);
        AddOperaProfile(tree, "Jane", c.setup);
        Install(tree);
        table = {};
        int32_t count = Load<OperaSettingsLoader>();
        if (!c.expected) {
            EXPECT_EQ(count, 0);
            continue;
        }
        ASSERT_EQ(count, 1);
        EXPECT_EQ(table[0]->profileName, "Opera Cache");
        EXPECT_EQ(table[0]->displayName, "Opera Cache");
        EXPECT_EQ(table[0]->cacheFolder, Host(c.expected));
        ASSERT_NE(dynamic_cast<OperaCache*>(table[0]->cache.get()), nullptr);
        if (c.writeCache) {
            ASSERT_EQ(table[0]->cache->Decode(nullptr, true), 0);
            EXPECT_EQ(table[0]->cache->GetItemCount(), 7);
        }
    }
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(Netscape4OperaLoadersTest, LoadersNeverGoBeyond256Profiles)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
    tree.addUser("Jane");
    AddNetscape40Profiles(tree, {{.name = "a", .userName = "A"}, {.name = "b", .userName = "B"}});
    AddNetscape45Profiles(tree, {{.name = "c"}, {.name = "d"}});
    AddOperaProfile(tree, "Jane", {.cache = Small(1)});
    Install(tree);
    EXPECT_EQ(Load<Netscape40SettingsLoader>(255), 256);
    EXPECT_EQ(Load<Netscape45SettingsLoader>(255), 256);
    EXPECT_EQ(Load<OperaSettingsLoader>(255), 256);
    EXPECT_EQ(Load<Netscape40SettingsLoader>(256), 256);
    EXPECT_EQ(Load<Netscape45SettingsLoader>(256), 256);
    EXPECT_EQ(Load<OperaSettingsLoader>(256), 256);
}

// --- The profile collection -------------------------------------------------

TEST_F(Netscape4OperaLoadersTest, TheCollectionListsEveryFamilyInItsOrderWithItsCache)
{
    WriteSyntheticWindowsTree(root, WindowsTreeWriter::Layout::Xp, Small(20));
    Examine(root);

    AppOptions& options = test::FreshOptions();
    options.useProfiles = CBrowserSettings::kModeAllBrowsers;
    CBrowserSettings settings(test::Context(), FormatCatalog(), FormatCatalog().profileLoaders);
    EXPECT_EQ(DisplayNames(settings),
              (std::vector<std::string>{"default (Firefox)", "work (Firefox)", "default (Mozilla)",
                                        "jane (Netscape 4.5)", "Jane Navigator (Netscape 4.0)", "Opera Cache",
                                        "Internet Explorer Cache"}));
    for (int32_t i = 0; i < settings.GetCount(); ++i) {
        BrowserProfile* profile = settings.GetProfile(i);
        SCOPED_TRACE(profile->displayName);
        ASSERT_NE(profile->cache, nullptr);
        ASSERT_EQ(profile->cache->Decode(nullptr, true), 0);
        EXPECT_GT(profile->cache->GetItemCount(), 0);
    }
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(Netscape4OperaLoadersTest, TheSingleFolderTableRecognisesEachIndexInItsOrder)
{
    struct Case {
        std::vector<std::string> files;
        const char* format;
    } cases[] = {
        {{"cache.db"}, "netscape45"},
        {{"fat.db"}, "netscape40"},
        {{"dcache4.url"}, "opera"},
        {{"index.dat", "dcache4.url", "fat.db", "cache.db"}, "netscape45"},
        {{"index.dat", "dcache4.url", "fat.db"}, "netscape40"},
        {{"index.dat", "dcache4.url"}, "opera"},
    };
    for (const Case& c : cases) {
        TempDir folder;
        for (const std::string& file : c.files)
            WriteFile(folder.file(file), "x");
        const CacheFormat* format = RecognizeCacheFolder(folder.path());
        ASSERT_NE(format, nullptr);
        EXPECT_STREQ(format->name, c.format);

        AppOptions& options = test::FreshOptions();
        options.useProfiles = CBrowserSettings::kModeFolderOnly;
        options.cacheFolder = folder.path();
        CBrowserSettings settings(test::Context(), FormatCatalog(), {});
        ASSERT_EQ(settings.GetCount(), 1);
        CCache* cache = settings.GetProfile(0)->cache.get();
        const std::string wanted = c.format;
        EXPECT_EQ(dynamic_cast<NetscapeCacheDBCache*>(cache) != nullptr, wanted == "netscape45");
        EXPECT_EQ(dynamic_cast<NetscapeFatDBCache*>(cache) != nullptr, wanted == "netscape40");
        EXPECT_EQ(dynamic_cast<OperaCache*>(cache) != nullptr, wanted == "opera");
    }
}

} // namespace
} // namespace oriel::test
