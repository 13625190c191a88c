#include "platform/FileSystem.h"

#include "platform/ContainedPath.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace oriel::platform {
namespace {

using test::TempDir;

TEST(ResolvePath, PathsThatExistAsSpelledAreKept)
{
    TempDir dir;
    test::WriteFile(dir.file("Sub/File.txt"), "x");
    EXPECT_EQ(ResolvePath(dir.file("Sub/File.txt")), dir.file("Sub/File.txt"));
    EXPECT_EQ(ResolvePath(""), "");
}

TEST(ResolvePath, EachMissingComponentIsFoundWithoutRegardToCase)
{
    TempDir dir;
    test::WriteFile(dir.file("Content.IE5/ABCD1234/067383ACd01"), "x");
    EXPECT_EQ(ResolvePath(dir.file("content.ie5/abcd1234/067383acd01")), dir.file("Content.IE5/ABCD1234/067383ACd01"));
    EXPECT_EQ(ResolvePath(dir.file("CONTENT.IE5/ABCD1234/067383ACD01")), dir.file("Content.IE5/ABCD1234/067383ACd01"));
    EXPECT_TRUE(FileExists(dir.file("content.IE5/abcd1234/067383ACD01")));
}

TEST(ResolvePath, UnmatchedPathsComeBackUnchanged)
{
    TempDir dir;
    test::WriteFile(dir.file("A/b"), "x");
    EXPECT_EQ(ResolvePath(dir.file("a/c")), dir.file("a/c"));
    EXPECT_FALSE(FileExists(dir.file("a/c")));
}

TEST(ResolvePath, FilesCreatedAfterALookupAreFound)
{
    TempDir dir;
    test::WriteFile(dir.file("F/one"), "x");
    EXPECT_TRUE(FileExists(dir.file("f/ONE")));
    std::filesystem::create_directories(dir.file("F"));
    test::WriteFile(dir.file("F/Two"), "x");
    EXPECT_TRUE(FileExists(dir.file("f/two")));
}

TEST(FileCalls, MakePathJoinsWithOneSeparatorAndTurnsBackslashes)
{
    EXPECT_EQ(MakePath("/c", "ABCD\\f.gif"), "/c/ABCD/f.gif");
    EXPECT_EQ(MakePath("/c/", "f"), "/c/f");
    EXPECT_EQ(MakePath("/c", "f", ".htm"), "/c/f.htm");
    EXPECT_EQ(MakePath("/c", "f", "htm"), "/c/f.htm");
    EXPECT_EQ(MakePath("", "f"), "f");
}

TEST(FileCalls, ContainedNamesStayInsideTheirFolder)
{
    for (const char* name : {"a", "A\\b.gif", "a/b/c", "..a", "a..b", "x\\.hidden"})
        EXPECT_TRUE(IsContainedRelativeName(name)) << name;
    for (const char* name : {"", "..", "..\\x", "a/../../x", "a\\..", "/etc/passwd", "\\x", "C:\\x", "c:x"})
        EXPECT_FALSE(IsContainedRelativeName(name)) << name;
}

TEST(FileCalls, CopyAndDeleteWorkOnFilesOnly)
{
    TempDir dir;
    test::WriteFile(dir.file("a"), "abc");
    EXPECT_TRUE(CopyFile(dir.file("A"), dir.file("b"))); // source found without regard to case
    EXPECT_EQ(test::ReadWholeFile(dir.file("b")), "abc");
    // A copy never replaces a file, nor writes through a link.
    test::WriteFile(dir.file("a"), "new");
    EXPECT_FALSE(CopyFile(dir.file("a"), dir.file("b")));
    EXPECT_EQ(test::ReadWholeFile(dir.file("b")), "abc");
    std::filesystem::create_symlink(dir.file("target"), dir.file("link"));
    EXPECT_FALSE(CopyFile(dir.file("a"), dir.file("link")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("target")));
    // Nothing is left of the copies that failed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
    std::filesystem::create_directories(dir.file("d/e"));
    EXPECT_FALSE(DeleteFile(dir.file("d")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("d/e")));
    EXPECT_TRUE(DeleteFile(dir.file("B")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("b")));
    EXPECT_FALSE(DeleteFile(dir.file("b")));
}

TEST(FileCalls, AttributesTellFilesFromFolders)
{
    TempDir dir;
    test::WriteFile(dir.file("f"), std::string(10, 'x'));
    auto file = GetFileAttributes(dir.file("F"));
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->isDirectory);
    EXPECT_EQ(file->size, 10u);
    auto folder = GetFileAttributes(dir.path());
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory);
    EXPECT_FALSE(GetFileAttributes(dir.file("none")));
}

