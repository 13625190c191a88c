// "Oriel Options": the values it opens with, the enabling rules, the two
// pickers, what OK writes, and the profile rebuild that only the display
// choice or the folder brings, in the dialog alone and through the window's
// command.
#include "ui/dialogs/OptionsDialog.h"

#include "DialogShots.h"
#include "UiTestSupport.h"
#include "app/AppOptions.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "support/IndexDatWriter.h"
#include "ui/CacheFrame.h"
#include "ui/CacheTreeView.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

using namespace oriel;
using namespace oriel::test;

namespace {

template <typename T>
T* Child(QWidget& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no control %s", name);
    return child;
}

QCheckBox* Box(QWidget& dialog, const char* name)
{
    return Child<QCheckBox>(dialog, name);
}

// Runs `act` on the modal dialog as soon as it is shown.
void OnModal(std::function<void(COptionsDlg&)> act)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<COptionsDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            qFatal("no options dialog");
        act(*dialog);
    });
}

} // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void ControlsOpenWithTheOptionsAndFollowTheEnablingRules();
    void OkWritesEveryOptionAndTheProgramAsQuickview();
    void OnlyTheDisplayChoiceOrTheFolderRebuilds();
    void CancelChangesNothing();
    void PickersFillTheirFieldsAndACancelledOneLeavesThem();
    void TheProgramPickerListsWhatCanRunWhateverItsName();
    void TheCommandRebuildsTheTreeOnlyForANewDisplayChoice();
    void QuickViewWithoutAProgramFallsBackToOpenFile();
};

void OptionsDialogTest::ControlsOpenWithTheOptionsAndFollowTheEnablingRules()
{
    AppOptions options;
    options.useProfiles = 1;
    options.cacheFolder = "/evidence/cache";
    options.quickView = "/usr/bin/viewer";
    options.fastDelete = 1;
    OptionStore::Instance().WriteInt("Options", "DecodeStartup", 0);
    COptionsDlg dialog(options, OptionStore::Instance(), 1, {});
    SaveShot(dialog, QStringLiteral("options-dialog"));

    QCOMPARE(dialog.windowTitle(), QString("Oriel Options"));
    QVERIFY(Child<QRadioButton>(dialog, "openUrl")->isChecked());
    QVERIFY(Child<QRadioButton>(dialog, "showIEOnly")->isChecked());
    QCOMPARE(Child<QLineEdit>(dialog, "programPath")->text(), QString("/usr/bin/viewer"));
    QCOMPARE(Child<QLineEdit>(dialog, "cacheFolder")->text(), QString("/evidence/cache"));
    QVERIFY(!Box(dialog, "decodeStartup")->isChecked()); // from the store
    QVERIFY(Box(dialog, "checkVersion")->isChecked());

    // The folder and its Browse only for "in this folder".
    QVERIFY(!Child<QLineEdit>(dialog, "cacheFolder")->isEnabled());
    QVERIFY(!Child<QPushButton>(dialog, "folderBrowse")->isEnabled());
    Child<QRadioButton>(dialog, "showFolder")->click();
    QVERIFY(Child<QLineEdit>(dialog, "cacheFolder")->isEnabled());
    QVERIFY(Child<QPushButton>(dialog, "folderBrowse")->isEnabled());
    Child<QRadioButton>(dialog, "showAllBrowsers")->click();
    QVERIFY(!Child<QLineEdit>(dialog, "cacheFolder")->isEnabled());

    // Without original file names, neither paths nor the server name.
    QVERIFY(Box(dialog, "extractNames")->isEnabled());
    QVERIFY(Box(dialog, "useServerInPath")->isEnabled());
    Box(dialog, "usePathNames")->click();
    QVERIFY(!Box(dialog, "extractNames")->isEnabled());
    QVERIFY(!Box(dialog, "useServerInPath")->isEnabled());
    Box(dialog, "usePathNames")->click();
    QVERIFY(Box(dialog, "extractNames")->isEnabled());
    QVERIFY(Box(dialog, "useServerInPath")->isEnabled());

    // The database files are kept or not only when emptying item by item.
    QVERIFY(!Box(dialog, "removeDB")->isEnabled());
    Box(dialog, "fastDelete")->click();
    QVERIFY(Box(dialog, "removeDB")->isEnabled());
}

