#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace oriel::platform {
namespace {

using namespace std::string_literals;

TEST(Text, NoCaseComparisonFoldsAsciiLettersOnly)
{
    struct Case {
        std::string_view a, b;
        bool equal, prefix;
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE", "hkey_local_machine", true, true},
        {"Content-Type: text/html", "content-typ", false, true},
        {"content-typ", "Content-Type", false, false}, // shorter than the prefix
        {"dword:0000", "DWORD:", false, true},
        {"\xC3\x84", "\xC3\xA4", false, false}, // "Ä" and "ä": not ASCII, compared as bytes
        {"a[", "A{", false, false},            // '[' and '{' differ by the case bit but are not letters
        {"", "", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
        EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal);
        EXPECT_EQ(StartsWithNoCase(c.a, c.b), c.prefix);
    }
}

TEST(Text, Utf16TextEndsAtTheFirstAlignedNulUnit)
{
    // "Aé" then a NUL unit, then "B"; a zero high byte alone is no NUL unit.
    const std::string bytes = "A\0\xE9\0\0\0B\0"s;
    EXPECT_EQ(Utf16LeUpToNul(bytes), "A\0\xE9\0"s);
    EXPECT_EQ(Utf16LeToUtf8(Utf16LeUpToNul(bytes)), "A\xC3\xA9");
    EXPECT_EQ(Utf16LeToUtf8(bytes), "A\xC3\xA9"s + '\0' + "B");
    EXPECT_EQ(Utf16LeUpToNul("\0A\0\0"s), "\0A"s);
    // An odd last byte is dropped, never read past.
    EXPECT_EQ(Utf16LeToUtf8("A\0B"s), "A");
    EXPECT_EQ(Utf16LeUpToNul("A\0B"s), "A\0"s);
    EXPECT_EQ(Utf16LeToUtf8(""), "");
}

} // namespace
} // namespace oriel::platform
