// The Firefox and Mozilla loaders and their prefs.js reader, on synthetic
// Windows trees: profiles.ini and registry.dat found through the examined
// user's application-data folders, Windows paths mapped onto the tree.
#include "loaders/BaseNetscapeSettingsLoader.h"
#include "catalog/FormatCatalog.h"
#include "loaders/Firefox16SettingsLoader.h"
#include "loaders/Netscape60SettingsLoader.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "formats/NetscapeCacheMapCache.h"
#include "model/BrowserSettings.h"
#include "platform/WindowsSystem.h"
#include "support/MozillaProfileWriter.h"
#include "support/TestContext.h"
#include "support/NSRegistryWriter.h"
#include "support/ProfileLoaderTest.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>
#include <optional>

#include <filesystem>
#include <sstream>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::MozillaProfileRegistry;
using test::MozillaRegistryLayout;
using test::PrefsJs;
using test::ProfilesIni;
using test::ProfilesIniEntry;
using test::TempDir;
using test::WindowsTreeWriter;

const char* const kRoaming = "C:\\Users\\Jane\\AppData\\Roaming";
const char* const kLocal = "C:\\Users\\Jane\\AppData\\Local";

ProfilesIniEntry Listed(const std::string& name, std::optional<std::string> path, std::optional<int> relative = 1)
{
    ProfilesIniEntry e;
    e.name = name;
    e.path = std::move(path);
    e.isRelative = relative;
    return e;
}

class MozillaLoadersTest : public test::ProfileLoaderTest {
protected:
    void SetUp() override
    {
        WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
        tree.addUser("Jane");
        Install(tree);
    }

    // Host path of a folder of the tree given as a Windows path.
    std::string Mapped(const std::string& windowsPath) const
    {
        return test::Context().MapWindowsPath(windowsPath).value_or("(unmapped)");
    }
    void MakeFolder(const std::string& windowsPath) const { fs::create_directories(Mapped(windowsPath)); }
    void WriteWindowsFile(const std::string& windowsPath, const std::string& bytes) const
    {
        test::WriteFile(Mapped(windowsPath), bytes);
    }
    void WriteProfilesIni(const ProfilesIni& ini) const
    {
        WriteWindowsFile(std::string(kRoaming) + "\\Mozilla\\Firefox\\profiles.ini", ini.text());
    }
    void WritePrefs(const std::string& profileFolder, const PrefsJs& prefs) const
    {
        WriteWindowsFile(profileFolder + "\\prefs.js", prefs.text());
    }
};

// --- prefs.js ---------------------------------------------------------------

TEST_F(MozillaLoadersTest, PrefsJsGivesTheFirstNonEmptyCacheDirectory)
{
    const std::string profile = std::string(kRoaming) + "\\p";
    const std::string fallback = profile + "\\cache";
    struct Case {
        const char* what;
        std::string prefs; // the lines of prefs.js
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"usual line", "user_pref(\"browser.cache.directory\", \"C:\\\\Caches\\\\Fox\");\n", "C:\\Caches\\Fox"},
        {"CR LF line ends", "user_pref(\"browser.cache.directory\", \"C:\\\\A\");\r\nx\r\n", "C:\\A"},
        {"key at column 0 is ignored", "browser.cache.directory\", \"C:\\\\A\");\n", fallback},
        {"first non-empty value wins",
         "user_pref(\"browser.cache.directory\", \"\");\n"
         "user_pref(\"browser.cache.directory\", \"C:\\\\Second\");\n"
         "user_pref(\"browser.cache.directory\", \"C:\\\\Third\");\n",
         "C:\\Second"},
        {"value without closing quote", "user_pref(\"browser.cache.directory\", \"C:\\\\A);\n", fallback},
        {"line without any further quote", "user_pref(\"browser.cache.directory\"", fallback},
        {"value that is no string", "user_pref(\"browser.cache.directory\", 5);\n", fallback},
        {"other keys only", "user_pref(\"browser.cache.disk.capacity\", 50000);\n", fallback},
        {"network path is kept as written", "user_pref(\"browser.cache.directory\", \"\\\\\\\\srv\\\\c\");\n",
         "\\\\\\\\srv\\\\c"},
        {"three backslashes keep two", "user_pref(\"browser.cache.directory\", \"C:\\\\\\a\");\n", "C:\\\\a"},
        {"case matters", "user_pref(\"Browser.Cache.Directory\", \"C:\\\\A\");\n", fallback},
        {"empty file", "", fallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWindowsFile(profile + "\\prefs.js", c.prefs);
        EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS(profile, false), c.expected);
    }
}

