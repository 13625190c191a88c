// oriel-cli over a Windows tree with Firefox and Mozilla profiles: the
// profiles in the collection's order, their caches decoded by list, and the
// warning for a listed profile whose folder is gone.
#include "support/CliCommand.h"
#include "support/MozillaProfileWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace oriel {
namespace {

using test::Cli;
using test::FirefoxProfileSetup;
using test::MozillaCacheWriter;
using test::MozillaProfileSetup;
using test::Quote;
using test::RunCommand;
using test::TempDir;
using test::WindowsTreeWriter;

MozillaCacheWriter Cache(const std::string& host)
{
    MozillaCacheWriter w;
    w.Add("http://" + host + "/index.html", "<html>" + host + "</html>", "text/html");
    w.Add("http://" + host + "/logo.gif", "GIF89a" + std::string(3000, 'x'), "image/gif");
    return w;
}

// The URLs that `list` prints, in any order.
std::set<std::string> ListedUrls(const std::string& out)
{
    std::set<std::string> urls;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        urls.insert(line.substr(0, line.find('\t')));
    return urls;
}

struct Case {
    WindowsTreeWriter::Layout layout;
    test::MozillaRegistryLayout registry;
    const char* local;   // the user's local application data, from the root
    const char* roaming; // the roaming one
};

TEST(MozillaProfilesCli, FirefoxAndMozillaProfilesComeFirstAndTheirCachesAreListed)
{
    const Case cases[] = {
        {WindowsTreeWriter::Layout::Vista, test::MozillaRegistryLayout::Common, "Users/Jane/AppData/Local",
         "Users/Jane/AppData/Roaming"},
        {WindowsTreeWriter::Layout::Xp, test::MozillaRegistryLayout::UsersCommon,
         "Documents and Settings/Jane/Local Settings/Application Data",
         "Documents and Settings/Jane/Application Data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.local);
        TempDir dir;
        const std::string root = dir.file("drive");
        WindowsTreeWriter tree(c.layout);
        tree.addUser("Jane");
        FirefoxProfileSetup standard;
        standard.name = "default";
        standard.path = "Profiles/k3x9abcd.default";
        standard.cache = Cache("fox.example");
        FirefoxProfileSetup moved;
        moved.name = "work";
        moved.path = "Profiles/w0rk.work";
        moved.cacheDirectory = tree.windowsPath("Caches/Work");
        moved.cache = Cache("work.example");
        FirefoxProfileSetup gone;
        gone.name = "gone";
        gone.path = "Profiles/gone";
        gone.writeProfileFolder = false;
        test::AddFirefoxProfiles(tree, "Jane", {standard, gone, moved});
        MozillaProfileSetup suite;
        suite.name = "suite";
        suite.cache = Cache("suite.example");
        test::AddMozillaProfiles(tree, "Jane", {suite}, c.registry);
        tree.write(root);

        const std::string system = " --root " + Quote(root);
        std::string out, err;
        ASSERT_EQ(RunCommand(Cli("profiles" + system), &out, &err), 0) << err;
        const std::string expected =
            "0\t*\tdefault (Firefox)\tdefault\t" + root + "/" + c.local +
            "/Mozilla/Firefox/Profiles/k3x9abcd.default/Cache\tmozilla\n"
            "1\t\twork (Firefox)\twork\t" +
            root + "/Caches/Work\tmozilla\n" + "2\t\tsuite (Mozilla)\tsuite\t" + root + "/" + c.roaming +
            "/Mozilla/Profiles/default/x1y2z3ab.slt/Cache\tmozilla\n";
        EXPECT_EQ(out.substr(0, expected.size()), expected);
        // Internet Explorer comes last.
        EXPECT_NE(out.find("3\t\tInternet Explorer Cache\t"), std::string::npos) << out;
        EXPECT_EQ(err, "oriel-cli: warning: Netscape Profile data not found for profile named: gone\n");

        const std::pair<const char*, const char*> lists[] = {
            {"0", "fox.example"}, {"'work (Firefox)'", "work.example"}, {"2", "suite.example"}};
        for (const auto& [profile, host] : lists) {
            SCOPED_TRACE(profile);
            ASSERT_EQ(RunCommand(Cli("list --profile " + std::string(profile) + system), &out, &err), 0) << err;
            EXPECT_EQ(ListedUrls(out), (std::set<std::string>{"http://" + std::string(host) + "/index.html",
                                                              "http://" + std::string(host) + "/logo.gif"}));
        }
    }
}

TEST(MozillaProfilesCli, TheSyntheticTreeHasFirefoxAndMozillaProfilesWithCaches)
{
    TempDir dir;
    test::SynthOptions options;
    options.entries = 12;
    test::WriteSyntheticWindowsTree(dir.path(), WindowsTreeWriter::Layout::Vista, options);
    std::string out, err;
    ASSERT_EQ(RunCommand(Cli("profiles --root " + Quote(dir.path())), &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    std::vector<std::string> names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string slot, mark, name;
        std::getline(fields, slot, '\t');
        std::getline(fields, mark, '\t');
        std::getline(fields, name, '\t');
        names.push_back(name);
    }
    // Firefox first, then Mozilla; the other families after them, Internet
    // Explorer last.
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3),
              (std::vector<std::string>{"default (Firefox)", "work (Firefox)", "default (Mozilla)"}));
    EXPECT_EQ(names.back(), "Internet Explorer Cache");
    for (const char* profile : {"0", "1", "2"}) {
        SCOPED_TRACE(profile);
        ASSERT_EQ(RunCommand(Cli("list --profile " + std::string(profile) + " --root " + Quote(dir.path())), &out,
                             &err),
                  0)
            << err;
        EXPECT_EQ(ListedUrls(out).size(), 3u) << out;
    }
}

} // namespace
} // namespace oriel
