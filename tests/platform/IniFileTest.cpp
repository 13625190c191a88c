// The INI reader that stands in for GetPrivateProfileStringA and
// GetPrivateProfileIntA.
#include "platform/IniFile.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace oriel::platform {
namespace {

const std::string kText = "\xEF\xBB\xBF[General]\r\n"
                          "StartWithLastProfile=1\r\n"
                          "\r\n"
                          "[Profile0]\r\n"
                          "Name=default\r\n"
                          "IsRelative=1\r\n"
                          "Path=Profiles/k3x9abcd.default\r\n"
                          "  Spaced Key  =   spaced value  \r\n"
                          "Quoted=\"  quoted  \"\r\n"
                          "Single='x'\r\n"
                          "Half=\"x\r\n"
                          "Empty=\r\n"
                          "Negative=-12abc\r\n"
                          "NotNumber=abc\r\n"
                          "Huge=99999999999999\r\n"
                          "Name=second\r\n"
                          "; Name=comment\r\n"
                          "no equals sign\r\n"
                          "[profile0]\r\n"
                          "Name=shadowed\r\n"
                          "Other=shadowed\r\n"
                          "[Profile1]\n"
                          "Name=" + std::string(300, 'n') + "\n";

TEST(IniFileTest, ReadsValuesAsTheWindowsProfileCallsDo)
{
    std::string text = kText;
    IniFile ini(text);
    struct Case {
        const char* section;
        const char* key;
        std::string expected;
    };
    const Case cases[] = {
        {"Profile0", "Name", "default"},          // the first key of a name counts
        {"PROFILE0", "name", "default"},          // names without regard to case
        {"Profile0", "Path", "Profiles/k3x9abcd.default"},
        {"Profile0", "Spaced Key", "spaced value"},
        {"Profile0", "Quoted", "  quoted  "},
        {"Profile0", "Single", "x"},
        {"Profile0", "Half", "\"x"},
        {"Profile0", "Empty", ""},
        {"Profile0", "Other", "fallback"},        // only the first section of a name is read
        {"Profile0", "; Name", "fallback"},
        {"Profile2", "Name", "fallback"},
        {"General", "StartWithLastProfile", "1"},
        {"Profile1", "Name", std::string(255, 'n')}, // a 256-byte buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.GetString(c.section, c.key, "fallback"), c.expected);
    }
    EXPECT_EQ(ini.GetInt("Profile0", "IsRelative", 7), 1);
    EXPECT_EQ(ini.GetInt("Profile0", "Negative", 7), -12);
    EXPECT_EQ(ini.GetInt("Profile0", "NotNumber", 7), 0);
    EXPECT_EQ(ini.GetInt("Profile0", "Empty", 7), 0);
    EXPECT_EQ(ini.GetInt("Profile0", "Missing", 7), 7);
    EXPECT_EQ(ini.GetInt("Profile0", "Huge", 7), 2147483647);
}

TEST(IniFileTest, MissingFileGivesEveryDefault)
{
    test::TempDir dir;
    IniFile ini;
    EXPECT_FALSE(ini.Load(dir.file("missing.ini")));
    EXPECT_FALSE(ini.Load(dir.path()));
    EXPECT_EQ(ini.GetString("Profile0", "Path", "Default"), "Default");
    test::WriteFile(dir.file("Profiles.INI"), "[Profile0]\nName=x\n");
    ASSERT_TRUE(ini.Load(dir.file("profiles.ini"))); // found without regard to case
    EXPECT_EQ(ini.GetString("Profile0", "Name", ""), "x");
}

} // namespace
} // namespace oriel::platform
