// The window shows one profile at a time and says what it shows: the tree's
// highlight, the title and the lower panes follow the profile whose items
// are listed; the keyboard focus survives the busy state; the columns fit
// what they hold and say that their times are UTC; a profile not decoded
// yet says how to decode it.
#include "ui/CacheFrame.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ContentView.h"

#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QTableView>

using namespace oriel;
using namespace oriel::test;

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

// 28 December 2026, 22:58:58 UTC: every field of the date at its widest.
constexpr int64_t kWideTime = 1798498738;

std::vector<ItemSetup> ItemsOf(const std::string& host, const std::string& text)
{
    return {
        {.url = "http://" + host + "/page.txt", .cacheName = "page.txt", .type = "text/plain", .body = text,
         .modified = kWideTime, .headers = "HTTP/1.1 200 OK\r\nServer: " + host + "\r\n"},
        {.url = "http://" + host + "/other.txt", .cacheName = "other.txt", .type = "text/plain", .body = "other",
         .modified = kWideTime},
    };
}

// Where pictures go: $ORIEL_SCREENSHOT_DIR, else the working folder.
QString ShotPath(const char* name)
{
    const QString dir = qEnvironmentVariableIsEmpty("ORIEL_SCREENSHOT_DIR") ? QStringLiteral(".")
                                                                             : qEnvironmentVariable("ORIEL_SCREENSHOT_DIR");
    return dir + QStringLiteral("/") + QString::fromLatin1(name);
}

void ClickNode(CCacheTreeView* tree, QTreeWidgetItem* node)
{
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

// Profiles "Alpha", "Beta" and "Bravo", each with two text items whose
// bodies name their profile; decoded first when asked.
struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    std::vector<BrowserProfile*> profiles;
    std::unique_ptr<CCacheFrame> frame;

    explicit Window(bool decoded)
    {
        std::vector<std::unique_ptr<BrowserProfile>> owned;
        for (const char* name : {"Alpha", "Beta", "Bravo"}) {
            owned.push_back(MakeProfile(name, dir.file(name), ItemsOf(std::string(name) + ".example", name)));
            if (decoded)
                owned.back()->cache->Decode();
            profiles.push_back(owned.back().get());
        }
        document = MakeDocument(std::move(owned));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->resize(1000, 600);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    }
    CCacheTreeView* tree() const { return frame->Tree(); }
    CCacheListView* list() const { return frame->List(); }
    QTreeWidgetItem* node(int i) const { return tree()->FindProfileNode(profiles[size_t(i)]); }
    // Chooses the profile with a click (a click on the node already
    // chosen changes nothing, so another one is clicked first).
    void choose(int i) const
    {
        if (tree()->currentItem() == node(i))
            ClickNode(tree(), node(i == 0 ? 1 : 0));
        ClickNode(tree(), node(i));
        waitIdle();
    }
    void waitIdle() const { QTRY_VERIFY_WITH_TIMEOUT(!frame->IsJobRunning() && !frame->IsBusy(), 10000); }
    // Clicks the row of the URL, as the user chooses an item.
    void clickItem(const std::string& url) const
    {
        CCacheItemModel* model = list()->Model();
        for (int row = 0; row < model->RowCountInt(); ++row) {
            if (model->ItemAt(row)->GetURL() == url) {
                const QModelIndex index = model->index(row, 0);
                list()->Table()->scrollTo(index);
                QTest::mouseClick(list()->Table()->viewport(), Qt::LeftButton, {},
                                  list()->Table()->visualRect(index).center());
                return;
            }
        }
        QFAIL(url.c_str());
    }
    QString shownText() const { return frame->Content()->TextBox()->toPlainText(); }
    QString shownHeaders() const { return frame->MetaData()->toPlainText(); }
    // The profile every listed item belongs to, or null for a mix or none.
    BrowserProfile* listedProfile() const
    {
        CCacheItemModel* model = list()->Model();
        BrowserProfile* owner = nullptr;
        for (int row = 0; row < model->RowCountInt(); ++row) {
            CCache* cache = model->ItemAt(row)->GetOwner();
            BrowserProfile* of = nullptr;
            for (BrowserProfile* p : profiles) {
                if (p->cache.get() == cache)
                    of = p;
            }
            if (!of || (owner && of != owner))
                return nullptr;
            owner = of;
        }
        return owner;
    }
};

} // namespace

class WindowFollowsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void ExpandingAnotherProfileChoosesItAndRetitlesTheWindow();
    void ThePanesClearWhenTheirItemLeavesTheList();
    void FocusComesBackAfterATreeChoiceAndTypeAheadWorks();
    void DefaultColumnWidthsFitTheTitlesAndAFullDateAndTime();
    void TheWindowSaysOnceThatTimesAreUtc();
    void AProfileNotDecodedYetSaysHowToDecodeIt();
};

void WindowFollowsTest::init()
{
    OptionStore& store = OptionStore::Instance();
    for (const char* key : {"URL", "Path", "Name", "Size", "Type", "DateMod", "DateDown", "DateExpire"})
        store.WriteString("ColumnWidths", key, "");
    for (const char* key : {"InfoView", "ShowMissing"})
        store.WriteString("Options", key, "");
    store.Sync();
}

void WindowFollowsTest::ExpandingAnotherProfileChoosesItAndRetitlesTheWindow()
{
    Window w(false);
    ClickNode(w.tree(), w.node(0));
    w.node(0)->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.listedProfile(), w.profiles[0]);
    w.clickItem("http://Alpha.example/page.txt");
    QCOMPARE(w.shownText(), QString("Alpha"));

    // Expanding Bravo (not chosen) decodes it and lists its items: the
    // highlight, the title and the panes go with them.
    w.node(2)->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.listedProfile(), w.profiles[2]);
    QCOMPARE(w.tree()->currentItem(), w.node(2));
    QCOMPARE(w.tree()->GetSelectedProfile(), w.profiles[2]);
    QCOMPARE(w.frame->windowTitle(), QString("Bravo - Oriel"));
    QVERIFY(w.shownText().isEmpty());
    QVERIFY(w.shownHeaders().isEmpty());

    // Collapsing Alpha, expanded before, changes nothing of it.
    w.node(0)->setExpanded(false);
    w.waitIdle();
    QCOMPARE(w.listedProfile(), w.profiles[2]);
    QCOMPARE(w.tree()->currentItem(), w.node(2));
    QCOMPARE(w.frame->windowTitle(), QString("Bravo - Oriel"));

    // A decoded profile expanded for the first time lists its items too:
    // Beta, decoded by a re-load elsewhere, while a server of Bravo is chosen.
    QVERIFY(w.profiles[1]->cache->Decode() == 0);
    ClickNode(w.tree(), w.node(2)->child(0));
    QCOMPARE(w.frame->windowTitle(), QString("Bravo.example - Oriel"));
    w.node(1)->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.listedProfile(), w.profiles[1]);
    QCOMPARE(w.tree()->currentItem(), w.node(1));
    QCOMPARE(w.frame->windowTitle(), QString("Beta - Oriel"));
}

void WindowFollowsTest::ThePanesClearWhenTheirItemLeavesTheList()
{
    Window w(true);
    w.choose(0);
    w.clickItem("http://Alpha.example/page.txt");
    QCOMPARE(w.shownText(), QString("Alpha"));
    QVERIFY(w.shownHeaders().contains("Alpha.example"));
    // Sorting keeps the item in the list, and on show.
    w.list()->SortByColumn(1, false);
    QCOMPARE(w.shownText(), QString("Alpha"));

    // Another profile chosen: Alpha's body is no longer on show.
    ClickNode(w.tree(), w.node(1));
    QCOMPARE(w.listedProfile(), w.profiles[1]);
    QVERIFY(w.shownText().isEmpty());
    QVERIFY(w.shownHeaders().isEmpty());

    // Re-load: the items shown before belong to the old decode.
    w.clickItem("http://Beta.example/page.txt");
    QCOMPARE(w.shownText(), QString("Beta"));
    w.frame->UpdateStatusText();
    w.frame->Action(CCacheFrame::ID_FILE_RELOAD)->trigger();
    w.waitIdle();
    QCOMPARE(w.listedProfile(), w.profiles[1]);
    QVERIFY(w.shownText().isEmpty());
    QVERIFY(w.shownHeaders().isEmpty());
}

void WindowFollowsTest::FocusComesBackAfterATreeChoiceAndTypeAheadWorks()
{
    Window w(true);
    w.frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.frame.get()));
    w.tree()->setFocus();
    QTRY_VERIFY(w.tree()->hasFocus());
    w.choose(0);
    QCOMPARE(w.listedProfile(), w.profiles[0]);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.tree()));

    // Keys go where the user's keys go: "b" chooses Beta, "r" then
    // makes it "br", Bravo.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_B);
    w.waitIdle();
    QCOMPARE(w.tree()->currentItem(), w.node(1));
    QCOMPARE(w.listedProfile(), w.profiles[1]);
    QVERIFY(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_R);
    w.waitIdle();
    QCOMPARE(w.tree()->currentItem(), w.node(2));
    QCOMPARE(w.listedProfile(), w.profiles[2]);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.tree()));

    // The list keeps the focus through a re-load started from it.
    w.list()->Table()->setFocus();
    QTRY_VERIFY(w.list()->Table()->hasFocus());
    w.frame->UpdateStatusText();
    w.frame->Action(CCacheFrame::ID_FILE_RELOAD)->trigger();
    w.waitIdle();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.list()->Table()));
}