void OptionsDialogTest::OkWritesEveryOptionAndTheProgramAsQuickview()
{
    OptionStore& store = OptionStore::Instance();
    store.WriteString("Options", "QuickView", "/old/viewer");
    store.WriteInt("Options", "DecodeStartup", 1);
    AppOptions options; // the defaults of a first run
    COptionsDlg dialog(options, store, 0, {});
    Child<QRadioButton>(dialog, "openWithProgram")->click();
    Child<QLineEdit>(dialog, "programPath")->setText("/opt/hexview/bin/hexview");
    for (const char* name : {"checkVersion", "decodeStartup", "usePathNames", "fastDelete", "deleteOnlyDefault",
                             "ignoreUnsupported"})
        Box(dialog, name)->click();
    dialog.accept();

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.DefaultAction(), 2);
    QCOMPARE(store.ReadInt("Options", "DefaultAction", -1), 2);
    // "Quickview" and "QuickView" are one value.
    QCOMPARE(store.ReadString("Options", "QuickView", ""), std::string("/opt/hexview/bin/hexview"));
    QCOMPARE(options.quickView, std::string("/opt/hexview/bin/hexview"));
    const std::pair<const char*, int> written[] = {
        {"UsePathNames", 0}, {"ExtractNames", 1},          {"UseServerInPath", 1},
        {"RemoveDB", 0},     {"FastDelete", 1},            {"CheckVersionOnStartup", 0},
        {"DecodeStartup", 0}, {"DeleteOnlyDefault", 1},    {"IgnoreUnsupported", 1},
    };
    for (const auto& [key, value] : written)
        QVERIFY2(store.ReadInt("Options", key, -1) == value, key);
    QCOMPARE(options.usePathNames, 0);
    QCOMPARE(options.fastDelete, 1);
    QCOMPARE(options.checkVersionOnStartup, 0);
    QCOMPARE(options.deleteOnlyDefault, 1);
    QCOMPARE(options.ignoreUnsupported, 1);
    QCOMPARE(store.ReadInt("Netscape", "UseProfiles", -1), 0);
}

void OptionsDialogTest::OnlyTheDisplayChoiceOrTheFolderRebuilds()
{
    struct Case {
        const char* what;
        std::function<void(COptionsDlg&)> change;
        bool rebuilds;
        std::string folderAfter;
    };
    const Case cases[] = {
        {"the version check alone", [](COptionsDlg& d) { Box(d, "checkVersion")->click(); }, false, "/cache"},
        {"the copy options alone", [](COptionsDlg& d) { Box(d, "usePathNames")->click(); }, false, "/cache"},
        {"a trailing separator only", [](COptionsDlg& d) { Child<QLineEdit>(d, "cacheFolder")->setText("/cache/"); },
         false, "/cache"},
        {"the display choice", [](COptionsDlg& d) { Child<QRadioButton>(d, "showAllBrowsers")->click(); }, true,
         "/cache"},
        {"another folder", [](COptionsDlg& d) { Child<QLineEdit>(d, "cacheFolder")->setText("/other\\"); }, true,
         "/other"},
        {"the folder in another case", [](COptionsDlg& d) { Child<QLineEdit>(d, "cacheFolder")->setText("/CACHE"); },
         true, "/CACHE"},
    };
    for (const Case& test : cases) {
        AppOptions options;
        options.useProfiles = 2;
        options.cacheFolder = "/cache";
        int rebuilds = 0;
        int modeSeen = -1;
        COptionsDlg dialog(options, OptionStore::Instance(), 0, [&] {
            ++rebuilds;
            modeSeen = options.useProfiles; // the new values are in place
        });
        test.change(dialog);
        dialog.accept();
        QVERIFY2(rebuilds == (test.rebuilds ? 1 : 0), test.what);
        QVERIFY2(dialog.Rebuilt() == test.rebuilds, test.what);
        QVERIFY2(options.cacheFolder == test.folderAfter, test.what);
        QVERIFY2(OptionStore::Instance().ReadString("Netscape", "Cache", "") == test.folderAfter, test.what);
        if (test.rebuilds)
            QVERIFY2(modeSeen == options.useProfiles, test.what);
    }
}

