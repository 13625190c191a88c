// The examined Windows system: Windows path mapping, user detection, known
// folders, and the registry opened from the tree's hives.
#include "platform/MemoryRegistry.h"
#include "platform/RegistryReader.h"
#include "platform/WindowsSystem.h"
#include "support/TestEnvironment.h"
#include "support/TestContext.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace oriel {
namespace {

using platform::KnownFolder;
using platform::MemoryRegistry;
using platform::RootKey;
using platform::SystemConfig;
using platform::WindowsSystem;
using test::TempDir;
using test::WindowsTreeWriter;
using test::WriteFile;

class WindowsSystemTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        test::Context().SetRegistry(nullptr);
        test::Context().SetSystem(nullptr);
    }
    TempDir dir;
};

TEST_F(WindowsSystemTest, WindowsPathsMapOntoTheRootAndTheDriveMap)
{
    WriteFile(dir.file("c/Documents and Settings/Jane/Application Data/Mozilla/profiles.ini"), "x");
    WriteFile(dir.file("c/Windows/win.ini"), "x");
    WriteFile(dir.file("d/Games/Opera/OperaDef6.ini"), "x");
    SystemConfig config;
    config.root = dir.file("c");
    config.drives['D'] = dir.file("d");
    WindowsSystem system(config);
    const std::string c = dir.file("c"), d = dir.file("d");

    struct Case {
        const char* windowsPath;
        std::optional<std::string> host;
    };
    const Case cases[] = {
        // Case does not matter, in the letter or in any component.
        {"C:\\Documents and Settings\\Jane\\Application Data\\Mozilla\\profiles.ini",
         c + "/Documents and Settings/Jane/Application Data/Mozilla/profiles.ini"},
        {"c:\\DOCUMENTS AND SETTINGS\\jane\\application data\\MOZILLA\\Profiles.INI",
         c + "/Documents and Settings/Jane/Application Data/Mozilla/profiles.ini"},
        {"C:/Windows/WIN.INI", c + "/Windows/win.ini"},
        // Trailing and doubled separators are dropped.
        {"C:\\Windows\\", c + "/Windows"},
        {"C:\\Windows\\\\\\", c + "/Windows"},
        {"C:\\\\Windows\\.\\win.ini", c + "/Windows/win.ini"},
        {"C:\\", c},
        // Other letters through the drive map.
        {"D:\\games\\opera\\operadef6.ini", d + "/Games/Opera/OperaDef6.ini"},
        {"d:\\", d},
        // A path that does not exist still maps, spelled as given below the
        // part that exists.
        {"C:\\Windows\\Temp\\x.tmp", c + "/Windows/Temp/x.tmp"},
        // ".." never leaves the drive: at the top it stays there, as on Windows.
        {"C:\\..\\..\\etc\\passwd", c + "/etc/passwd"},
        {"C:\\Windows\\..\\..\\Windows\\win.ini", c + "/Windows/win.ini"},
        {"D:\\Games\\..\\..\\..\\c\\Windows", d + "/c/Windows"},
        // The length-limit prefix is a plain path.
        {"\\\\?\\C:\\Windows\\win.ini", c + "/Windows/win.ini"},
        // Refused: unmapped letters, relative, drive-relative, rooted without
        // a drive, UNC.
        {"E:\\Data\\file.txt", std::nullopt},
        {"Windows\\win.ini", std::nullopt},
        {"C:Windows\\win.ini", std::nullopt},
        {"C:", std::nullopt},
        {"\\Windows\\win.ini", std::nullopt},
        {"\\\\server\\share\\file.txt", std::nullopt},
        {"//server/share/file.txt", std::nullopt},
        {"\\\\?\\UNC\\server\\share\\file.txt", std::nullopt},
        {"", std::nullopt},
        {"%USERPROFILE%\\Local Settings", std::nullopt},
    };
    for (const Case& k : cases)
        EXPECT_EQ(system.MapPath(k.windowsPath), k.host) << k.windowsPath;
}

