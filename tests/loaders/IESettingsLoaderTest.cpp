// The Internet Explorer loaders: the profile they append, where its cache
// folder comes from, and the 256-profile limit.
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "formats/ClientUrlCache.h"
#include "formats/IECache.h"
#include "loaders/ClientUrlCacheSettingsLoader.h"
#include "loaders/IESettingsLoader.h"
#include "platform/MemoryRegistry.h"
#include "platform/WindowsSystem.h"
#include "support/TestEnvironment.h"
#include "support/TestContext.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>
#include <optional>

#include <filesystem>

namespace fs = std::filesystem;

namespace oriel {
namespace {

using platform::MemoryRegistry;
using platform::RootKey;
using test::TempDir;
using test::WindowsTreeWriter;

constexpr const char* kCachePaths = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";

class IESettingsLoaderTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        test::Context().SetRegistry(nullptr);
        test::Context().SetSystem(nullptr);
    }
    // A registry holding only the "Directory" value (when given).
    void SetDirectory(std::optional<std::string> value)
    {
        auto registry = std::make_shared<MemoryRegistry>();
        if (value)
            registry->SetString(RootKey::LocalMachine, kCachePaths, "Directory", *value);
        test::Context().SetRegistry(registry);
    }
    TempDir dir;
};

TEST_F(IESettingsLoaderTest, OneTrailingBackslashIsRemovedFromTheDirectoryValue)
{
    struct Case {
        std::optional<std::string> value;
        std::string folder;
    };
    const Case cases[] = {
        {"C:\\Cache\\Content.IE5\\", "C:\\Cache\\Content.IE5"},
        {"C:\\Cache\\Content.IE5\\\\", "C:\\Cache\\Content.IE5\\"},
        {"C:\\Cache\\Content.IE5", "C:\\Cache\\Content.IE5"},
        {"\\", ""},
        {std::nullopt, ""},
    };
    for (const Case& k : cases) {
        SetDirectory(k.value);
        EXPECT_EQ(IESettingsLoader(test::Context()).ReadDirectoryValue(), k.folder) << k.value.value_or("(none)");
    }
    // Only a text value counts.
    auto registry = std::make_shared<MemoryRegistry>();
    registry->SetValue(RootKey::LocalMachine, kCachePaths, "Directory",
                       {MemoryRegistry::ValueType::ExpandString, "%USERPROFILE%\\Cache"});
    test::Context().SetRegistry(registry);
    EXPECT_EQ(IESettingsLoader(test::Context()).ReadDirectoryValue(), "");
}

TEST_F(IESettingsLoaderTest, WithoutTheValueOrASystemTheProfileIsStillAddedWithAnEmptyFolder)
{
    for (const char* value : {"", "C:\\Windows\\Temporary Internet Files\\Content.IE5\\"}) {
        SetDirectory(*value ? std::optional<std::string>(value) : std::nullopt);
        ProfileTable profiles;
        int32_t count = 0;
        IESettingsLoader(test::Context()).Load(profiles, count);
        ASSERT_EQ(count, 1);
        EXPECT_EQ(profiles[0]->profileName, "Internet Explorer Cache");
        EXPECT_EQ(profiles[0]->displayName, "Internet Explorer Cache");
        EXPECT_EQ(profiles[0]->cacheFolder, "");
        ASSERT_NE(dynamic_cast<IECache*>(profiles[0]->cache.get()), nullptr);
        EXPECT_EQ(profiles[0]->cache->GetFolder(), "");
        EXPECT_EQ(profiles[0]->cache->GetProfile(), profiles[0].get());
        EXPECT_EQ(profiles[0]->cache->Decode(), 0);
        EXPECT_EQ(profiles[0]->cache->GetItemCount(), 0);
    }
}

TEST_F(IESettingsLoaderTest, TheDirectoryValueMapsOntoTheExaminedSystem)
{
    fs::create_directories(dir.file("c/WINDOWS/Temporary Internet Files/Content.IE5"));
    platform::SystemConfig config;
    config.root = dir.file("c");
    test::Context().SetSystem(std::make_shared<platform::WindowsSystem>(config));
    SetDirectory("c:\\windows\\temporary internet files\\content.ie5\\");
    EXPECT_EQ(IESettingsLoader(test::Context()).CacheFolder(), dir.file("c/WINDOWS/Temporary Internet Files/Content.IE5"));
    // A path on a drive the system does not map names no host folder.
    SetDirectory("E:\\Cache\\Content.IE5");
    EXPECT_EQ(IESettingsLoader(test::Context()).CacheFolder(), "");
}

