// Choosing what to examine from the window: the Examine System dialog (its
// user list is the users oriel-cli users finds under the root), the
// command storing section "System" and rebuilding the profiles over a
// synthesized Windows tree, Open Cache Folder, and the window title naming
// what is examined.
#include "ui/dialogs/ExamineSystemDialog.h"

#include "DialogShots.h"
#include "UiTestSupport.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/SystemSetup.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "support/IndexDatWriter.h"
#include "support/WindowsTreeWriter.h"
#include "ui/CacheFrame.h"
#include "ui/CacheTreeView.h"
#include "ui/dialogs/FolderPicker.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

using namespace oriel;
using namespace oriel::test;

namespace {

using Layout = WindowsTreeWriter::Layout;

// Jane and Tom, each with an Internet Explorer cache of one entry.
std::unique_ptr<WindowsTreeWriter> WriteTree(const std::string& root, Layout layout = Layout::Vista)
{
    auto tree = std::make_unique<WindowsTreeWriter>(layout);
    // Each user's cache named by the user's own folders (not the machine's
    // cache path, which names the first user's).
    tree->setCachePathsDirectory(false);
    tree->addUser("Jane").addUser("Tom");
    tree->addIEEntry("Jane", {.url = "http://jane.example/a.html", .fileName = "a[1].html", .body = "<p>jane</p>"});
    tree->addIEEntry("Tom", {.url = "http://tom.example/b.html", .fileName = "b[1].html", .body = "<p>tom</p>"});
    tree->write(root);
    return tree;
}

QStringList Items(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// The profile folders the tree's profiles read.
QStringList ShownFolders(CCacheFrame& frame)
{
    QStringList folders;
    CCacheTreeView& tree = *frame.Tree();
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        BrowserProfile* profile = frame.Document().GetProfile(i);
        if (profile && profile->cache)
            folders << QString::fromStdString(profile->cache->GetFolder());
    }
    return folders;
}

// Whether a profile shown reads a folder under `prefix`.
bool Shows(CCacheFrame& frame, const QString& prefix)
{
    for (const QString& folder : ShownFolders(frame)) {
        if (folder.startsWith(prefix))
            return true;
    }
    return false;
}

struct Window {
    CCacheApp app{OptionStore::Instance()};
    std::unique_ptr<CBrowserSettings> settings;
    std::unique_ptr<CCacheDocument> document;
    std::unique_ptr<CCacheFrame> frame;

    Window()
    {
        OptionStore::Instance().WriteInt("Options", "CheckVersionOnStartup", 0);
        app.Start();
        settings = std::make_unique<CBrowserSettings>(app.Context(), FormatCatalog());
        document = std::make_unique<CCacheDocument>(std::make_unique<BrowserSettingsCollection>(*settings));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->SetApplication(&app);
    }
};

void AnswerExamineSystem(const QString& root, const QString& user)
{
    QTimer::singleShot(0, [root, user] {
        auto* dialog = qobject_cast<CExamineSystemDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            qFatal("no Examine System dialog");
        dialog->RootEdit()->setText(root);
        dialog->RefreshUsers();
        dialog->UserBox()->setEditText(user);
        dialog->accept();
    });
}

} // namespace

class ExamineSystemTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetFolderPicker({}); }
    void TheUserListIsTheUsersFoundUnderTheRoot();
    void TheDialogGivesBackWhatItShows();
    void ExamineSystemStoresTheSystemAndRebuildsTheProfiles();
    void OpenCacheFolderShowsThatFolderAlone();
};

void ExamineSystemTest::TheUserListIsTheUsersFoundUnderTheRoot()
{
    for (Layout layout : {Layout::Vista, Layout::Xp}) {
        TempDir dir;
        WriteTree(dir.path(), layout);
        platform::SystemConfig config;
        config.root = dir.path();
        CExamineSystemDlg dialog(config);
        // The template and service profiles of every installation are no one's.
        QCOMPARE(Items(dialog.UserBox()), (QStringList{"Jane", "Tom"}));
        QStringList found;
        const platform::WindowsSystem system(config);
        for (const platform::UserProfile& user : system.Users())
            found << QString::fromStdString(user.name);
        QCOMPARE(Items(dialog.UserBox()), found);
        if (layout == Layout::Vista)
            SaveShot(dialog, QStringLiteral("examine-system-dialog"));

        // Another root: the list follows it.
        dialog.RootEdit()->setText(QString::fromStdString(dir.file("Windows")));
        dialog.RefreshUsers();
        QVERIFY(Items(dialog.UserBox()).isEmpty());
    }
}

