// Delete, Delete all and Empty Cache driven through the window's commands,
// the read-only cache's disabled commands, and the "/EMPTY" run's dialog.
#include "ui/CacheFrame.h"

#include "UiTestSupport.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "platform/FileSystem.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/WindowApp.h"
#include "ui/dialogs/EmptyCacheDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace oriel;
using namespace oriel::test;
namespace fs = std::filesystem;

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

void ClickNode(CCacheTreeView* tree, QTreeWidgetItem* node)
{
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

int RowOf(CCacheListView* list, const std::string& url)
{
    for (int row = 0; row < list->Model()->RowCountInt(); ++row) {
        if (list->Model()->ItemAt(row)->GetURL() == url)
            return row;
    }
    return -1;
}

void SelectRows(CCacheListView* list, const std::vector<std::string>& urls)
{
    QItemSelectionModel* selection = list->Table()->selectionModel();
    selection->clearSelection();
    for (const std::string& url : urls) {
        const int row = RowOf(list, url);
        QVERIFY2(row >= 0, url.c_str());
        selection->select(list->Model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

// Where screenshots go: $ORIEL_SCREENSHOT_DIR, else the working folder.
QString ShotPath(const char* name)
{
    const QString dir = qEnvironmentVariableIsEmpty("ORIEL_SCREENSHOT_DIR") ? QStringLiteral(".")
                                                                             : qEnvironmentVariable("ORIEL_SCREENSHOT_DIR");
    return dir + QStringLiteral("/") + QString::fromLatin1(name);
}

// The tooltip window on show, or null.
QWidget* VisibleToolTip()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->inherits("QTipLabel"))
            return widget;
    }
    return nullptr;
}

// The cache deletes an item by removing its body file, except the items
// whose URL is in `locked`; it records what it was given.
void DeleteBodies(FakeCache& cache, std::vector<std::string>* given, std::vector<std::string> locked = {})
{
    cache.deleteItems = [given, locked](FakeCache&, std::span<CCacheItem* const> items) {
        for (CCacheItem* item : items) {
            given->push_back(item->GetURL());
            if (std::find(locked.begin(), locked.end(), item->GetURL()) == locked.end())
                static_cast<CFileCacheItem*>(item)->DeleteCacheFile();
        }
        return 0;
    };
}

std::vector<ItemSetup> ServerItems()
{
    return {
        {.url = "http://www.a.com/1.txt", .cacheName = "1.txt", .body = "one"},
        {.url = "http://www.a.com/2.txt", .cacheName = "2.txt", .body = "two"},
        {.url = "http://www.a.com/gone.txt", .cacheName = "gone.txt", .body = "x", .missing = true},
        {.url = "http://www.a.com/locked.txt", .cacheName = "locked.txt", .body = "locked"},
        {.url = "http://www.a.com/keep.txt", .cacheName = "keep.txt", .body = "keep"},
    };
}

struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    BrowserProfile* profile = nullptr;
    BrowserProfile* second = nullptr;
    std::unique_ptr<CCacheFrame> frame;

    explicit Window(std::vector<ItemSetup> items = ServerItems())
    {
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(MakeProfile("Profile A", dir.file("a"), std::move(items)));
        profile = profiles.back().get();
        profiles.push_back(MakeProfile("Profile B", dir.file("b"), {{.url = "http://b/1", .cacheName = "1", .body = "b"}}));
        second = profiles.back().get();
        document = MakeDocument(std::move(profiles));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->resize(900, 600);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    }
    CCacheTreeView* tree() const { return frame->Tree(); }
    CCacheListView* list() const { return frame->List(); }
    QTreeWidgetItem* profileNode(BrowserProfile* p = nullptr) const { return tree()->FindProfileNode(p ? p : profile); }
    QTreeWidgetItem* serverNode(const QString& name) const
    {
        QTreeWidgetItem* node = profileNode();
        for (int i = 0; i < node->childCount(); ++i) {
            if (node->child(i)->text(0) == name)
                return node->child(i);
        }
        return nullptr;
    }
    void expand() const
    {
        profileNode()->setExpanded(true);
        waitIdle();
    }
    void waitIdle() const { QTRY_VERIFY_WITH_TIMEOUT(!frame->IsJobRunning() && !frame->IsBusy(), 10000); }
    void run(int command) const
    {
        frame->UpdateStatusText();
        QVERIFY(frame->Action(command)->isEnabled());
        frame->Action(command)->trigger();
        waitIdle();
    }
};

void WriteOption(const char* key, int value)
{
    OptionStore::Instance().WriteInt("Options", key, value);
}

} // namespace

class DeleteCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void DeleteSkipsGhostedRowsAndGhostsOrRemovesTheDeletedOnes_data();
    void DeleteSkipsGhostedRowsAndGhostsOrRemovesTheDeletedOnes();
    void DeleteAllDeletesTheServersItemsFromTheTree();
    void EmptyCacheDecodesFirstUnlessFastDelete_data();
    void EmptyCacheDecodesFirstUnlessFastDelete();
    void AReadOnlyCacheDisablesItsDeletingCommandsAndSaysWhy();
    void DeleteOnlyDefaultEmptiesExactlyOneProfile_data();
    void DeleteOnlyDefaultEmptiesExactlyOneProfile();
    void CancelStopsTheCurrentProfileAndSkipsTheRest();
    void LowerCaseEmptySwitchRunsTheDialogWithoutAMainWindow();
};

void DeleteCommandsTest::init()
{
    OptionStore& store = OptionStore::Instance();
    for (const char* key : {"ShowMissing", "FastDelete", "DeleteOnlyDefault", "DecodeStartup"})
        store.WriteString("Options", key, "");
    store.Sync();
    platform::SetWritableCheckForTesting(nullptr);
}

void DeleteCommandsTest::DeleteSkipsGhostedRowsAndGhostsOrRemovesTheDeletedOnes_data()
{
    QTest::addColumn<bool>("showMissing");
    QTest::newRow("missing files shown") << true;
    QTest::newRow("missing files hidden") << false;
}

void DeleteCommandsTest::DeleteSkipsGhostedRowsAndGhostsOrRemovesTheDeletedOnes()
{
    QFETCH(bool, showMissing);
    WriteOption("ShowMissing", showMissing ? 1 : 0);
    Window w;
    std::vector<std::string> given;
    DeleteBodies(CacheOf(*w.profile), &given, {"http://www.a.com/locked.txt"});
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    QCOMPARE(w.list()->GetItemCount(), showMissing ? 5 : 4);
    std::vector<std::string> selected{"http://www.a.com/1.txt", "http://www.a.com/2.txt",
                                      "http://www.a.com/locked.txt"};
    if (showMissing)
        selected.push_back("http://www.a.com/gone.txt");
    SelectRows(w.list(), selected);
    w.run(CCacheFrame::ID_EDIT_DELETE);

    // The ghosted row went nowhere; the others went to the cache in row order.
    QCOMPARE(given, (std::vector<std::string>{"http://www.a.com/1.txt", "http://www.a.com/2.txt",
                                              "http://www.a.com/locked.txt"}));
    QVERIFY(!fs::exists(w.dir.file("a/1.txt")));
    QVERIFY(!fs::exists(w.dir.file("a/2.txt")));
    QVERIFY(fs::exists(w.dir.file("a/locked.txt")));
    QVERIFY(fs::exists(w.dir.file("a/keep.txt")));
    CCacheItemModel* model = w.list()->Model();
    if (showMissing) {
        QCOMPARE(w.list()->GetItemCount(), 5);
        for (const char* url : {"http://www.a.com/1.txt", "http://www.a.com/2.txt", "http://www.a.com/gone.txt"})
            QVERIFY2(model->IsMissing(RowOf(w.list(), url)), url);
    } else {
        QCOMPARE(w.list()->GetItemCount(), 2);
        QCOMPARE(RowOf(w.list(), "http://www.a.com/1.txt"), -1);
        QCOMPARE(RowOf(w.list(), "http://www.a.com/2.txt"), -1);
    }
    // A file the cache could not remove stays as it was.
    QVERIFY(!model->IsMissing(RowOf(w.list(), "http://www.a.com/locked.txt")));
    QVERIFY(!model->IsMissing(RowOf(w.list(), "http://www.a.com/keep.txt")));
    QVERIFY(!w.frame->ProgressBar()->isVisible());
    QVERIFY(w.frame->centralWidget()->isEnabled());
}

void DeleteCommandsTest::DeleteAllDeletesTheServersItemsFromTheTree()
{
    Window w;
    std::vector<std::string> given;
    DeleteBodies(CacheOf(*w.profile), &given);
    w.expand();
    // Only from the tree, with a server chosen.
    ClickNode(w.tree(), w.profileNode());
    w.frame->UpdateStatusText();
    QVERIFY(!w.frame->Action(CCacheFrame::ID_SERVER_DELETE_ALL)->isEnabled());
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    w.tree()->setFocus();
    w.run(CCacheFrame::ID_SERVER_DELETE_ALL);
    // The already missing item is not passed on by the delete job.
    QCOMPARE(given.size(), size_t(4));
    for (const char* name : {"1.txt", "2.txt", "locked.txt", "keep.txt"})
        QVERIFY2(!fs::exists(w.dir.file(std::string("a/") + name)), name);
    // The list shows the server again: every row now ghosted.
    QCOMPARE(w.list()->GetItemCount(), 5);
    for (int row = 0; row < 5; ++row)
        QVERIFY(w.list()->Model()->IsMissing(row));
    QVERIFY(fs::exists(w.dir.file("b/1")));
}