void OptionsDialogTest::CancelChangesNothing()
{
    OptionStore& store = OptionStore::Instance();
    store.WriteInt("Options", "FastDelete", 0);
    AppOptions options;
    int rebuilds = 0;
    COptionsDlg dialog(options, store, 0, [&] { ++rebuilds; });
    Box(dialog, "fastDelete")->click();
    Child<QRadioButton>(dialog, "showIEOnly")->click();
    dialog.reject();
    QCOMPARE(rebuilds, 0);
    QCOMPARE(options.fastDelete, 0);
    QCOMPARE(options.useProfiles, 0);
    QCOMPARE(store.ReadInt("Options", "FastDelete", -1), 0);
}

void OptionsDialogTest::PickersFillTheirFieldsAndACancelledOneLeavesThem()
{
    AppOptions options;
    options.useProfiles = 2;
    options.cacheFolder = "/cache";
    COptionsDlg dialog(options, OptionStore::Instance(), 0, {});
    QString answer;
    QString askedWith;
    dialog.SetFolderPicker([&](QWidget*, const QString& current) {
        askedWith = current;
        return answer;
    });
    dialog.SetProgramPicker([&](QWidget*, const QString&) { return answer; });
    auto* folder = Child<QLineEdit>(dialog, "cacheFolder");
    auto* program = Child<QLineEdit>(dialog, "programPath");

    // A drive's root keeps its letter and colon, without the backslash.
    answer = "D:\\";
    Child<QPushButton>(dialog, "folderBrowse")->click();
    QCOMPARE(askedWith, QString("/cache"));
    QCOMPARE(folder->text(), QString("D:"));
    answer = "/mnt/evidence/";
    Child<QPushButton>(dialog, "folderBrowse")->click();
    QCOMPARE(folder->text(), QString("/mnt/evidence"));
    // The file system's root stays a folder.
    answer = "/";
    Child<QPushButton>(dialog, "folderBrowse")->click();
    QCOMPARE(folder->text(), QString("/"));
    answer.clear();
    Child<QPushButton>(dialog, "folderBrowse")->click();
    QCOMPARE(folder->text(), QString("/"));

    answer = "/usr/bin/display";
    Child<QPushButton>(dialog, "programBrowse")->click();
    QCOMPARE(program->text(), QString("/usr/bin/display"));
    answer.clear();
    Child<QPushButton>(dialog, "programBrowse")->click();
    QCOMPARE(program->text(), QString("/usr/bin/display"));
}