TEST(FileCalls, ReadFileStopsAtTheLimit)
{
    TempDir dir;
    test::WriteFile(dir.file("f"), std::string(100000, 'x'));
    EXPECT_EQ(ReadFile(dir.file("f"))->size(), 100000u);
    EXPECT_EQ(ReadFile(dir.file("f"), 70000)->size(), 70000u);
    EXPECT_FALSE(ReadFile(dir.file("missing")));
    EXPECT_EQ(ReadFile(dir.file("F"), 5), "xxxxx") << "found whatever its case";
    // Large enough for the large-page advice; every byte in its place.
    std::string large(6 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 / 5);
    test::WriteFile(dir.file("large"), large);
    EXPECT_EQ(ReadFile(dir.file("large")), large);
    EXPECT_EQ(ReadFile(dir.file("large"), 5 << 20), large.substr(0, 5 << 20));
    test::WriteFile(dir.file("empty"), "");
    EXPECT_EQ(ReadFile(dir.file("empty")), "");
}

TEST(FileCalls, ReadFileRefusesWhatIsNotARegularFile)
{
    // A FIFO under an index's name must not block the reader (nobody
    // writes to it), nor may a folder or a device be read as a file.
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("index.dat").c_str(), 0600), 0);
    EXPECT_FALSE(ReadFile(dir.file("index.dat")));
    EXPECT_FALSE(ReadFile(dir.path()));
    EXPECT_FALSE(ReadFile("/dev/zero", 10));
}

TEST(FileCalls, WorkingCopiesGoToThePrivateFolderAlways)
{
    std::string a = WorkingCopyPath("uc_body");
    std::string b = WorkingCopyPath("uc_body");
    EXPECT_EQ(a.rfind(PrivateTempFolder(), 0), 0u) << a;
    EXPECT_NE(a, b); // two bodies of one name never share a copy
    EXPECT_EQ(FileNameOf(a), "uc_body");
}

TEST(FileCalls, OnlyTheOwnPrivateFoldersOfEndedRunsAreSwept)
{
    TempDir tmp, outside;
    namespace fs = std::filesystem;
    const std::string ended = std::to_string(test::EndedPid());
    const std::string dead = tmp.file("oriel-" + ended + "-Ab3dE9");
    fs::create_directories(dead + "/1/deeper");
    test::WriteFile(dead + "/1/deeper/copy.gif", "GIF89a");
    // A live run's folder, this run's own, and names of another shape.
    const std::vector<std::string> stay = {
        "oriel-" + std::to_string(::getppid()) + "-XyZ123", "oriel-" + std::to_string(::getpid()) + "-abcdef",
        "oriel-" + ended + "-abc", "oriel--abcdef", "oriel-12a4-abcdef", "other-" + ended + "-abcdef"};
    for (const std::string& name : stay)
        fs::create_directory(tmp.file(name));
    // A file and a link in a dead run's name are not folders it made.
    test::WriteFile(tmp.file("oriel-" + ended + "-fileXX"), "x");
    test::WriteFile(outside.file("evidence.dat"), "keep");
    fs::create_directory_symlink(outside.path(), tmp.file("oriel-" + ended + "-linkXX"));

    const int removed = [&tmp] {
        const test::EnvironmentFor temp({{"TMPDIR", tmp.path()}});
        return RemoveStalePrivateFolders();
    }();

    EXPECT_EQ(removed, 1);
    EXPECT_FALSE(fs::exists(dead));
    for (const std::string& name : stay)
        EXPECT_TRUE(fs::is_directory(tmp.file(name))) << name;
    EXPECT_TRUE(fs::exists(tmp.file("oriel-" + ended + "-fileXX")));
    EXPECT_TRUE(fs::is_symlink(tmp.file("oriel-" + ended + "-linkXX")));
    EXPECT_EQ(test::ReadWholeFile(outside.file("evidence.dat")), "keep");
}

TEST(FileCalls, PathPartsSplitAtTheLastSeparator)
{
    EXPECT_EQ(FileNameOf("/a/b/c.gif"), "c.gif");
    EXPECT_EQ(FileNameOf("c.gif"), "c.gif");
    EXPECT_EQ(DirectoryOf("/a/b/c.gif"), "/a/b");
    EXPECT_EQ(DirectoryOf("/c.gif"), "/");
    EXPECT_EQ(DirectoryOf("c.gif"), "");
}

TEST(FolderIndex, FindsNamesWithoutRegardToCaseAsSpelledOnDisk)
{
    TempDir dir;
    test::WriteFile(dir.file("0A1B2C3Dd01"), "x");
    test::WriteFile(dir.file("0/A1/B2C3Dd01"), "x");
    FolderIndex index;
    EXPECT_EQ(index.Find(dir.path(), "0a1b2c3dd01"), "0A1B2C3Dd01");
    EXPECT_EQ(index.FindRelative(dir.path(), "0/a1/b2c3dd01"), "0/A1/B2C3Dd01");
    EXPECT_EQ(index.FindRelative(dir.path(), "0A1B2C3DD01"), "0A1B2C3Dd01");
    EXPECT_FALSE(index.FindRelative(dir.path(), "0/a2/b2c3dd01"));
    EXPECT_FALSE(index.FindRelative(dir.path(), "0//a1"));
    EXPECT_FALSE(index.FindRelative(dir.path(), ""));
    EXPECT_FALSE(index.Find(dir.file("missing"), "x"));
}

