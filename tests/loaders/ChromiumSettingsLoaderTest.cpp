#include "loaders/ChromiumSettingsLoader.h"

#include "formats/ChromiumBlockfileCache.h"
#include "formats/ChromiumSimpleCache.h"
#include "support/CacheContents.h"
#include "support/ChromiumCacheWriter.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/ProfileLoaderTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using Layout = test::WindowsTreeWriter::Layout;

class ChromiumSettingsLoaderTest : public test::ProfileLoaderTest {
protected:
    static std::string LocalAppData(const test::WindowsTreeWriter& tree, const std::string& user)
    {
        return tree.profileFolder(user) +
               (tree.layout() == Layout::Xp ? "/Local Settings/Application Data" : "/AppData/Local");
    }
    static std::string RoamingAppData(const test::WindowsTreeWriter& tree, const std::string& user)
    {
        return tree.profileFolder(user) + (tree.layout() == Layout::Xp ? "/Application Data" : "/AppData/Roaming");
    }
    void WriteCache(const std::string& relative, const std::string& url)
    {
        test::ChromiumBlockfileWriter w;
        w.Add(url, "body", "HTTP/1.1 200 OK\nContent-Type: text/plain");
        w.Write(Host(relative));
    }
};

TEST_F(ChromiumSettingsLoaderTest, FindsEveryBrowsersProfilesInBothLayouts)
{
    for (Layout layout : {Layout::Xp, Layout::Vista}) {
        SCOPED_TRACE(layout == Layout::Xp ? "XP" : "Vista");
        test::TempDir fresh;
        root = fresh.file("system");
        test::WindowsTreeWriter tree(layout);
        tree.addUser("Jane");
        Install(tree);
        const std::string local = LocalAppData(tree, "Jane");
        WriteCache(local + "/Google/Chrome/User Data/Default/Cache/Cache_Data", "https://chrome.example/");
        WriteCache(local + "/Google/Chrome/User Data/Profile 2/Cache", "https://chrome2.example/");
        WriteCache(local + "/Microsoft/Edge/User Data/Default/Cache/Cache_Data", "https://edge.example/");
        WriteCache(local + "/BraveSoftware/Brave-Browser/User Data/Profile 1/Cache/Cache_Data",
                   "https://brave.example/");
        WriteCache(local + "/Vivaldi/User Data/Default/Cache", "https://vivaldi.example/");
        WriteCache(local + "/Chromium/User Data/Default/Cache", "https://chromium.example/");
        WriteCache(local + "/Opera Software/Opera Stable/Cache/Cache_Data", "https://opera.example/");
        // Not profiles: the system profile and a folder without a cache.
        WriteCache(local + "/Google/Chrome/User Data/System Profile/Cache", "https://no.example/");
        fs::create_directories(Host(local + "/Google/Chrome/User Data/Profile 3"));

        std::vector<std::string> names;
        for (const auto& found : ChromiumSettingsLoader(test::Context()).FindCaches())
            names.push_back(found.name);
        const std::vector<std::string> expected = {"Default (Chrome)",   "Profile 2 (Chrome)", "Default (Chromium)",
                                                   "Default (Edge)",     "Profile 1 (Brave)",  "Default (Vivaldi)",
                                                   "Opera Stable (Opera)"};
        EXPECT_EQ(names, expected);

        ASSERT_EQ(Load<ChromiumSettingsLoader>(), int32_t(expected.size()));
        EXPECT_EQ(table[0]->displayName, "Default (Chrome)");
        EXPECT_EQ(fs::path(table[0]->cacheFolder).filename(), "Cache_Data");
        ASSERT_NE(table[0]->cache, nullptr);
        ASSERT_EQ(table[0]->cache->Decode(nullptr, false), 0);
        auto items = test::Items(*table[0]->cache);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_STREQ(items[0]->GetURL(), "https://chrome.example/");
        EXPECT_EQ(fs::path(table[1]->cacheFolder).filename(), "Cache");
        for (auto& slot : table)
            slot.reset();
    }
}

TEST_F(ChromiumSettingsLoaderTest, OperaUnderRoamingDataAndNoBrowsersAtAll)
{
    test::WindowsTreeWriter tree(Layout::Vista);
    tree.addUser("Jane");
    Install(tree);
    EXPECT_EQ(Load<ChromiumSettingsLoader>(), 0);
    WriteCache(RoamingAppData(tree, "Jane") + "/Opera Software/Opera Stable/Cache", "https://opera.example/");
    auto found = ChromiumSettingsLoader(test::Context()).FindCaches();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "Opera Stable (Opera)");
}

TEST_F(ChromiumSettingsLoaderTest, EachProfileFolderIsReadInTheLayoutItHolds)
{
    for (Layout layout : {Layout::Xp, Layout::Vista}) {
        SCOPED_TRACE(layout == Layout::Xp ? "XP" : "Vista");
        test::TempDir fresh;
        root = fresh.file("system");
        test::WindowsTreeWriter tree(layout);
        tree.addUser("Jane");
        Install(tree);
        const std::string userData = LocalAppData(tree, "Jane") + "/Google/Chrome/User Data";
        // A simple cache in "Cache\Cache_Data" and one in "Cache" (no index
        // left), a blockfile cache beside them.
        test::ChromiumSimpleCacheWriter simple;
        simple.Add("https://simple.example/a.png", "PNG", "HTTP/1.1 200 OK\nContent-Type: image/png");
        simple.Add("1/0/_dk_https://s.example https://s.example https://simple.example/b", "b", "HTTP/1.1 200 OK");
        simple.Write(Host(userData + "/Default/Cache/Cache_Data"));
        simple.writeIndex = false;
        simple.writeMarker = false;
        simple.Write(Host(userData + "/Profile 1/Cache"));
        WriteCache(userData + "/Profile 2/Cache/Cache_Data", "https://blockfile.example/");

        ASSERT_EQ(Load<ChromiumSettingsLoader>(), 3);
        EXPECT_EQ(table[0]->displayName, "Default (Chrome)");
        EXPECT_NE(dynamic_cast<ChromiumSimpleCache*>(table[0]->cache.get()), nullptr);
        EXPECT_NE(dynamic_cast<ChromiumSimpleCache*>(table[1]->cache.get()), nullptr);
        EXPECT_NE(dynamic_cast<ChromiumBlockfileCache*>(table[2]->cache.get()), nullptr);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(table[size_t(i)]->cache->Decode(nullptr, false), 0);
            auto urls = test::Urls(*table[size_t(i)]->cache);
            std::sort(urls.begin(), urls.end());
            EXPECT_EQ(urls, (std::vector<std::string>{"https://simple.example/a.png", "https://simple.example/b"}));
        }
        for (auto& slot : table)
            slot.reset();
    }
}

} // namespace
} // namespace oriel
