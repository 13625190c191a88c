#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

namespace oriel {
namespace {

using test::TempDir;

class TraceLogTest : public ::testing::Test {
protected:
    void UseLogOption(const std::string& value)
    {
        test::WriteFile(dir.file("Oriel.ini"), "");
        OptionStore::SetInstanceFile(dir.file("Oriel.ini"));
        OptionStore::Instance().WriteString("Options", "MessageDumpFile", value);
        CTraceLog::Destroy();
    }
    void TearDown() override
    {
        OptionStore::Instance().WriteString("Options", "MessageDumpFile", "");
        CTraceLog::Destroy();
    }
    TempDir dir;
};

TEST_F(TraceLogTest, EmptyFileNameTurnsTheLogOff)
{
    UseLogOption("");
    CTraceLog::Get().Write("nothing");
    EXPECT_FALSE(CTraceLog::Get().IsEnabled());
    EXPECT_FALSE(std::filesystem::exists(dir.file("Oriel.log")));
}

TEST_F(TraceLogTest, LinesEndInCrLfIncludingLineFeedsInsideTheText)
{
    UseLogOption(dir.file("t.log"));
    Trace("Entry - CCache::Decode()");
    Trace("a\nb");
    EXPECT_EQ(test::ReadWholeFile(dir.file("t.log")), "Entry - CCache::Decode()\r\na\r\nb\r\n");
}

TEST_F(TraceLogTest, CreationTruncatesTheEarlierRunsLines)
{
    UseLogOption(dir.file("t.log"));
    Trace("first run");
    CTraceLog::Destroy();
    Trace("second run");
    EXPECT_EQ(test::ReadWholeFile(dir.file("t.log")), "second run\r\n");
}

TEST_F(TraceLogTest, WriteBytesKeepsZeroBytesAndTranslatesLineFeeds)
{
    UseLogOption(dir.file("t.log"));
    const char data[] = {'a', '\0', 'b', '\n', 'c'};
    CTraceLog::Get().WriteBytes(data, sizeof data);
    EXPECT_EQ(test::ReadWholeFile(dir.file("t.log")), std::string("a\0b\r\nc\r\n", 8));
}

TEST_F(TraceLogTest, ConcurrentWritersProduceOnlyWholeLines)
{
    UseLogOption(dir.file("t.log"));
    CTraceLog::Get();
    auto writer = [](char c) {
        for (int i = 0; i < 200; ++i)
            Trace(std::string(100, c));
    };
    std::thread t1(writer, 'x'), t2(writer, 'y');
    t1.join();
    t2.join();
    std::istringstream in(test::ReadWholeFile(dir.file("t.log")));
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        ASSERT_TRUE(line == std::string(100, 'x') + "\r" || line == std::string(100, 'y') + "\r") << line;
    }
    EXPECT_EQ(lines, 400);
}

TEST_F(TraceLogTest, RelativeNamesGoToTheStateFolderNotTheCurrentFolder)
{
    setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(CTraceLog::ResolveLogFileName("Oriel.log"), dir.path() + "/Oriel/Oriel.log");
    EXPECT_EQ(CTraceLog::ResolveLogFileName("/var/log/o.log"), "/var/log/o.log");
    unsetenv("XDG_STATE_HOME");
}

TEST_F(TraceLogTest, AnUncreatableFileDisablesTheLogSilently)
{
    UseLogOption(dir.file("no/such/folder/t.log"));
    Trace("x");
    EXPECT_FALSE(CTraceLog::Get().IsEnabled());
}

} // namespace
} // namespace oriel
