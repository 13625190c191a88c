// The window's command line beyond a folder: "--root DIR [--user NAME]"
// examines that system for the run (the stored options stay), "--help",
// and the arguments it refuses; a whole run of "oriel --root" over a
// synthesized Windows tree.
#include "ui/WindowApp.h"

#include "UiTestSupport.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/SystemSetup.h"
#include "model/BrowserSettings.h"
#include "support/IndexDatWriter.h"
#include "support/WindowsTreeWriter.h"
#include "ui/CacheTreeView.h"

#include <QTimer>

#include <algorithm>

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

// What the window of a run shows, looked at as soon as it is up; then the
// window is closed and the run ends.
struct Seen {
    QString title;
    QStringList folders;
    bool found = false;
};

Seen RunAndLook(const WindowArguments& arguments)
{
    Seen seen;
    QTimer::singleShot(0, [&seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* frame = qobject_cast<CCacheFrame*>(widget);
            if (!frame || !frame->isVisible())
                continue;
            seen.found = true;
            seen.title = frame->windowTitle();
            for (int i = 0; i < frame->Document().GetCount(); ++i) {
                BrowserProfile* profile = frame->Document().GetProfile(i);
                if (profile && profile->cache)
                    seen.folders << QString::fromStdString(profile->cache->GetFolder());
            }
            frame->close();
        }
        if (!seen.found)
            QApplication::quit();
    });
    CCacheApp app(OptionStore::Instance());
    RunOriel(app, arguments);
    return seen;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void RootAndUserAreTakenWithTheirValues();
    void BadArgumentsAreRefused();
    void HelpNamesEveryArgument();
    void RootExaminesThatSystemForTheRunOnly();
};

void CommandLineTest::init()
{
    OptionStore& store = OptionStore::Instance();
    store.WriteInt("Options", "DecodeStartup", 0);
    store.WriteInt("Options", "CheckVersionOnStartup", 0);
}

void CommandLineTest::RootAndUserAreTakenWithTheirValues()
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("win/Users"));
    WriteFile(dir.file("cache/index.dat"), "x");
    const WindowArguments parsed = Parse({"--root", dir.file("win"), "--user", "Jane", dir.file("cache"), "/empty"});
    QVERIFY2(parsed.error.empty(), parsed.error.c_str());
    QCOMPARE(parsed.root, dir.file("win"));
    QCOMPARE(parsed.user, std::string("Jane"));
    QCOMPARE(parsed.folder, dir.file("cache"));
    QCOMPARE(parsed.commandLine, std::string("/empty")); // /EMPTY keeps its meaning
    QVERIFY(!parsed.help);
    // A folder named like the user is the user's value, not a folder.
    QVERIFY(Parse({"--root", dir.file("win"), "--user", dir.file("cache")}).folder.empty());
    QVERIFY(Parse({"--help"}).help);
    QVERIFY(Parse({"-h"}).help);
}

void CommandLineTest::BadArgumentsAreRefused()
{
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"--root"}, "--root needs a value"},
        {{"--user", "Jane"}, "--user needs --root"},
        {{"--root", dir.file("nowhere")}, "--root: no such folder: "},
        {{"--bogus"}, "unknown option --bogus"},
    };
    for (const Case& test : cases) {
        const WindowArguments parsed = Parse(test.args);
        QVERIFY2(parsed.error.rfind(test.error, 0) == 0, parsed.error.c_str());
    }
}

void CommandLineTest::HelpNamesEveryArgument()
{
    const std::string usage = WindowUsage();
    for (const char* word : {"--root DIR", "--user NAME", "FOLDER", "/EMPTY", "--help"})
        QVERIFY2(usage.find(word) != std::string::npos, word);
    QCOMPARE(usage.rfind("usage: oriel ", 0), size_t(0));
}

void CommandLineTest::RootExaminesThatSystemForTheRunOnly()
{
    TempDir dir;
    WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
    // Each user's cache named by the user's own folders (not the machine's
    // cache path, which names the first user's).
    tree.setCachePathsDirectory(false);
    tree.addUser("Jane").addUser("Tom");
    tree.addIEEntry("Tom", {.url = "http://tom.example/b.html", .fileName = "b[1].html", .body = "<p>tom</p>"});
    tree.write(dir.file("image"));
    const std::string other = dir.file("other/Content.IE5");
    WriteSyntheticIndexDatCache(other, SynthOptions{.entries = 2, .seed = 4, .bodies = true, .layout = "", .mapVersion = "new"});
    // The stored options show another folder alone.
    OptionStore& store = OptionStore::Instance();
    WriteSystemOptions(store, {});
    store.WriteString("Netscape", "Cache", other);
    store.WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeFolderOnly);

    const std::string tomsFolder = dir.file("image") + "/" + tree.profileFolder("Tom") + "/";
    Seen seen = RunAndLook(Parse({"--root", dir.file("image"), "--user", "Tom"}));
    QVERIFY(seen.found);
    QVERIFY2(std::any_of(seen.folders.begin(), seen.folders.end(),
                         [&](const QString& f) { return f.startsWith(QString::fromStdString(tomsFolder)); }),
             qPrintable(seen.folders.join(", ")));
    QVERIFY(!seen.folders.contains(QString::fromStdString(other)));
    QVERIFY2(seen.title.endsWith(QString::fromStdString(dir.file("image")) + " (user Tom)"), qPrintable(seen.title));
    // Nothing of it was stored.
    QCOMPARE(store.ReadString("System", "Root", ""), std::string());
    QCOMPARE(store.ReadInt("Netscape", "UseProfiles", -1), CBrowserSettings::kModeFolderOnly);
    QCOMPARE(store.ReadString("Netscape", "Cache", ""), other);

    // With a folder named too, the folder alone.
    seen = RunAndLook(Parse({"--root", dir.file("image"), other}));
    QCOMPARE(seen.folders, QStringList{QString::fromStdString(other)});
    QVERIFY(seen.title.endsWith(QString::fromStdString(other)));
}

ORIEL_UI_TEST_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
