// The Firefox loader finding a profile's cache2 folder, in the XP and the
// Vista layout, beside the old cache or alone.
#include "formats/FirefoxCache2Cache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "loaders/Firefox16SettingsLoader.h"
#include "support/FirefoxCache2Writer.h"
#include "support/MozillaProfileWriter.h"
#include "support/ProfileLoaderTest.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace oriel {
namespace {

using test::FirefoxCache2Writer;
using test::FirefoxProfileSetup;
using test::WindowsTreeWriter;

class FirefoxCache2LoaderTest : public test::ProfileLoaderTest {};

FirefoxCache2Writer OneEntry(const std::string& url)
{
    FirefoxCache2Writer w;
    w.Add(url, "body", "text/plain");
    return w;
}

TEST_F(FirefoxCache2LoaderTest, ProfilesWithCache2GetARowOfTheirOwnInBothLayouts)
{
    struct Layout {
        WindowsTreeWriter::Layout layout;
        const char* local; // the user's local application data, relative to the root
    } layouts[] = {
        {WindowsTreeWriter::Layout::Xp, "Documents and Settings/Jane/Local Settings/Application Data"},
        {WindowsTreeWriter::Layout::Vista, "Users/Jane/AppData/Local"},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.local);
        root = dir.file(l.layout == WindowsTreeWriter::Layout::Xp ? "xp" : "vista");
        WindowsTreeWriter tree(l.layout);
        tree.addUser("Jane");
        FirefoxProfileSetup old;
        old.name = "old";
        old.path = "Profiles/o1d.old";
        old.cache = test::SyntheticMozillaCache("old.example", 2, 1);
        FirefoxProfileSetup both;
        both.name = "both";
        both.path = "Profiles/b0th.both";
        both.cache = test::SyntheticMozillaCache("both.example", 2, 2);
        both.cache2 = OneEntry("https://both.example/");
        FirefoxProfileSetup modern;
        modern.name = "modern";
        modern.path = "Profiles/m0d.default-release";
        modern.cache2 = OneEntry("https://modern.example/");
        test::AddFirefoxProfiles(tree, "Jane", {old, both, modern});
        Install(tree);

        ASSERT_EQ(Load<Firefox16SettingsLoader>(), 4);
        const std::string profiles = std::string(l.local) + "/Mozilla/Firefox/Profiles/";
        struct Row {
            const char* displayName;
            std::string folder;
            bool cache2;
        } rows[] = {
            {"old (Firefox)", profiles + "o1d.old/Cache", false},
            {"both (Firefox)", profiles + "b0th.both/Cache", false},
            {"both (Firefox cache2)", profiles + "b0th.both/cache2", true},
            {"modern (Firefox cache2)", profiles + "m0d.default-release/cache2", true},
        };
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(rows[i].displayName);
            EXPECT_EQ(table[i]->displayName, rows[i].displayName);
            EXPECT_EQ(table[i]->cacheFolder, Host(rows[i].folder));
            ASSERT_TRUE(table[i]->cache);
            EXPECT_EQ(dynamic_cast<FirefoxCache2Cache*>(table[i]->cache.get()) != nullptr, rows[i].cache2);
            EXPECT_EQ(dynamic_cast<NetscapeCacheMapCache*>(table[i]->cache.get()) != nullptr, !rows[i].cache2);
        }
        EXPECT_EQ(table[2]->profileName, "both");
        ASSERT_EQ(table[3]->cache->Decode(nullptr, false), 0);
        EXPECT_EQ(table[3]->cache->GetItemCount(), 1);
        EXPECT_TRUE(sink->messages.empty());
        TearDown();
    }
}

TEST_F(FirefoxCache2LoaderTest, AProfileOutsideTheFirefoxFolderKeepsCache2InItsOwnFolder)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
    tree.addUser("Jane");
    FirefoxProfileSetup outside;
    outside.name = "portable";
    outside.isRelative = false;
    outside.path = "C:\\Portable\\Profile";
    outside.cache2 = OneEntry("https://portable.example/");
    test::AddFirefoxProfiles(tree, "Jane", {outside});
    Install(tree);
    ASSERT_EQ(Load<Firefox16SettingsLoader>(), 1);
    EXPECT_EQ(table[0]->displayName, "portable (Firefox cache2)");
    EXPECT_EQ(table[0]->cacheFolder, Host("Portable/Profile/cache2"));
}

TEST_F(FirefoxCache2LoaderTest, TheLoaderBuildsTheCache2DecoderForAFolderPointedAt)
{
    const std::string folder = dir.file("copied-out");
    ASSERT_TRUE(OneEntry("https://a.example/").Write(folder));
    const std::string named = dir.file("x/cache2");
    std::filesystem::create_directories(named);
    const std::string other = dir.file("y/Cache");
    std::filesystem::create_directories(other);
    BrowserProfile profile;
    Firefox16SettingsLoader loader(test::Context());
    EXPECT_TRUE(dynamic_cast<FirefoxCache2Cache*>(loader.CreateCache(profile, folder).get()));
    EXPECT_TRUE(dynamic_cast<FirefoxCache2Cache*>(loader.CreateCache(profile, named).get()));
    EXPECT_TRUE(dynamic_cast<NetscapeCacheMapCache*>(loader.CreateCache(profile, other).get()));
}

} // namespace
} // namespace oriel