TEST_F(MozillaLoadersTest, UnreadablePrefsJsCountsAsEmpty)
{
    // No profile folder at all, a folder without prefs.js, a prefs.js that is a folder.
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS("C:\\Nowhere", false), "C:\\Nowhere\\cache");
    MakeFolder("C:\\Empty");
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS("C:\\Empty", false), "C:\\Empty\\cache");
    MakeFolder("C:\\Odd\\prefs.js");
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS("C:\\Odd", false), "C:\\Odd\\cache");
    // A profile folder that is no Windows path of the system reads nothing
    // from the host.
    test::WriteFile(dir.file("host/prefs.js"), "user_pref(\"browser.cache.directory\", \"C:\\\\A\");\n");
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS(dir.file("host"), false), dir.file("host") + "\\cache");
}

TEST_F(MozillaLoadersTest, NewCacheKeyIsReadOnlyWithTheFlagAndVersion61)
{
    const std::string profile = "C:\\P";
    PrefsJs prefs;
    prefs.setString("browser.cache.directory", "C:\\Old").setString("browser.newcache.directory", "C:\\New");
    WritePrefs(profile, prefs);
    WritePrefs("C:\\Bare", PrefsJs());
    struct Case {
        int version;
        bool flag;
        const char* expected;
        const char* bare;
    };
    for (const Case& c : {Case{61, true, "C:\\New", "C:\\Bare\\newcache"}, Case{61, false, "C:\\Old", "C:\\Bare\\cache"},
                          Case{62, true, "C:\\Old", "C:\\Bare\\cache"}, Case{99, true, "C:\\Old", "C:\\Bare\\cache"}}) {
        SCOPED_TRACE(c.version);
        test::OptionsScope options;
        test::Options().netscapeVersion = c.version;
        EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS(profile, c.flag), c.expected);
        EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS("C:\\Bare", c.flag), c.bare);
    }
    // Without an application the version is unknown: the flag does nothing.
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS(profile, true), "C:\\Old");
}

TEST_F(MozillaLoadersTest, FindPrefValueReadsAnyStream)
{
    std::istringstream prefs("x\nuser_pref(\"k\", \"v\\\\w\");\n");
    EXPECT_EQ(Firefox16SettingsLoader(test::Context()).FindPrefValue(prefs, "k"), "v\\w");
}

TEST_F(MozillaLoadersTest, ProfileExistsForFilesAndFoldersOfTheSystemOnly)
{
    MakeFolder("C:\\Folder");
    WriteWindowsFile("C:\\Folder\\file.txt", "x");
    fs::create_directories(dir.file("outside"));
    struct Case {
        std::string path;
        bool found;
    };
    const std::vector<Case> cases = {
        {"C:\\Folder", true},
        {"c:\\FOLDER\\File.TXT", true}, // case does not matter on Windows
        {"C:/Folder/file.txt", true},
        {"C:\\Folder\\missing", false},
        {"", false},
        {"Folder", false},                   // relative
        {dir.file("outside"), false},        // a host path
        {"C:\\..\\outside", false},          // never above the drive's folder
        {"\\\\server\\share\\Folder", false}, // network
        {"D:\\Folder", false},               // an unmapped drive
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Firefox16SettingsLoader(test::Context()).TestProfileExists(c.path), c.found);
    }
}

