// The bash completion of oriel-cli, run in bash as the shell runs it: the
// words typed so far in COMP_WORDS, the offers read back from COMPREPLY.
#include "support/CliCommand.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace oriel {
namespace {

using test::TempDir;

constexpr const char* kScript = ORIEL_SOURCE_DIR "/packaging/bash-completion/oriel-cli";

// Loads the completion, completes the last of `words` (after oriel-cli)
// and prints one offer a line.
constexpr const char* kDriver = R"(source "$1" || exit 3
shift
complete -p oriel-cli >/dev/null || exit 4
COMP_WORDS=("$@")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_oriel_cli
printf '%s\n' "${COMPREPLY[@]}"
)";

class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override { test::WriteFile(dir.file("driver.sh"), kDriver); }

    std::vector<std::string> Offers(const std::vector<std::string>& words)
    {
        std::string command = "bash --norc --noprofile " + test::Quote(dir.file("driver.sh")) + " " +
                              test::Quote(kScript) + " " + test::Quote(ORIEL_CLI_PATH);
        for (const std::string& word : words)
            command += " " + test::Quote(word);
        std::string out, err;
        EXPECT_EQ(test::RunCommand(command, &out, &err), 0) << err;
        std::vector<std::string> offers;
        for (const std::string& line : test::Lines(out)) {
            if (!line.empty())
                offers.push_back(line);
        }
        return offers;
    }

    TempDir dir;
};

TEST_F(CompletionTest, OffersCommandsOptionsAndValues)
{
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> offers;
    };
    const std::vector<std::string> system = {"--root", "--user", "--reg", "--drive", "--mode",
                                             "--ignore-unsupported", "--help"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> all = system;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Case cases[] = {
        {{""}, {"list", "export", "profiles", "users", "cat", "copy", "timeline", "report", "--help", "--version"}},
        {{"co"}, {"copy"}},
        {{"copy", "--"}, with({"--to", "--move", "--server", "--names", "--paths", "--server-dirs", "--profile"})},
        {{"copy", "--names", ""}, {"url", "cache"}},
        {{"copy", "--server", ""}, {}},
        {{"l"}, {"list"}},
        {{"--v"}, {"--version"}},
        {{"list", "--"}, with({"--json", "--recovered", "--profile"})},
        {{"export", "--"}, with({"--output", "--profile"})},
        {{"cat", "--"}, with({"--key", "--profile"})},
        {{"profiles", "--"}, system},
        {{"timeline", "--"}, with({"--format", "--recovered", "--profile", "--all"})},
        {{"report", "--"}, with({"--to", "--recovered", "--profile", "--all"})},
        {{"timeline", "--format", ""}, {"csv", "jsonl"}},
        {{"list", "--mode", ""}, {"all", "ie", "folder"}},
        {{"list", "--mode", "f"}, {"folder"}},
        {{"list", "--key", ""}, {}},
        // Options come after the command only.
        {{"--root", "x", ""}, {}},
        {{"nosuch", "--"}, {}},
    };
    for (const Case& c : cases) {
        std::string typed;
        for (const std::string& word : c.words)
            typed += " [" + word + "]";
        EXPECT_EQ(Offers(c.words), c.offers) << typed;
    }
}

TEST_F(CompletionTest, OffersFoldersForTheCacheFolder)
{
    std::filesystem::create_directories(dir.file("cache-one"));
    std::filesystem::create_directories(dir.file("cache-two"));
    test::WriteFile(dir.file("cache-file"), "not a folder");
    std::vector<std::string> folders = Offers({"list", dir.file("cache-")});
    std::sort(folders.begin(), folders.end()); // in the folder's order
    EXPECT_EQ(folders, (std::vector<std::string>{dir.file("cache-one"), dir.file("cache-two")}));
    EXPECT_EQ(Offers({"list", "--root", dir.file("cache-t")}), (std::vector<std::string>{dir.file("cache-two")}));
}

TEST_F(CompletionTest, OffersTheProfilesAndUsersOfTheSystemOnTheLine)
{
    const std::string root = dir.file("drive");
    ASSERT_EQ(test::RunCommand(test::Synth("windows-tree " + test::Quote(root)), nullptr), 0);
    // The display names, quoted for the shell.
    EXPECT_EQ(Offers({"list", "--root", root, "--profile", "Jane"}),
              (std::vector<std::string>{"Jane\\ Navigator\\ \\(Netscape\\ 4.0\\)"}));
    EXPECT_EQ(Offers({"export", "--root=" + root, "--profile", "\"Op"}), (std::vector<std::string>{"Opera\\ Cache"}));
    const std::vector<std::string> all = Offers({"list", "--root", root, "--profile", ""});
    EXPECT_EQ(all.size(), 7u);
    EXPECT_NE(std::find(all.begin(), all.end(), "Internet\\ Explorer\\ Cache"), all.end());
    EXPECT_EQ(Offers({"users", "--root", root, "--user", ""}), (std::vector<std::string>{"Jane", "Tom"}));
    // Without a system on the line and none stored, no profile of this tree.
    EXPECT_EQ(Offers({"list", "--profile", "Jane"}), std::vector<std::string>{});
}

} // namespace
} // namespace oriel
