// oriel-cli as scripts use it: exit statuses, messages and outputs.
#include "support/CliCommand.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

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
    // The plain listing and the export decode without headers; the JSON
    // lines show them.
    EXPECT_NE(first.find("\"headers\":\"HTTP/1.1 200 OK\\u000d\\u000aContent-Type: image/gif"), std::string::npos)
        << first;
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

TEST(CliOutput, TabSeparatedFieldsEscapeControlCharactersAndSizesAreUnsigned32Bits)
{
    TempDir dir;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    // ESC, BEL, DEL and the C1 control CSI (U+009B) would drive the terminal;
    // a tab would split the line; valid UTF-8 ("\xc3\xa9") and a byte that
    // is no UTF-8 ("\xff").
    a.url = "http://h/\x1b[31mred\x07\x7f\xc2\x9b\tcaf\xc3\xa9\xff";
    a.fileName = "a\x1b[1].htm";
    a.size = 0xFFFFFFFFu;
    a.body = "x";
    w.addUrl(a);
    w.writeCache(dir.path(), true);
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + test::Quote(dir.path())), &out, &err), 0) << err;
    EXPECT_EQ(out, "http://h/\\x1b[31mred\\x07\\x7f\\xc2\\x9b caf\xc3\xa9\\xff\tABCD1234\\a\\x1b[1].htm\t4294967295\t\t\t\t\tyes\n");
    ASSERT_EQ(test::RunCommand(Cli("list --json " + test::Quote(dir.path())), &out, &err), 0) << err;
    EXPECT_NE(out.find("\"size\":4294967295,"), std::string::npos) << out;
}

// Plain runs are found a word at a time: a byte to escape, or the DEL and
// the C1 range just past printable ASCII, is found at every place in and
// across the eight-byte words, and the printable bytes on either side pass
// as they are.
TEST(CliOutput, EveryPlaceOfAByteToEscapeIsFoundInAPlainRun)
{
    TempDir dir;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    const std::string plain = "abcdefghijklmnopqrstuvw~ "; // 25 printable bytes, '~' (0x7E) the last one
    struct Odd {
        char byte;
        const char* shown;
    };
    const Odd odds[] = {{'\x1f', "\\x1f"}, {'\x7f', "\\x7f"}, {'\x80', "\\x80"}};
    std::string expected;
    for (const Odd& odd : odds) {
        for (size_t at = 0; at <= plain.size(); ++at) {
            test::IndexDatUrl u;
            u.url = "http://h/" + plain.substr(0, at) + odd.byte + plain.substr(at);
            u.fileName = "f.htm";
            u.size = 1;
            w.addUrl(u);
            expected += "http://h/" + plain.substr(0, at) + odd.shown + plain.substr(at) + "\tABCD1234\\f.htm\t1\t\t\t\t\tno\n";
        }
    }
    w.writeCache(dir.path(), false);
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + test::Quote(dir.path())), &out, &err), 0) << err;
    EXPECT_EQ(out, expected);
}

// A line longer than the output buffer once escaped (each control byte
// takes four), between two short ones: every line comes out whole and in
// order.
TEST(CliOutput, ALineLongerThanTheOutputBufferComesOutWhole)
{
    TempDir dir;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    const std::string controls(80000, '\x01');
    for (const std::string& tail : {std::string("first"), "long" + controls, std::string("last")}) {
        test::IndexDatUrl u;
        u.url = "http://h/" + tail;
        u.fileName = "f.htm";
        u.size = 1;
        w.addUrl(u);
    }
    w.writeCache(dir.path(), false);
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + test::Quote(dir.path())), &out, &err), 0) << err;
    std::string escaped;
    for (size_t i = 0; i < controls.size(); ++i)
        escaped += "\\x01";
    auto line = [](const std::string& url) { return url + "\tABCD1234\\f.htm\t1\t\t\t\t\tno\n"; };
    EXPECT_EQ(out, line("http://h/first") + line("http://h/long" + escaped) + line("http://h/last"));
}

