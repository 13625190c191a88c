// oriel-cli over an examined Windows system: profiles, users, and list and
// export of a profile picked with --profile.
#include "support/CliCommand.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

namespace oriel {
namespace {

using test::Cli;
using test::Quote;
using test::Synth;
using test::RunCommand;
using test::TempDir;
using test::WindowsTreeWriter;

test::IndexDatUrl Entry(const std::string& url, const std::string& fileName)
{
    return {.url = url,
            .fileName = fileName,
            .headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n",
            .body = "GIF89a",
            .lastModified = test::FileTimeFromUnix(1200000000)};
}

// A tree with users Jane and Tom, each with a cache of their own, and no
// machine-wide cache folder value, so that each user's own cache is used.
struct Tree {
    explicit Tree(WindowsTreeWriter::Layout layout)
        : writer(layout)
    {
        writer.addUser("Jane").addUser("Tom").setCachePathsDirectory(false);
        writer.addIEEntry("Jane", Entry("http://www.example.com/jane.gif", "jane[1].gif"), 1, 1240000000);
        writer.addIEEntry("Jane", Entry("http://www.example.org/page.htm", "page[1].htm"));
        writer.addIEEntry("Tom", Entry("http://tom.example.net/tom.gif", "tom[1].gif"));
        writer.write(root.path());
    }
    std::string content(const std::string& user) const { return root.path() + "/" + writer.contentFolder(user); }
    TempDir root;
    WindowsTreeWriter writer;
};

std::string RunCli(const std::string& args, int expectedStatus = 0)
{
    std::string out, err;
    EXPECT_EQ(RunCommand(Cli(args), &out, &err), expectedStatus) << args << "\n" << err;
    return expectedStatus == 0 ? out : err;
}

TEST(ProfilesCommand, ATreeOfEitherLayoutListsTheIEProfileOfTheExaminedUser)
{
    for (auto layout : {WindowsTreeWriter::Layout::Xp, WindowsTreeWriter::Layout::Vista}) {
        Tree tree(layout);
        EXPECT_EQ(RunCli("profiles --root " + Quote(tree.root.path())),
                  "0\t*\tInternet Explorer Cache\tInternet Explorer Cache\t" + tree.content("Jane") +
                      "\tie-urlcache\n");
        EXPECT_EQ(RunCli("profiles --user tom --root " + Quote(tree.root.path())),
                  "0\t*\tInternet Explorer Cache\tInternet Explorer Cache\t" + tree.content("Tom") +
                      "\tie-urlcache\n");
        EXPECT_EQ(RunCli("users --root " + Quote(tree.root.path())),
                  "*\tJane\t" + tree.root.path() + "/" + tree.writer.profileFolder("Jane") + "\n\tTom\t" +
                      tree.root.path() + "/" + tree.writer.profileFolder("Tom") + "\n");
    }
}

TEST(ProfilesCommand, ListAndExportDecodeTheChosenProfileThroughTheUrlCacheService)
{
    Tree tree(WindowsTreeWriter::Layout::Vista);
    const std::string root = "--root " + Quote(tree.root.path());
    const std::string expected = "http://www.example.com/jane.gif\tQ0000000\\jane[1].gif\t6\timage/gif\t"
                                 "10/01/2008 9:20:00 PM\t17/04/2009 8:26:40 PM\t\tyes\n"
                                 "http://www.example.org/page.htm\tQ0000000\\page[1].htm\t6\timage/gif\t"
                                 "10/01/2008 9:20:00 PM\t\t\tyes\n";
    EXPECT_EQ(RunCli("list --profile 0 " + root), expected);
    EXPECT_EQ(RunCli("list " + root + " --profile 'internet explorer cache'"), expected);
    EXPECT_EQ(RunCli("list --user Tom --profile 0 " + root),
              "http://tom.example.net/tom.gif\tQ0007919\\tom[1].gif\t6\timage/gif\t10/01/2008 9:20:00 PM\t\t\tyes\n");

    TempDir out;
    RunCli("export --profile 0 --output " + Quote(out.file("ie.csv")) + " " + root);
    std::string csv = test::ReadWholeFile(out.file("ie.csv"));
    EXPECT_NE(csv.find("Internet Explorer Cache"), std::string::npos) << csv;
    EXPECT_NE(csv.find("http://www.example.org/page.htm"), std::string::npos) << csv;
    EXPECT_NE(csv.find(tree.content("Jane")), std::string::npos) << csv;
}

TEST(ProfilesCommand, TheFolderModeListsTheFolderOptionAloneAndFindsNoCacheWithoutOne)
{
    Tree tree(WindowsTreeWriter::Layout::Xp);
    EXPECT_EQ(RunCli("profiles --mode folder --root " + Quote(tree.root.path())),
              "0\t*\tCache Folder\tCache Folder\t\tnone\n");
    EXPECT_EQ(RunCli("profiles --mode ie"), "0\t*\tInternet Explorer Cache\tInternet Explorer Cache\t\tie-urlcache\n");
}

TEST(ProfilesCommand, BadSystemFlagsAndMissingProfilesFail)
{
    Tree tree(WindowsTreeWriter::Layout::Xp);
    const std::string root = " --root " + Quote(tree.root.path());
    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"profiles --root /no/such/folder", 2, "no such folder"},
        {"profiles --drive D" + root, 2, "bad drive mapping"},
        {"profiles --mode some" + root, 2, "--mode"},
        {"profiles --user Nobody" + root, 1, "Nobody"},
        {"profiles " + tree.root.path(), 2, "too many arguments"},
        {"list --json" + root, 2, "missing FOLDER"},
        {"list --profile 1" + root, 1, "no profile '1'"},
        {"list --profile -1" + root, 1, "no profile '-1'"},
        {"list --profile Firefox" + root, 1, "no profile 'Firefox'"},
        {"users", 1, "no Windows system"},
    };
    for (const Case& k : cases) {
        std::string err = RunCli(k.args, k.status);
        EXPECT_NE(err.find(k.message), std::string::npos) << k.args << ": " << err;
    }
}

