#include "ops/DestName.h"

#include <gtest/gtest.h>

namespace oriel {
namespace {

struct NameCase {
    const char* url;
    bool extractNames;
    bool useServerInPath;
    const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.url << " paths=" << c.extractNames << " server=" << c.useServerInPath;
}

class MakeDestNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(MakeDestNameTest, BuildsTheRelativeName)
{
    const NameCase& c = GetParam();
    DestNameOptions options;
    options.extractNames = c.extractNames;
    options.useServerInPath = c.useServerInPath;
    EXPECT_EQ(MakeDestName(c.url, options), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, MakeDestNameTest,
    ::testing::Values(
        // With every option on the name is laid out like the site.
        NameCase{"http://www.example.com/images/logo.gif", true, true, "www.example.com/images/logo.gif"},
        NameCase{"http://www.example.com/docs/", true, true, "www.example.com/docs/index.htm"},
        NameCase{"http://www.example.com/", true, true, "www.example.com/index.htm"},
        NameCase{"http://www.example.com", true, true, "www.example.com/index.htm"},
        // Only the file name.
        NameCase{"http://www.example.com/images/logo.gif", false, false, "logo.gif"},
        NameCase{"http://www.example.com/docs/", false, false, "index.htm"},
        // The host and the file name do not run together.
        NameCase{"http://www.example.com/images/logo.gif", false, true, "www.example.com/logo.gif"},
        // Folders without the host.
        NameCase{"http://www.example.com/a/b/c.txt", true, false, "a/b/c.txt"},
        // "%20" becomes a blank, nothing else is decoded; the eight reserved
        // characters of the file name become "_".
        NameCase{"http://h.example/my%20file%41.htm", false, false, "my file%41.htm"},
        NameCase{"http://h.example/p/q.cgi?a=1&b=*|<>\"", true, false, "p/q.cgi_a=1&b=_____"},
        NameCase{"http://h.example/x:y", false, false, "x_y"},
        // A query's "/" counts as a folder separator.
        NameCase{"http://h.example/s?u=/a/b.gif", true, false, "s?u=/a/b.gif"},
        // No "://": no file name.
        NameCase{"about:", true, true, "index.htm"},
        NameCase{"x", true, true, "index.htm"}));

// The names must stay inside the chosen folder whatever the URL says.
INSTANTIATE_TEST_SUITE_P(
    Traversal, MakeDestNameTest,
    ::testing::Values(NameCase{"http://evil.example/../../etc/passwd", true, true, "evil.example/_/_/etc/passwd"},
                      NameCase{"http://evil.example/../../etc/passwd", true, false, "_/_/etc/passwd"},
                      NameCase{"http://evil.example/a/./b/..", true, false, "a/_/b/_"},
                      NameCase{"http://../x/y.gif", true, true, "_/x/y.gif"},
                      NameCase{"http:///etc/shadow", true, true, "etc/shadow"},
                      NameCase{"http://h.example//a///b.gif", true, false, "a/b.gif"},
                      NameCase{"http://h.example/..", false, false, "_"},
                      NameCase{"http://h.example/.", false, true, "h.example/_"}));

TEST(MakeDestName, ANulByteBecomesAnUnderscore)
{
    DestNameOptions options;
    const std::string url("http://h.example/a\0b/c\0d.gif", 28);
    EXPECT_EQ(MakeDestName(url, options), "h.example/a_b/c_d.gif");
}

TEST(MakeDestName, TheDefaultFileNameIsAnOptionAndIsMadeSafeToo)
{
    DestNameOptions options;
    options.defaultFileName = "start";
    EXPECT_EQ(MakeDestName("http://h.example/d/", options), "h.example/d/start.htm");
    options.defaultFileName = "../../up";
    EXPECT_EQ(MakeDestName("http://h.example/d/", options), "h.example/d/_/_/up.htm");
}

TEST(MakeDestName, LongSegmentsAreCutTo255BytesKeepingTheExtension)
{
    DestNameOptions options;
    options.useServerInPath = false;
    const std::string longFolder(300, 'f');
    const std::string longName(400, 'n');
    std::string name = MakeDestName("http://h.example/" + longFolder + "/" + longName + ".jpeg", options);
    ASSERT_EQ(name, std::string(255, 'f') + "/" + std::string(250, 'n') + ".jpeg");
    // A cut never splits a UTF-8 character.
    std::string wide;
    for (int i = 0; i < 200; ++i)
        wide += "\xC3\xA9"; // é
    std::string cut = CutSegment(wide + ".txt");
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    EXPECT_EQ((cut.size() - 4) % 2, 0u) << "a character was split";
}

TEST(SafeRelativePath, NothingLeftGivesTheFallback)
{
    EXPECT_EQ(SafeRelativePath("///", "index.htm"), "index.htm");
    EXPECT_EQ(SafeRelativePath("", ""), "_");
    EXPECT_EQ(SafeRelativePath("/abs/path", "x"), "abs/path");
}

TEST(NumberedName, NumbersBeforeTheExtensionAndKeepsTheLimit)
{
    EXPECT_EQ(NumberedName("logo.gif", 2), "logo (2).gif");
    EXPECT_EQ(NumberedName("README", 3), "README (3)");
    EXPECT_EQ(NumberedName(".hidden", 2), ".hidden (2)");
    std::string numbered = NumberedName(std::string(255 - 4, 'a') + ".gif", 12);
    EXPECT_EQ(numbered.size(), 255u);
    EXPECT_EQ(numbered.substr(numbered.size() - 10), "a (12).gif");
}

} // namespace
} // namespace oriel
