#include "platform/ShellFileOperation.h"

#include "platform/ContainedPath.h"
#include "platform/LogSink.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;
using List = ShellFileOperation::List;

// A cache folder beside an "outside" folder whose files must survive.
struct Fixture {
    TempDir root;
    std::string cache = root.file("cache");
    std::string outside = root.file("outside");
    Fixture()
    {
        WriteFile(cache + "/a", "a");
        WriteFile(cache + "/b", "b");
        WriteFile(cache + "/3/D5/2DAE7d01", "nested");
        WriteFile(outside + "/secret", "secret");
        WriteFile(outside + "/sub/deep", "deep");
    }
    int Delete(std::initializer_list<std::string> paths, uint16_t flags = FOF_NOCONFIRMATION | FOF_FILESONLY)
    {
        op.SetDeleteScope(cache);
        op.SetFlags(flags);
        for (const std::string& p : paths)
            op.AppendPath(List::Source, p);
        return op.RunDelete();
    }
    bool OutsideIntact() const
    {
        return ReadWholeFile(outside + "/secret") == "secret" && ReadWholeFile(outside + "/sub/deep") == "deep";
    }
    ShellFileOperation op;
};

TEST(ShellFileOperation, ListsAreNulSeparatedPathsClosedByOneMoreNul)
{
    ShellFileOperation op;
    op.Reserve(List::Source, 64);
    op.AppendPath(List::Source, "/c/a");
    op.AppendPath(List::Source, "/c/b");
    EXPECT_EQ(op.Buffer(List::Source), std::string("/c/a\0/c/b\0\0", 11));
    EXPECT_EQ(op.Paths(List::Source), (std::vector<std::string>{"/c/a", "/c/b"}));
    EXPECT_TRUE(op.Buffer(List::Destination).empty());
}

TEST(ShellFileOperation, AnEmptyListDeletesNothingAndSucceeds)
{
    Fixture f;
    EXPECT_EQ(f.Delete({}), 0);
    EXPECT_EQ(f.op.DeletedCount(), 0);
    EXPECT_EQ(f.op.GetFunction(), FO_DELETE);
    EXPECT_TRUE(fs::exists(f.cache + "/a"));
}

TEST(ShellFileOperation, DeletesListedFilesInsideTheCacheFolder)
{
    Fixture f;
    EXPECT_EQ(f.Delete({f.cache + "/a", f.cache + "/3/D5/2DAE7d01"}), 0);
    EXPECT_EQ(f.op.DeletedCount(), 2);
    EXPECT_FALSE(fs::exists(f.cache + "/a"));
    EXPECT_FALSE(fs::exists(f.cache + "/3/D5/2DAE7d01"));
    EXPECT_TRUE(fs::exists(f.cache + "/b"));
    EXPECT_TRUE(fs::is_directory(f.cache + "/3/D5"));
}

TEST(ShellFileOperation, PathsThatLeaveTheCacheFolderAreRefused)
{
    Fixture f;
    fs::create_directory_symlink(f.outside, f.cache + "/link-dir");
    fs::create_symlink(f.outside + "/secret", f.cache + "/link-file");
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"dot-dot", f.cache + "/../outside/secret"},
        {"dot-dot that comes back", f.cache + "/3/../a"},
        {"another folder", f.outside + "/secret"},
        {"a folder named like the cache folder", f.cache + "x/a"},
        {"through a linked folder", f.cache + "/link-dir/secret"},
        {"through a linked folder, deeper", f.cache + "/link-dir/sub/deep"},
        {"the cache folder itself", f.cache},
        {"a folder inside", f.cache + "/3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellFileOperation op;
        op.SetDeleteScope(f.cache);
        op.AppendPath(List::Source, c.path);
        EXPECT_NE(op.RunDelete(), 0);
        EXPECT_EQ(op.RefusedCount(), 1);
        EXPECT_EQ(op.DeletedCount(), 0);
    }
    EXPECT_TRUE(f.OutsideIntact());
    EXPECT_TRUE(fs::exists(f.cache + "/a"));
    EXPECT_TRUE(fs::exists(f.cache + "/3/D5/2DAE7d01"));
}