TEST_F(IESettingsLoaderTest, WithoutAUsableValueTheUsersOwnCacheFolderIsUsed)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        TempDir root;
        WindowsTreeWriter tree(layout);
        tree.addUser("Jane").setCachePathsDirectory(false);
        tree.addIEEntry("Jane", {.url = "http://a.example/x.gif",
                                 .fileName = "x.gif",
                                 .headers = "HTTP/1.1 200 OK\r\n\r\n",
                                 .body = "x"});
        tree.write(root.path());
        platform::SystemConfig config;
        config.root = root.path();
        test::InstallSystem(config);
        const std::string content = root.path() + "/" + tree.contentFolder("Jane");
        EXPECT_EQ(IESettingsLoader(test::Context()).CacheFolder(), content);

        ProfileTable profiles;
        int32_t count = 0;
        ClientUrlCacheSettingsLoader(test::Context()).Load(profiles, count);
        ASSERT_EQ(count, 1);
        EXPECT_EQ(profiles[0]->cacheFolder, content);
        ASSERT_NE(dynamic_cast<ClientUrlCache*>(profiles[0]->cache.get()), nullptr);
        ASSERT_EQ(profiles[0]->cache->Decode(), 0);
        EXPECT_EQ(profiles[0]->cache->GetItemCount(), 1);
    }
}

TEST_F(IESettingsLoaderTest, BothLoadersAddNothingToAFullTableAndStopAtTheLimit)
{
    SetDirectory(std::nullopt);
    for (bool direct : {false, true}) {
        ProfileTable profiles;
        for (auto& p : profiles)
            p = std::make_unique<BrowserProfile>();
        int32_t count = kMaxProfiles;
        std::unique_ptr<SettingsLoader> loader;
        if (direct)
            loader = std::make_unique<ClientUrlCacheSettingsLoader>(test::Context());
        else
            loader = std::make_unique<IESettingsLoader>(test::Context());
        loader->Load(profiles, count);
        EXPECT_EQ(count, kMaxProfiles);
        EXPECT_EQ(profiles[kMaxProfiles - 1]->cache, nullptr);

        ProfileTable almost;
        count = kMaxProfiles - 1;
        loader->Load(almost, count);
        EXPECT_EQ(count, kMaxProfiles);
        EXPECT_NE(almost[kMaxProfiles - 1], nullptr);
        EXPECT_EQ(almost[0], nullptr);
    }
}

TEST_F(IESettingsLoaderTest, CreateCacheNamesTheProfileAndBuildsTheLoadersCache)
{
    BrowserProfile profile;
    profile.profileName = "old";
    auto viaService = IESettingsLoader(test::Context()).CreateCache(profile, "/some/folder");
    EXPECT_NE(dynamic_cast<IECache*>(viaService.get()), nullptr);
    EXPECT_EQ(profile.cacheFolder, "/some/folder");
    EXPECT_EQ(profile.profileName, "Internet Explorer Cache");
    EXPECT_EQ(profile.displayName, "Internet Explorer Cache");

    BrowserProfile other;
    auto direct = ClientUrlCacheSettingsLoader(test::Context()).CreateCache(other, "/other");
    EXPECT_NE(dynamic_cast<ClientUrlCache*>(direct.get()), nullptr);
    EXPECT_EQ(direct->GetFolder(), "/other");
    EXPECT_EQ(other.cacheFolder, "/other");
    EXPECT_EQ(other.displayName, "Internet Explorer Cache");
}

TEST_F(IESettingsLoaderTest, LoadWritesItsEntryAndExitLines)
{
    std::string log = dir.file("trace.log");
    std::optional<test::TraceCapture> trace(std::in_place, log);
    SetDirectory(std::nullopt);
    ProfileTable profiles;
    int32_t count = 0;
    IESettingsLoader(test::Context()).Load(profiles, count);
    ClientUrlCacheSettingsLoader(test::Context()).Load(profiles, count);
    trace.reset();
    EXPECT_EQ(test::ReadWholeFile(log), "Entry - IESettingsLoader::Load()\r\n"
                                        "Exit - IESettingsLoader::Load()\r\n"
                                        "Entry - ClientUrlCacheSettingsLoader::Load()\r\n"
                                        "Exit - ClientUrlCacheSettingsLoader::Load()\r\n");
}

} // namespace
} // namespace oriel
