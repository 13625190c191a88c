// View > Show Recovered Entries: off, the window shows only the live items;
// on, each decoded profile gets a last group "<Recovered>" and its list the
// recovered rows in their own colour; the recovered group opens and copies
// but offers no delete nor move; off again, everything is as before.
#include "ui/CacheFrame.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "formats/ClientUrlCache.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ContentView.h"
#include "ui/ItemListModel.h"

#include <QAction>
#include <QTableView>

using namespace oriel;
using namespace oriel::test;

namespace {

QString ShotPath(const char* name)
{
    const QString dir = qEnvironmentVariableIsEmpty("ORIEL_SCREENSHOT_DIR") ? QStringLiteral(".")
                                                                             : qEnvironmentVariable("ORIEL_SCREENSHOT_DIR");
    return dir + QStringLiteral("/") + QString::fromLatin1(name);
}

struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    BrowserProfile* profile = nullptr;
    std::unique_ptr<CCacheFrame> frame;

    Window()
    {
        IndexDatWriter w;
        w.addDirectory("ABCD1234");
        w.addUrl({.url = "http://live.example/page.txt",
                  .fileName = "page[1].txt",
                  .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n",
                  .body = "live page"});
        w.addStaleUrl({.url = "http://gone.example/deleted.txt",
                       .fileName = "deleted[1].txt",
                       .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n",
                       .body = "deleted page"});
        w.addUrl({.url = "http://live.example/other.txt", .fileName = "other[1].txt", .body = "other"});
        w.writeCache(dir.path());

        auto owned = std::make_unique<BrowserProfile>();
        owned->profileName = owned->displayName = "Internet Explorer";
        owned->cacheFolder = dir.path();
        owned->cache = std::make_unique<ClientUrlCache>(test::Context(), owned.get(), dir.path());
        profile = owned.get();
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(std::move(owned));
        document = MakeDocument(std::move(profiles));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->resize(1000, 600);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    }
    CCacheTreeView* tree() const { return frame->Tree(); }
    CCacheItemModel* model() const { return frame->List()->Model(); }
    QTreeWidgetItem* node() const { return tree()->FindProfileNode(profile); }
    void waitIdle() const { QTRY_VERIFY_WITH_TIMEOUT(!frame->IsJobRunning() && !frame->IsBusy(), 10000); }
    QTreeWidgetItem* recoveredNode() const
    {
        for (int i = 0; i < node()->childCount(); ++i) {
            if (CCacheTreeView::IsRecoveredNode(node()->child(i)))
                return node()->child(i);
        }
        return nullptr;
    }
    int rowOf(const char* url) const
    {
        for (int row = 0; row < model()->RowCountInt(); ++row) {
            if (model()->ItemAt(row)->GetURL() && std::string(model()->ItemAt(row)->GetURL()) == url)
                return row;
        }
        return -1;
    }
    void selectRow(int row) const
    {
        const QModelIndex index = model()->index(row, 0);
        QTest::mouseClick(frame->List()->Table()->viewport(), Qt::LeftButton, {},
                          frame->List()->Table()->visualRect(index).center());
    }
    void toggle() const { frame->Action(CommandIds::ID_VIEW_SHOW_RECOVERED)->trigger(); }
};

} // namespace

class RecoveredEntriesTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void RecoveredEntriesShowOnlyWithTheViewToggle();
    void TheRecoveredGroupOpensAndCopiesButNeverDeletes();
};

void RecoveredEntriesTest::init()
{
    OptionStore& store = OptionStore::Instance();
    store.WriteString("Options", "ShowRecovered", "");
    store.Sync();
}

