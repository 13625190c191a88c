// .reg export files applied to an in-memory registry: both formats and
// encodings, escapes, continuations, deletions, and damaged files.
#include "platform/RegFile.h"

#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/RegFileWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using oriel::platform::MemoryRegistry;
using oriel::platform::RegFile;
using oriel::platform::RootKey;
using oriel::test::RegFileWriter;
using Format = RegFileWriter::Format;

namespace {

// What the opener returns as a warning, shown the way the application shows
// it: through the context's message sink (which the test captures).
void Show(const std::string& problem)
{
    if (!problem.empty())
        oriel::test::Context().Messages().ShowMessage(problem, oriel::MessageIcon::Exclamation);
}

struct ShownRegFile {
    static bool Apply(const std::string& path, oriel::platform::MemoryRegistry& registry)
    {
        std::string problem;
        bool ok = oriel::platform::RegFile::Apply(path, registry, &problem);
        Show(problem);
        return ok;
    }
    static bool ApplyBytes(std::string_view bytes, const std::string& fileName, oriel::platform::MemoryRegistry& registry)
    {
        std::string problem;
        bool ok = oriel::platform::RegFile::ApplyBytes(bytes, fileName, registry, &problem);
        Show(problem);
        return ok;
    }
};

class RegFileTest : public ::testing::Test {
protected:
    std::string Query(const MemoryRegistry& reg, RootKey root, const std::string& key, const std::string& name)
    {
        std::string out = "<none>";
        reg.QueryString(root, key, name, out);
        return out;
    }

    oriel::test::MessageCapture sink_;
    oriel::test::TempDir dir_;
};

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Oriel Test";

TEST_F(RegFileTest, StringValuesReadTheSameFromBothFormats)
{
    struct Row {
        std::string name, text;
    } rows[] = {
        {"Plain", "C:\\Windows\\Temporary Internet Files"},
        {"Quotes \"inside\"", "say \"hi\" \\\\server\\share\\"},
        {"", "the default value"},
        {"Ends in backslash", "C:\\"},
        {"Latin", "Grüße aus Köln – 5 €"},
        {"Equals=in=name", "a=b"},
        {"Empty", ""},
    };
    for (Format format : {Format::Version5, Format::Regedit4}) {
        RegFileWriter w(format);
        for (const Row& row : rows)
            w.setString(kKey, row.name, row.text);
        MemoryRegistry reg;
        ASSERT_TRUE(ShownRegFile::ApplyBytes(w.bytes(), "x.reg", reg));
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name + (format == Format::Version5 ? " (version 5)" : " (REGEDIT4)"));
            std::string out;
            EXPECT_EQ(reg.QueryString(RootKey::CurrentUser, "Software\\Oriel Test", row.name, out),
                      int(row.text.size() + 1));
            EXPECT_EQ(out, row.text);
        }
    }
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(RegFileTest, TextOutsideWindows1252SurvivesOnlyInVersion5Files)
{
    const std::string text = "日本語 ÆØÅ";
    MemoryRegistry v5, v4;
    ASSERT_TRUE(ShownRegFile::ApplyBytes(RegFileWriter(Format::Version5).setString(kKey, "名前", text).bytes(), "a", v5));
    ASSERT_TRUE(ShownRegFile::ApplyBytes(RegFileWriter(Format::Regedit4).setString(kKey, "N", text).bytes(), "b", v4));
    EXPECT_EQ(Query(v5, RootKey::CurrentUser, "Software\\Oriel Test", "名前"), text);
    EXPECT_EQ(Query(v4, RootKey::CurrentUser, "Software\\Oriel Test", "N"), "??? ÆØÅ");
}

