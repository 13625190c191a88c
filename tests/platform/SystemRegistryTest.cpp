// The examined system's registry composed of a SOFTWARE hive, an NTUSER.DAT
// and .reg exports.
#include "platform/SystemRegistry.h"

#include "support/HiveWriter.h"
#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/RegFileWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using oriel::platform::OpenSystemRegistry;
using oriel::platform::RegistryReader;
using oriel::platform::RegistrySources;
using oriel::platform::RootKey;
using oriel::test::HiveWriter;
using oriel::test::RegFileWriter;

namespace {

// What the opener returns as a warning, shown the way the application shows
// it: through the context's message sink (which the test captures).
void Show(const std::string& problem)
{
    if (!problem.empty())
        oriel::test::Context().Messages().ShowMessage(problem, oriel::MessageIcon::Exclamation);
}

std::shared_ptr<oriel::platform::RegistryReader> OpenShown(const oriel::platform::RegistrySources& sources)
{
    std::vector<std::string> warnings;
    auto registry = oriel::platform::OpenSystemRegistry(sources, &warnings);
    for (const std::string& warning : warnings)
        Show(warning);
    return registry;
}

const std::string kPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";
const std::string kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class SystemRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // SOFTWARE: its root is HKEY_LOCAL_MACHINE\Software.
        machine_.setString("Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths", "Directory",
                           "C:\\WINDOWS\\Temporary Internet Files\\")
            .setString("Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "C:\\WINDOWS")
            .setString("Microsoft\\Windows NT\\CurrentVersion", "Both", "machine")
            .setDword("Microsoft\\Windows NT\\CurrentVersion", "Number", 5)
            .setString("Classes\\.gif", "Content Type", "image/gif")
            .setString("Classes\\.htm", "Content Type", "text/html")
            .setString("Classes\\.htm", "Only Machine", "machine")
            .setString("Classes\\MIME\\Database\\Content Type\\image/gif", "Extension", ".gif")
            .addKey("Classes\\Machine Only");
        user_.setString(kShellFolders, "AppData", "C:\\Documents and Settings\\Jane\\Application Data")
            .setString(kShellFolders, "Cache", "C:\\Documents and Settings\\Jane\\Local Settings\\Temporary Internet Files")
            .setString("Software\\Classes\\.HTM", "Content Type", "text/x-user-html")
            .setString("Software\\Classes\\.png", "Content Type", "image/png")
            .addKey("Software\\Classes\\User Only");
    }

    std::shared_ptr<RegistryReader> Open(const std::vector<RegFileWriter>& regs = {})
    {
        RegistrySources sources;
        sources.softwareHive = dir_.file("Windows/System32/config/SOFTWARE");
        machine_.writeTo(sources.softwareHive);
        sources.userHive = dir_.file("Documents and Settings/Jane/NTUSER.DAT");
        user_.writeTo(sources.userHive);
        for (size_t i = 0; i < regs.size(); ++i) {
            sources.regFiles.push_back(dir_.file("export" + std::to_string(i) + ".reg"));
            regs[i].writeTo(sources.regFiles.back());
        }
        return OpenShown(sources);
    }

    static std::string Query(const RegistryReader& reg, RootKey root, const std::string& key, const std::string& name)
    {
        std::string out = "<none>";
        reg.QueryString(root, key, name, out);
        return out;
    }

    static std::vector<std::string> Subkeys(const RegistryReader& reg, RootKey root, const std::string& key)
    {
        std::vector<std::string> names;
        if (!reg.EnumSubkeys(root, key, names))
            names.push_back("<no key>");
        return names;
    }

    HiveWriter machine_{3};
    HiveWriter user_{5};
    oriel::test::MessageCapture sink_;
    oriel::test::TempDir dir_;
};

TEST_F(SystemRegistryTest, TheHivesStandWhereWindowsMountsThem)
{
    auto reg = Open();
    std::string out;
    const std::string directory = "C:\\WINDOWS\\Temporary Internet Files\\";
    EXPECT_EQ(reg->QueryString(RootKey::LocalMachine, kPaths, "Directory", out), int(directory.size() + 1));
    EXPECT_EQ(out, directory);
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
              "C:\\WINDOWS");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "AppData"),
              "C:\\Documents and Settings\\Jane\\Application Data");
    // Only Software of HKEY_LOCAL_MACHINE comes from a hive.
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"), "<none>");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "System\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
              "<none>");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kPaths, "Directory"), "<none>");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "Number"),
              "<none>");
    EXPECT_EQ(Subkeys(*reg, RootKey::LocalMachine, ""), std::vector<std::string>{"SOFTWARE"});
    EXPECT_EQ(Subkeys(*reg, RootKey::LocalMachine, "System"), std::vector<std::string>{"<no key>"});
    EXPECT_EQ(Subkeys(*reg, RootKey::CurrentUser, "software\\microsoft\\windows\\currentversion\\explorer"),
              std::vector<std::string>{"Shell Folders"});
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(SystemRegistryTest, ClassesRootIsTheUsersClassesOverTheMachines)
{
    auto reg = Open();
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".htm", "Content Type"), "text/x-user-html");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".HTM", "Only Machine"), "machine");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".gif", "Content Type"), "image/gif");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".png", "Content Type"), "image/png");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, "MIME\\Database\\Content Type\\image/gif", "Extension"), ".gif");
    // The user's spelling and order come first, then what only the machine has.
    EXPECT_EQ(Subkeys(*reg, RootKey::ClassesRoot, ""),
              (std::vector<std::string>{".HTM", ".png", "User Only", ".gif", "Machine Only", "MIME"}));
}