// Many items over a few folders, every third body gone: the lines, made in
// runs on two threads, come in item order, each saying whether its body is
// there. The JSON lines (made on one thread) agree.
TEST(CliOutput, ManyLinesComeInOrderAndKnowWhichBodiesAreThere)
{
    TempDir dir;
    test::IndexDatWriter w;
    for (const char* folder : {"ABCD1234", "EFGH5678", "IJKL9012", "MNOP3456"})
        w.addDirectory(folder);
    constexpr int kItems = 1500;
    for (int i = 0; i < kItems; ++i) {
        test::IndexDatUrl u;
        u.url = "http://host" + std::to_string(i % 3) + "/" + std::to_string(i);
        u.fileName = "f" + std::to_string(i) + ".htm";
        u.directory = uint8_t(i % 4);
        u.body = "x";
        w.addUrl(u);
    }
    w.writeCache(dir.path(), true);
    const char* folders[] = {"ABCD1234", "EFGH5678", "IJKL9012", "MNOP3456"};
    for (int i = 0; i < kItems; i += 3)
        std::remove(dir.file(std::string(folders[i % 4]) + "/f" + std::to_string(i) + ".htm").c_str());
    // Folders unchanged for a minute are answered from their listings.
    for (const char* folder : folders) {
        timespec times[2] {};
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= 60;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.file(folder).c_str(), times, 0), 0);
    }
    std::string out, err;
    ASSERT_EQ(test::RunCommand(Cli("list " + test::Quote(dir.path())), &out, &err), 0) << err;
    std::string expected;
    for (int host = 0; host < 3; ++host) {
        for (int i = host; i < kItems; i += 3)
            expected += "http://host" + std::to_string(host) + "/" + std::to_string(i) + "	" + folders[i % 4] + "\\f" +
                        std::to_string(i) + ".htm	1					" + (i % 3 == 0 ? "no" : "yes") + "\n";
    }
    EXPECT_EQ(out, expected);
    std::string json;
    ASSERT_EQ(test::RunCommand(Cli("list --json " + test::Quote(dir.path())), &json, &err), 0) << err;
    size_t present = 0, absent = 0;
    for (size_t at = json.find("\"exists\":"); at != std::string::npos; at = json.find("\"exists\":", at + 1))
        ++(json.compare(at + 9, 4, "true") == 0 ? present : absent);
    EXPECT_EQ(absent, size_t(kItems / 3));
    EXPECT_EQ(present, size_t(kItems - kItems / 3));
}

TEST(CliOutput, AnUnreadableIndexSaysPermissionDeniedNamingTheFile)
{
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl({.url = "http://h/p", .fileName = "p[1]"});
    const std::string index = w.writeCache(dir.path(), false);
    ASSERT_EQ(::chmod(index.c_str(), 0), 0);
    test::WriteFile(dir.file("o.ini"), "[Options]\nMessageDumpFile=\"\"\n");
    ASSERT_EQ(::chmod(dir.file("o.ini").c_str(), 0644), 0);
    // Root reads any file: the command runs as "nobody" then.
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string out, err;
    EXPECT_EQ(test::RunCommand(user + "env HOME=" + test::Quote(dir.path()) + " ORIEL_CONFIG=" +
                                   test::Quote(dir.file("o.ini")) + " " + Cli("list " + test::Quote(dir.path())),
                               &out, &err),
              1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "oriel-cli: warning: Cache database file cannot be read: " + index + ": Permission denied\n");
}

TEST(CliOutput, AnOptionsFileTooLargeOrNotAPlainFileIsNamedAndTheRunGoesOn)
{
    TempDir dir;
    TempDir empty;
    const std::string big = dir.file("big.ini");
    test::WriteFile(big, "[Options]\nMessageDumpFile=\"\"\n");
    ASSERT_EQ(::truncate(big.c_str(), (off_t(16) << 20) + 1), 0);
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string file;
        std::string message;
    } cases[] = {
        {big, "The options file is larger than 16 MB, so it is not read and the defaults are used: " + big},
        {fifo, "The options file is not a plain file, so it is not read and the defaults are used: " + fifo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string out, err;
        // `timeout`: a run blocked on the FIFO fails instead of hanging.
        EXPECT_EQ(test::RunCommand("HOME=" + test::Quote(dir.path()) + " ORIEL_CONFIG=" + test::Quote(c.file) +
                                       " timeout 10 " + Cli("list " + test::Quote(empty.path())),
                                   &out, &err),
                  1);
        EXPECT_EQ(err.rfind("oriel-cli: warning: " + c.message + "\n", 0), 0u) << err;
        EXPECT_NE(err.find("Cache database file not found in folder: " + empty.path()), std::string::npos) << err;
    }
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