TEST_F(WindowsSystemTest, WithoutARootOnlyTheDriveMapMaps)
{
    fs::create_directories(dir.file("d/Data"));
    SystemConfig config;
    config.drives['D'] = dir.file("d");
    WindowsSystem system(config);
    EXPECT_FALSE(system.HasSystem());
    EXPECT_EQ(system.MapPath("C:\\Windows"), std::nullopt);
    EXPECT_EQ(system.MapPath("D:\\data"), dir.file("d/Data"));

    WindowsSystem none;
    EXPECT_EQ(none.MapPath("C:\\Windows"), std::nullopt);
    EXPECT_EQ(none.KnownFolderPath(KnownFolder::AppData, MemoryRegistry()), std::nullopt);
    EXPECT_EQ(none.KnownFolderPath(KnownFolder::Windows, MemoryRegistry()), std::nullopt);
}

TEST_F(WindowsSystemTest, TheSystemDriveLetterComesFromSystemRoot)
{
    fs::create_directories(dir.file("root/WINNT"));
    SystemConfig config;
    config.root = dir.file("root");
    WindowsSystem system(config);
    MemoryRegistry registry;
    registry.SetString(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot",
                       "e:\\WINNT");
    system.ReadSystemDrive(registry);
    EXPECT_EQ(system.SystemDrive(), 'E');
    EXPECT_EQ(system.MapPath("E:\\winnt"), dir.file("root/WINNT"));
    EXPECT_EQ(system.MapPath("C:\\WINNT"), std::nullopt);
    EXPECT_EQ(system.KnownFolderWindowsPath(KnownFolder::Windows, registry), "e:\\WINNT");
}

TEST_F(WindowsSystemTest, DriveMapsAndFileListsParse)
{
    struct Case {
        const char* text;
        bool ok;
        std::map<char, std::string> drives;
    };
    const Case cases[] = {
        {"", true, {}},
        {"D=/mnt/d", true, {{'D', "/mnt/d"}}},
        {"d=/mnt/d; E:=/media/e ;", true, {{'D', "/mnt/d"}, {'E', "/media/e"}}},
        {"D=/mnt/one;d=/mnt/two", true, {{'D', "/mnt/two"}}},
        {"DE=/mnt/d", false, {}},
        {"1=/mnt/d;E=/e", false, {{'E', "/e"}}},
        {"D=", false, {}},
        {"/mnt/d", false, {}},
    };
    for (const Case& k : cases) {
        std::map<char, std::string> drives;
        std::string error;
        EXPECT_EQ(SystemConfig::ParseDrives(k.text, drives, &error), k.ok) << k.text;
        EXPECT_EQ(drives, k.drives) << k.text;
        EXPECT_EQ(error.empty(), k.ok) << k.text;
    }
    EXPECT_EQ(SystemConfig::ParseFileList(" a.reg ;;b c.reg;"), (std::vector<std::string>{"a.reg", "b c.reg"}));
    EXPECT_TRUE(SystemConfig::ParseFileList(" ; ").empty());
}

// The user names a tree of `layout` holds, and whom it examines.
struct Detection {
    std::vector<std::string> users;
    std::string examined;
};

Detection Detect(const std::string& root, const std::string& configuredUser = {})
{
    SystemConfig config;
    config.root = root;
    config.user = configuredUser;
    WindowsSystem system(config);
    Detection d;
    for (const auto& u : system.Users())
        d.users.push_back(u.name);
    if (system.User())
        d.examined = system.User()->name;
    return d;
}

TEST_F(WindowsSystemTest, TheOnlyUserWithAHiveIsExaminedAndTemplateProfilesAreNotUsers)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        TempDir root;
        WindowsTreeWriter tree(layout);
        tree.addUser("Jane");
        tree.addUser("Adam", /*withHive=*/false);
        tree.write(root.path());
        Detection d = Detect(root.path());
        EXPECT_EQ(d.users, std::vector<std::string>{"Jane"});
        EXPECT_EQ(d.examined, "Jane");
    }
}