TEST_F(MozillaLoadersTest, PrefsReaderAndProfileTestWriteTheirLogLines)
{
    std::optional<test::TraceCapture> trace(std::in_place, dir.file("trace.log"));
    MakeFolder("C:\\P");
    Firefox16SettingsLoader(test::Context()).GetCachePathFromPrefsJS("C:\\P", false);
    Firefox16SettingsLoader(test::Context()).TestProfileExists("C:\\P");
    Firefox16SettingsLoader(test::Context()).TestProfileExists("C:\\Q");
    trace.reset();
    EXPECT_EQ(test::ReadWholeFile(dir.file("trace.log")),
              "Entry - BaseNetscapeSettingsLoader::GetCachePathFromPrefsJS()\r\n"
              "         path = C:\\P\r\n"
              "Exit - BaseNetscapeSettingsLoader::GetCachePathFromPrefsJS()\r\n"
              "         return sCacheDB = C:\\P\\cache\r\n"
              "Entry - BaseNetscapeSettingsLoader::TestProfileExists()\r\n"
              "         path = C:\\P\r\n"
              "Exit - BaseNetscapeSettingsLoader::TestProfileExists()\r\n"
              "         return Found\r\n"
              "Entry - BaseNetscapeSettingsLoader::TestProfileExists()\r\n"
              "         path = C:\\Q\r\n"
              "Exit - BaseNetscapeSettingsLoader::TestProfileExists()\r\n"
              "         return Not Found\r\n");
}

// --- Firefox ----------------------------------------------------------------

TEST_F(MozillaLoadersTest, FirefoxProfilesGetNamesAndACacheMapDecoder)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Profiles\\a.default");
    MakeFolder(firefox + "Profiles\\b.work");
    ProfilesIni ini;
    ini.add(Listed("default", "Profiles/a.default")).add(Listed("work", "Profiles/b.work"));
    WriteProfilesIni(ini);

    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 2);
    EXPECT_EQ(table[0]->profileName, "default");
    EXPECT_EQ(table[0]->displayName, "default (Firefox)");
    EXPECT_EQ(table[1]->displayName, "work (Firefox)");
    // Without a cache folder in prefs.js: Firefox's own place under the
    // local application data.
    EXPECT_EQ(table[0]->cacheFolder, Host("Users/Jane/AppData/Local/Mozilla/Firefox/Profiles/a.default/Cache"));
    auto* cache = dynamic_cast<NetscapeCacheMapCache*>(table[0]->cache.get());
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->GetFolder(), table[0]->cacheFolder);
    EXPECT_EQ(cache->GetProfile(), table[0].get());
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MozillaLoadersTest, FirefoxListEndsAtTheFirstMissingSection)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Profiles\\a");
    MakeFolder(firefox + "Profiles\\c");
    ProfilesIni ini;
    ini.addSection("Profile0", Listed("a", "Profiles/a")).addSection("Profile2", Listed("c", "Profiles/c"));
    WriteProfilesIni(ini);
    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "a");
}

TEST_F(MozillaLoadersTest, FirefoxSectionWithoutPathUsesTheDefaultFolder)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Default");
    ProfilesIni ini;
    ini.add(Listed("nopath", std::nullopt, std::nullopt)).add(Listed("next", std::nullopt));
    WriteProfilesIni(ini);
    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 2);
    EXPECT_EQ(table[0]->cacheFolder, Host("Users/Jane/AppData/Local/Mozilla/Firefox/Default/Cache"));
}

TEST_F(MozillaLoadersTest, FirefoxSectionWithEmptyPathIsLoadedAndEndsTheList)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Profiles\\after");
    ProfilesIni ini;
    ini.add(Listed("empty", "")).add(Listed("after", "Profiles/after"));
    WriteProfilesIni(ini);
    // The profile folder is the Firefox folder itself, which holds profiles.ini.
    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "empty");
    EXPECT_EQ(table[0]->cacheFolder, Host("Users/Jane/AppData/Local/Mozilla/Firefox/Cache"));
}