TEST_F(RegFileTest, HexStringValuesKeepTheirTypesAndOnlyPlainStringsAreQueried)
{
    const std::string longText = "%USERPROFILE%\\Local Settings\\Temporary Internet Files\\Content.IE5\\"
                                 "and a good deal more text so that the hex list runs over several lines";
    for (Format format : {Format::Version5, Format::Regedit4}) {
        SCOPED_TRACE(format == Format::Version5 ? "version 5" : "REGEDIT4");
        RegFileWriter w(format);
        w.setExpandString(kKey, "Expand", longText)
            .setMultiString(kKey, "Multi", {"one", "two", "three"})
            .setDword(kKey, "Number", 0x12345678)
            .setHex(kKey, "Binary", 3, std::string("\x01\x02\xff", 3))
            .setHex(kKey, "SzAsHex", 1, w.StringData("plain after all"));
        ASSERT_NE(w.text().find("\\\r\n  "), std::string::npos) << "the expand string should be continued";
        MemoryRegistry reg;
        ASSERT_TRUE(ShownRegFile::ApplyBytes(w.bytes(), "x.reg", reg));
        const MemoryRegistry::Key* key = reg.FindKey(RootKey::CurrentUser, "Software\\Oriel Test");
        ASSERT_NE(key, nullptr);
        auto value = [&](const char* name) { return key->values.at(MemoryRegistry::Fold(name)); };
        EXPECT_EQ(value("Expand").type, MemoryRegistry::ValueType::ExpandString);
        EXPECT_EQ(value("Expand").text, longText);
        EXPECT_EQ(value("Multi").type, MemoryRegistry::ValueType::MultiString);
        EXPECT_EQ(value("Multi").text, std::string("one\0two\0three", 13));
        EXPECT_EQ(value("Number").type, MemoryRegistry::ValueType::Other);
        EXPECT_EQ(value("Number").text, std::string("\x78\x56\x34\x12", 4));
        EXPECT_EQ(value("Binary").text, std::string("\x01\x02\xff", 3));

        std::string out = "unchanged";
        for (const char* name : {"Expand", "Multi", "Number", "Binary"})
            EXPECT_EQ(reg.QueryString(RootKey::CurrentUser, "Software\\Oriel Test", name, out), -1) << name;
        EXPECT_EQ(out, "unchanged");
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test", "SzAsHex"), "plain after all");
    }
}

TEST_F(RegFileTest, RootNamesAndTheirShortFormsAreRecognisedAndOtherRootsIgnored)
{
    RegFileWriter w;
    w.setString("HKEY_LOCAL_MACHINE\\Software\\A", "v", "lm")
        .setString("HKLM\\Software\\B", "v", "lm short")
        .setString("hkey_current_user\\Software\\A", "v", "cu")
        .setString("HKCU\\Software\\B", "v", "cu short")
        .setString("HKEY_CLASSES_ROOT\\.gif", "Content Type", "image/gif")
        .setString("HKCR\\.png", "Content Type", "image/png")
        .setString("HKEY_USERS\\S-1-5-21-1\\Software\\A", "v", "users")
        .setString("HKEY_CURRENT_CONFIG\\Software\\A", "v", "config");
    MemoryRegistry reg;
    ASSERT_TRUE(ShownRegFile::ApplyBytes(w.bytes(), "x.reg", reg));
    EXPECT_EQ(Query(reg, RootKey::LocalMachine, "Software\\A", "v"), "lm");
    EXPECT_EQ(Query(reg, RootKey::LocalMachine, "Software\\B", "v"), "lm short");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\A", "v"), "cu");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\B", "v"), "cu short");
    EXPECT_EQ(Query(reg, RootKey::ClassesRoot, ".gif", "Content Type"), "image/gif");
    EXPECT_EQ(Query(reg, RootKey::ClassesRoot, ".png", "Content Type"), "image/png");
    std::vector<std::string> names;
    ASSERT_TRUE(reg.EnumSubkeys(RootKey::CurrentUser, "Software", names));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(reg.EnumSubkeys(RootKey::LocalMachine, "S-1-5-21-1", names));
}

TEST_F(RegFileTest, KeysAndValuesCompareWithoutRegardToCaseAndKeepTheirFileOrder)
{
    RegFileWriter w;
    w.addKey(kKey + "\\Zulu")
        .addKey(kKey + "\\alpha")
        .setString(kKey + "\\Mike", "Value", "first")
        .setString(kKey + "\\MIKE", "VALUE", "second")
        .addKey(kKey + "\\Ärger");
    MemoryRegistry reg;
    ASSERT_TRUE(ShownRegFile::ApplyBytes(w.bytes(), "x.reg", reg));
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "SOFTWARE\\oriel test\\mike", "value"), "second");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "software\\ORIEL TEST\\mike", "value"), "second");
    std::vector<std::string> names;
    ASSERT_TRUE(reg.EnumSubkeys(RootKey::CurrentUser, "Software\\Oriel Test", names));
    EXPECT_EQ(names, (std::vector<std::string>{"Zulu", "alpha", "Mike", "Ärger"}));
    EXPECT_TRUE(reg.FindKey(RootKey::CurrentUser, "Software\\Oriel Test\\ärger"));
}

TEST_F(RegFileTest, DeletionsRemoveKeysWithTheirSubtreesAndSingleValues)
{
    RegFileWriter w;
    w.setString(kKey + "\\Gone\\Deep", "v", "x")
        .setString(kKey + "\\Kept", "a", "1")
        .setString(kKey + "\\Kept", "b", "2")
        .deleteKey(kKey + "\\GONE")
        .deleteValue(kKey + "\\Kept", "A")
        // Values after a deleted key's line belong to no key.
        .deleteKey(kKey + "\\Other")
        .rawLine("\"orphan\"=\"value\"");
    MemoryRegistry reg;
    ASSERT_TRUE(ShownRegFile::ApplyBytes(w.bytes(), "x.reg", reg));
    EXPECT_EQ(reg.FindKey(RootKey::CurrentUser, "Software\\Oriel Test\\Gone"), nullptr);
    EXPECT_EQ(reg.FindKey(RootKey::CurrentUser, "Software\\Oriel Test\\Other"), nullptr);
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test\\Kept", "a"), "<none>");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test\\Kept", "b"), "2");
    EXPECT_TRUE(reg.KeyDeleted(RootKey::CurrentUser, "Software\\Oriel Test\\gone\\deep\\deeper"));
    EXPECT_TRUE(reg.ValueDeleted(RootKey::CurrentUser, "Software\\Oriel Test\\Kept", "a"));
    EXPECT_FALSE(reg.ValueDeleted(RootKey::CurrentUser, "Software\\Oriel Test\\Kept", "b"));
}

