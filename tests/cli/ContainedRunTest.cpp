// oriel-cli never leaves the examined tree through a symbolic link: not to a
// host folder posing as "Documents and Settings" or a user profile, not to
// /proc/self/environ posing as a body; the reason reaches the item's
// properties, the error text and the trace log. A run that a signal ends
// leaves no working copy behind.
#include "support/CliCommand.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Quote;
using test::RunCommand;
using test::TempDir;
using test::WindowsTreeWriter;

TEST(ContainedRun, RootFollowsNoProfileFolderOutOfTheTree)
{
    TempDir root, host;
    WindowsTreeWriter writer(WindowsTreeWriter::Layout::Vista);
    writer.addUser("Jane");
    writer.write(root.path());
    // Profiles with a hive of their own, on the host.
    fs::create_directories(host.file("Mallory"));
    fs::create_directories(host.file("Bob"));
    fs::copy_file(root.file("Users/Jane/NTUSER.DAT"), host.file("Mallory/NTUSER.DAT"));
    fs::copy_file(root.file("Users/Jane/NTUSER.DAT"), host.file("Bob/NTUSER.DAT"));
    fs::remove(root.file("Documents and Settings")); // Vista's junction to "Users"
    fs::create_symlink(host.path(), root.file("Documents and Settings"));
    std::string up;
    for (const auto& part : fs::path(root.file("Users")).relative_path())
        up += part.empty() ? "" : "../";
    fs::create_symlink(up + fs::relative(host.file("Bob"), "/").string(), root.file("Users/Bob"));
    fs::create_symlink(host.file("Bob"), root.file("Users/Bobby"));

    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("users --root " + Quote(root.path())), &out, &err), 0) << err;
    EXPECT_EQ(out, "*\tJane\t" + root.file("Users/Jane") + "\n");

    // The junction Vista makes, as a relative link inside the tree, is
    // followed and lists nobody twice.
    fs::remove(root.file("Documents and Settings"));
    fs::create_symlink("Users", root.file("Documents and Settings"));
    ASSERT_EQ(RunCommand(Cli("users --root " + Quote(root.path())), &out, &err), 0) << err;
    EXPECT_EQ(out, "*\tJane\t" + root.file("Users/Jane") + "\n");
}

TEST(ContainedRun, ABodyLinkedToTheToolsOwnEnvironmentIsMissingWithTheReason)
{
    TempDir cache, state;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    a.url = "http://www.example.com/env.txt";
    a.fileName = "env[1].txt";
    a.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    a.body = "placeholder";
    w.addUrl(a);
    w.writeCache(cache.path(), true);
    fs::remove(cache.file("ABCD1234/env[1].txt"));
    fs::create_symlink("/proc/self/environ", cache.file("ABCD1234/env[1].txt"));

    const std::string log = state.file("run.log");
    test::WriteFile(state.file("Oriel.ini"), "[Options]\nMessageDumpFile=" + log + "\n");
    const std::string env = "ORIEL_CONFIG=" + Quote(state.file("Oriel.ini")) + " ORIEL_TEST_SECRET=s3cr3t-value ";
    std::string out, err;
    EXPECT_EQ(RunCommand(env + Cli("cat " + Quote(cache.path()) + " http://www.example.com/env.txt"), &out, &err), 1);
    EXPECT_EQ(out.find("s3cr3t-value"), std::string::npos);
    EXPECT_NE(err.find("link not followed"), std::string::npos) << err;
    EXPECT_NE(test::ReadWholeFile(log).find("link not followed: the symbolic link " + cache.file("ABCD1234/env[1].txt")),
              std::string::npos)
        << test::ReadWholeFile(log);

    ASSERT_EQ(RunCommand(env + Cli("list --json " + Quote(cache.path())), &out, &err), 0) << err;
    EXPECT_NE(out.find("\"exists\":false"), std::string::npos) << out;
    EXPECT_NE(out.find("\"properties\":{\"Body problem\":\"link not followed: "), std::string::npos) << out;
    EXPECT_EQ(out.find("s3cr3t-value"), std::string::npos);
}

TEST(ContainedRun, CatCutShortByItsReaderLeavesNoWorkingCopy)
{
    TempDir cache, tmp;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    a.url = "http://www.example.com/big.txt";
    a.fileName = "big[1].txt";
    a.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Encoding: gzip\r\n\r\n";
    std::string text;
    for (int i = 0; text.size() < (8 << 20); ++i)
        text += "line " + std::to_string(i) + " of a long decoded page\n";
    a.body = test::GzipBytes(text);
    w.addUrl(a);
    w.writeCache(cache.path(), true);
    const test::FolderSnapshot before = test::SnapshotFolder(cache.path());

    // The decoded copy is written to the private folder under TMPDIR; the
    // reader takes a few bytes and goes, and SIGPIPE ends oriel-cli.
    std::string out, err;
    RunCommand("(TMPDIR=" + Quote(tmp.path()) + " " +
                   Cli("cat " + Quote(cache.path()) + " http://www.example.com/big.txt") + " | head -c 10)",
               &out, &err);
    EXPECT_EQ(out, "line 0 of ") << err;
    EXPECT_EQ(test::SnapshotFolder(cache.path()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 0);
}

TEST(ContainedRun, CatWritesABodyKeptInABlockFileStraightToItsOutput)
{
    // No working copy is needed: cat works even where no private folder
    // can be made.
    TempDir cache;
    test::MozillaCacheWriter w;
    std::string body;
    for (int i = 0; body.size() < 3000; ++i)
        body += "row " + std::to_string(i) + "\n";
    w.Add("http://a.example/rows.txt", body, "text/plain").dataFile = 2;
    w.Write(cache.path());
    const test::FolderSnapshot before = test::SnapshotFolder(cache.path());
    std::string out, err;
    ASSERT_EQ(RunCommand("TMPDIR=/nonexistent/oriel " + Cli("cat " + Quote(cache.path()) + " http://a.example/rows.txt"),
                         &out, &err),
              0)
        << err;
    EXPECT_EQ(out, body);
    EXPECT_EQ(test::SnapshotFolder(cache.path()), before);
}

TEST(ContainedRun, PrivateFoldersOfRunsThatWereKilledGoAtTheNextStart)
{
    TempDir tmp, cache;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.writeCache(cache.path(), true);
    // A process that has ended, and one that runs (this test).
    const std::string pid = std::to_string(test::EndedPid());
    const std::string dead = tmp.file("oriel-" + pid + "-a1b2c3");
    const std::string alive = tmp.file("oriel-" + std::to_string(::getpid()) + "-d4e5f6");
    const std::string other = tmp.file("oriel-notours");
    for (const std::string& folder : {dead, alive, other})
        test::WriteFile(folder + "/1/uc_body", "left behind");
    std::string out, err;
    ASSERT_EQ(RunCommand("TMPDIR=" + Quote(tmp.path()) + " " + Cli("list " + Quote(cache.path())), &out, &err), 0)
        << err;
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(alive + "/1/uc_body"));
    EXPECT_TRUE(fs::exists(other + "/1/uc_body"));
}

} // namespace
} // namespace oriel
