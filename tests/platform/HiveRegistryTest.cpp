// Hives made by our writer, read back through libhivex.
#include "platform/HiveRegistry.h"
#include "platform/ContainedPath.h"

#include "support/HiveWriter.h"
#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using oriel::platform::HiveRegistry;
using oriel::platform::RootKey;
using oriel::test::HiveWriter;

namespace {

// What the opener returns as a warning, shown the way the application shows
// it: through the context's message sink (which the test captures).
void Show(const std::string& problem)
{
    if (!problem.empty())
        oriel::test::Context().Messages().ShowMessage(problem, oriel::MessageIcon::Exclamation);
}

std::shared_ptr<oriel::platform::HiveRegistry> OpenShown(const std::string& path, oriel::platform::RootKey root,
                                                         std::string_view mount)
{
    std::string problem;
    auto hive = oriel::platform::HiveRegistry::Open(path, root, mount, &problem);
    Show(problem);
    return hive;
}

const std::string kPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";

class HiveRegistryTest : public ::testing::TestWithParam<int> {
protected:
    std::shared_ptr<HiveRegistry> Write(const HiveWriter& writer, const std::string& name = "NTUSER.DAT")
    {
        const std::string path = dir_.file(name);
        writer.writeTo(path);
        return OpenShown(path, RootKey::CurrentUser, "");
    }

    static std::string Query(const HiveRegistry& hive, const std::string& key, const std::string& name)
    {
        std::string out = "<none>";
        hive.QueryString(RootKey::CurrentUser, key, name, out);
        return out;
    }

    oriel::test::MessageCapture sink_;
    oriel::test::TempDir dir_;
};

TEST_P(HiveRegistryTest, StringValuesReadBackWithTheirSizes)
{
    struct Row {
        std::string key, name, text;
    } rows[] = {
        {kPaths, "Directory", "C:\\Windows\\Temporary Internet Files"},
        {"Software\\A", "", "the default value"},
        {"Software\\A", "Empty", ""},
        {"Software\\A", "One", "x"}, // 4 bytes of data: stored inside the value cell
        {"Software\\A", "Two", "xy"},
        {"Software\\Ünïcödé", "Naïve", "Grüße"},
        {"Software\\日本\\キー", "名前", "値 – ✓"},
        {"Software\\Long", "Text", std::string(5000, 'L')},
    };
    HiveWriter writer(GetParam());
    for (const Row& row : rows)
        writer.setString(row.key, row.name, row.text);
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key + " / " + row.name);
        std::string out;
        EXPECT_EQ(hive->QueryString(RootKey::CurrentUser, row.key, row.name, out), int(row.text.size() + 1));
        EXPECT_EQ(out, row.text);
    }
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_P(HiveRegistryTest, KeyAndValueNamesCompareWithoutRegardToCase)
{
    HiveWriter writer(GetParam());
    writer.setString(kPaths, "Directory", "C:\\Cache").setString("Software\\Ärger\\Ñandú", "Größe", "groß");
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    EXPECT_EQ(Query(*hive, "SOFTWARE\\microsoft\\WINDOWS\\currentversion\\INTERNET SETTINGS\\cache\\paths",
                    "DIRECTORY"),
              "C:\\Cache");
    EXPECT_EQ(Query(*hive, "\\Software\\\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths\\",
                    "directory"),
              "C:\\Cache");
    EXPECT_EQ(Query(*hive, "software\\ÄRGER\\ÑANDÚ", "GRÖSSE"), "<none>") << "ß and SS are different names";
    EXPECT_EQ(Query(*hive, "software\\ärger\\ñandú", "gRÖße"), "groß");
}

TEST_P(HiveRegistryTest, ValuesOfOtherTypesAreRefused)
{
    HiveWriter writer(GetParam());
    writer.setExpandString("Software\\T", "Expand", "%SystemRoot%\\Temp")
        .setMultiString("Software\\T", "Multi", {"a", "b"})
        .setDword("Software\\T", "Dword", 1)
        .setValue("Software\\T", "Binary", 3, "\x01\x02\x03\x04\x05")
        .setValue("Software\\T", "None", 0, "")
        .setValue("Software\\T", "Unknown type", 0x12345678, HiveWriter::Utf16Z("not a string"))
        .setString("Software\\T", "Sz", "yes");
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    for (const char* name : {"Expand", "Multi", "Dword", "Binary", "None", "Unknown type", "Missing"}) {
        std::string out = "unchanged";
        EXPECT_EQ(hive->QueryString(RootKey::CurrentUser, "Software\\T", name, out), -1) << name;
        EXPECT_EQ(out, "unchanged") << name;
    }
    EXPECT_EQ(hive->LookupValue("Software\\T", "expand", nullptr), HiveRegistry::ValueKind::OtherType);
    EXPECT_EQ(hive->LookupValue("Software\\T", "missing", nullptr), HiveRegistry::ValueKind::Missing);
    EXPECT_EQ(Query(*hive, "Software\\T", "Sz"), "yes");
}

