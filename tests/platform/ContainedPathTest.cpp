// Examined files are opened inside their container: links that stay inside
// are followed, links that leave it (or are absolute, or lead to /proc) are
// treated as missing, with the reason.
#include "platform/ContainedPath.h"
#include "platform/ByteSource.h"
#include "platform/FileSystem.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace oriel::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::optional<std::string> Read(const std::string& path, std::string* problem = nullptr)
{
    return ReadFile(path, UINT64_MAX, problem);
}

size_t OpenDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

class ContainedPathTest : public testing::Test {
protected:
    ContainedPathTest()
    {
        fs::create_directories(dir_.file("box/sub"));
        fs::create_directories(dir_.file("host"));
        test::WriteFile(dir_.file("box/sub/body"), "inside");
        test::WriteFile(dir_.file("host/secret"), "outside");
        box_ = dir_.file("box");
        registration_ = RegisterContainer(box_);
    }
    void Link(const std::string& target, const std::string& at) { fs::create_symlink(target, dir_.file(at)); }

    TempDir dir_;
    std::string box_;
    std::shared_ptr<ContainerRegistration> registration_;
};

TEST_F(ContainedPathTest, RemovalAndReadWriteOpensNeverReachOutside)
{
    Link("sub/body", "box/inner-link");
    Link(dir_.file("host/secret"), "box/absolute");
    Link("../../host/secret", "box/sub/leaving");
    Link("../host", "box/out");
    test::WriteFile(box_ + "/sub/other", "other");
    // Links that lead out: nothing is opened for writing or removed, the
    // link stays, and the reason is a refused link.
    for (const char* name : {"absolute", "sub/leaving", "out/secret"}) {
        SCOPED_TRACE(name);
        std::string problem;
        EXPECT_FALSE(OpenContained(box_ + "/" + name, OpenAs::ReadWrite, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
        problem.clear();
        EXPECT_FALSE(RemoveContained(box_ + "/" + name, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(box_ + "/" + name)) || fs::is_symlink(box_ + "/out"));
    }
    EXPECT_EQ(Read(dir_.file("host/secret")), "outside");
    // A folder is never removed.
    EXPECT_FALSE(RemoveContained(box_ + "/sub"));
    EXPECT_TRUE(fs::is_directory(box_ + "/sub"));
    // A file inside opens for writing, and is removed under any case of its name.
    {
        UniqueFd fd = OpenContained(box_ + "/SUB/OTHER", OpenAs::ReadWrite);
        ASSERT_TRUE(fd);
        EXPECT_EQ(::pwrite(fd.Get(), "O", 1, 0), 1);
    }
    EXPECT_EQ(Read(box_ + "/sub/other"), "Other");
    EXPECT_TRUE(RemoveContained(box_ + "/SUB/OTHER"));
    EXPECT_FALSE(fs::exists(box_ + "/sub/other"));
    // A link that stays inside is removed itself, its target kept.
    EXPECT_TRUE(RemoveContained(box_ + "/inner-link"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(box_ + "/inner-link")));
    EXPECT_EQ(Read(box_ + "/sub/body"), "inside");
}

TEST_F(ContainedPathTest, LinksThatStayInsideAreFollowed)
{
    Link("sub/body", "box/a");
    Link("../sub/body", "box/sub/b");
    Link("sub", "box/d");
    Link("./d/../a", "box/chain"); // a link through a link
    for (const char* name : {"a", "sub/b", "d/body", "chain", "SUB/BODY", "d/../sub/body"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Read(box_ + "/" + name), "inside");
        auto attributes = GetFileAttributes(box_ + "/" + name);
        ASSERT_TRUE(attributes);
        EXPECT_TRUE(attributes->isRegular);
    }
    auto listed = ListFolder(box_ + "/d");
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ((*listed)[0].name, "b");
    EXPECT_EQ((*listed)[1].name, "body");
}

TEST_F(ContainedPathTest, LinksThatLeaveAreMissingWithTheReason)
{
    Link("../host/secret", "box/rel");
    Link("../../host", "box/sub/dir");
    Link(dir_.file("box/sub/body"), "box/abs"); // absolute, even though it lands inside
    Link("/proc/self/environ", "box/env");
    Link("loop2", "box/loop1");
    Link("loop1", "box/loop2");
    Link("../box/sub/body", "box/outandback"); // leaves on the way
    for (const char* name : {"rel", "sub/dir/secret", "abs", "env", "loop1", "outandback", "../host/secret"}) {
        SCOPED_TRACE(name);
        const std::string path = box_ + "/" + name;
        std::string problem;
        EXPECT_FALSE(Read(path, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
        std::string resolved;
        problem.clear();
        EXPECT_FALSE(GetFileAttributes(path, resolved, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
        EXPECT_FALSE(FileRange{path}.Open());
        EXPECT_FALSE(OpenContained(path, OpenAs::Inspect));
    }
    EXPECT_FALSE(ListFolder(box_ + "/sub/dir"));
    // A missing file is only missing.
    std::string problem;
    EXPECT_FALSE(Read(box_ + "/none", &problem));
    EXPECT_FALSE(IsContainmentProblem(problem)) << problem;
}

TEST_F(ContainedPathTest, RefusalsAreTraced)
{
    Link("../host/secret", "box/rel");
    std::vector<std::string> traced;
    SetContainmentTrace([&](std::string_view text) { traced.emplace_back(text); });
    EXPECT_FALSE(Read(box_ + "/rel"));
    EXPECT_TRUE(Read(box_ + "/sub/body"));
    SetContainmentTrace(nullptr);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_NE(traced[0].find(box_ + "/rel"), std::string::npos) << traced[0];
}

TEST_F(ContainedPathTest, TheOutermostContainerHoldsAndEndsWithItsRegistration)
{
    // A cache folder inside an examined root: links may lead anywhere in the root.
    Link("../../host/secret", "box/sub/up");
    auto root = RegisterContainer(dir_.path());
    EXPECT_EQ(ContainerOf(box_ + "/sub/up"), dir_.path());
    EXPECT_EQ(Read(box_ + "/sub/up"), "outside");
    root.reset();
    EXPECT_EQ(ContainerOf(box_ + "/sub/up"), box_);
    EXPECT_FALSE(Read(box_ + "/sub/up"));
    // Outside every container a path is opened as the host resolves it.
    registration_.reset();
    EXPECT_FALSE(ContainerOf(box_ + "/sub/up"));
    EXPECT_EQ(Read(box_ + "/sub/up"), "outside");
}

// Folders already walked are kept open for the next look-up in them.
TEST_F(ContainedPathTest, AFolderSwappedForALinkAfterUseIsNotFollowed)
{
    test::WriteFile(dir_.file("host/body"), "outside");
    ASSERT_EQ(Read(box_ + "/sub/body"), "inside"); // the walk has verified box/sub
    ASSERT_TRUE(GetFileAttributes(box_ + "/sub/body"));
    fs::rename(dir_.file("box/sub"), dir_.file("box/old"));
    Link(dir_.file("host"), "box/sub");
    for (const char* name : {"sub/body", "sub/secret"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(Read(box_ + "/" + name), "outside");
        std::string resolved;
        auto found = GetFileAttributes(box_ + "/" + name, resolved);
        EXPECT_TRUE(!found || found->size == 6u); // "inside", kept in the verified folder
    }
    std::string problem;
    EXPECT_FALSE(Read(box_ + "/sub/secret", &problem));
    EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
    auto attributes = GetFileAttributes(box_ + "/sub/secret");
    EXPECT_FALSE(attributes);

    // Once the verified folder is gone, every look-up through the name meets the link.
    fs::remove_all(dir_.file("box/old"));
    for (const char* name : {"sub/body", "sub/secret"}) {
        SCOPED_TRACE(name);
        problem.clear();
        EXPECT_FALSE(Read(box_ + "/" + name, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
        std::string resolved;
        problem.clear();
        EXPECT_FALSE(GetFileAttributes(box_ + "/" + name, resolved, &problem));
        EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
    }
    // A real folder put back under the name is found again.
    fs::remove(dir_.file("box/sub"));
    fs::create_directories(dir_.file("box/sub"));
    test::WriteFile(dir_.file("box/sub/body"), "again");
    EXPECT_EQ(Read(box_ + "/sub/body"), "again");
    EXPECT_TRUE(GetFileAttributes(box_ + "/sub/body"));
}

TEST_F(ContainedPathTest, KeptFoldersCloseWithTheirContainerAndStayBounded)
{
    registration_.reset();
    const size_t before = OpenDescriptors();
    auto box = RegisterContainer(box_);
    for (int i = 0; i < 300; ++i) {
        const std::string folder = "box/f" + std::to_string(i) + "/g";
        fs::create_directories(dir_.file(folder));
        test::WriteFile(dir_.file(folder + "/body"), std::to_string(i));
    }
    // Many threads walking many folders at once read each its own file.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (int i = t; i < 300; i += 2) {
                    const std::string path = box_ + "/f" + std::to_string(i) + "/g/body";
                    if (Read(path) != std::to_string(i) || !GetFileAttributes(path))
                        ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    const size_t kept = OpenDescriptors() - before;
    EXPECT_GT(kept, 0u);    // walked folders are kept
    EXPECT_LE(kept, 65u);   // but no more than a container may keep (and its own)
    box.reset();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ContainedPathTest, NothingUnderProcIsReadEvenFromAContainerThatHoldsIt)
{
    auto everything = RegisterContainer("/");
    std::string up;
    for (size_t depth = std::count(box_.begin(), box_.end(), '/'); depth > 0; --depth)
        up += "../";
    Link(up + "proc/self/environ", "box/env");
    std::string problem;
    EXPECT_FALSE(Read(box_ + "/env", &problem));
    EXPECT_TRUE(IsContainmentProblem(problem)) << problem;
    EXPECT_FALSE(Read("/proc/self/environ"));
    EXPECT_FALSE(ListFolder("/dev"));
}

TEST_F(ContainedPathTest, FifosAndDevicesAreNeverOpened)
{
    ASSERT_EQ(::mkfifo(dir_.file("box/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(Read(box_ + "/fifo")); // would block if it were opened
    EXPECT_FALSE(FileRange{box_ + "/fifo"}.Open());
    auto attributes = GetFileAttributes(box_ + "/fifo");
    ASSERT_TRUE(attributes);
    EXPECT_FALSE(attributes->isRegular);
}

} // namespace
} // namespace oriel::platform