TEST_F(MozillaLoadersTest, FirefoxCacheFolderComesFromPrefsJsOrFallsBack)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder("C:\\Caches\\Exists");
    fs::create_directories(dir.file("outside"));
    struct Case {
        const char* what;
        std::string path; // as profiles.ini writes it
        int relative;
        std::optional<std::string> prefsCache;
        std::string expected; // host path, relative to the root
    };
    const std::vector<Case> cases = {
        {"relative, existing folder in prefs.js", "Profiles/r1", 1, "C:\\Caches\\Exists", "Caches/Exists"},
        {"relative, missing folder in prefs.js", "Profiles/r2", 1, "C:\\Caches\\Missing",
         "Users/Jane/AppData/Local/Mozilla/Firefox/Profiles/r2/Cache"},
        {"relative, host folder in prefs.js is not taken", "Profiles/r3", 1, dir.file("outside"),
         "Users/Jane/AppData/Local/Mozilla/Firefox/Profiles/r3/Cache"},
        {"relative, prefs.js leading above the drive", "Profiles/r4", 1, "C:\\..\\..\\outside",
         "Users/Jane/AppData/Local/Mozilla/Firefox/Profiles/r4/Cache"},
        {"absolute, existing folder in prefs.js", "C:\\Elsewhere\\a1", 0, "C:\\Caches\\Exists", "Caches/Exists"},
        {"absolute, missing folder in prefs.js", "C:\\Elsewhere\\a2", 0, "C:\\Caches\\Missing",
         "Elsewhere/a2/Cache"},
        {"absolute with forward slashes, no prefs.js setting", "C:/Elsewhere/a3", 0, std::nullopt,
         "Elsewhere/a3/Cache"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string profile = c.relative ? firefox + c.path : c.path;
        MakeFolder(profile);
        PrefsJs prefs;
        if (c.prefsCache)
            prefs.setString("browser.cache.directory", *c.prefsCache);
        WritePrefs(profile, prefs);
        ProfilesIni ini;
        ini.add(Listed("p", c.path, c.relative));
        WriteProfilesIni(ini);
        table = {};
        ASSERT_EQ(Load<Firefox16SettingsLoader>(), 1);
        EXPECT_EQ(table[0]->cacheFolder, Host(c.expected));
    }
}

TEST_F(MozillaLoadersTest, FirefoxProfileWithoutFolderIsReportedAndLeftOut)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Profiles\\there");
    fs::create_directories(dir.file("outside"));
    ProfilesIni ini;
    ini.add(Listed("gone", "Profiles/gone"))
        .add(Listed("escaped", "C:\\..\\..\\outside", 0))
        .add(Listed("there", "Profiles/there"));
    WriteProfilesIni(ini);
    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "there");
    EXPECT_EQ(table[1], nullptr);
    EXPECT_EQ(sink->messages, (std::vector<std::string>{"Netscape Profile data not found for profile named: gone",
                                                        "Netscape Profile data not found for profile named: escaped"}));
    EXPECT_EQ(sink->icons.front(), MessageIcon::Exclamation);
}

TEST_F(MozillaLoadersTest, WithoutProfilesIniOrSystemFirefoxAddsNothingSilently)
{
    EXPECT_EQ(Load<Firefox16SettingsLoader>(), 0);
    test::Context().SetSystem(nullptr);
    test::Context().SetRegistry(nullptr);
    EXPECT_EQ(Load<Firefox16SettingsLoader>(), 0);
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MozillaLoadersTest, LoadersNeverGoBeyond256Profiles)
{
    const std::string firefox = std::string(kRoaming) + "\\Mozilla\\Firefox\\";
    MakeFolder(firefox + "Profiles\\a");
    MakeFolder(firefox + "Profiles\\b");
    ProfilesIni ini;
    ini.add(Listed("a", "Profiles/a")).add(Listed("b", "Profiles/b"));
    WriteProfilesIni(ini);
    MakeFolder("C:\\Moz\\a");
    MakeFolder("C:\\Moz\\b");
    MozillaProfileRegistry(MozillaRegistryLayout::Common, {{"a", "C:\\Moz\\a", {}}, {"b", "C:\\Moz\\b", {}}})
        .writeTo(Mapped(std::string(kRoaming) + "\\Mozilla\\registry.dat"));

    EXPECT_EQ(Load<Firefox16SettingsLoader>(255), 256);
    EXPECT_EQ(table[255]->profileName, "a");
    EXPECT_EQ(Load<Netscape60SettingsLoader>(255), 256);
    EXPECT_EQ(table[255]->displayName, "a (Mozilla)");
    table = {};
    EXPECT_EQ(Load<Firefox16SettingsLoader>(256), 256);
    EXPECT_EQ(Load<Netscape60SettingsLoader>(256), 256);
}

