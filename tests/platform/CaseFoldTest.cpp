#include "platform/CaseFold.h"

#include <gtest/gtest.h>

namespace oriel::platform {
namespace {

TEST(FoldCase, NamesThatDifferOnlyInCaseFoldAlike)
{
    struct Case {
        const char* a;
        const char* b;
    } cases[] = {
        {"Content.IE5", "content.ie5"},
        {"SOFTWARE\\Mozilla", "software\\mOZILLA"},
        {"ÄBC", "äbc"},
        {"Ärger\\ÑANDÚ", "ärger\\ñandú"},
        {"ΣΟΦΙΑ", "σοφια"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a);
        EXPECT_EQ(FoldCase(c.a), FoldCase(c.b));
    }
}

TEST(FoldCase, AsciiLettersAreLoweredAndEverythingElseKept)
{
    EXPECT_EQ(FoldCase("AbC-09_[Z]@\\x"), "abc-09_[z]@\\x");
    EXPECT_EQ(FoldCase(""), "");
    EXPECT_EQ(FoldCase(std::string_view("A\0B", 3)), std::string("a\0b", 3));
    EXPECT_EQ(FoldCase("ÄBC"), "äbc");
}

TEST(FoldCase, NamesThatDifferOtherwiseStayApart)
{
    struct Case {
        std::string a;
        std::string b;
    } cases[] = {
        {"groß", "GROSS"},
        {"a", "ä"},
        // Bytes that are not UTF-8 are never folded into one replacement
        // character.
        {"name\xFF", "name\xFE"},
        {"\xC3", "\xC4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a);
        EXPECT_NE(FoldCase(c.a), FoldCase(c.b));
    }
    EXPECT_EQ(FoldCase("NAME\xFF"), "name\xFF");
}

} // namespace
} // namespace oriel::platform