void WindowFollowsTest::DefaultColumnWidthsFitTheTitlesAndAFullDateAndTime()
{
    Window w(true);
    for (int pass = 0; pass < 2; ++pass) {
        // The profile's columns, then a server's ("File Path", "Cache Name").
        ClickNode(w.tree(), pass == 0 ? w.node(0) : w.node(0)->child(0));
        if (pass == 0) {
            w.node(0)->setExpanded(true);
            w.waitIdle();
        }
        QTableView* table = w.list()->Table();
        QHeaderView* header = table->horizontalHeader();
        for (int column = 0; column < CCacheItemModel::kColumnCount; ++column) {
            // Room for the title and the sort arrow the header draws beside it.
            w.list()->SortByColumn(column, true);
            const QString title = w.list()->Model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
            QVERIFY2(table->columnWidth(column) >= header->sectionSizeHint(column),
                     qPrintable(QString("%1: %2 < %3").arg(title).arg(table->columnWidth(column)).arg(header->sectionSizeHint(column))));
        }
        QCOMPARE(w.list()->Model()->CellText(0, 4), QString::fromStdString(FormatDate(kWideTime)));
        for (int column = 4; column <= 6; ++column) {
            const int needed = static_cast<QAbstractItemView*>(table)->sizeHintForColumn(column);
            QVERIFY2(table->columnWidth(column) >= needed,
                     qPrintable(QString("%1 < %2").arg(table->columnWidth(column)).arg(needed)));
        }
    }
    // A width the user chose stays as chosen.
    w.list()->Table()->setColumnWidth(2, 33);
    ClickNode(w.tree(), w.node(1));
    QCOMPARE(w.list()->Table()->columnWidth(2), 33);
}

void WindowFollowsTest::TheWindowSaysOnceThatTimesAreUtc()
{
    Window w(true);
    w.choose(0);
    CCacheItemModel* model = w.list()->Model();
    for (int column = 0; column < CCacheItemModel::kColumnCount; ++column) {
        const QString tip = model->headerData(column, Qt::Horizontal, Qt::ToolTipRole).toString();
        QCOMPARE(tip, column >= 4 ? QString("Times are UTC") : QString());
        // The cells hold the time alone.
        QVERIFY(!model->CellText(0, column).contains("UTC"));
    }
    QVERIFY(w.frame->TimeZoneNote()->isVisible());
    QCOMPARE(w.frame->TimeZoneNote()->text(), QString("Times are UTC"));
    int mentions = 0;
    for (QLabel* label : w.frame->statusBar()->findChildren<QLabel*>())
        mentions += label->isVisible() && label->text().contains("UTC");
    QCOMPARE(mentions, 1);

    // The picture: Alpha's items, one chosen and shown, the columns whole.
    w.node(0)->setExpanded(true);
    w.waitIdle();
    w.clickItem("http://Alpha.example/page.txt");
    w.frame->grab().save(ShotPath("main-window.png"));
}

void WindowFollowsTest::AProfileNotDecodedYetSaysHowToDecodeIt()
{
    Window w(false);
    // The default profile is chosen at start, not decoded.
    QCOMPARE(w.tree()->GetSelectedProfile(), w.profiles[0]);
    QCOMPARE(w.frame->StatusText(0), Text(IDS_NOT_DECODED));
    ClickNode(w.tree(), w.node(1));
    QCOMPARE(w.frame->StatusText(0), Text(IDS_NOT_DECODED));
    w.node(1)->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.frame->StatusText(0), QString("2 object(s)"));
    // Decoded and empty is a count.
    ClickNode(w.tree(), w.node(0));
    QCOMPARE(w.frame->StatusText(0), Text(IDS_NOT_DECODED));
    CacheOf(*w.profiles[0]).decode = [](FakeCache&) { return 0; };
    w.node(0)->setExpanded(true);
    w.waitIdle();
    QCOMPARE(w.frame->StatusText(0), QString("0 object(s)"));
}

ORIEL_UI_TEST_MAIN(WindowFollowsTest)
#include "WindowFollowsTest.moc"
