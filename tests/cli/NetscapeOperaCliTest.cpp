// oriel-cli over Netscape 4 and Opera caches: list and export of each
// format, the unsupported-version question answered from
// --ignore-unsupported, and every browser family of a synthetic Windows
// tree in "oriel-cli profiles".
#include "support/CliCommand.h"
#include "support/Dcache4Writer.h"
#include "support/MozillaProfileWriter.h"
#include "support/Netscape4OperaProfileWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace oriel::test {
namespace {

SynthOptions Entries(int entries)
{
    SynthOptions options;
    options.entries = entries;
    return options;
}

TEST(NetscapeOperaCliTest, ListAndExportShowEveryEntryOfEachFormat)
{
    struct Case {
        const char* format;
        std::string (*write)(const std::string&, const SynthOptions&);
    } cases[] = {
        {"cache.db", [](const std::string& d, const SynthOptions& o) { return WriteSyntheticCacheDbCache(d, o); }},
        {"fat.db", &WriteSyntheticFatDbCache},
        {"dcache4.url", &WriteSyntheticOperaCache},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        TempDir dir;
        c.write(dir.path(), Entries(25));
        std::string out, err;
        ASSERT_EQ(RunCommand(Cli("list " + dir.path()), &out, &err), 0) << err;
        auto lines = Lines(out);
        ASSERT_EQ(lines.size(), 25u);
        // Every body is present: on disk, or kept in the index.
        for (const std::string& line : lines)
            EXPECT_EQ(Fields(line).back(), "yes") << line;
        EXPECT_EQ(err, "");

        ASSERT_EQ(RunCommand(Cli("export " + dir.path()), &out, &err), 0) << err;
        auto rows = Lines(out);
        ASSERT_GT(rows.size(), 25u);
        size_t http = std::count_if(rows.begin(), rows.end(),
                                    [](const std::string& row) { return row.find("\"http://") != std::string::npos; });
        EXPECT_EQ(http, 25u);
    }
}

TEST(NetscapeOperaCliTest, ABodyKeptInTheOperaIndexIsListedAsPresent)
{
    TempDir dir;
    Dcache4Writer w;
    OperaEntry e;
    e.url = "http://www.example.com/inline.html";
    e.embeddedBody = "<html></html>";
    w.addEntry(e);
    w.write(dir.path());
    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("list --json " + dir.path()), &out, &err), 0) << err;
    EXPECT_NE(out.find("\"url\":\"http://www.example.com/inline.html\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"exists\":true"), std::string::npos) << out;
    EXPECT_NE(out.find("\"cacheName\":\"dcache4_"), std::string::npos) << out;
}

TEST(NetscapeOperaCliTest, UnsupportedVersionsAreAnsweredFromIgnoreUnsupported)
{
    TempDir dir;
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    FatDbEntry old;
    old.url = "http://h/new-format";
    old.cacheName = "M1.htm";
    old.version = 6;
    w.addFatEntry(old);
    w.endPage();
    FatDbEntry ok;
    ok.url = "http://h/fine";
    ok.cacheName = "M2.htm";
    w.addFatEntry(ok);
    w.write(dir.path());

    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("list " + dir.path()), &out, &err), 0) << err;
    EXPECT_EQ(Lines(out).size(), 1u);
    EXPECT_NE(err.find("warning: Unsupported cache entry version found! OK to skip all further version errors "
                       "this time? (answered no)"),
              std::string::npos)
        << err;

    ASSERT_EQ(RunCommand(Cli("list --ignore-unsupported " + dir.path()), &out, &err), 0) << err;
    EXPECT_EQ(Lines(out).size(), 1u);
    EXPECT_EQ(err, "");
}

TEST(NetscapeOperaCliTest, EveryBrowserFamilyOfAWindowsTreeIsListedInOrderWithItsCache)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        SCOPED_TRACE(layout == WindowsTreeWriter::Layout::Xp ? "xp" : "vista");
        TempDir dir;
        const std::string root = dir.file("system");
        WriteSyntheticWindowsTree(root, layout, Entries(12));
        std::string out, err;
        ASSERT_EQ(RunCommand(Cli("profiles --root '" + root + "'"), &out, &err), 0) << err;
        std::vector<std::string> names;
        std::vector<std::string> formats;
        for (const std::string& line : Lines(out)) {
            auto fields = Fields(line);
            ASSERT_EQ(fields.size(), 6u) << line;
            names.push_back(fields[2]);
            formats.push_back(fields[5]);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"default (Firefox)", "work (Firefox)", "default (Mozilla)",
                                                   "jane (Netscape 4.5)", "Jane Navigator (Netscape 4.0)",
                                                   "Opera Cache", "Internet Explorer Cache"}))
            << out;
        ASSERT_EQ(formats.size(), 7u);
        EXPECT_EQ(formats[3], "netscape45");
        EXPECT_EQ(formats[4], "netscape40");
        EXPECT_EQ(formats[5], "opera");

        // Each profile's cache lists its items.
        for (size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            ASSERT_EQ(RunCommand(Cli("list --root '" + root + "' --profile " + std::to_string(i)), &out, &err), 0)
                << err;
            EXPECT_FALSE(Lines(out).empty());
        }
    }
}

} // namespace
} // namespace oriel::test