TEST_F(SystemRegistryTest, RegFilesWinOverHivesAndLaterFilesOverEarlierOnes)
{
    RegFileWriter first(RegFileWriter::Format::Regedit4), second;
    first.setString("HKEY_LOCAL_MACHINE\\" + kPaths, "Directory", "D:\\From first")
        .setString("HKEY_CURRENT_USER\\" + kShellFolders, "AppData", "D:\\AppData from first")
        .setString("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control", "SystemBootDevice", "multi(0)")
        .setString("HKEY_CLASSES_ROOT\\.gif", "Content Type", "image/x-from-reg")
        .setString("HKEY_CURRENT_USER\\Software\\Classes\\.new", "Content Type", "text/new");
    second.setString("HKEY_LOCAL_MACHINE\\" + kPaths, "Directory", "E:\\From second")
        .setDword("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion", "Both", 1);
    auto reg = Open({first, second});
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, kPaths, "Directory"), "E:\\From second");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "AppData"), "D:\\AppData from first");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "Cache"),
              "C:\\Documents and Settings\\Jane\\Local Settings\\Temporary Internet Files");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "System\\CurrentControlSet\\Control", "SystemBootDevice"),
              "multi(0)");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".gif", "Content Type"), "image/x-from-reg");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".new", "Content Type"), "text/new");
    // A value of another type in a .reg file hides the hive's string.
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "Both"),
              "<none>");
    EXPECT_EQ(Subkeys(*reg, RootKey::LocalMachine, ""), (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
    EXPECT_EQ(Subkeys(*reg, RootKey::ClassesRoot, "").back(), ".new");
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(SystemRegistryTest, KeysAndValuesThatARegFileDeletesHideTheHives)
{
    RegFileWriter first, second;
    first.deleteKey("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT")
        .deleteValue("HKEY_CURRENT_USER\\" + kShellFolders, "AppData")
        .deleteKey("HKEY_CURRENT_USER\\Software\\Classes\\.htm")
        .deleteKey("HKEY_CLASSES_ROOT\\.png")
        .deleteKey("HKEY_CLASSES_ROOT\\Machine Only");
    // A key deleted and made again holds only what the .reg files put in it.
    second.setString("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion", "Both", "again");
    auto reg = Open({first, second});
    const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, nt, "SystemRoot"), "<none>");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, nt, "Both"), "again");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "AppData"), "<none>");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "Cache"),
              "C:\\Documents and Settings\\Jane\\Local Settings\\Temporary Internet Files");
    // The user's .htm is gone, so the machine's shows through.
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".htm", "Content Type"), "text/html");
    EXPECT_EQ(Query(*reg, RootKey::ClassesRoot, ".png", "Content Type"), "<none>");
    EXPECT_EQ(Subkeys(*reg, RootKey::ClassesRoot, ""),
              (std::vector<std::string>{"User Only", ".gif", ".htm", "MIME"}));
    EXPECT_EQ(Subkeys(*reg, RootKey::ClassesRoot, ".png"), std::vector<std::string>{"<no key>"});
    EXPECT_EQ(Subkeys(*reg, RootKey::LocalMachine, "Software\\Microsoft\\Windows NT"),
              std::vector<std::string>{"CurrentVersion"});
    EXPECT_EQ(Subkeys(*reg, RootKey::LocalMachine, "Software\\Microsoft"),
              (std::vector<std::string>{"Windows", "Windows NT"}));
}

TEST_F(SystemRegistryTest, EachMissingOrDamagedSourceGivesOneWarningAndTheRestAreUsed)
{
    RegistrySources sources;
    sources.softwareHive = dir_.file("SOFTWARE");
    oriel::test::WriteFile(sources.softwareHive, machine_.bytes().substr(0, 6000));
    sources.userHive = dir_.file("NTUSER.DAT");
    user_.writeTo(sources.userHive);
    sources.regFiles = {dir_.file("missing.reg"), dir_.file("bad.reg"), dir_.file("good.reg")};
    oriel::test::WriteFile(sources.regFiles[1], "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=\"cut");
    RegFileWriter().setString("HKEY_LOCAL_MACHINE\\" + kPaths, "Directory", "C:\\From reg").writeTo(sources.regFiles[2]);
    auto reg = OpenShown(sources);
    ASSERT_TRUE(reg);
    ASSERT_EQ(sink_->messages.size(), 3u);
    EXPECT_NE(sink_->messages[0].find(sources.softwareHive), std::string::npos);
    EXPECT_NE(sink_->messages[1].find(sources.regFiles[0]), std::string::npos);
    EXPECT_NE(sink_->messages[2].find(sources.regFiles[1]), std::string::npos);
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, kPaths, "Directory"), "C:\\From reg");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
              "<none>");
    EXPECT_EQ(Query(*reg, RootKey::CurrentUser, kShellFolders, "AppData"),
              "C:\\Documents and Settings\\Jane\\Application Data");
    EXPECT_EQ(Query(*reg, RootKey::LocalMachine, "Software\\X", "v"), "<none>");
}

TEST_F(SystemRegistryTest, WithoutSourcesEveryQueryFailsQuietly)
{
    auto reg = OpenShown({});
    ASSERT_TRUE(reg);
    for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::ClassesRoot}) {
        EXPECT_EQ(Query(*reg, root, kPaths, "Directory"), "<none>");
        EXPECT_EQ(Subkeys(*reg, root, "Software"), std::vector<std::string>{"<no key>"});
    }
    EXPECT_TRUE(sink_->messages.empty());
}

} // namespace