TEST(FolderIndex, KeepsItsListingsUnlessToldToRevalidate)
{
    TempDir dir;
    test::WriteFile(dir.file("Old"), "x");
    FolderIndex once;
    FolderIndex revalidated(FolderIndex::Revalidate::OnEachLookup);
    EXPECT_FALSE(once.Find(dir.path(), "new"));
    EXPECT_FALSE(revalidated.Find(dir.path(), "new"));
    test::WriteFile(dir.file("NEW"), "x");
    // Make sure the folder's time differs from the listing's.
    const auto listed = std::filesystem::last_write_time(dir.path());
    std::filesystem::last_write_time(dir.path(), listed + std::chrono::seconds(5));
    EXPECT_FALSE(once.Find(dir.path(), "new"));
    EXPECT_EQ(revalidated.Find(dir.path(), "new"), "NEW");
}

// What ListContained gives must be what ListFolder gives: every entry, with
// its type as listed, in name order, whether or not Find listed it first.
void ExpectSameAsListFolder(FolderIndex& index, const std::string& dir)
{
    auto shared = index.ListContained(dir);
    auto fresh = ListFolder(dir);
    ASSERT_TRUE(shared);
    ASSERT_TRUE(fresh);
    ASSERT_EQ(shared->size(), fresh->size());
    for (size_t i = 0; i < fresh->size(); ++i) {
        EXPECT_EQ((*shared)[i].name, (*fresh)[i].name);
        EXPECT_EQ((*shared)[i].isRegular, (*fresh)[i].isRegular) << (*fresh)[i].name;
        EXPECT_EQ((*shared)[i].isDirectory, (*fresh)[i].isDirectory) << (*fresh)[i].name;
        EXPECT_EQ((*shared)[i].isLink, (*fresh)[i].isLink) << (*fresh)[i].name;
    }
}

TEST(FolderIndex, ListsAFolderItLookedUpInAsListFolderDoes)
{
    TempDir dir;
    test::WriteFile(dir.file("c/zz"), "x");
    test::WriteFile(dir.file("B"), "x");
    test::WriteFile(dir.file("a"), "x");
    std::filesystem::create_directory(dir.file("0A1B2C3Dd01")); // a folder named like a body
    std::filesystem::create_symlink("a", dir.file("link"));
    auto registration = RegisterContainer(dir.path());
    FolderIndex index;
    EXPECT_EQ(index.Find(dir.path(), "0a1b2c3dd01"), "0A1B2C3Dd01");
    EXPECT_EQ(index.Find(dir.path(), "b"), "B");
    ExpectSameAsListFolder(index, dir.path());
    auto listed = index.ListContained(dir.path());
    ASSERT_EQ(listed->size(), 5u);
    EXPECT_EQ((*listed)[0].name, "0A1B2C3Dd01");
    EXPECT_TRUE((*listed)[0].isDirectory);
    EXPECT_FALSE((*listed)[0].isRegular);
    EXPECT_EQ((*listed)[4].name, "link");
    EXPECT_TRUE((*listed)[4].isLink);
    EXPECT_FALSE((*listed)[4].isRegular);
    // A folder the index has not listed is listed all the same.
    ExpectSameAsListFolder(index, dir.file("c"));
    EXPECT_FALSE(index.ListContained(dir.file("missing")));
}

TEST(FolderIndex, ListsAFolderAgainWhenItChangedSinceItsListing)
{
    TempDir dir;
    test::WriteFile(dir.file("Old"), "x");
    FolderIndex index;
    EXPECT_FALSE(index.Find(dir.path(), "new"));
    test::WriteFile(dir.file("NEW"), "x");
    const auto listed = std::filesystem::last_write_time(dir.path());
    std::filesystem::last_write_time(dir.path(), listed + std::chrono::seconds(5));
    auto entries = index.ListContained(dir.path());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "NEW");
}

TEST(FolderIndex, NeverListsThroughALinkThatLeadsOutOfTheContainer)
{
    TempDir dir;
    test::WriteFile(dir.file("outside/0A1B2C3Dd01"), "secret");
    std::filesystem::create_directory(dir.file("cache"));
    std::filesystem::create_symlink(dir.file("outside"), dir.file("cache/0"));
    auto registration = RegisterContainer(dir.file("cache"));
    FolderIndex index;
    // The name lookup lists what the host finds there...
    EXPECT_EQ(index.FindRelative(dir.file("cache"), "0/0a1b2c3dd01"), "0/0A1B2C3Dd01");
    // ...but a walk of the folder is never given that listing.
    EXPECT_FALSE(index.ListContained(dir.file("cache/0")));
    EXPECT_FALSE(ListFolder(dir.file("cache/0")));
}

} // namespace
} // namespace oriel::platform