// --- Mozilla ----------------------------------------------------------------

TEST_F(MozillaLoadersTest, MozillaProfilesAreReadFromEitherRegistryLayout)
{
    MakeFolder("C:\\Moz\\zeta\\Cache");
    MakeFolder("C:\\Moz\\alpha");
    for (MozillaRegistryLayout layout : {MozillaRegistryLayout::Common, MozillaRegistryLayout::UsersCommon}) {
        SCOPED_TRACE(int(layout));
        MozillaProfileRegistry(layout, {{"zeta", "C:\\Moz\\zeta", {}}, {"alpha", "C:\\Moz\\alpha", {}}})
            .writeTo(Mapped(std::string(kRoaming) + "\\Mozilla\\registry.dat"));
        table = {};
        ASSERT_EQ(Load<Netscape60SettingsLoader>(), 2);
        EXPECT_EQ(table[0]->profileName, "zeta"); // the file's order, not sorted
        EXPECT_EQ(table[0]->displayName, "zeta (Mozilla)");
        EXPECT_EQ(table[1]->profileName, "alpha");
        // "\cache" finds the "Cache" folder, as on Windows.
        EXPECT_EQ(table[0]->cacheFolder, Host("Moz/zeta/Cache"));
        EXPECT_EQ(table[1]->cacheFolder, Host("Moz/alpha/cache"));
        EXPECT_NE(dynamic_cast<NetscapeCacheMapCache*>(table[0]->cache.get()), nullptr);
    }
}

TEST_F(MozillaLoadersTest, MozillaReadsTheUsersKeyFirstWhenBothExist)
{
    MakeFolder("C:\\Moz\\a");
    MakeFolder("C:\\Moz\\b");
    test::NSRegistryWriter w;
    w.setString("Users\\Common\\Profiles\\fromUsers", "directory", "C:\\Moz\\a");
    w.setString("Common\\Profiles\\fromCommon", "directory", "C:\\Moz\\b");
    w.writeTo(Mapped(std::string(kRoaming) + "\\Mozilla\\registry.dat"));
    ASSERT_EQ(Load<Netscape60SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "fromUsers");
}

TEST_F(MozillaLoadersTest, NotMigratedProfileTurnsTheNewCacheOffForItAndLaterOnes)
{
    std::vector<test::MozillaRegistryProfile> profiles = {
        {"first", "C:\\Moz\\first", {}}, {"second", "C:\\Moz\\second", "no"}, {"third", "C:\\Moz\\third", "yes"}};
    for (const auto& p : profiles) {
        PrefsJs prefs;
        prefs.setString("browser.cache.directory", "C:\\Old\\" + p.name)
            .setString("browser.newcache.directory", "C:\\New\\" + p.name);
        WritePrefs(*p.directory, prefs);
    }
    MozillaProfileRegistry(MozillaRegistryLayout::Common, profiles)
        .writeTo(Mapped(std::string(kRoaming) + "\\Mozilla\\registry.dat"));
    struct Case {
        int version;
        std::vector<std::string> expected;
    };
    for (const Case& c : {Case{61, {"New/first", "Old/second", "Old/third"}},
                          Case{62, {"Old/first", "Old/second", "Old/third"}}}) {
        SCOPED_TRACE(c.version);
        test::OptionsScope options;
        test::Options().netscapeVersion = c.version;
        table = {};
        ASSERT_EQ(Load<Netscape60SettingsLoader>(), 3);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(table[i]->cacheFolder, Host(c.expected[i]));
    }
}

