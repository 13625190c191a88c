// oriel-cli timeline and report: of a folder, of one profile, and of every
// profile of an examined system.
#include "support/CliCommand.h"
#include "support/IndexDatWriter.h"
#include "support/SynthOptions.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace oriel {
namespace {

using test::Cli;
using test::Quote;
using test::RunCommand;
using test::TempDir;

// The fields of one CSV line whose fields hold no line break (the
// timeline writes those as escapes).
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

TEST(TimelineCli, EveryProfileOfTheSystemGoesIntoOneFileSortedByTime)
{
    TempDir dir;
    const std::string root = dir.file("drive");
    ASSERT_EQ(RunCommand(test::Synth("windows-tree " + Quote(root) + " --modern-firefox"), nullptr), 0);
    std::string csv, jsonl, err;
    ASSERT_EQ(RunCommand(Cli("timeline --all --root " + Quote(root)), &csv, &err), 0) << err;
    ASSERT_EQ(RunCommand(Cli("timeline --format jsonl --all --root " + Quote(root)), &jsonl, &err), 0) << err;

    const std::vector<std::string> lines = test::Lines(csv);
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "message,datetime,timestamp_desc,timestamp,url,browser,profile,cache_name,size,"
                        "content_type,recovered,source_file\r");
    std::set<std::string> profiles, browsers;
    long long last = 0;
    size_t rows = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        ++rows;
        const std::vector<std::string> f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 12u) << lines[i];
        const long long t = std::stoll(f[3]);
        EXPECT_GE(t, last) << lines[i];
        last = t;
        EXPECT_EQ(t % 1000000, 0);
        EXPECT_EQ(f[1].size(), 25u) << f[1];
        profiles.insert(f[6]);
        browsers.insert(f[5]);
        EXPECT_EQ(f[10], "false");
    }
    EXPECT_GE(profiles.size(), 3u);
    EXPECT_GE(browsers.size(), 3u);
    size_t jsonRows = 0;
    for (const std::string& line : test::Lines(jsonl))
        jsonRows += !line.empty();
    EXPECT_EQ(jsonRows, rows);
}

TEST(TimelineCli, ArgumentsAreChecked)
{
    TempDir cache;
    test::SynthOptions options;
    options.entries = 5;
    test::WriteSyntheticIndexDatCache(cache.path(), options);
    const std::string f = Quote(cache.path());
    for (const std::string& args : {"timeline --format xml " + f, std::string("timeline --all --profile 0"),
                                    "timeline --all " + f, std::string("timeline"), "report " + f,
                                    "report --to " + Quote(cache.file("out")) + " --all --profile 0"}) {
        SCOPED_TRACE(args);
        std::string out, err;
        EXPECT_EQ(RunCommand(Cli(args), &out, &err), 2) << err;
        EXPECT_EQ(out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(cache.file("out")));
    // With the flag and without (the decoders may find no recovered entry
    // in a clean cache; the flag is accepted either way).
    std::string out, err;
    EXPECT_EQ(RunCommand(Cli("timeline --recovered " + f), &out, &err), 0) << err;
    EXPECT_EQ(test::Lines(out).front(), "message,datetime,timestamp_desc,timestamp,url,browser,profile,cache_name,"
                                        "size,content_type,recovered,source_file\r");
}

// An index.dat cache in `dir`/cache of `entries` items, `images` of them
// with picture bodies; its folder.
std::string WriteImageCache(const TempDir& dir, int entries, int images)
{
    test::SynthOptions options;
    options.entries = entries;
    options.images = images;
    const std::string cache = dir.file("cache");
    test::WriteSyntheticIndexDatCache(cache, options);
    return cache;
}

TEST(ReportCli, WritesThePageIntoTheFolderItNamesAndTellsWhere)
{
    TempDir dir;
    const std::string cache = WriteImageCache(dir, 30, 10);
    const std::string out = dir.file("report");
    std::string stdoutText, err;
    ASSERT_EQ(RunCommand(Cli("report --to " + Quote(out) + " " + Quote(cache)), &stdoutText, &err), 0) << err;
    EXPECT_EQ(stdoutText, out + "/index.html\n");
    EXPECT_NE(err.find("30 items, 30 bodies hashed, 10 pictures"), std::string::npos) << err;
    const std::string html = test::ReadWholeFile(out + "/index.html");
    size_t rows = 0;
    for (size_t at = html.find("<tr><td class=\"num\""); at != std::string::npos;
         at = html.find("<tr><td class=\"num\"", at + 1))
        ++rows;
    EXPECT_EQ(rows, 30u);
    size_t thumbs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out + "/thumbs"))
        thumbs += entry.path().extension() == ".png";
    EXPECT_EQ(thumbs, 10u);

    // Not into the cache folder it reports on.
    EXPECT_EQ(RunCommand(Cli("report --to " + Quote(cache + "/r") + " " + Quote(cache)), &stdoutText, &err), 1);
    EXPECT_NE(err.find("will not write into the examined folder"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(cache + "/r"));
}

// oriel-cli loads its thumbnailer only for a report, from beside itself or
// from the library folder of its prefix; without it the report is still
// made, without pictures, and says so.
TEST(ReportCli, FindsTheThumbnailerWhereItIsInstalledAndGoesOnWithoutIt)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string cache = WriteImageCache(dir, 12, 4);
    const fs::path prefix = dir.file("prefix");
    fs::create_directories(prefix / "bin");
    const fs::path cli = prefix / "bin" / "oriel-cli";
    fs::copy_file(ORIEL_CLI_PATH, cli);
    const std::string run = Quote(cli.string()) + " report --to ";

    std::string out, err;
    ASSERT_EQ(RunCommand(run + Quote(dir.file("bare")) + " " + Quote(cache), &out, &err), 0) << err;
    EXPECT_NE(err.find("warning: the report shows no pictures: oriel-thumbnailer.so is in neither"), std::string::npos)
        << err;
    EXPECT_NE(err.find("12 items, 12 bodies hashed, 0 pictures"), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(dir.file("bare") + "/index.html"));

    const fs::path modules = prefix / ORIEL_INSTALL_LIBDIR / "oriel";
    fs::create_directories(modules);
    fs::copy_file(ORIEL_THUMBNAILER_PATH, modules / "oriel-thumbnailer.so");
    ASSERT_EQ(RunCommand(run + Quote(dir.file("installed")) + " " + Quote(cache), &out, &err), 0) << err;
    EXPECT_EQ(err.find("warning"), std::string::npos) << err;
    EXPECT_NE(err.find("12 items, 12 bodies hashed, 4 pictures"), std::string::npos) << err;

    // A file of that name that is no module is passed over, with the reason.
    fs::remove(modules / "oriel-thumbnailer.so");
    { std::ofstream(modules / "oriel-thumbnailer.so") << "not a module"; }
    ASSERT_EQ(RunCommand(run + Quote(dir.file("broken")) + " " + Quote(cache), &out, &err), 0) << err;
    EXPECT_NE(err.find("warning: the report shows no pictures: "), std::string::npos) << err;
    EXPECT_NE(err.find("0 pictures"), std::string::npos) << err;
}

} // namespace
} // namespace oriel