void DeleteCommandsTest::EmptyCacheDecodesFirstUnlessFastDelete_data()
{
    QTest::addColumn<bool>("fastDelete");
    QTest::newRow("decode first") << false;
    QTest::newRow("FastDelete") << true;
}

void DeleteCommandsTest::EmptyCacheDecodesFirstUnlessFastDelete()
{
    QFETCH(bool, fastDelete);
    WriteOption("FastDelete", fastDelete ? 1 : 0);
    Window w;
    FakeCache& cache = CacheOf(*w.profile);
    // The fake empties by removing its folder's files.
    const std::string folder = w.dir.file("a");
    cache.empty = [folder](FakeCache&) {
        for (const auto& entry : fs::directory_iterator(folder))
            fs::remove(entry.path());
        return 0;
    };
    QVERIFY(!cache.IsDecoded());
    ClickNode(w.tree(), w.profileNode());
    w.waitIdle();
    const int decodesBefore = cache.decodeCalls;
    w.run(CCacheFrame::ID_FILE_EMPTY);
    QCOMPARE(cache.emptyCalls.load(), 1);
    QCOMPARE(cache.decodeCalls - decodesBefore, fastDelete || decodesBefore > 0 ? 0 : 1);
    QVERIFY(fs::is_empty(folder));
    QVERIFY(fs::exists(w.dir.file("b/1")));
    // Emptied: the profile has no items and no servers left.
    QVERIFY(!cache.IsDecoded());
    QCOMPARE(w.list()->GetItemCount(), 0);
    QCOMPARE(w.profileNode()->childCount(), 0);
    QCOMPARE(w.frame->StatusText(0), QString("0 object(s)"));
}

void DeleteCommandsTest::AReadOnlyCacheDisablesItsDeletingCommandsAndSaysWhy()
{
    // A read-only mount, as the writability check reports it for folder a.
    platform::SetWritableCheckForTesting([](const std::string& d) { return fs::path(d).filename() != "a"; });
    Window w;
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    SelectRows(w.list(), {"http://www.a.com/1.txt"});
    w.frame->UpdateStatusText();
    for (int id : {int(CCacheFrame::ID_FILE_EMPTY), int(CCacheFrame::ID_EDIT_DELETE)}) {
        QAction* action = w.frame->Action(id);
        QVERIFY(!action->isEnabled());
        QCOMPARE(action->toolTip(), Text(IDS_READ_ONLY_TOOLTIP));
    }
    QVERIFY(w.frame->ReadOnlyNote()->isVisible());
    QCOMPARE(w.frame->ReadOnlyNote()->text(), QString("Read-only cache"));
    QCOMPARE(w.profileNode()->toolTip(0), Text(IDS_READ_ONLY_NOTE));
    QVERIFY(w.profileNode(w.second)->toolTip(0).isEmpty());
    // The picture: the disabled Delete button's tooltip over the window.
    QToolButton* button = qobject_cast<QToolButton*>(
        w.frame->ToolBar()->widgetForAction(w.frame->Action(CCacheFrame::ID_EDIT_DELETE)));
    QVERIFY(button);
    QVERIFY(!button->isEnabled());
    const QPoint tipAt = button->mapToGlobal(button->rect().bottomLeft() + QPoint(4, 4));
    QToolTip::showText(tipAt, w.frame->Action(CCacheFrame::ID_EDIT_DELETE)->toolTip(), button);
    QWidget* tip = nullptr;
    QTRY_VERIFY((tip = VisibleToolTip()) != nullptr);
    QCOMPARE(static_cast<QLabel*>(tip)->text(), Text(IDS_READ_ONLY_TOOLTIP));
    QImage shot = w.frame->grab().toImage();
    {
        QPainter painter(&shot);
        painter.drawPixmap(w.frame->mapFromGlobal(tip->pos()), tip->grab());
    }
    shot.save(ShotPath("read-only-cache.png"));
    QToolTip::hideText();
    // Nothing runs: the key reaches a disabled action.
    w.frame->RunCommand(CCacheFrame::ID_EDIT_DELETE);
    w.waitIdle();
    QVERIFY(fs::exists(w.dir.file("a/1.txt")));

    // The writable profile's commands are on, with their usual tooltip.
    ClickNode(w.tree(), w.profileNode(w.second));
    w.frame->UpdateStatusText();
    QVERIFY(w.frame->Action(CCacheFrame::ID_FILE_EMPTY)->isEnabled());
    QCOMPARE(w.frame->Action(CCacheFrame::ID_FILE_EMPTY)->toolTip(), QString("Empty Cache"));
    QVERIFY(!w.frame->ReadOnlyNote()->isVisible());
    platform::SetWritableCheckForTesting(nullptr);
}

