#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace oriel {
namespace {

using test::TempDir;

class TraceLogTest : public ::testing::Test {
protected:
    // A new log over an option store whose "MessageDumpFile" is `value`.
    void UseLogOption(const std::string& value)
    {
        test::WriteFile(dir.file("Oriel.ini"), "");
        store = std::make_unique<OptionStore>(dir.file("Oriel.ini"));
        store->WriteString("Options", "MessageDumpFile", value);
        NewLog();
    }
    void NewLog()
    {
        log.reset();
        log = std::make_unique<CTraceLog>(*store);
    }
    void Trace(const std::string& text) { log->Write(text); }
    TempDir dir;
    std::unique_ptr<OptionStore> store;
    std::unique_ptr<CTraceLog> log;
};

TEST_F(TraceLogTest, EmptyFileNameTurnsTheLogOff)
{
    UseLogOption("");
    log->Write("nothing");
    EXPECT_FALSE(log->IsEnabled());
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
    NewLog();
    Trace("second run");
    EXPECT_EQ(test::ReadWholeFile(dir.file("t.log")), "second run\r\n");
}

TEST_F(TraceLogTest, WriteBytesKeepsZeroBytesAndTranslatesLineFeeds)
{
    UseLogOption(dir.file("t.log"));
    const char data[] = {'a', '\0', 'b', '\n', 'c'};
    log->WriteBytes(data, sizeof data);
    EXPECT_EQ(test::ReadWholeFile(dir.file("t.log")), std::string("a\0b\r\nc\r\n", 8));
}

TEST_F(TraceLogTest, ConcurrentWritersProduceOnlyWholeLines)
{
    UseLogOption(dir.file("t.log"));
    auto writer = [this](char c) {
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
    const test::EnvironmentFor state({{"XDG_STATE_HOME", dir.path()}});
    EXPECT_EQ(CTraceLog::ResolveLogFileName("Oriel.log"), dir.path() + "/Oriel/Oriel.log");
    EXPECT_EQ(CTraceLog::ResolveLogFileName("/var/log/o.log"), "/var/log/o.log");
}

TEST_F(TraceLogTest, AnUncreatableFileDisablesTheLogSilently)
{
    UseLogOption(dir.file("no/such/folder/t.log"));
    Trace("x");
    EXPECT_FALSE(log->IsEnabled());
}

} // namespace
} // namespace oriel