void OptionsDialogTest::TheProgramPickerListsWhatCanRunWhateverItsName()
{
    TempDir dir;
    WriteFile(dir.file("viewer"), "#!/bin/sh\n");
    WriteFile(dir.file("notes.exe"), "MZ");
    WriteFile(dir.file("readme.txt"), "text");
    QFile::setPermissions(QString::fromStdString(dir.file("viewer")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(QString::fromStdString(dir.file("notes.exe")), QFile::ReadOwner | QFile::WriteOwner);
    std::filesystem::create_directories(dir.file("bin"));
    QVERIFY(ProgramFileFilter::IsListed(QFileInfo(QString::fromStdString(dir.file("viewer")))));
    QVERIFY(!ProgramFileFilter::IsListed(QFileInfo(QString::fromStdString(dir.file("notes.exe")))));
    QVERIFY(!ProgramFileFilter::IsListed(QFileInfo(QString::fromStdString(dir.file("readme.txt")))));
    QVERIFY(ProgramFileFilter::IsListed(QFileInfo(QString::fromStdString(dir.file("bin")))));
}

void OptionsDialogTest::TheCommandRebuildsTheTreeOnlyForANewDisplayChoice()
{
    TempDir dir;
    const std::string cache = dir.file("Content.IE5");
    WriteSyntheticIndexDatCache(cache, SynthOptions{.entries = 3, .seed = 2, .bodies = true, .layout = "", .mapVersion = "new"});
    OptionStore& store = OptionStore::Instance();
    store.WriteString("Netscape", "Cache", cache);
    store.WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeFolderOnly);
    store.WriteInt("Options", "CheckVersionOnStartup", 0);

    CCacheApp app(store);
    app.Start();
    CBrowserSettings settings(app.Context(), FormatCatalog());
    CCacheDocument document(std::make_unique<BrowserSettingsCollection>(settings));
    CCacheFrame frame(document);
    frame.SetApplication(&app);
    CCacheTreeView& tree = *frame.Tree();
    auto folderShown = [&] {
        BrowserProfile* shown = tree.topLevelItemCount() == 1 ? tree.GetSelectedProfile() : nullptr;
        return shown && shown->cache && shown->cache->GetFolder() == cache;
    };
    QVERIFY(folderShown());
    QTreeWidgetItem* before = tree.topLevelItem(0);
    QVERIFY(frame.windowTitle().endsWith(QString::fromStdString(cache)));

    // The version check alone: the same node.
    OnModal([](COptionsDlg& dialog) {
        Box(dialog, "checkVersion")->click();
        dialog.accept();
    });
    frame.RunCommand(CommandIds::ID_VIEW_OPTIONS);
    QCOMPARE(app.Options().checkVersionOnStartup, 1);
    QCOMPARE(tree.topLevelItem(0), before);

    // Another display choice: the folder's profile goes ...
    OnModal([](COptionsDlg& dialog) {
        Child<QRadioButton>(dialog, "showIEOnly")->click();
        dialog.accept();
    });
    frame.RunCommand(CommandIds::ID_VIEW_OPTIONS);
    QCOMPARE(app.Options().useProfiles, CBrowserSettings::kModeIEOnly);
    QVERIFY(!folderShown());
    QVERIFY(!frame.windowTitle().endsWith(QString::fromStdString(cache)));

    // ... and comes back with the folder chosen again.
    OnModal([](COptionsDlg& dialog) {
        Child<QRadioButton>(dialog, "showFolder")->click();
        dialog.accept();
    });
    frame.RunCommand(CommandIds::ID_VIEW_OPTIONS);
    QVERIFY(folderShown());
    QVERIFY(frame.windowTitle().endsWith(QString::fromStdString(cache)));
}

void OptionsDialogTest::QuickViewWithoutAProgramFallsBackToOpenFile()
{
    OptionStore& store = OptionStore::Instance();
    store.WriteInt("Options", "CheckVersionOnStartup", 0);
    CCacheApp app(store);
    app.Start();
    auto document = MakeDocument({});
    CCacheFrame frame(*document);
    frame.SetApplication(&app);

    OnModal([](COptionsDlg& dialog) {
        Child<QRadioButton>(dialog, "openWithProgram")->click();
        Child<QLineEdit>(dialog, "programPath")->clear();
        dialog.accept();
    });
    frame.RunCommand(CommandIds::ID_VIEW_OPTIONS);
    QCOMPARE(frame.DefaultAction(), 0);
    QCOMPARE(store.ReadInt("Options", "DefaultAction", -1), 2); // as chosen

    OnModal([](COptionsDlg& dialog) {
        Child<QRadioButton>(dialog, "openWithProgram")->click();
        Child<QLineEdit>(dialog, "programPath")->setText("/usr/bin/display");
        dialog.accept();
    });
    frame.RunCommand(CommandIds::ID_VIEW_OPTIONS);
    QCOMPARE(frame.DefaultAction(), 2);
}

ORIEL_UI_TEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"