void ExamineSystemTest::TheDialogGivesBackWhatItShows()
{
    TempDir dir;
    WriteTree(dir.path());
    platform::SystemConfig config;
    config.root = dir.path() + "/";
    config.user = "Tom";
    config.drives = {{'D', "/mnt/d"}};
    config.registryFiles = {"/case/system.reg"};
    CExamineSystemDlg dialog(config);
    QCOMPARE(dialog.UserBox()->currentText(), QString("Tom"));
    QCOMPARE(dialog.DrivesEdit()->text(), QString("D=/mnt/d"));
    QCOMPARE(dialog.RegFiles()->count(), 1);
    dialog.DrivesEdit()->setText("e:=/media/e; D=/mnt/d2");
    const platform::SystemConfig back = dialog.Config();
    QCOMPARE(back.root, dir.path());
    QCOMPARE(back.user, std::string("Tom"));
    QCOMPARE(back.drives, (std::map<char, std::string>{{'D', "/mnt/d2"}, {'E', "/media/e"}}));
    QCOMPARE(back.registryFiles, std::vector<std::string>{"/case/system.reg"});
}

void ExamineSystemTest::ExamineSystemStoresTheSystemAndRebuildsTheProfiles()
{
    TempDir dir;
    auto tree = WriteTree(dir.path());
    // A profile of the user's reads a folder in the user's profile folder.
    const QString jane = QString::fromStdString(dir.path() + "/" + tree->profileFolder("Jane") + "/");
    const QString tom = QString::fromStdString(dir.path() + "/" + tree->profileFolder("Tom") + "/");
    OptionStore& store = OptionStore::Instance();
    WriteSystemOptions(store, {});
    store.WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeAllBrowsers);
    Window window;
    QVERIFY(!Shows(*window.frame, jane));
    // No system: the title names none.
    QVERIFY(window.frame->windowTitle().endsWith(" - Oriel") || window.frame->windowTitle() == "Oriel");

    AnswerExamineSystem(QString::fromStdString(dir.path()), "Jane");
    window.frame->RunCommand(CommandIds::ID_FILE_EXAMINE_SYSTEM);
    QCOMPARE(store.ReadString("System", "Root", ""), dir.path());
    QCOMPARE(store.ReadString("System", "User", ""), std::string("Jane"));
    QVERIFY2(Shows(*window.frame, jane), qPrintable(ShownFolders(*window.frame).join(", ")));
    QVERIFY(!Shows(*window.frame, tom));
    QVERIFY(window.frame->windowTitle().endsWith(QString::fromStdString(dir.path()) + " (user Jane)"));

    // Another user of the same system.
    AnswerExamineSystem(QString::fromStdString(dir.path()), "Tom");
    window.frame->RunCommand(CommandIds::ID_FILE_EXAMINE_SYSTEM);
    QVERIFY(Shows(*window.frame, tom));
    QVERIFY(!Shows(*window.frame, jane));
    QVERIFY(window.frame->windowTitle().endsWith(" (user Tom)"));

    // No system at all: nothing of it is shown, and the store says so.
    AnswerExamineSystem(QString(), QString());
    window.frame->RunCommand(CommandIds::ID_FILE_EXAMINE_SYSTEM);
    QCOMPARE(store.ReadString("System", "Root", "x"), std::string());
    QVERIFY(!Shows(*window.frame, tom));
    QVERIFY(!window.frame->windowTitle().contains(QString::fromStdString(dir.path())));
}

void ExamineSystemTest::OpenCacheFolderShowsThatFolderAlone()
{
    TempDir dir;
    const std::string cache = dir.file("copied/Content.IE5");
    WriteSyntheticIndexDatCache(cache, SynthOptions{.entries = 4, .seed = 3, .bodies = true, .layout = "", .mapVersion = "new"});
    OptionStore& store = OptionStore::Instance();
    WriteSystemOptions(store, {});
    store.WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeAllBrowsers);
    store.WriteString("Netscape", "Cache", "");
    Window window;

    // Cancelled: nothing changes.
    SetFolderPicker([](QWidget*, const QString&, const QString&) { return QString(); });
    window.frame->RunCommand(CommandIds::ID_FILE_OPEN_FOLDER);
    QCOMPARE(window.app.Options().useProfiles, CBrowserSettings::kModeAllBrowsers);

    SetFolderPicker([&](QWidget*, const QString&, const QString&) { return QString::fromStdString(cache); });
    window.frame->RunCommand(CommandIds::ID_FILE_OPEN_FOLDER);
    QCOMPARE(window.app.Options().useProfiles, CBrowserSettings::kModeFolderOnly);
    QCOMPARE(store.ReadString("Netscape", "Cache", ""), cache);
    QCOMPARE(ShownFolders(*window.frame), QStringList{QString::fromStdString(cache)});
    QVERIFY(window.frame->windowTitle().endsWith(QString::fromStdString(cache)));
}

ORIEL_UI_TEST_MAIN(ExamineSystemTest)
#include "ExamineSystemTest.moc"