TEST_F(RegFileTest, ALaterFileWinsOverAnEarlierOne)
{
    const std::string first = dir_.file("first.reg"), second = dir_.file("second.reg"), third = dir_.file("third.reg");
    RegFileWriter(Format::Regedit4)
        .setString(kKey, "Changed", "old")
        .setString(kKey, "Deleted", "old")
        .setString(kKey + "\\Sub", "Removed with its key", "old")
        .setString(kKey, "Untouched", "old")
        .writeTo(first);
    RegFileWriter().setString(kKey, "Changed", "new").deleteValue(kKey, "Deleted").writeTo(second);
    RegFileWriter().deleteKey(kKey + "\\Sub").setString(kKey, "Added", "new").writeTo(third);
    MemoryRegistry reg;
    for (const auto& file : {first, second, third})
        ASSERT_TRUE(ShownRegFile::Apply(file, reg));
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test", "Changed"), "new");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test", "Deleted"), "<none>");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test\\Sub", "Removed with its key"), "<none>");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test", "Untouched"), "old");
    EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\Oriel Test", "Added"), "new");
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(RegFileTest, HandWrittenVariantsOfTheSyntaxAreRead)
{
    struct Row {
        const char* what;
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"LF line ends", "REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n\"v\"=\"lf\"\n", "lf"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBFREGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"\xC3\xA9t\xC3\xA9\"\r\n",
         "été"},
        {"Windows-1252 bytes", "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"\x80 \xE9\"\r\n", "€ é"},
        {"comments, blanks and indentation",
         "REGEDIT4\r\n; a comment\r\n  [HKEY_CURRENT_USER\\X]  \r\n\t\"v\" = \"spaced\"  \r\n", "spaced"},
        {"continued hex(1) list with upper-case digits",
         "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=hex(1):48,00,\\\r\n  49,00,\\\r\n"
         "  00,00\r\n",
         "HI"},
        {"a key name holding ']'", "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]]\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"k\"\r\n",
         "k"},
        {"an unknown escape kept as it stands", "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"C:\\Temp\"\r\n",
         "C:\\Temp"},
        {"a header in other case", "regedit4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"case\"\r\n", "case"},
        {"no line end at the end", "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"last\"", "last"},
        {"a line break inside a string, as regedit writes it",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"first\r\n\\\"second\\\"\r\nthird\"\r\n\"w\"=\"x\"\r\n",
         "first\r\n\"second\"\r\nthird"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MemoryRegistry reg;
        std::string error;
        EXPECT_TRUE(RegFile::Check(row.bytes, &error)) << error;
        ASSERT_TRUE(ShownRegFile::ApplyBytes(row.bytes, "x.reg", reg));
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, "X", "v"), row.expected);
    }
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(RegFileTest, ADamagedFileChangesNothingAndGivesOneWarningNamingIt)
{
    const std::string good = "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"kept\"=\"from before\"\r\n";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
    struct Row {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"empty file", ""},
        {"no header", "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=\"no\"\r\n"},
        {"another header", "Windows Registry Editor Version 4.00\r\n[HKEY_CURRENT_USER\\X]\r\n"},
        {"binary bytes", std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00", 10)},
        {"an unterminated string", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=\"no\r\n"},
        {"an unterminated name", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept=\"no\"\r\n"},
        {"text after a string", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=\"no\" junk\r\n"},
        {"a key line without ']'", v5 + "[HKEY_CURRENT_USER\\X\r\n\"kept\"=\"no\"\r\n"},
        {"a line of garbage", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=\"no\"\r\ngarbage\r\n"},
        {"an unknown value type", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=qword:1\r\n"},
        {"a long dword", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=dword:123456789\r\n"},
        {"a bad hex byte", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=hex:01,2g\r\n"},
        {"a bad hex type", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=hex(z):01\r\n"},
        {"a hex list cut after its continuation", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"=hex(2):41,00,\\\r\n"},
        {"a value without '='", v5 + "[HKEY_CURRENT_USER\\X]\r\n\"kept\"\r\n"},
        {"UTF-16 cut in a character", std::string("\xFF\xFE", 2) + std::string("R\0E\0G\0", 7)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sink_->messages.clear();
        MemoryRegistry reg;
        ASSERT_TRUE(ShownRegFile::ApplyBytes(good, "good.reg", reg));
        const std::string path = dir_.file("damaged.reg");
        oriel::test::WriteFile(path, row.bytes);
        EXPECT_FALSE(ShownRegFile::Apply(path, reg));
        ASSERT_EQ(sink_->messages.size(), 1u);
        EXPECT_NE(sink_->messages[0].find("\"" + path + "\""), std::string::npos) << sink_->messages[0];
        EXPECT_EQ(sink_->icons.back(), oriel::MessageIcon::Exclamation);
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, "X", "kept"), "from before");
        std::vector<std::string> names;
        reg.EnumSubkeys(RootKey::CurrentUser, "", names);
        EXPECT_EQ(names, std::vector<std::string>{"X"});
    }
}

TEST_F(RegFileTest, KeysNestedDeeperThanWindowsAllowsAreNotRead)
{
    auto nested = [](size_t depth) {
        std::string path = "Software";
        for (size_t i = 1; i < depth; ++i)
            path += "\\k";
        return path;
    };
    const std::string deepest = nested(RegFile::kMaxKeyDepth);
    const std::string tooDeep = nested(RegFile::kMaxKeyDepth + 1);
    const std::string hostile = nested(200000);
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const std::string* path : {&deepest, &tooDeep, &hostile})
        text += "[HKEY_CURRENT_USER\\" + *path + "]\r\n\"v\"=\"" + std::to_string(path->size()) + "\"\r\n\r\n";
    text += "[HKEY_CURRENT_USER\\Software\\After]\r\n\"v\"=\"after\"\r\n";
    {
        MemoryRegistry reg;
        ASSERT_TRUE(ShownRegFile::ApplyBytes(text, "deep.reg", reg));
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, deepest, "v"), std::to_string(deepest.size()));
        EXPECT_EQ(reg.FindKey(RootKey::CurrentUser, tooDeep), nullptr);
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, tooDeep, "v"), "<none>");
        EXPECT_EQ(Query(reg, RootKey::CurrentUser, "Software\\After", "v"), "after");
    }
    EXPECT_TRUE(sink_->messages.empty());
}