TEST_F(MozillaLoadersTest, MozillaProfileWithoutFolderIsReportedAndLeftOut)
{
    MakeFolder("C:\\Moz\\there");
    test::NSRegistryWriter w;
    w.addKey("Common\\Profiles\\nodirectory");
    w.setString("Common\\Profiles\\missing", "directory", "C:\\Moz\\missing");
    w.setString("Common\\Profiles\\there", "directory", "C:\\Moz\\there");
    w.writeTo(Mapped(std::string(kRoaming) + "\\Mozilla\\registry.dat"));
    ASSERT_EQ(Load<Netscape60SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->profileName, "there");
    EXPECT_EQ(sink->messages,
              (std::vector<std::string>{"Netscape Profile data not found for profile named: nodirectory",
                                        "Netscape Profile data not found for profile named: missing"}));
}

TEST_F(MozillaLoadersTest, WithoutRegistryFileMozillaAddsNothingSilently)
{
    EXPECT_EQ(Load<Netscape60SettingsLoader>(), 0);
    WriteWindowsFile(std::string(kRoaming) + "\\Mozilla\\registry.dat", "ADdv");
    EXPECT_EQ(Load<Netscape60SettingsLoader>(), 0);
    EXPECT_TRUE(sink->messages.empty());
}

// --- The profile collection -------------------------------------------------

TEST_F(MozillaLoadersTest, CollectionListsFirefoxThenMozillaThenInternetExplorer)
{
    TempDir other;
    std::string otherRoot = other.file("system");
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
    tree.addUser("Jane");
    test::SynthOptions options;
    options.entries = 8;
    test::AddSyntheticMozillaProfiles(tree, "Jane", options);
    tree.write(otherRoot);
    Examine(otherRoot);

    AppOptions& appOptions = test::FreshOptions();
    appOptions.useProfiles = CBrowserSettings::kModeAllBrowsers;
    CBrowserSettings settings(test::Context(), FormatCatalog(), FormatCatalog().profileLoaders);
    EXPECT_EQ(DisplayNames(settings), (std::vector<std::string>{"default (Firefox)", "work (Firefox)",
                                                                "default (Mozilla)", "Internet Explorer Cache"}));
    EXPECT_EQ(settings.GetDefaultProfile(), settings.GetProfile(0));
    EXPECT_EQ(settings.GetProfile(1)->cacheFolder, otherRoot + "/FirefoxCache/work");
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        BrowserProfile* profile = settings.GetProfile(i);
        ASSERT_NE(profile->cache, nullptr);
        EXPECT_EQ(profile->cache->Decode(nullptr, false), 0);
        EXPECT_EQ(profile->cache->GetGroupCount(), 1);
    }
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MozillaLoadersTest, ChosenFolderWithACacheMapGetsTheMozillaDecoderFirst)
{
    const std::string folder = dir.file("chosen");
    test::WriteFile(folder + "/_CACHE_MAP_", "");
    test::WriteFile(folder + "/index.dat", "");
    AppOptions& appOptions = test::FreshOptions();
    appOptions.useProfiles = CBrowserSettings::kModeFolderOnly;
    appOptions.cacheFolder = folder;
    CBrowserSettings settings(test::Context(), FormatCatalog(), FormatCatalog().profileLoaders);
    ASSERT_EQ(settings.GetCount(), 1);
    BrowserProfile* profile = settings.GetProfile(0);
    auto* cache = dynamic_cast<NetscapeCacheMapCache*>(profile->cache.get());
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->GetFolder(), folder);
    // The Mozilla loader leaves the profile's names as they were.
    EXPECT_EQ(profile->profileName, folder);
    EXPECT_EQ(profile->cacheFolder, "");
}

} // namespace
} // namespace oriel
