// oriel-cli as scripts use it: exit statuses, messages and outputs.
#include "support/CliCommand.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sstream>

namespace oriel {
namespace {

using test::Cli;
using test::TempDir;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::IndexDatWriter w;
        w.addDirectory("ABCD1234");
        test::IndexDatUrl a;
        a.url = "http://www.example.com/a/b.gif";
        a.fileName = "b[1].gif";
        a.headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n";
        a.body = "GIF89a";
        a.size = 1234;
        a.lastAccess = test::FileTimeFromUnix(1167609600);
        w.addUrl(a);
        test::IndexDatUrl b;
        b.url = "http://other.org/\"quoted\"\tpage";
        b.fileName = "page[1].htm";
        w.addUrl(b); // no body: listed as missing
        w.writeCache(dir.path(), true);
        // The second body is removed to make it missing.
        std::remove(dir.file("ABCD1234/page[1].htm").c_str());
    }
    TempDir dir;
};

TEST_F(CliTest, ListPrintsOneTabSeparatedLinePerItem)
{
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + dir.path()), &out, &err), 0) << err;
    EXPECT_EQ(out, "http://www.example.com/a/b.gif\tABCD1234\\b[1].gif\t1234\timage/gif\t\t1/01/2007 12:00:00 AM\t\tyes\n"
                   "http://other.org/\"quoted\" page\tABCD1234\\page[1].htm\t0\t\t\t\t\tno\n");
}

TEST_F(CliTest, JsonListKeepsRawValuesAndEscapes)
{
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list --json " + dir.path()), &out, &err), 0) << err;
    std::istringstream lines(out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_NE(first.find("\"url\":\"http://www.example.com/a/b.gif\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"downloaded\":{\"iso\":\"2007-01-01T00:00:00Z\",\"seconds\":1167609600}"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("\"lastModified\":null"), std::string::npos) << first;
    EXPECT_NE(first.find("\"exists\":true"), std::string::npos);
    EXPECT_NE(second.find("\"url\":\"http://other.org/\\\"quoted\\\"\\u0009page\""), std::string::npos) << second;
    EXPECT_NE(second.find("\"exists\":false"), std::string::npos);
}

TEST_F(CliTest, ExportWritesTheCsvToStdoutOrAFile)
{
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("export " + dir.path()), &out, &err), 0) << err;
    EXPECT_EQ(out.rfind("Oriel Export File\nInformation for : " + dir.path() + "\nCache Path" + dir.path() + "\n\n", 0),
              0u)
        << out;
    EXPECT_NE(out.find("\"http://www.example.com/a/b.gif\",\"ABCD1234\\b[1].gif\",\"1,234\",\"image/gif\",\"\","
                       "\"1/01/2007 12:00:00 AM\",\"\",\n"),
              std::string::npos)
        << out;

    TempDir outDir;
    std::string file = outDir.file("x.csv");
    ASSERT_EQ(test::RunCommand(Cli("export --output " + file + " " + dir.path()), &out, &err), 0) << err;
    EXPECT_EQ(out, "");
    std::string stdoutCsv;
    test::RunCommand(Cli("export " + dir.path()), &stdoutCsv);
    EXPECT_EQ(test::ReadWholeFile(file), stdoutCsv);
}

TEST_F(CliTest, ExportNeverWritesIntoTheCacheFolderAndNamesAFileItCannotCreate)
{
    auto before = test::SnapshotFolder(dir.path());
    TempDir elsewhere;
    struct Case {
        std::string output, message;
    };
    const Case cases[] = {
        {dir.file("x.csv"), "oriel-cli: will not write into the cache folder: " + dir.file("x.csv") + "\n"},
        {dir.file("index.dat"), "oriel-cli: will not write into the cache folder: " + dir.file("index.dat") + "\n"},
        {elsewhere.file("no/such/x.csv"),
         "oriel-cli: cannot create " + elsewhere.file("no/such/x.csv") + ": No such file or directory\n"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(test::RunCommand(Cli("export --output " + c.output + " " + dir.path()), &out, &err), 1);
        EXPECT_EQ(out, "");
        EXPECT_EQ(err, c.message);
    }
    EXPECT_EQ(test::SnapshotFolder(dir.path()), before);
}

TEST_F(CliTest, AFolderWithoutACacheFailsWithTheSystemsMessage)
{
    TempDir empty;
    std::string out, err;
    EXPECT_EQ(test::RunCommand(Cli("list " + empty.path()), &out, &err), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("Cache database file not found in folder: " + empty.path()), std::string::npos) << err;
}

TEST_F(CliTest, AnInvalidIndexFailsWithTheHeaderMessage)
{
    TempDir bad;
    test::WriteFile(bad.file("index.dat"), std::string(300, 'x'));
    std::string out, err;
    EXPECT_EQ(test::RunCommand(Cli("export " + bad.path()), &out, &err), 1);
    EXPECT_NE(err.find("Invalid cache database header information! Cannot decode."), std::string::npos) << err;
}

TEST_F(CliTest, BadArgumentsExitWithUsage)
{
    const char* cases[] = {"", "frobnicate x", "list", "list a b", "list --bogus x", "export --output", "list --json=1 x"};
    for (const char* args : cases) {
        std::string out, err;
        EXPECT_EQ(test::RunCommand(Cli(args), &out, &err), 2) << args;
        EXPECT_NE(err.find("usage: oriel-cli"), std::string::npos) << args << ": " << err;
    }
    std::string out;
    EXPECT_EQ(test::RunCommand(Cli("--help"), &out), 0);
    EXPECT_NE(out.find("export"), std::string::npos);
}

TEST_F(CliTest, NoProgressLineWhenStderrIsNotATerminal)
{
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + dir.path()), &out, &err), 0);
    EXPECT_EQ(err, "");
}

} // namespace
} // namespace oriel