TEST_F(RegFileTest, TheWarningNamesTheFirstBadLine)
{
    std::string error;
    EXPECT_FALSE(RegFile::Check("REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\r\n\"a\"=\"b\r\n", &error));
    EXPECT_EQ(error.rfind("line 4:", 0), 0u) << error;
    RegFileWriter w;
    w.setExpandString("HKEY_CURRENT_USER\\X", "long", std::string(200, 'x')).rawLine("oops");
    EXPECT_FALSE(RegFile::Check(w.bytes(), &error));
    size_t lines = 0;
    for (char c : w.text())
        lines += c == '\n';
    EXPECT_EQ(error.rfind("line " + std::to_string(lines + 1) + ":", 0), 0u) << error;
}

TEST_F(RegFileTest, MissingAndUnreadableFilesGiveOneWarningEach)
{
    MemoryRegistry reg;
    EXPECT_FALSE(ShownRegFile::Apply(dir_.file("missing.reg"), reg));
    EXPECT_FALSE(ShownRegFile::Apply(dir_.path(), reg));
    const std::string fifo = dir_.file("fifo.reg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ShownRegFile::Apply(fifo, reg)); // refused without waiting for a writer
    ASSERT_EQ(sink_->messages.size(), 3u);
    EXPECT_NE(sink_->messages[0].find("missing.reg"), std::string::npos);
    EXPECT_NE(sink_->messages[1].find(dir_.path()), std::string::npos);
}

TEST_F(RegFileTest, AFileCutAnywhereIsReadWholeOrRefusedWithOneWarning)
{
    for (Format format : {Format::Version5, Format::Regedit4}) {
        RegFileWriter w(format);
        w.setString(kKey, "Directory", "C:\\Docs \"and\" Settings")
            .setMultiString(kKey, "List", {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"})
            .deleteKey(kKey + "\\Old")
            .setDword(kKey + "\\New", "n", 7);
        const std::string bytes = w.bytes();
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            sink_->messages.clear();
            MemoryRegistry reg;
            bool applied = ShownRegFile::ApplyBytes(bytes.substr(0, cut), "cut.reg", reg);
            std::vector<std::string> names;
            reg.EnumSubkeys(RootKey::CurrentUser, "", names);
            if (applied) {
                EXPECT_TRUE(sink_->messages.empty()) << cut;
            } else {
                EXPECT_EQ(sink_->messages.size(), 1u) << cut;
                EXPECT_TRUE(names.empty()) << cut;
            }
        }
    }
}

} // namespace