TEST_F(WindowsSystemTest, AmongSeveralUsersTheFirstByNameIsExaminedUnlessOneIsConfigured)
{
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Vista);
    tree.addUser("martin").addUser("Jane").addUser("Bob").addUser("aaron", false);
    tree.write(dir.path());
    Detection d = Detect(dir.path());
    EXPECT_EQ(d.users, (std::vector<std::string>{"Bob", "Jane", "martin"}));
    EXPECT_EQ(d.examined, "Bob");

    EXPECT_EQ(Detect(dir.path(), "JANE").examined, "Jane");
    // A configured user needs no hive of its own.
    EXPECT_EQ(Detect(dir.path(), "Aaron").examined, "aaron");

    SystemConfig config;
    config.root = dir.path();
    config.user = "Nobody";
    WindowsSystem system(config);
    EXPECT_EQ(system.User(), nullptr);
    EXPECT_NE(system.UserProblem().find("Nobody"), std::string::npos);
}

TEST_F(WindowsSystemTest, ARootWithoutProfilesHasNoUser)
{
    fs::create_directories(dir.file("Windows"));
    SystemConfig config;
    config.root = dir.path();
    WindowsSystem system(config);
    EXPECT_TRUE(system.HasSystem());
    EXPECT_EQ(system.User(), nullptr);
    EXPECT_EQ(system.KnownFolderPath(KnownFolder::AppData, MemoryRegistry()), std::nullopt);
    EXPECT_EQ(system.KnownFolderPath(KnownFolder::Windows, MemoryRegistry()), dir.file("Windows"));

    config.root = dir.file("missing");
    EXPECT_FALSE(WindowsSystem(config).HasSystem());
}

TEST_F(WindowsSystemTest, KnownFoldersFollowTheStandardLayoutsWithoutShellFolders)
{
    struct Case {
        WindowsTreeWriter::Layout layout;
        KnownFolder folder;
        const char* windowsPath;
    };
    using L = WindowsTreeWriter::Layout;
    const Case cases[] = {
        {L::Xp, KnownFolder::Profile, "C:\\Documents and Settings\\Jane"},
        {L::Xp, KnownFolder::AppData, "C:\\Documents and Settings\\Jane\\Application Data"},
        {L::Xp, KnownFolder::LocalAppData, "C:\\Documents and Settings\\Jane\\Local Settings\\Application Data"},
        {L::Xp, KnownFolder::InternetCache,
         "C:\\Documents and Settings\\Jane\\Local Settings\\Temporary Internet Files"},
        {L::Xp, KnownFolder::Temp, "C:\\Documents and Settings\\Jane\\Local Settings\\Temp"},
        {L::Xp, KnownFolder::Windows, "C:\\Windows"},
        {L::Vista, KnownFolder::Profile, "C:\\Users\\Jane"},
        {L::Vista, KnownFolder::AppData, "C:\\Users\\Jane\\AppData\\Roaming"},
        {L::Vista, KnownFolder::LocalAppData, "C:\\Users\\Jane\\AppData\\Local"},
        {L::Vista, KnownFolder::InternetCache,
         "C:\\Users\\Jane\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files"},
        {L::Vista, KnownFolder::Temp, "C:\\Users\\Jane\\AppData\\Local\\Temp"},
        {L::Vista, KnownFolder::Windows, "C:\\Windows"},
    };
    for (L layout : {L::Xp, L::Vista}) {
        TempDir root;
        WindowsTreeWriter tree(layout);
        tree.addUser("Jane").setShellFolders(false);
        tree.write(root.path());
        SystemConfig config;
        config.root = root.path();
        // An empty registry: nothing but the layout on disk to go by.
        MemoryRegistry registry;
        WindowsSystem system(config);
        for (const Case& k : cases) {
            if (k.layout != layout)
                continue;
            EXPECT_EQ(system.KnownFolderWindowsPath(k.folder, registry), k.windowsPath) << k.windowsPath;
            EXPECT_EQ(system.KnownFolderPath(k.folder, registry), system.MapPath(k.windowsPath));
        }
        // The folder that holds the XP layout's "WINDOWS" is found whatever its case.
        EXPECT_TRUE(fs::is_directory(*system.KnownFolderPath(KnownFolder::Windows, registry)));
    }
}

