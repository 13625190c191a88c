// The Netscape registry file reader over files of our writer, whole, cut
// short and damaged.
#include "loaders/NSRegistry.h"

#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "support/NSRegistryWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <optional>

#include <algorithm>

namespace oriel {
namespace {

using test::MozillaProfileRegistry;
using test::MozillaRegistryLayout;
using test::NSRegistryWriter;
using test::PutLE32;
using test::TempDir;

class NSRegistryTest : public ::testing::Test {
protected:
    // Writes `bytes` as a registry file and opens it.
    CNSRegistry& OpenBytes(const std::string& bytes)
    {
        test::WriteFile(dir.file("registry.dat"), bytes);
        EXPECT_TRUE(registry.Open(dir.file("registry.dat")));
        return registry;
    }
    std::vector<std::string> Subkeys(const std::string& path)
    {
        std::vector<std::string> names;
        EXPECT_TRUE(registry.GetSubkeys(path, names)) << path;
        return names;
    }

    TempDir dir;
    CNSRegistry registry;
};

std::vector<test::MozillaRegistryProfile> ThreeProfiles()
{
    return {{"zeta", "C:\\Moz\\zeta", std::nullopt},
            {"alpha", "C:\\Moz\\alpha", "no"},
            {"mid", "C:\\Moz\\mid", "yes"}};
}

TEST_F(NSRegistryTest, ListsProfilesInChainOrderInBothLayouts)
{
    struct Case {
        MozillaRegistryLayout layout;
        const char* key;
        const char* otherKey;
    };
    for (const Case& c : {Case{MozillaRegistryLayout::Common, "Common\\Profiles\\", "Users\\Common\\Profiles\\"},
                          Case{MozillaRegistryLayout::UsersCommon, "Users\\Common\\Profiles\\", "Common\\Profiles\\"}}) {
        SCOPED_TRACE(c.key);
        OpenBytes(MozillaProfileRegistry(c.layout, ThreeProfiles()).build());
        EXPECT_EQ(Subkeys(c.key), (std::vector<std::string>{"zeta", "alpha", "mid"}));
        std::vector<std::string> none;
        EXPECT_FALSE(registry.GetSubkeys(c.otherKey, none));
        EXPECT_TRUE(none.empty());
        std::string value;
        ASSERT_TRUE(registry.GetValue(std::string(c.key) + "alpha\\", "directory", value));
        EXPECT_EQ(value, "C:\\Moz\\alpha");
        ASSERT_TRUE(registry.GetValue(std::string(c.key) + "alpha\\", "migrated", value));
        EXPECT_EQ(value, "no");
        EXPECT_FALSE(registry.GetValue(std::string(c.key) + "zeta\\", "migrated", value));
        registry.Close();
    }
}

TEST_F(NSRegistryTest, SubkeysAreAppendedToTheList)
{
    OpenBytes(MozillaProfileRegistry(MozillaRegistryLayout::Common, ThreeProfiles()).build());
    std::vector<std::string> names{"earlier"};
    ASSERT_TRUE(registry.GetSubkeys("Common\\Profiles\\", names));
    EXPECT_EQ(names, (std::vector<std::string>{"earlier", "zeta", "alpha", "mid"}));
}

TEST_F(NSRegistryTest, RootKeysAreListedAndAKeyWithoutSubkeysGivesNone)
{
    NSRegistryWriter w;
    w.addKey("Users").addKey("Common\\Profiles").addKey("Version Registry");
    OpenBytes(w.build());
    // The path names keys below the root; there is no path for the root itself.
    EXPECT_EQ(Subkeys("Common\\"), (std::vector<std::string>{"Profiles"}));
    EXPECT_TRUE(Subkeys("Users\\").empty());
    EXPECT_TRUE(Subkeys("Common\\Profiles\\").empty());
}

TEST_F(NSRegistryTest, PathsWithoutATrailingBackslashOrInTheWrongCaseFindNoKey)
{
    OpenBytes(MozillaProfileRegistry(MozillaRegistryLayout::UsersCommon, ThreeProfiles()).build());
    std::string value = "unchanged";
    for (const char* path : {"", "Users", "users\\", "Users\\common\\", "\\Users\\", "Users\\\\Common\\",
                             "Users\\Common\\Profiles\\ZETA\\"}) {
        SCOPED_TRACE(path);
        std::vector<std::string> names;
        EXPECT_FALSE(registry.GetSubkeys(path, names));
        EXPECT_TRUE(names.empty());
        EXPECT_FALSE(registry.GetValue(path, "directory", value));
    }
    // The text after the last backslash is not part of the path.
    EXPECT_EQ(Subkeys("Users\\Common\\Profiles\\zeta"), Subkeys("Users\\Common\\Profiles\\"));
    // Entry names are compared with case too.
    EXPECT_FALSE(registry.GetValue("Users\\Common\\Profiles\\zeta\\", "Directory", value));
    EXPECT_EQ(value, "unchanged");
}

TEST_F(NSRegistryTest, ValueStopsAtTheFirstNulOfALargerBuffer)
{
    NSRegistryWriter w;
    w.setString("Common\\Profiles\\p", "directory", "C:\\Short", 200);
    w.setString("Common\\Profiles\\p", "empty", "");
    OpenBytes(w.build());
    std::string value;
    ASSERT_TRUE(registry.GetValue("Common\\Profiles\\p\\", "directory", value));
    EXPECT_EQ(value, "C:\\Short");
    ASSERT_TRUE(registry.GetValue("Common\\Profiles\\p\\", "empty", value));
    EXPECT_EQ(value, "");
}

TEST_F(NSRegistryTest, ValueWithoutNulIsTheWholeBuffer)
{
    NSRegistryWriter w;
    w.setString("K", "e", "abcdef");
    std::string bytes = w.build();
    uint32_t entry = w.entryOffset("K", "e");
    PutLE32(bytes, entry + 16, 4); // a buffer of four bytes: no NUL in it
    OpenBytes(bytes);
    std::string value;
    ASSERT_TRUE(registry.GetValue("K\\", "e", value));
    EXPECT_EQ(value, "abcd");
}

TEST_F(NSRegistryTest, EntryWithoutValueOffsetGivesNoValue)
{
    NSRegistryWriter w;
    w.setString("K", "e", "text");
    std::string bytes = w.build();
    PutLE32(bytes, w.entryOffset("K", "e") + 20, 0);
    OpenBytes(bytes);
    std::string value = "unchanged";
    EXPECT_FALSE(registry.GetValue("K\\", "e", value));
    EXPECT_EQ(value, "unchanged");
}

TEST_F(NSRegistryTest, RecordsWithoutNameAreNeitherListedNorMatched)
{
    NSRegistryWriter w = MozillaProfileRegistry(MozillaRegistryLayout::Common, ThreeProfiles());
    std::string bytes = w.build();
    PutLE32(bytes, w.keyOffset("Common\\Profiles\\alpha") + 4, 0);
    OpenBytes(bytes);
    EXPECT_EQ(Subkeys("Common\\Profiles\\"), (std::vector<std::string>{"zeta", "mid"}));
    std::string value;
    EXPECT_FALSE(registry.GetValue("Common\\Profiles\\alpha\\", "directory", value));
    ASSERT_TRUE(registry.GetValue("Common\\Profiles\\mid\\", "directory", value));
    EXPECT_EQ(value, "C:\\Moz\\mid");
    registry.Close();

    NSRegistryWriter entries;
    entries.setString("K", "first", "1").setString("K", "second", "2");
    bytes = entries.build();
    PutLE32(bytes, entries.entryOffset("K", "first") + 4, 0);
    OpenBytes(bytes);
    EXPECT_FALSE(registry.GetValue("K\\", "first", value));
    ASSERT_TRUE(registry.GetValue("K\\", "second", value));
    EXPECT_EQ(value, "2");
}

TEST_F(NSRegistryTest, ChainsThatLoopBackEnd)
{
    NSRegistryWriter w = MozillaProfileRegistry(MozillaRegistryLayout::Common, ThreeProfiles());
    std::string bytes = w.build();
    const uint32_t zeta = w.keyOffset("Common\\Profiles\\zeta");
    const uint32_t mid = w.keyOffset("Common\\Profiles\\mid");
    struct Case {
        const char* what;
        uint32_t at;    // the descriptor patched
        uint32_t field; // 12: next sibling, 16: first subkey, 20: first entry
        uint32_t to;
    };
    const Case cases[] = {
        {"last sibling back to the first", mid, 12, zeta},
        {"sibling to itself", zeta, 12, zeta},
        {"key's first subkey is itself", zeta, 16, zeta},
        {"key's first subkey is its parent", zeta, 16, w.keyOffset("Common\\Profiles")},
        {"entry chain back to its first entry", w.entryOffset("Common\\Profiles\\alpha", "migrated"), 12,
         w.entryOffset("Common\\Profiles\\alpha", "directory")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = bytes;
        PutLE32(damaged, c.at + c.field, c.to);
        OpenBytes(damaged);
        std::vector<std::string> names;
        EXPECT_TRUE(registry.GetSubkeys("Common\\Profiles\\", names));
        EXPECT_LE(names.size(), 3u);
        names.clear();
        registry.GetSubkeys("Common\\Profiles\\zeta\\", names);
        EXPECT_LE(names.size(), 3u);
        std::string value;
        EXPECT_FALSE(registry.GetValue("Common\\Profiles\\alpha\\", "absent", value));
        EXPECT_FALSE(registry.GetValue("Common\\Profiles\\zeta\\Common\\Profiles\\", "absent", value));
        registry.Close();
    }
    // The first loop lists every sibling once.
    std::string looped = bytes;
    PutLE32(looped, mid + 12, zeta);
    OpenBytes(looped);
    EXPECT_EQ(Subkeys("Common\\Profiles\\"), (std::vector<std::string>{"zeta", "alpha", "mid"}));
}

TEST_F(NSRegistryTest, CutFilesGiveAPrefixOfTheWholeFilesAnswers)
{
    NSRegistryWriter w = MozillaProfileRegistry(MozillaRegistryLayout::Common, ThreeProfiles());
    const std::string bytes = w.build();
    const std::vector<std::string> all{"zeta", "alpha", "mid"};
    for (size_t size = 0; size < bytes.size(); ++size) {
        SCOPED_TRACE(size);
        test::WriteFile(dir.file("cut.dat"), bytes.substr(0, size));
        CNSRegistry cut;
        if (!cut.Open(dir.file("cut.dat"))) {
            EXPECT_LT(size, size_t(CNSRegistry::kRootOffset + CNSRegistry::kDescriptorSize));
            continue;
        }
        std::vector<std::string> names;
        cut.GetSubkeys("Common\\Profiles\\", names);
        ASSERT_LE(names.size(), all.size());
        EXPECT_TRUE(std::equal(names.begin(), names.end(), all.begin()));
        for (const auto& p : ThreeProfiles()) {
            std::string value;
            if (cut.GetValue("Common\\Profiles\\" + p.name + "\\", "directory", value)) {
                EXPECT_EQ(value, *p.directory); // never a directory cut short
            }
        }
    }
}

TEST_F(NSRegistryTest, ValueBufferCutByTheFileEndCountsOnlyWithItsNul)
{
    NSRegistryWriter w;
    w.setString("K", "e", "inside");
    const std::string bytes = w.build();
    const uint32_t entry = w.entryOffset("K", "e");
    struct Case {
        const char* tail; // appended to the file; the entry's value points at it
        size_t tailLength;
        uint32_t buffer;
        bool found;
        const char* value;
    };
    const Case cases[] = {
        {"tail\0", 5, 4096, true, "tail"},   // NUL in the file: the text is whole
        {"tail", 4, 4096, false, ""},        // the file ends inside the text
        {"tail", 4, 4, true, "tail"},        // the whole buffer is there, without NUL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        std::string damaged = bytes;
        PutLE32(damaged, entry + 20, uint32_t(damaged.size()));
        PutLE32(damaged, entry + 16, c.buffer);
        damaged.append(c.tail, c.tailLength);
        OpenBytes(damaged);
        std::string value = "unchanged";
        EXPECT_EQ(registry.GetValue("K\\", "e", value), c.found);
        EXPECT_EQ(value, c.found ? c.value : "unchanged");
        registry.Close();
    }
}

TEST_F(NSRegistryTest, OffsetsBeyondTheFileEndTheirChain)
{
    NSRegistryWriter w = MozillaProfileRegistry(MozillaRegistryLayout::Common, ThreeProfiles());
    std::string bytes = w.build();
    const uint32_t alpha = w.keyOffset("Common\\Profiles\\alpha");
    struct Case {
        const char* what;
        uint32_t field;
        uint32_t value;
        std::vector<std::string> listed;
    };
    const std::vector<Case> cases = {
        {"next sibling past the end", 12, uint32_t(bytes.size()), {"zeta", "alpha"}},
        {"next sibling far past the end", 12, 0xFFFFFFF0u, {"zeta", "alpha"}},
        {"name past the end", 4, 0xFFFFFFFFu, {"zeta"}},
        {"name running past the end", 4, uint32_t(bytes.size() - 2), {"zeta"}},
        {"huge name length", 8, 0xFFFF, {"zeta"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = bytes;
        if (c.field == 8) {
            damaged[alpha + 8] = char(0xFF);
            damaged[alpha + 9] = char(0xFF);
        } else {
            PutLE32(damaged, alpha + c.field, c.value);
        }
        OpenBytes(damaged);
        EXPECT_EQ(Subkeys("Common\\Profiles\\"), c.listed);
        registry.Close();
    }
    // A value whose offset or buffer lies past the end.
    std::string value;
    std::string damaged = bytes;
    PutLE32(damaged, w.entryOffset("Common\\Profiles\\zeta", "directory") + 20, 0xFFFFFF00u);
    OpenBytes(damaged);
    EXPECT_FALSE(registry.GetValue("Common\\Profiles\\zeta\\", "directory", value));
    registry.Close();
    damaged = bytes;
    PutLE32(damaged, w.entryOffset("Common\\Profiles\\zeta", "directory") + 16, 0xFFFFFFFFu);
    OpenBytes(damaged);
    ASSERT_TRUE(registry.GetValue("Common\\Profiles\\zeta\\", "directory", value));
    EXPECT_EQ(value, "C:\\Moz\\zeta");
}

TEST_F(NSRegistryTest, OpenFailsForMissingShortOrFolderFiles)
{
    CNSRegistry r;
    EXPECT_FALSE(r.Open(dir.file("missing.dat")));
    EXPECT_FALSE(r.IsOpen());
    for (size_t size : {size_t(0), size_t(130), size_t(140), size_t(161)}) {
        SCOPED_TRACE(size);
        test::WriteFile(dir.file("short.dat"), std::string(size, 'x'));
        EXPECT_FALSE(r.Open(dir.file("short.dat")));
        std::vector<std::string> names;
        EXPECT_FALSE(r.GetSubkeys("Users\\", names));
    }
    test::WriteFile(dir.file("just.dat"), std::string(162, '\0'));
    EXPECT_TRUE(r.Open(dir.file("just.dat")));
    std::vector<std::string> names;
    EXPECT_FALSE(r.GetSubkeys("Users\\", names)); // an empty root
    r.Close();
    EXPECT_FALSE(r.IsOpen());
    EXPECT_FALSE(r.GetSubkeys("Users\\", names));
}

TEST_F(NSRegistryTest, OpenAndCloseWriteTheirLogLines)
{
    std::optional<test::TraceCapture> trace(std::in_place, dir.file("trace.log"));
    {
        CNSRegistry r(&test::Context().Log());
        r.Open(dir.file("missing.dat"));
        r.Close();
    }
    trace.reset();
    EXPECT_EQ(test::ReadWholeFile(dir.file("trace.log")),
              "Entry - CNSRegistry::Open()\r\n"
              "         CFile.Open() fails for " +
                  dir.file("missing.dat") +
                  "\r\n"
                  "Exit - CNSRegistry::Open()\r\n"
                  "Entry - CNSRegistry::Close()\r\n"
                  "Exit - CNSRegistry::Close()\r\n");
}

} // namespace
} // namespace oriel