TEST_P(HiveRegistryTest, SubkeysComeInTheHivesSortedOrder)
{
    HiveWriter writer(GetParam());
    for (const char* name : {"zeta", "Alpha", "beta", "Ökonomie", "_under", "10", "9", "Gamma"})
        writer.addKey(std::string("Software\\Clients\\") + name);
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    std::vector<std::string> names{"kept"};
    ASSERT_TRUE(hive->EnumSubkeys(RootKey::CurrentUser, "software\\clients", names));
    // Windows sorts by upper-cased UTF-16 name: digits, letters, '_' (0x5F)
    // after 'Z', then characters above 0x7F.
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "10", "9", "Alpha", "beta", "Gamma", "zeta", "_under",
                                               "Ökonomie"}));
    std::vector<std::string> none;
    EXPECT_TRUE(hive->EnumSubkeys(RootKey::CurrentUser, "Software\\Clients\\Alpha", none));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(hive->EnumSubkeys(RootKey::CurrentUser, "Software\\Missing", none));
    EXPECT_TRUE(none.empty());
}

TEST_P(HiveRegistryTest, ManyKeysAndDeepPathsAreFound)
{
    HiveWriter writer(GetParam());
    std::vector<std::string> expected;
    for (int i = 0; i < 2000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Key%04d", i);
        expected.push_back(name);
        writer.setString(std::string("Software\\Classes\\") + name, "", std::to_string(i * 7));
    }
    std::string deep = "Software";
    for (int level = 0; level < 60; ++level)
        deep += "\\Level" + std::to_string(level);
    writer.setString(deep, "Depth", "60");
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    std::vector<std::string> names;
    ASSERT_TRUE(hive->EnumSubkeys(RootKey::CurrentUser, "Software\\Classes", names));
    EXPECT_EQ(names, expected);
    for (int i : {0, 1, 999, 1999})
        EXPECT_EQ(Query(*hive, "software\\classes\\" + expected[size_t(i)], ""), std::to_string(i * 7));
    EXPECT_EQ(Query(*hive, deep, "Depth"), "60");
}

TEST_P(HiveRegistryTest, TheHiveStandsUnderItsMountPath)
{
    HiveWriter writer(GetParam());
    writer.setString(kPaths, "Directory", "C:\\Cache");
    // A SOFTWARE hive: its root is HKEY_LOCAL_MACHINE\Software.
    writer.setString("Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:\\Program Files");
    const std::string path = dir_.file("SOFTWARE");
    writer.writeTo(path);
    auto hive = OpenShown(path, RootKey::LocalMachine, "Software");
    ASSERT_TRUE(hive);
    std::string out;
    EXPECT_GT(hive->QueryString(RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                "ProgramFilesDir", out),
              0);
    EXPECT_EQ(out, "C:\\Program Files");
    EXPECT_EQ(hive->QueryString(RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion",
                                "ProgramFilesDir", out),
              -1);
    EXPECT_EQ(hive->QueryString(RootKey::LocalMachine, "System\\Microsoft\\Windows\\CurrentVersion",
                                "ProgramFilesDir", out),
              -1);
    std::vector<std::string> names;
    ASSERT_TRUE(hive->EnumSubkeys(RootKey::LocalMachine, "", names));
    EXPECT_EQ(names, std::vector<std::string>{"Software"});
    names.clear();
    ASSERT_TRUE(hive->EnumSubkeys(RootKey::LocalMachine, "Software", names));
    EXPECT_EQ(names, (std::vector<std::string>{"Microsoft", "Software"}));
}