TEST_F(WindowsSystemTest, ShellFoldersInTheRegistryWinWhereTheirFoldersExist)
{
    fs::create_directories(dir.file("c/Users/Jane/AppData/Roaming"));
    WriteFile(dir.file("c/Users/Jane/NTUSER.DAT"), "");
    fs::create_directories(dir.file("d/Profiles/Jane/Roaming"));
    SystemConfig config;
    config.root = dir.file("c");
    config.drives['D'] = dir.file("d");
    WindowsSystem system(config);
    ASSERT_NE(system.User(), nullptr);

    const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    MemoryRegistry registry;
    registry.SetString(RootKey::CurrentUser, key, "AppData", "D:\\Profiles\\Jane\\Roaming\\");
    EXPECT_EQ(system.KnownFolderWindowsPath(KnownFolder::AppData, registry), "D:\\Profiles\\Jane\\Roaming");
    EXPECT_EQ(system.KnownFolderPath(KnownFolder::AppData, registry), dir.file("d/Profiles/Jane/Roaming"));

    // A folder that is not there, a drive that is not mapped, and a value
    // that is no absolute path all give way to the standard layout.
    for (const char* value : {"C:\\Gone\\Roaming", "F:\\Jane\\Roaming", "%APPDATA%", "Roaming"}) {
        registry.SetString(RootKey::CurrentUser, key, "AppData", value);
        EXPECT_EQ(system.KnownFolderPath(KnownFolder::AppData, registry), dir.file("c/Users/Jane/AppData/Roaming"))
            << value;
    }
    // Only text values count.
    registry.SetValue(RootKey::CurrentUser, key, "AppData",
                      {MemoryRegistry::ValueType::ExpandString, "D:\\Profiles\\Jane\\Roaming"});
    EXPECT_EQ(system.KnownFolderPath(KnownFolder::AppData, registry), dir.file("c/Users/Jane/AppData/Roaming"));
}

TEST_F(WindowsSystemTest, InstallingATreeOpensItsHivesAndTheUsersShellFolders)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        TempDir root;
        WindowsTreeWriter tree(layout);
        tree.addUser("Jane");
        tree.addUser("Zoe");
        tree.setSystemDrive('D');
        tree.userHive("Zoe").setString("Software\\Oriel", "Marker", "zoe's hive");
        tree.write(root.path());

        SystemConfig config;
        config.root = root.path();
        config.user = "zoe";
        auto system = test::InstallSystem(config);
        ASSERT_EQ(system, test::Context().System());
        EXPECT_EQ(system->SystemDrive(), 'D');
        auto registry = test::Context().Registry();
        std::string text;
        EXPECT_GT(registry->QueryString(RootKey::CurrentUser, "Software\\Oriel", "Marker", text), 0);
        EXPECT_EQ(text, "zoe's hive");
        EXPECT_GT(registry->QueryString(RootKey::ClassesRoot, "MIME\\Database\\Content Type\\image/gif",
                                        "Extension", text),
                  0);
        EXPECT_EQ(text, ".gif");

        std::string cache = root.path() + "/" + tree.contentFolder("Zoe");
        cache = cache.substr(0, cache.rfind('/'));
        EXPECT_EQ(test::Context().KnownFolderPath(KnownFolder::InternetCache), cache);
        EXPECT_EQ(test::Context().MapWindowsPath(tree.windowsPath(tree.profileFolder("ZOE"))),
                  root.path() + "/" + tree.profileFolder("Zoe"));
    }
}

TEST_F(WindowsSystemTest, RegFilesAloneMakeARegistryWithoutASystem)
{
    WriteFile(dir.file("export.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                                      "\"SystemRoot\"=\"C:\\\\WINDOWS\"\r\n");
    SystemConfig config;
    config.registryFiles = {dir.file("export.reg")};
    auto system = test::InstallSystem(config);
    EXPECT_FALSE(system->HasSystem());
    std::string text;
    EXPECT_GT(test::Context().Registry()->QueryString(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                                "SystemRoot", text),
              0);
    EXPECT_EQ(text, "C:\\WINDOWS");

    // Installing a system without any source drops the old registry.
    test::InstallSystem(SystemConfig{});
    EXPECT_EQ(test::Context().Registry()->QueryString(RootKey::LocalMachine,
                                                "Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", text),
              -1);
}

} // namespace
} // namespace oriel