void RecoveredEntriesTest::RecoveredEntriesShowOnlyWithTheViewToggle()
{
    Window w;
    QVERIFY(!w.frame->ShowRecovered());
    QVERIFY(!w.frame->Action(CommandIds::ID_VIEW_SHOW_RECOVERED)->isChecked());
    w.node()->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.node()->childCount(), 1); // live.example
    QVERIFY(!w.recoveredNode());
    QCOMPARE(w.model()->RowCountInt(), 2);
    QCOMPARE(w.rowOf("http://gone.example/deleted.txt"), -1);

    w.toggle();
    QVERIFY(w.frame->ShowRecovered());
    QVERIFY(w.frame->Action(CommandIds::ID_VIEW_SHOW_RECOVERED)->isChecked());
    QTreeWidgetItem* recovered = w.recoveredNode();
    QVERIFY(recovered);
    QCOMPARE(recovered->text(0), QString::fromUtf8(LoadString(IDS_RECOVERED_GROUP)));
    QCOMPARE(w.node()->indexOfChild(recovered), w.node()->childCount() - 1);
    // The profile's list holds the recovered row, in its own colour and
    // italic; live rows keep the usual look.
    QCOMPARE(w.model()->RowCountInt(), 3);
    const int row = w.rowOf("http://gone.example/deleted.txt");
    QVERIFY(row >= 0);
    const QModelIndex index = w.model()->index(row, 0);
    QCOMPARE(w.model()->data(index, Qt::ForegroundRole).value<QBrush>().color(), CCacheItemModel::RecoveredColor());
    QVERIFY(w.model()->data(index, Qt::FontRole).value<QFont>().italic());
    const QModelIndex live = w.model()->index(w.rowOf("http://live.example/page.txt"), 0);
    QVERIFY(!w.model()->data(live, Qt::ForegroundRole).isValid());
    QVERIFY(!w.model()->data(live, Qt::FontRole).isValid());
    // The option is kept for the next start.
    w.frame->SaveSettings();
    QCOMPARE(OptionStore::Instance().ReadInt("Options", "ShowRecovered", 0), 1);
    w.selectRow(row);
    QVERIFY(w.frame->grab().save(ShotPath("recovered-profile.png"), "PNG"));

    w.toggle();
    QVERIFY(!w.recoveredNode());
    QCOMPARE(w.model()->RowCountInt(), 2);
    QCOMPARE(w.profile->cache->GetItemCount(), 2);
}

void RecoveredEntriesTest::TheRecoveredGroupOpensAndCopiesButNeverDeletes()
{
    Window w;
    w.toggle();
    w.node()->setExpanded(true);
    w.waitIdle();
    QTreeWidgetItem* recovered = w.recoveredNode();
    QVERIFY(recovered);
    w.tree()->setCurrentItem(recovered);
    QTest::mouseClick(w.tree()->viewport(), Qt::LeftButton, {}, w.tree()->visualItemRect(recovered).center());
    QCOMPARE(w.model()->RowCountInt(), 1);
    // No one server: whole URLs, as for a profile, and the group's name as
    // the title.
    QVERIFY(w.frame->List()->IsRootMode());
    QCOMPARE(w.frame->windowTitle(), QString::fromUtf8(LoadString(IDS_RECOVERED_GROUP)) + " - Oriel");
    w.selectRow(0);
    QCOMPARE(w.frame->Content()->TextBox()->toPlainText(), QString("deleted page"));
    w.frame->UpdateCommandUI();
    QVERIFY(w.frame->Action(CommandIds::ID_EDIT_COPY_TO)->isEnabled());
    QVERIFY(w.frame->Action(CommandIds::ID_FILE_OPEN)->isEnabled());
    QVERIFY(!w.frame->Action(CommandIds::ID_EDIT_DELETE)->isEnabled());
    QVERIFY(!w.frame->Action(CommandIds::ID_EDIT_MOVE_TO)->isEnabled());
    QVERIFY(w.frame->grab().save(ShotPath("recovered-group.png"), "PNG"));

    // Turning the view off while the group is chosen hands the choice to
    // the profile, whose live items are listed.
    w.toggle();
    QVERIFY(!w.recoveredNode());
    QCOMPARE(w.tree()->currentItem(), w.node());
    QCOMPARE(w.model()->RowCountInt(), 2);

}

ORIEL_UI_TEST_MAIN(RecoveredEntriesTest)
#include "RecoveredEntriesTest.moc"