TEST_P(HiveRegistryTest, ReadsFromManyThreadsAgree)
{
    HiveWriter writer(GetParam());
    for (int i = 0; i < 200; ++i)
        writer.setString("Software\\K" + std::to_string(i), "v", "value " + std::to_string(i));
    auto hive = Write(writer);
    ASSERT_TRUE(hive);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                for (int i = t; i < 200; i += 3) {
                    std::string out;
                    if (hive->QueryString(RootKey::CurrentUser, "software\\k" + std::to_string(i), "V", out) < 0 ||
                        out != "value " + std::to_string(i))
                        ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, HiveRegistryTest, ::testing::Values(3, 5),
                         [](const auto& info) { return info.param == 3 ? "Version13Lf" : "Version15Lh"; });

// Damaged hives.

class DamagedHiveTest : public HiveRegistryTest {};

std::string GoodHive()
{
    HiveWriter writer;
    writer.setString(kPaths, "Directory", "C:\\Cache");
    for (int i = 0; i < 300; ++i)
        writer.setString("Software\\Filler\\K" + std::to_string(i), "v", std::string(40, char('a' + i % 26)));
    return writer.bytes();
}

TEST_F(DamagedHiveTest, AMissingOrDamagedHiveGivesOneWarningNamingItAndNoRegistry)
{
    const std::string good = GoodHive();
    ASSERT_GT(good.size(), 3u * 4096);
    auto patched = [&](size_t off, const std::string& bytes) {
        std::string b = good;
        b.replace(off, bytes.size(), bytes);
        return b;
    };
    struct Row {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"empty file", ""},
        {"only the base block", good.substr(0, 4096)},
        {"cut inside the base block", good.substr(0, 1000)},
        {"cut inside a hive bin", good.substr(0, good.size() - 100)},
        {"cut at a hive bin's end", good.substr(0, good.size() - 4096)},
        {"wrong signature", patched(0, "regx")},
        {"wrong checksum", patched(508, "\x01\x02\x03\x04")},
        {"text file", std::string(20000, 'x')},
        {"damaged first hive bin", patched(4096, "hbix")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sink_->messages.clear();
        const std::string path = dir_.file("NTUSER.DAT");
        oriel::test::WriteFile(path, row.bytes);
        EXPECT_EQ(OpenShown(path, RootKey::CurrentUser, ""), nullptr);
        ASSERT_EQ(sink_->messages.size(), 1u);
        EXPECT_NE(sink_->messages[0].find("\"" + path + "\""), std::string::npos) << sink_->messages[0];
    }
    sink_->messages.clear();
    EXPECT_EQ(OpenShown(dir_.file("missing"), RootKey::CurrentUser, ""), nullptr);
    EXPECT_EQ(OpenShown(dir_.path(), RootKey::CurrentUser, ""), nullptr);
    const std::string fifo = dir_.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenShown(fifo, RootKey::CurrentUser, ""), nullptr);
    EXPECT_EQ(sink_->messages.size(), 3u);
}

TEST_F(DamagedHiveTest, DamagedCellsInsideASoundHiveLoseOnlyWhatTheyHold)
{
    // Every byte of the cells overwritten in turn: libhivex must neither
    // crash nor read outside the file, and sound lookups keep working or
    // fail cleanly.
    const std::string good = GoodHive();
    size_t opened = 0;
    for (size_t off = 4096 + 32; off < good.size(); off += 97) {
        std::string bytes = good;
        for (size_t i = off; i < off + 8 && i < bytes.size(); ++i)
            bytes[i] = char(0xFF - uint8_t(bytes[i]));
        const std::string path = dir_.file("hive" + std::to_string(off));
        oriel::test::WriteFile(path, bytes);
        auto hive = OpenShown(path, RootKey::CurrentUser, "");
        if (!hive)
            continue;
        ++opened;
        std::string out;
        hive->QueryString(RootKey::CurrentUser, kPaths, "Directory", out);
        std::vector<std::string> names;
        hive->EnumSubkeys(RootKey::CurrentUser, "Software\\Filler", names);
        for (size_t i = 0; i < names.size(); i += 17)
            hive->QueryString(RootKey::CurrentUser, "Software\\Filler\\" + names[i], "v", out);
    }
    EXPECT_GT(opened, 0u);
}

TEST_F(DamagedHiveTest, AHiveReachedThroughALinkOutOfTheExaminedTreeIsNotRead)
{
    const std::string good = GoodHive();
    oriel::test::WriteFile(dir_.file("host/NTUSER.DAT"), good);
    oriel::test::WriteFile(dir_.file("root/Users/Jane/copy.DAT"), good);
    std::filesystem::create_directories(dir_.file("root/Users/Bob"));
    std::filesystem::create_symlink("../../../host/NTUSER.DAT", dir_.file("root/Users/Bob/NTUSER.DAT"));
    std::filesystem::create_symlink("copy.DAT", dir_.file("root/Users/Jane/NTUSER.DAT"));
    auto examined = oriel::platform::RegisterContainer(dir_.file("root"));
    sink_->messages.clear();
    EXPECT_EQ(OpenShown(dir_.file("root/Users/Bob/NTUSER.DAT"), RootKey::CurrentUser, ""), nullptr);
    ASSERT_EQ(sink_->messages.size(), 1u);
    EXPECT_NE(sink_->messages[0].find("link not followed"), std::string::npos) << sink_->messages[0];
    // A link that stays inside is followed, and the hive read through it.
    auto inside = OpenShown(dir_.file("root/Users/Jane/NTUSER.DAT"), RootKey::CurrentUser, "");
    ASSERT_NE(inside, nullptr);
    std::string directory;
    EXPECT_GT(inside->QueryString(RootKey::CurrentUser, kPaths, "Directory", directory), 0);
    EXPECT_EQ(directory, "C:\\Cache");
}

} // namespace

