#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "platform/MemoryRegistry.h"
#include "support/TestEnvironment.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {
namespace {

using platform::RootKey;
using test::TempDir;

class OptionStoreTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(OptionStoreTest, AFirstRunGivesEveryDefault)
{
    OptionStore store(dir.file("Oriel.ini"));
    CCacheApp app(store);
    app.GetAppGlobals();
    const AppOptions& o = app.Options();
    EXPECT_EQ(o.useProfiles, 0);
    EXPECT_EQ(o.defaultFileName, "index");
    EXPECT_EQ(o.usePathNames, 1);
    EXPECT_EQ(o.extractNames, 1);
    EXPECT_EQ(o.useServerInPath, 1);
    EXPECT_EQ(o.checkVersionOnStartup, 1);
    EXPECT_EQ(o.fastDelete, 0);
    EXPECT_EQ(o.removeDB, 0);
    EXPECT_EQ(o.deleteOnlyDefault, 0);
    EXPECT_EQ(o.netscapeVersion, 99);
    EXPECT_EQ(store.ReadString("Options", "MessageDumpFile"), "Oriel.log");
    EXPECT_EQ(store.ReadInt("Options", "DecodeStartup"), 1);
    EXPECT_EQ(store.ReadInt("Options", "SortOrder"), 1);
}

TEST_F(OptionStoreTest, EveryTableEntryHasASectionKeyAndTypedDefault)
{
    for (const OptionDef& def : OptionTable()) {
        EXPECT_NE(std::string(def.section), "");
        EXPECT_NE(std::string(def.key), "");
        if (def.type == OptionType::Text) {
            EXPECT_NE(def.textDefault, nullptr) << def.key;
        }
        EXPECT_EQ(FindOption(def.section, def.key), &def);
    }
    EXPECT_NE(FindOption("options", "quickview"), nullptr);
}

TEST_F(OptionStoreTest, KeysIgnoreCase)
{
    OptionStore store(dir.file("Oriel.ini"));
    store.WriteString("Options", "Quickview", "/usr/bin/viewer");
    EXPECT_EQ(store.ReadString("Options", "QuickView", ""), "/usr/bin/viewer");
    store.WriteString("OPTIONS", "QUICKVIEW", "/usr/bin/other");
    EXPECT_EQ(store.ReadString("options", "quickview", ""), "/usr/bin/other");
    // One value, not two spellings.
    std::string ini = test::ReadWholeFile(dir.file("Oriel.ini"));
    EXPECT_EQ(ini.find("QUICKVIEW"), std::string::npos) << ini;
}

TEST_F(OptionStoreTest, ValuesSurviveARestart)
{
    {
        OptionStore store(dir.file("Oriel.ini"));
        store.WriteString("Options", "Quickview", "/opt/view, with comma");
        store.WriteInt("Options", "IgnoreUnsupported", 1);
        store.WriteInt("Window", "Left", -20);
    }
    OptionStore store(dir.file("Oriel.ini"));
    CCacheApp app(store);
    app.GetAppGlobals();
    EXPECT_EQ(app.Options().quickView, "/opt/view, with comma");
    EXPECT_EQ(app.Options().ignoreUnsupported, 0); // every run starts with 0
    EXPECT_EQ(store.ReadInt("Window", "Left", 0), -20);
}

TEST_F(OptionStoreTest, UnreadableIntegersGiveTheirDefault)
{
    test::WriteFile(dir.file("Oriel.ini"), "[Options]\nUsePathNames=abc\nFastDelete=0x1\n");
    OptionStore store(dir.file("Oriel.ini"));
    EXPECT_EQ(store.ReadInt("Options", "UsePathNames", 1), 1);
    EXPECT_EQ(store.ReadInt("Options", "FastDelete", 0), 1);
}

TEST_F(OptionStoreTest, FolderOptionLosesOneTrailingBackslash)
{
    OptionStore store(dir.file("Oriel.ini"));
    store.WriteString("Netscape", "Cache", "C:\\Cache\\");
    CCacheApp app(store);
    app.GetAppGlobals();
    EXPECT_EQ(app.Options().cacheFolder, "C:\\Cache");
}

TEST_F(OptionStoreTest, EmptyFolderOptionFallsBackToNetscapesCacheDir)
{
    auto registry = std::make_shared<platform::MemoryRegistry>();
    registry->SetString(RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Cache", "Cache Dir",
                        "D:\\NS\\Cache\\");
    OptionStore store(dir.file("Oriel.ini"));
    CCacheApp app(store);
    app.Context().SetRegistry(registry);
    app.GetAppGlobals();
    EXPECT_EQ(app.Options().cacheFolder, "D:\\NS\\Cache");
}

TEST_F(OptionStoreTest, NetscapeVersionNumberFromForcedOrInstalledVersion)
{
    auto registry = std::make_shared<platform::MemoryRegistry>();
    registry->SetString(RootKey::LocalMachine, "Software\\Netscape\\Netscape 6", "CurrentVersion", "6.2.3 (en)");
    {
        OptionStore store(dir.file("a.ini"));
        CCacheApp app(store);
        app.Context().SetRegistry(registry);
        app.GetAppGlobals();
        EXPECT_EQ(app.Options().netscapeVersion, 62);
    }
    {
        OptionStore store(dir.file("b.ini"));
        store.WriteString("Options", "ForceNetscapeVersion", "6.1");
        CCacheApp app(store);
        app.Context().SetRegistry(registry);
        app.GetAppGlobals();
        EXPECT_EQ(app.Options().netscapeVersion, 61);
    }
    // Mozilla's key comes first.
    registry->SetString(RootKey::LocalMachine, "Software\\Mozilla\\Mozilla", "CurrentVersion", "1.7");
    OptionStore store(dir.file("c.ini"));
    CCacheApp app(store);
    app.Context().SetRegistry(registry);
    app.GetAppGlobals();
    EXPECT_EQ(app.Options().netscapeVersion, 17);

    EXPECT_EQ(CCacheApp::NetscapeVersionNumber("4.78"), 47);
    EXPECT_EQ(CCacheApp::NetscapeVersionNumber("999"), 99);
    EXPECT_EQ(CCacheApp::NetscapeVersionNumber("6"), 60);
    EXPECT_EQ(CCacheApp::NetscapeVersionNumber(""), 0);
}

TEST_F(OptionStoreTest, ExitSavesTheFiveValues)
{
    {
        OptionStore store(dir.file("Oriel.ini"));
        CCacheApp app(store);
        app.Start();
        app.Options().cacheFolder = "E:\\cache";
        app.Options().defaultFileName = "default";
        app.Options().usePathNames = 0;
        app.Options().extractNames = 0;
        app.Options().useServerInPath = 0;
        app.Options().fastDelete = 1; // not saved at exit
    }
    OptionStore store(dir.file("Oriel.ini"));
    EXPECT_EQ(store.ReadString("Netscape", "Cache", ""), "E:\\cache");
    EXPECT_EQ(store.ReadString("Options", "DefaultFileName", ""), "default");
    EXPECT_EQ(store.ReadInt("Options", "UsePathNames", 1), 0);
    EXPECT_EQ(store.ReadInt("Options", "ExtractNames", 1), 0);
    EXPECT_EQ(store.ReadInt("Options", "UseServerInPath", 1), 0);
    EXPECT_EQ(store.ReadInt("Options", "FastDelete", 7), 7);
}

TEST_F(OptionStoreTest, StartWritesTheFirstLogLinesInOrder)
{
    std::string log = dir.file("trace.log");
    OptionStore store(dir.file("Oriel.ini"));
    store.WriteString("Options", "MessageDumpFile", log);
    {
        CCacheApp app(store);
        app.Start();
    }
    EXPECT_EQ(test::ReadWholeFile(log), "Oriel Log File - executable version 2.8.03\r\n"
                                        "       Netscape Version : \r\n"
                                        "Exit - CCacheApp::GetAppGlobals\r\n");
}

TEST_F(OptionStoreTest, AnOptionsFileAbove16MBIsRefusedAndTheDefaultsUsed)
{
    const std::string file = dir.file("big.ini");
    test::WriteFile(file, "[Options]\nFastDelete=1\nDefaultFileName=mine\n");
    ASSERT_EQ(::truncate(file.c_str(), off_t(OptionStore::kMaxFileSize) + 1), 0); // sparse: nothing is written
    const auto before = std::filesystem::last_write_time(file);
    {
        OptionStore store(file);
        EXPECT_EQ(store.RefusalReason(),
                  "The options file is larger than 16 MB, so it is not read and the defaults are used: " + file);
        EXPECT_EQ(store.ReadInt("Options", "FastDelete"), 0);
        EXPECT_EQ(store.ReadString("Options", "DefaultFileName"), "index");
        store.WriteInt("Options", "FastDelete", 1);
        EXPECT_EQ(store.ReadInt("Options", "FastDelete"), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(file), OptionStore::kMaxFileSize + 1);
    EXPECT_EQ(std::filesystem::last_write_time(file), before);

    // At the limit the file is read.
    ASSERT_EQ(::truncate(file.c_str(), off_t(OptionStore::kMaxFileSize)), 0);
    OptionStore store(file);
    EXPECT_EQ(store.RefusalReason(), "");
    EXPECT_EQ(store.ReadString("Options", "DefaultFileName"), "mine");
}

// Runs `work` on a thread of its own; when it has not ended after a few
// seconds (blocked opening `fifo`), a writer is opened on the FIFO to let
// it go, and the test fails.
template <typename Work>
void ExpectNotBlockedBy(const std::string& fifo, Work work)
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "blocked on the FIFO " << fifo;
        int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    done.wait();
}

TEST_F(OptionStoreTest, AFifoAsTheOptionsFileOrTheLogIsNeverOpened)
{
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectNotBlockedBy(fifo, [&] {
        OptionStore store(fifo);
        EXPECT_EQ(store.RefusalReason(),
                  "The options file is not a plain file, so it is not read and the defaults are used: " + fifo);
        EXPECT_EQ(store.ReadInt("Options", "UsePathNames"), 1);
        store.WriteInt("Options", "UsePathNames", 0);
    });

    OptionStore store(dir.file("Oriel.ini"));
    store.WriteString("Options", "MessageDumpFile", fifo);
    ExpectNotBlockedBy(fifo, [&] {
        CTraceLog log(store);
        EXPECT_FALSE(log.IsEnabled());
        log.Write("nowhere");
    });
    ExpectNotBlockedBy(fifo, [&] {
        CTraceLog log(store, CTraceLog::Writing::Buffered);
        EXPECT_FALSE(log.IsEnabled());
    });
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(CommandLine, EmptySwitchIsFoundAnywhereInAnyCase)
{
    EXPECT_TRUE(CCacheApp::HasEmptySwitch("/empty"));
    EXPECT_TRUE(CCacheApp::HasEmptySwitch("file.txt /EmPtY"));
    EXPECT_TRUE(CCacheApp::HasEmptySwitch("/EMPTYING"));
    EXPECT_FALSE(CCacheApp::HasEmptySwitch("C:\\empty\\file"));
    EXPECT_FALSE(CCacheApp::HasEmptySwitch(""));
}

} // namespace
} // namespace oriel