// The first fields of the lines, sorted.
std::vector<std::string> Urls(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line.substr(0, line.find('\t')));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// oriel-synth's tree, given as the root, lists the IE cache through the
// URL-cache service as the index.dat decoder lists the same folder, less the
// LEAK records (entries Windows already deleted) that only the decoder shows.
TEST(ProfilesCommand, ASynthesizedTreeListsItsCacheAsTheIndexDatDecoderDoes)
{
    for (const char* layout : {"xp", "vista"}) {
        TempDir root;
        std::string out, err;
        ASSERT_EQ(RunCommand(Synth("windows-tree " + Quote(root.path()) + " --entries 120 --layout " + layout),
                             &out, &err),
                  0)
            << err;
        std::string index = out.substr(0, out.find('\n'));
        std::string content = index.substr(0, index.rfind('/'));
        const std::string system = " --root " + Quote(root.path()) + " --mode ie";

        EXPECT_EQ(RunCli("profiles" + system),
                  "0\t*\tInternet Explorer Cache\tInternet Explorer Cache\t" + content + "\tie-urlcache\n");
        std::vector<std::string> viaService = Urls(RunCli("list --profile 0" + system));
        std::vector<std::string> direct = Urls(RunCli("list " + Quote(content)));
        ASSERT_EQ(viaService.size(), 119u) << layout;
        ASSERT_EQ(direct.size(), 120u) << layout;
        std::vector<std::string> onlyDirect;
        std::set_difference(direct.begin(), direct.end(), viaService.begin(), viaService.end(),
                            std::back_inserter(onlyDirect));
        EXPECT_EQ(onlyDirect.size(), 1u) << layout;
        std::string listed = RunCli("list --profile 0" + system);
        EXPECT_EQ(listed.find("\tno\n"), std::string::npos) << listed; // every body is there

        // One row fewer.
        std::string csv = RunCli("export --profile 'Internet Explorer Cache'" + system);
        std::string directCsv = RunCli("export " + Quote(content));
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n') + 1, std::count(directCsv.begin(), directCsv.end(), '\n'));
    }
}

} // namespace
} // namespace oriel
