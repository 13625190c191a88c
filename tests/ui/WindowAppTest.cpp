// The window's command line: "oriel FOLDER" (as a desktop entry's
// "oriel %f" passes it) examines that folder alone for the run and leaves
// the stored cache folder and display mode as they were.
#include "ui/WindowApp.h"

#include "UiTestSupport.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <filesystem>

using namespace oriel;
using namespace oriel::test;

namespace {

WindowArguments Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "oriel");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return ParseWindowArguments(int(args.size()), argv.data());
}

void StoreStartOptions(const std::string& folder, int mode)
{
    OptionStore::Instance().WriteString("Netscape", "Cache", folder);
    OptionStore::Instance().WriteInt("Netscape", "UseProfiles", mode);
}

} // namespace

class WindowAppTest : public QObject {
    Q_OBJECT

private slots:
    void ArgumentsSplitIntoFolderAndSwitches_data();
    void ArgumentsSplitIntoFolderAndSwitches();
    void FolderArgumentIsExaminedAloneForTheRun();
    void StoredFolderAndModeComeBackAfterTheRun();
    void FolderChosenDuringTheRunIsKept();
};

void WindowAppTest::ArgumentsSplitIntoFolderAndSwitches_data()
{
    QTest::addColumn<QStringList>("args");    // "@" stands for the temp folder
    QTest::addColumn<QString>("folder");      // expected, "@" likewise
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("emptyRun");

    QTest::newRow("none") << QStringList{} << "" << "" << false;
    QTest::newRow("a folder") << QStringList{"@/cache"} << "@/cache" << "" << false;
    QTest::newRow("the empty switch") << QStringList{"/EMPTY"} << "" << "/EMPTY" << true;
    QTest::newRow("a folder named empty is no switch") << QStringList{"@/empty"} << "@/empty" << "" << false;
    QTest::newRow("a file: its folder") << QStringList{"@/cache/index.dat"} << "@/cache" << "" << false;
    QTest::newRow("a missing path stays a switch")
        << QStringList{"@/nowhere", "@/cache"} << "@/cache" << "@/nowhere" << false;
    QTest::newRow("the first folder only") << QStringList{"@/cache", "@/empty"} << "@/cache" << "" << false;
    QTest::newRow("switch and folder") << QStringList{"/empty", "@/cache"} << "@/cache" << "/empty" << true;
}

void WindowAppTest::ArgumentsSplitIntoFolderAndSwitches()
{
    QFETCH(QStringList, args);
    QFETCH(QString, folder);
    QFETCH(QString, commandLine);
    QFETCH(bool, emptyRun);

    TempDir dir;
    WriteFile(dir.file("cache/index.dat"), "x");
    std::filesystem::create_directories(dir.file("empty"));
    const QString root = QString::fromStdString(dir.path());
    std::vector<std::string> argv;
    for (const QString& arg : args)
        argv.push_back(QString(arg).replace("@", root).toStdString());

    const WindowArguments parsed = Parse(argv);
    QCOMPARE(QString::fromStdString(parsed.folder), QString(folder).replace("@", root));
    QCOMPARE(QString::fromStdString(parsed.commandLine), QString(commandLine).replace("@", root));
    QCOMPARE(CCacheApp::HasEmptySwitch(parsed.commandLine), emptyRun);
}

void WindowAppTest::FolderArgumentIsExaminedAloneForTheRun()
{
    TempDir dir;
    const std::string cache = dir.file("Temporary Internet Files/Content.IE5");
    WriteSyntheticIndexDatCache(cache, SynthOptions{.entries = 3, .seed = 1, .bodies = true, .layout = "", .mapVersion = "new"});
    StoreStartOptions("/stored/cache", CBrowserSettings::kModeAllBrowsers);

    // A relative folder is made absolute.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    const WindowArguments parsed = Parse({"Temporary Internet Files/Content.IE5"});
    QDir::setCurrent(previous);
    QCOMPARE(parsed.folder, cache);

    CCacheApp app(OptionStore::Instance());
    app.Start();
    FolderOnlyRun run(app, parsed.folder);
    QCOMPARE(app.Options().cacheFolder, cache);
    QCOMPARE(app.Options().useProfiles, CBrowserSettings::kModeFolderOnly);
    CBrowserSettings settings(app.Context(), FormatCatalog());
    QCOMPARE(settings.GetCount(), 1);
    // The one profile reads that folder's cache.
    QVERIFY(settings.GetProfile(0)->cache != nullptr);
    QCOMPARE(QString::fromStdString(settings.GetProfile(0)->cache->GetFolder()), QString::fromStdString(cache));
}

void WindowAppTest::StoredFolderAndModeComeBackAfterTheRun()
{
    TempDir dir;
    StoreStartOptions("/stored/cache", CBrowserSettings::kModeIEOnly);
    {
        CCacheApp app(OptionStore::Instance());
        app.Start();
        {
            FolderOnlyRun run(app, dir.path());
            QCOMPARE(app.Options().cacheFolder, dir.path());
        }
        QCOMPARE(app.Options().cacheFolder, std::string("/stored/cache"));
        QCOMPARE(app.Options().useProfiles, CBrowserSettings::kModeIEOnly);
    } // the exit options are saved here
    QCOMPARE(OptionStore::Instance().ReadString("Netscape", "Cache"), std::string("/stored/cache"));
    QCOMPARE(OptionStore::Instance().ReadInt("Netscape", "UseProfiles", -1), CBrowserSettings::kModeIEOnly);
}

void WindowAppTest::FolderChosenDuringTheRunIsKept()
{
    TempDir dir;
    StoreStartOptions("/stored/cache", CBrowserSettings::kModeAllBrowsers);
    {
        CCacheApp app(OptionStore::Instance());
        app.Start();
        FolderOnlyRun run(app, dir.path());
        // As the options dialog would: another folder, every browser.
        app.Options().cacheFolder = "/chosen/cache";
        app.Options().useProfiles = CBrowserSettings::kModeAllBrowsers;
    }
    QCOMPARE(OptionStore::Instance().ReadString("Netscape", "Cache"), std::string("/chosen/cache"));
}

ORIEL_UI_TEST_MAIN(WindowAppTest)
#include "WindowAppTest.moc"
