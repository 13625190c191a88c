// A command-line run only reads: the option store and its folder stay as
// they were, and the trace log is whole when the run ends.
#include "support/CliCommand.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace oriel {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;

TEST(ReadOnlyRunTest, EveryCommandLeavesTheOptionStoreAndItsFolderAsTheyWere)
{
    TempDir cache, config, state;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    a.url = "http://www.example.com/a/b.gif";
    a.fileName = "b[1].gif";
    a.headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n";
    a.body = "GIF89a";
    w.addUrl(a);
    w.writeCache(cache.path(), true);

    // Options whose exit save would change the file: a window run writes
    // "DefaultFileName" and the other exit options back.
    const std::string log = state.file("run.log");
    test::WriteFile(config.file("Oriel.ini"), "[Options]\nMessageDumpFile=" + log + "\n[Netscape]\nUseProfiles=2\n");
    const test::FolderSnapshot before = test::SnapshotFolder(config.path());

    const std::string env = "ORIEL_CONFIG=" + Quote(config.file("Oriel.ini")) + " ";
    const std::string folder = Quote(cache.path());
    const std::string report = Quote(state.file("report"));
    for (const std::string& args : {"list " + folder, "list --json " + folder, "export " + folder, std::string("profiles"),
                                    "cat " + folder + " http://www.example.com/a/b.gif", "timeline " + folder,
                                    "timeline --format jsonl --recovered " + folder, "report --to " + report + " " + folder}) {
        SCOPED_TRACE(args);
        std::string out, err;
        ASSERT_EQ(test::RunCommand(env + Cli(args), &out, &err), 0) << err;
        EXPECT_EQ(test::SnapshotFolder(config.path()), before) << "the option store's folder changed";
        // The buffered log is complete once the run has ended.
        const std::string written = test::ReadWholeFile(log);
        EXPECT_EQ(written.rfind("Oriel Log File - executable version 2.8.03\r\n", 0), 0u) << written;
        EXPECT_NE(written.find("Exit - CCacheApp::GetAppGlobals\r\n"), std::string::npos) << written;
    }
}

// The first run of a user who has no option store yet: nothing is made for
// it, not even its folder, while a window run's exit save would make both.
TEST(ReadOnlyRunTest, AMissingOptionStoreFolderIsNotMade)
{
    TempDir cache, home;
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    test::IndexDatUrl a;
    a.url = "http://www.example.com/a.gif";
    a.fileName = "a[1].gif";
    a.body = "GIF89a";
    w.addUrl(a);
    w.writeCache(cache.path(), true);
    const std::string env = "ORIEL_CONFIG=" + Quote(home.file("config/Oriel/Oriel.ini")) + " XDG_STATE_HOME=" +
                            Quote(home.file("state")) + " ";
    for (const std::string& args : {"list " + Quote(cache.path()), "export " + Quote(cache.path()),
                                    std::string("profiles")}) {
        SCOPED_TRACE(args);
        std::string out, err;
        EXPECT_EQ(test::RunCommand(env + Cli(args), &out, &err), 0) << err;
        // The trace log makes its own state folder; the option store's
        // side of the home stays empty.
        EXPECT_FALSE(std::filesystem::exists(home.file("config"))) << "the option store's folder was made";
    }
}

} // namespace
} // namespace oriel