// Collects the trace lines of a run.
class LinesLog final : public platform::LogSink {
public:
    void Write(std::string_view text) override { text_ += std::string(text) + "\n"; }
    void WriteBytes(const void* data, size_t length) override { text_.append(static_cast<const char*>(data), length); }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

TEST(ShellFileOperation, ACacheFolderReachedThroughALinkOutOfTheExaminedTreeIsNeverEmptied)
{
    // The examined tree's user folder is an absolute link to a host folder:
    // neither a listed file nor the pattern removes anything there, and the
    // run says why.
    Fixture f;
    const std::string examined = f.root.file("examined");
    fs::create_directories(examined + "/Users");
    fs::create_directory_symlink(f.outside, examined + "/Users/jane");
    const auto container = platform::RegisterContainer(examined);
    const std::string cache = examined + "/Users/jane";
    for (const std::string& path : {cache + "/secret", cache + "/sub/deep", cache + "/*.*"}) {
        SCOPED_TRACE(path);
        LinesLog log;
        ShellFileOperation op;
        op.SetLog(&log);
        op.SetDeleteScope(cache);
        op.SetFlags(FOF_NOCONFIRMATION);
        op.AppendPath(List::Source, path);
        EXPECT_NE(op.RunDelete(), 0);
        EXPECT_EQ(op.RefusedCount(), 1);
        EXPECT_EQ(op.DeletedCount(), 0);
        const std::string why = "(link not followed: the symbolic link " + examined + "/Users/jane is absolute";
        EXPECT_NE(log.Text().find("refused " + path + " " + why), std::string::npos)
            << log.Text();
    }
    EXPECT_TRUE(f.OutsideIntact());
}

TEST(ShellFileOperation, AListedLinkIsRemovedNotItsTarget)
{
    Fixture f;
    fs::create_symlink(f.outside + "/secret", f.cache + "/link-file");
    EXPECT_EQ(f.Delete({f.cache + "/link-file"}), 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(f.cache + "/link-file")));
    EXPECT_TRUE(f.OutsideIntact());
}

TEST(ShellFileOperation, ThePatternRemovesEveryFileAndFolderButNeverFollowsALink)
{
    Fixture f;
    fs::create_directory_symlink(f.outside, f.cache + "/link-dir");
    fs::create_directory_symlink(f.outside, f.cache + "/3/D5/link-deeper");
    EXPECT_EQ(f.Delete({f.cache + "/*.*"}, FOF_NOCONFIRMATION | FOF_NOERRORUI), 0);
    EXPECT_TRUE(fs::is_directory(f.cache));
    EXPECT_TRUE(fs::is_empty(f.cache));
    EXPECT_TRUE(f.OutsideIntact());
}

TEST(ShellFileOperation, ThePatternWithFilesOnlyLeavesTheFolders)
{
    Fixture f;
    EXPECT_EQ(f.Delete({f.cache + "/*.*"}, FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_NOERRORUI), 0);
    EXPECT_FALSE(fs::exists(f.cache + "/a"));
    EXPECT_TRUE(fs::exists(f.cache + "/3/D5/2DAE7d01"));
}

TEST(ShellFileOperation, NoFolderThatIsARootOrAHomeIsEverEmptied)
{
    TempDir home;
    WriteFile(home.file("precious"), "p");
    WriteFile(home.file("cache/a"), "a");
    const test::EnvironmentFor at({{"HOME", home.path()}});
    const struct {
        const char* name;
        std::string folder;
    } cases[] = {
        {"empty path", ""},
        {"file-system root", "/"},
        {"home folder", home.path()},
        {"home folder spelled with a trailing separator", home.path() + "/"},
        {"folder holding a home folder", fs::path(home.path()).parent_path().string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ShellFileOperation::ProtectedFolderReason(c.folder).empty());
        ShellFileOperation op;
        op.SetDeleteScope(c.folder);
        op.AppendPath(List::Source, c.folder + "/*.*");
        EXPECT_NE(op.RunDelete(), 0);
        EXPECT_EQ(op.DeletedCount(), 0);
    }
    EXPECT_TRUE(ShellFileOperation::ProtectedFolderReason(home.file("cache")).empty());
    EXPECT_TRUE(fs::exists(home.file("precious")));
    EXPECT_TRUE(fs::exists(home.file("cache/a")));
}

TEST(ShellFileOperation, TheTopOfAMountedFileSystemIsNeverEmptied)
{
    // /proc is a file system of its own wherever Linux runs, and nothing
    // in it can be deleted: a refusal is the only way to count zero
    // failures here.
    struct stat proc{}, root{};
    if (::stat("/proc", &proc) != 0 || ::stat("/", &root) != 0 || proc.st_dev == root.st_dev)
        GTEST_SKIP() << "no separate /proc file system";
    ShellFileOperation op;
    op.SetDeleteScope("/proc");
    op.AppendPath(List::Source, "/proc/*.*");
    EXPECT_NE(op.RunDelete(), 0);
    EXPECT_EQ(op.RefusedCount(), 1);
    EXPECT_EQ(op.FailedCount(), 0);
    EXPECT_EQ(op.DeletedCount(), 0);
}

TEST(ShellFileOperation, AFurtherScopeAllowsItsOwnFilesOnly)
{
    Fixture f;
    TempDir working;
    WriteFile(working.file("1/copy.html"), "copy");
    ShellFileOperation op;
    op.SetDeleteScope(f.cache);
    op.AddDeleteScope(working.path());
    op.AppendPath(List::Source, working.file("1/copy.html"));
    op.AppendPath(List::Source, f.outside + "/secret");
    EXPECT_NE(op.RunDelete(), 0);
    EXPECT_EQ(op.DeletedCount(), 1);
    EXPECT_EQ(op.RefusedCount(), 1);
    EXPECT_FALSE(fs::exists(working.file("1/copy.html")));
    EXPECT_TRUE(f.OutsideIntact());
}

} // namespace
} // namespace oriel