namespace {

std::unique_ptr<ProfileList> ThreeProfiles(const TempDir& dir)
{
    auto list = std::make_unique<ProfileList>();
    for (const char* name : {"A", "B", "C"}) {
        const std::string folder = dir.file(name);
        list->Add(MakeProfile(name, folder, {{.url = std::string("http://") + name + "/1", .cacheName = "1", .body = name}}));
    }
    return list;
}

} // namespace

void DeleteCommandsTest::DeleteOnlyDefaultEmptiesExactlyOneProfile_data()
{
    QTest::addColumn<bool>("onlyDefault");
    QTest::newRow("DeleteOnlyDefault") << true;
    QTest::newRow("every profile") << false;
}

void DeleteCommandsTest::DeleteOnlyDefaultEmptiesExactlyOneProfile()
{
    QFETCH(bool, onlyDefault);
    TempDir dir;
    EmptyCacheDialog dialog(ThreeProfiles(dir), false, onlyDefault);
    QCOMPARE(dialog.windowTitle(), QString("Oriel - Empty Cache"));
    QSignalSpy ended(&dialog, &EmptyCacheDialog::WorkerEnded);
    dialog.show();
    QVERIFY(ended.wait(10000));
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const std::vector<std::string> expected = onlyDefault ? std::vector<std::string>{"A"}
                                                          : std::vector<std::string>{"A", "B", "C"};
    QCOMPARE(dialog.EmptiedProfiles(), expected);
    for (int32_t i = 0; i < 3; ++i) {
        FakeCache& cache = CacheOf(*dialog.Profiles().GetProfile(i));
        const int wanted = onlyDefault && i > 0 ? 0 : 1;
        QCOMPARE(cache.emptyCalls.load(), wanted);
        // Decoded first (messages off), since FastDelete is off.
        QCOMPARE(cache.decodeCalls, wanted);
        QVERIFY(!cache.ShowMessages() || wanted == 0);
    }
    QCOMPARE(dialog.StatusText(), QString("Checking selected items... ") + (onlyDefault ? "A" : "C"));
}

void DeleteCommandsTest::CancelStopsTheCurrentProfileAndSkipsTheRest()
{
    TempDir dir;
    auto profiles = ThreeProfiles(dir);
    FakeCache& first = CacheOf(*profiles->GetProfile(0));
    Gate entered;
    std::atomic<bool> sawStop{false};
    // A long empty: it runs until it is asked to stop (bounded, so that a
    // lost stop fails the test instead of hanging it).
    first.empty = [&](FakeCache& c) {
        entered.Open();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!c.StopRequested() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        sawStop = c.StopRequested();
        return 0;
    };
    EmptyCacheDialog dialog(std::move(profiles), false, false);
    QSignalSpy ended(&dialog, &EmptyCacheDialog::WorkerEnded);
    dialog.resize(360, 110);
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(entered.IsOpen(), 10000);
    QTRY_COMPARE(dialog.StatusText(), QString("Checking selected items... A"));
    dialog.grab().save(ShotPath("empty-cache-dialog.png"));

    // Closing while the worker runs only cancels; the dialog stays.
    dialog.close();
    QVERIFY(dialog.Cancelled());
    QVERIFY(dialog.isVisible());
    QVERIFY(ended.wait(10000));
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(sawStop.load());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    for (int32_t i = 1; i < 3; ++i) {
        FakeCache& skipped = CacheOf(*dialog.Profiles().GetProfile(i));
        QCOMPARE(skipped.emptyCalls.load(), 0);
        QCOMPARE(skipped.decodeCalls, 0);
    }
}

namespace {

// Records the top-level widgets shown while it is installed.
class ShownWidgets : public QObject {
public:
    QStringList classes;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            classes << QString::fromLatin1(watched->metaObject()->className());
        return false;
    }
};

} // namespace

void DeleteCommandsTest::LowerCaseEmptySwitchRunsTheDialogWithoutAMainWindow()
{
    ShownWidgets shown;
    qApp->installEventFilter(&shown);
    CCacheApp app(OptionStore::Instance());
    QCOMPARE(RunOriel(app, "c:\\some\\file.txt /empty"), 0);
    qApp->removeEventFilter(&shown);
    QVERIFY(shown.classes.contains("oriel::EmptyCacheDialog"));
    QVERIFY(!shown.classes.contains("oriel::CCacheFrame"));
}

ORIEL_UI_TEST_MAIN(DeleteCommandsTest)
#include "DeleteCommandsTest.moc"
