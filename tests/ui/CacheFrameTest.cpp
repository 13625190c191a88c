// The main window driven as a user drives it: expanding and choosing
// profiles and servers, sorting, Show Missing Files, the lower panes, the
// status bar, the context menus and the window settings.
#include "ui/CacheFrame.h"

#include "UiTestSupport.h"
#include "app/Messages.h"
#include "support/TestContext.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ContentView.h"
#include "ui/UiMessageSink.h"

#include <QBuffer>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QToolBar>

#include <atomic>

using namespace oriel;
using namespace oriel::test;

namespace {

std::string PngWithAlpha()
{
    // 4 by 2: left half opaque red, right half half-transparent blue.
    QImage image(4, 2, QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, x < 2 ? qRgba(255, 0, 0, 255) : qRgba(0, 0, 255, 128));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// Three servers, added out of order; items of several kinds.
std::vector<ItemSetup> DemoItems()
{
    return {
        {.url = "http://www.c.com/index.html", .cacheName = "index[1].html", .type = "text/html",
         .body = "<html>c</html>", .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"},
        {.url = "http://www.a.com/logo.png", .cacheName = "logo[1].png", .type = "image/png", .body = PngWithAlpha()},
        {.url = "http://www.a.com/readme.txt", .cacheName = "readme[1].txt", .type = "text/plain",
         .body = "line one\r\nline two\r\n"},
        {.url = "http://www.b.com/gone.txt", .cacheName = "gone[1].txt", .type = "text/plain", .body = "x",
         .missing = true},
        {.url = "http://www.b.com/app.js", .cacheName = "app[1].js", .type = "application/x-javascript",
         .body = "var a;"},
    };
}

QStringList ChildLabels(QTreeWidgetItem* node)
{
    QStringList labels;
    for (int i = 0; i < node->childCount(); ++i)
        labels << node->child(i)->text(0);
    return labels;
}

QStringList HeaderTitles(CCacheListView* list)
{
    QStringList titles;
    for (int c = 0; c < CCacheItemModel::kColumnCount; ++c)
        titles << list->Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return titles;
}

QStringList Column(CCacheListView* list, int column)
{
    QStringList texts;
    for (int row = 0; row < list->Model()->RowCountInt(); ++row)
        texts << list->Model()->CellText(row, column);
    return texts;
}

void ClickNode(CCacheTreeView* tree, QTreeWidgetItem* node)
{
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

void ClickRow(CCacheListView* list, int row)
{
    QTableView* table = list->Table();
    QModelIndex index = list->Model()->index(row, 0);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
}

void ClickHeader(CCacheListView* list, int column)
{
    QHeaderView* header = list->Table()->horizontalHeader();
    QPoint p(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, p);
}

int RowOf(CCacheListView* list, const char* url)
{
    for (int row = 0; row < list->Model()->RowCountInt(); ++row) {
        if (std::string(list->Model()->ItemAt(row)->GetURL()) == url)
            return row;
    }
    return -1;
}

// A window over one profile "Profile A" (plus an empty "Profile B"),
// shown offscreen.
struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    BrowserProfile* profile = nullptr;
    std::unique_ptr<CCacheFrame> frame;

    explicit Window(std::vector<ItemSetup> items = DemoItems())
    {
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(MakeProfile("Profile A", dir.file("a"), std::move(items)));
        profile = profiles.back().get();
        profiles.push_back(MakeProfile("Profile B", dir.file("b"), {}));
        document = MakeDocument(std::move(profiles));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->resize(900, 600);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QVERIFY(frame->List()->Table()->viewport()->height() > 100);
    }
    CCacheTreeView* tree() const { return frame->Tree(); }
    CCacheListView* list() const { return frame->List(); }
    QTreeWidgetItem* profileNode() const { return tree()->FindProfileNode(profile); }
    QTreeWidgetItem* serverNode(const QString& name) const
    {
        QTreeWidgetItem* node = profileNode();
        for (int i = 0; i < node->childCount(); ++i) {
            if (node->child(i)->text(0) == name)
                return node->child(i);
        }
        return nullptr;
    }
    // Expands the profile node and waits for the decode it starts, if any.
    void expand() const
    {
        profileNode()->setExpanded(true);
        waitForDecode();
    }
    void waitForDecode() const
    {
        if (frame->IsDecoding()) {
            QSignalSpy finished(frame.get(), &CCacheFrame::DecodeFinished);
            QVERIFY(finished.wait(10000));
        }
    }
};

void WriteOption(const char* section, const char* key, int value)
{
    OptionStore::Instance().WriteInt(section, key, value);
}

} // namespace

class CacheFrameTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void ExpandingAProfileDecodesItOnTheWorkerThreadAndAddsServersOnce();
    void AFailedDecodeAddsNoServersButStillShowsTheProfile();
    void DecoderMessagesFromTheWorkerThreadShowOnTheWindowThread();
    void ChoosingAServerOrAProfileFillsTheListWithItsColumnSet();
    void HeaderClicksSortAscendingThenDescending();
    void SortCommandsSortAscendingAndRememberTheColumn();
    void ShowMissingFilesGhostsOrHidesRowsWithoutBodies();
    void ALargeProfileIsCheckedOnSeveralThreadsWithTheSameResult();
    void ContentPaneShowsTextAndImagesByContentType_data();
    void ContentPaneShowsTextAndImagesByContentType();
    void TextBodiesOf65536BytesOrMoreAreNotShown();
    void ImagesWithAlphaAreBlendedOverThePaneBackground();
    void RequestDataPaneShowsTheHeadersAndClearsOnANewServer();
    void StatusBarCountsObjectsAndSizes_data();
    void StatusBarCountsObjectsAndSizes();
    void SelectAllAndInvertSelectionUpdateTheStatusBar();
    void ReloadDecodesAgainAndRebuildsTheProfile();
    void ColumnWidthsAreStoredUnderTheKeyOfTheColumnSetShown();
    void WindowSettingsAreSavedAndRestored();
    void StoredSettingsOutOfRangeFallBack();
    void ContextMenusAreChosenByWhatLiesUnderThePointer();
    void ViewStylesShareTheModelAndTheSelection();
};

void CacheFrameTest::init()
{
    // Every test starts from the default settings.
    OptionStore& store = OptionStore::Instance();
    for (const char* section : {"Window", "ColumnWidths"}) {
        for (const OptionDef& def : OptionTable()) {
            if (std::string(def.section) == section)
                store.WriteString(section, def.key, "");
        }
    }
    for (const char* key : {"InfoView", "Toolbar", "ShowMissing", "View", "SortColumn", "SortOrder", "DefaultAction",
                            "QuickView"})
        store.WriteString("Options", key, "");
    // Empty texts read as the defaults.
    store.Sync();
}

void CacheFrameTest::ExpandingAProfileDecodesItOnTheWorkerThreadAndAddsServersOnce()
{
    Window w;
    FakeCache& cache = CacheOf(*w.profile);
    std::atomic<bool> onWorker{false};
    auto decode = cache.decode;
    cache.decode = [&, decode](FakeCache& c) {
        onWorker = QThread::currentThread() != qApp->thread();
        return decode(c);
    };
    QCOMPARE(w.tree()->topLevelItemCount(), 2);
    QCOMPARE(cache.decodeCalls, 0);
    QCOMPARE(w.list()->GetItemCount(), 0);

    w.expand();
    QCOMPARE(cache.decodeCalls, 1);
    QVERIFY(onWorker);
    QCOMPARE(ChildLabels(w.profileNode()), (QStringList{"www.a.com", "www.b.com", "www.c.com"}));
    // The list shows the whole profile with the root columns.
    QCOMPARE(HeaderTitles(w.list()).mid(0, 2), (QStringList{"URL", "Name"}));
    QCOMPARE(w.list()->GetItemCount(), 5);
    QVERIFY(!w.frame->ProgressBar()->isVisible());
    QVERIFY(!w.frame->IsBusy());

    w.profileNode()->setExpanded(false);
    w.expand();
    QCOMPARE(cache.decodeCalls, 1);
    QCOMPARE(w.profileNode()->childCount(), 3);
}

void CacheFrameTest::AFailedDecodeAddsNoServersButStillShowsTheProfile()
{
    Window w;
    FakeCache& cache = CacheOf(*w.profile);
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://half.com/x", "x");
        return -1;
    };
    w.expand();
    QCOMPARE(cache.decodeCalls, 1);
    QCOMPARE(w.profileNode()->childCount(), 0);
    QCOMPARE(w.list()->GetItemCount(), 0);
    // Not decoded: the status bar says how to try again.
    QCOMPARE(w.frame->StatusText(0), QString::fromUtf8(LoadString(IDS_NOT_DECODED)));
}

void CacheFrameTest::DecoderMessagesFromTheWorkerThreadShowOnTheWindowThread()
{
    std::vector<std::pair<QString, bool>> shown;
    auto sink = std::make_shared<UiMessageSink>([&](const QString& text, MessageIcon, bool question) {
        shown.emplace_back(text, QThread::currentThread() == qApp->thread());
        return question;
    });
    test::Context().SetMessages(sink.get());
    Window w;
    std::atomic<bool> answer{false};
    CacheOf(*w.profile).decode = [&](FakeCache&) {
        test::Context().Messages().ShowMessage("Invalid cache database header information! Cannot decode.",
                                               MessageIcon::Exclamation);
        answer = test::Context().Messages().AskYesNo("Skip?", MessageIcon::Question);
        return -1;
    };
    w.expand();
    test::Context().SetMessages(nullptr);
    QCOMPARE(shown.size(), size_t(2));
    QCOMPARE(shown[0].first, QString("Invalid cache database header information! Cannot decode."));
    QVERIFY(shown[0].second);
    QVERIFY(shown[1].second);
    QVERIFY(answer);
}

void CacheFrameTest::ChoosingAServerOrAProfileFillsTheListWithItsColumnSet()
{
    Window w;
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    QCOMPARE(HeaderTitles(w.list()),
             (QStringList{"File Path", "Cache Name", "Size (bytes)", "File Type", "Last Modified Date",
                          "Download Date", "Expiry Date"}));
    QCOMPARE(Column(w.list(), 0), (QStringList{"/logo.png", "/readme.txt"}));
    QCOMPARE(w.frame->windowTitle(), QString("www.a.com - Oriel"));

    ClickNode(w.tree(), w.profileNode());
    QCOMPARE(HeaderTitles(w.list()).mid(0, 2), (QStringList{"URL", "Name"}));
    QCOMPARE(w.list()->GetItemCount(), 5);
    QCOMPARE(w.frame->windowTitle(), QString("Profile A - Oriel"));

    // A profile that was never expanded lists nothing until it is decoded.
    Window other;
    ClickNode(other.tree(), other.tree()->topLevelItem(1));
    QCOMPARE(other.list()->GetItemCount(), 0);
    QCOMPARE(CacheOf(*other.profile).decodeCalls, 0);
}

void CacheFrameTest::HeaderClicksSortAscendingThenDescending()
{
    Window w({
        {.url = "http://h/b", .cacheName = "b", .type = "text/plain", .body = "12345"},
        {.url = "http://h/a", .cacheName = "a", .type = std::nullopt, .body = "1"},
        {.url = "http://h/c", .cacheName = "c", .type = "image/gif", .body = "123"},
    });
    w.expand();
    QCOMPARE(Column(w.list(), 0), (QStringList{"http://h/a", "http://h/b", "http://h/c"}));
    ClickHeader(w.list(), 2);
    QCOMPARE(Column(w.list(), 2), (QStringList{"1", "3", "5"}));
    QCOMPARE(w.frame->SortColumn(), 2);
    ClickHeader(w.list(), 2);
    QCOMPARE(Column(w.list(), 2), (QStringList{"5", "3", "1"}));
    QVERIFY(!w.list()->SortAscending());
    ClickHeader(w.list(), 3);
    QCOMPARE(Column(w.list(), 3), (QStringList{"image/gif", "text/plain", ""}));
    QVERIFY(w.list()->SortAscending());
    // Header clicks are not remembered; a refill keeps the order.
    QCOMPARE(OptionStore::Instance().ReadInt("Options", "SortColumn", 0), 0);
    ClickNode(w.tree(), w.profileNode());
    QCOMPARE(Column(w.list(), 3), (QStringList{"image/gif", "text/plain", ""}));
}

void CacheFrameTest::SortCommandsSortAscendingAndRememberTheColumn()
{
    WriteOption("Options", "SortColumn", 2);
    WriteOption("Options", "SortOrder", 0);
    Window w;
    w.expand();
    // The first fill takes the stored sort: size, descending.
    QCOMPARE(w.list()->SortColumn(), 2);
    QVERIFY(!w.list()->SortAscending());
    w.frame->Action(CCacheFrame::ID_SORT_URL + 3)->trigger();
    QCOMPARE(w.list()->SortColumn(), 3);
    QVERIFY(w.list()->SortAscending());
    QCOMPARE(OptionStore::Instance().ReadInt("Options", "SortColumn", -1), 3);
    QCOMPARE(OptionStore::Instance().ReadInt("Options", "SortOrder", -1), 1);
    QVERIFY(w.frame->Action(CCacheFrame::ID_SORT_URL + 3)->isChecked());
    QVERIFY(!w.frame->Action(CCacheFrame::ID_SORT_URL + 2)->isChecked());
}

void CacheFrameTest::ShowMissingFilesGhostsOrHidesRowsWithoutBodies()
{
    Window w;
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.b.com"));
    QCOMPARE(w.list()->GetItemCount(), 2);
    const int gone = RowOf(w.list(), "http://www.b.com/gone.txt");
    QVERIFY(gone >= 0);
    QVERIFY(w.list()->Model()->IsMissing(gone));
    QVERIFY(w.list()->Model()->data(w.list()->Model()->index(gone, 0), Qt::ForegroundRole).isValid());
    QVERIFY(!w.list()->Model()->IsMissing(1 - gone));
    QVERIFY(!w.list()->Model()->data(w.list()->Model()->index(1 - gone, 0), Qt::ForegroundRole).isValid());

    w.frame->Action(CCacheFrame::ID_VIEW_SHOW_MISSING)->trigger();
    QVERIFY(!w.frame->ShowMissing());
    QCOMPARE(w.list()->GetItemCount(), 1);
    QCOMPARE(Column(w.list(), 0), QStringList{"/app.js"});
    // The progress went once through every entry, shown or not.
    QCOMPARE(w.frame->GetProgress().Position(), 2);

    w.frame->Action(CCacheFrame::ID_VIEW_SHOW_MISSING)->trigger();
    QCOMPARE(w.list()->GetItemCount(), 2);
}

void CacheFrameTest::ALargeProfileIsCheckedOnSeveralThreadsWithTheSameResult()
{
    // Enough items for the existence checks to be shared out: one body in
    // three is missing, in runs that cross the chunks the threads take.
    constexpr int kItems = 6000;
    std::vector<ItemSetup> items;
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        items.push_back({.url = "http://www.s" + std::to_string(i % 7) + ".com/f" + n, .cacheName = "f" + n,
                         .type = "text/plain", .body = "x", .missing = i % 3 == 1});
    }
    Window w(std::move(items));
    w.expand();
    ClickNode(w.tree(), w.profileNode());
    CCacheItemModel* model = w.list()->Model();
    QCOMPARE(model->RowCountInt(), kItems);
    QCOMPARE(w.frame->GetProgress().Position(), kItems);
    int missing = 0;
    for (int row = 0; row < model->RowCountInt(); ++row) {
        const int i = std::stoi(model->ItemAt(row)->GetCacheName() + 1);
        QCOMPARE(model->IsMissing(row), i % 3 == 1);
        missing += model->IsMissing(row);
    }
    QCOMPARE(missing, kItems / 3);

    w.frame->Action(CCacheFrame::ID_VIEW_SHOW_MISSING)->trigger();
    QCOMPARE(w.list()->GetItemCount(), kItems - kItems / 3);
}

void CacheFrameTest::ContentPaneShowsTextAndImagesByContentType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("textShown");
    QTest::addColumn<bool>("image");
    QTest::newRow("html as text, line ends kept") << "text/html" << "<p>a</p>\r\nb" << false << "<p>a</p>\nb" << true
                                                  << false;
    QTest::newRow("text ends at a NUL byte") << "text/plain" << QString("abc") + QChar(0) + "def" << false << "abc"
                                             << true << false;
    QTest::newRow("image") << "image/png" << "" << false << "" << false << true;
    QTest::newRow("script shows nothing") << "application/x-javascript" << "var a;" << false << "" << false << false;
    QTest::newRow("capital T is no text type") << "Text/html" << "<p>a</p>" << false << "" << false << false;
    QTest::newRow("no type shows nothing") << "" << "plain words" << false << "" << false << false;
    QTest::newRow("missing text body") << "text/plain" << "gone" << true << "" << false << false;
    QTest::newRow("missing image body") << "image/png" << "" << true << "" << false << false;
    QTest::newRow("undecodable image") << "image/gif" << "not a gif" << false << "" << false << false;
}

void CacheFrameTest::ContentPaneShowsTextAndImagesByContentType()
{
    QFETCH(QString, type);
    QFETCH(QString, body);
    QFETCH(bool, missing);
    QFETCH(QString, text);
    QFETCH(bool, textShown);
    QFETCH(bool, image);
    std::string bytes = type == "image/png" ? PngWithAlpha() : body.toStdString();
    Window w({{.url = "http://h/body", .cacheName = "body",
               .type = type.isEmpty() ? std::nullopt : std::optional<std::string>(type.toStdString()),
               .body = bytes, .missing = missing}});
    QCOMPARE(w.frame->InfoView(), 1);
    w.expand();
    ClickRow(w.list(), 0);
    CContentView* content = w.frame->Content();
    QCOMPARE(content->TextBox()->toPlainText(), text);
    QCOMPARE(content->TextBox()->isVisible(), textShown);
    QCOMPARE(content->HasImage(), image);
    if (image) {
        QCOMPARE(content->Image().size(), QSize(4, 2));
        QCOMPARE(content->Canvas()->size(), QSize(4, 2));
    }
}

void CacheFrameTest::TextBodiesOf65536BytesOrMoreAreNotShown()
{
    Window w({
        {.url = "http://h/1", .cacheName = "fits", .type = "text/html", .body = std::string(65535, 'a')},
        {.url = "http://h/2", .cacheName = "big", .type = "text/html", .body = std::string(65536, 'b')},
    });
    w.expand();
    ClickRow(w.list(), 0);
    QCOMPARE(w.frame->Content()->TextBox()->toPlainText().size(), 65535);
    ClickRow(w.list(), 1);
    QCOMPARE(w.frame->Content()->TextBox()->toPlainText(), QString("File is too large to display."));
}

void CacheFrameTest::ImagesWithAlphaAreBlendedOverThePaneBackground()
{
    Window w({{.url = "http://h/a.png", .cacheName = "a.png", .type = "image/png", .body = PngWithAlpha()}});
    w.expand();
    ClickRow(w.list(), 0);
    CImageCanvas* canvas = w.frame->Content()->Canvas();
    QImage shown = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor background = canvas->palette().color(QPalette::Base);
    QCOMPARE(QColor(shown.pixel(0, 0)), QColor(255, 0, 0));
    const QColor blended(shown.pixel(3, 1));
    QVERIFY(qAbs(blended.red() - background.red() * 127 / 255) <= 2);
    QVERIFY(qAbs(blended.blue() - (128 + background.blue() * 127 / 255)) <= 2);
}

void CacheFrameTest::RequestDataPaneShowsTheHeadersAndClearsOnANewServer()
{
    Window w;
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.c.com"));
    ClickRow(w.list(), 0);
    QCOMPARE(w.frame->Content()->TextBox()->toPlainText(), QString("<html>c</html>"));

    w.frame->Action(CCacheFrame::ID_VIEW_REQUEST_DATA)->trigger();
    QCOMPARE(w.frame->InfoView(), 0);
    QVERIFY(w.frame->MetaData()->isVisible());
    QVERIFY(!w.frame->Content()->isVisible());
    ClickRow(w.list(), 0);
    QCOMPARE(w.frame->MetaData()->toPlainText(), QString("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n").replace("\r\n", "\n"));

    // A new server clears both panes: their item is no longer listed.
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    QCOMPARE(w.frame->MetaData()->toPlainText(), QString());
    QCOMPARE(w.frame->Content()->TextBox()->toPlainText(), QString());

    w.frame->Action(CCacheFrame::ID_VIEW_CONTENTS)->trigger();
    QVERIFY(w.frame->Content()->isVisible());
    QVERIFY(!w.frame->MetaData()->isVisible());
}

void CacheFrameTest::StatusBarCountsObjectsAndSizes_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QString>("pane0");
    QTest::addColumn<QString>("pane1");
    QTest::newRow("empty list") << QList<int>{} << "0 object(s)" << "0 bytes";
    QTest::newRow("1023 bytes") << QList<int>{1000, 23} << "2 object(s)" << "1,023 bytes";
    QTest::newRow("1024 bytes is 1 kb") << QList<int>{1024} << "1 object(s)" << "1 kb";
    QTest::newRow("kb rounded down, with groups") << QList<int>{2000000, 1048576 * 1000} << "2 object(s)"
                                                  << "1,025,953 kb";
}

void CacheFrameTest::StatusBarCountsObjectsAndSizes()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QString, pane0);
    QFETCH(QString, pane1);
    std::vector<ItemSetup> items;
    for (int i = 0; i < sizes.size(); ++i)
        items.push_back({.url = "http://h/" + std::to_string(i), .cacheName = std::to_string(i), .type = "text/plain",
                         .body = "x", .size = sizes[i]});
    Window w(items);
    w.expand();
    QCOMPARE(w.frame->StatusText(0), pane0);
    QCOMPARE(w.frame->StatusText(1), pane1);
}

void CacheFrameTest::SelectAllAndInvertSelectionUpdateTheStatusBar()
{
    std::vector<ItemSetup> items;
    for (int i = 0; i < 3; ++i)
        items.push_back({.url = "http://h/" + std::to_string(i), .cacheName = std::to_string(i), .type = "text/plain",
                         .body = std::string(size_t(600 * (i + 1)), 'x')});
    Window w(items);
    w.expand();
    ClickRow(w.list(), 1);
    QCOMPARE(w.frame->StatusText(0), QString("1 object(s) selected"));
    QCOMPARE(w.frame->StatusText(1), QString("1 kb"));
    w.frame->Action(CCacheFrame::ID_EDIT_INVERT)->trigger();
    QCOMPARE(w.frame->StatusText(0), QString("2 object(s) selected"));
    QCOMPARE(w.frame->StatusText(1), QString("2 kb"));
    QCOMPARE(w.list()->SelectedRows(), (std::vector<int>{0, 2}));
    w.frame->Action(CCacheFrame::ID_EDIT_SELECT_ALL)->trigger();
    QCOMPARE(w.frame->StatusText(0), QString("3 object(s) selected"));
    QCOMPARE(w.frame->StatusText(1), QString("3 kb"));
}

void CacheFrameTest::ReloadDecodesAgainAndRebuildsTheProfile()
{
    Window w;
    w.expand();
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    QCOMPARE(w.list()->GetItemCount(), 2);
    FakeCache& cache = CacheOf(*w.profile);
    cache.decode = [](FakeCache& c) {
        c.AddUrl("http://new.org/a", "a");
        c.AddUrl("http://new.org/b", "b");
        return 0;
    };
    w.frame->Action(CCacheFrame::ID_FILE_RELOAD)->trigger();
    w.waitForDecode();
    QCOMPARE(cache.decodeCalls, 2);
    QCOMPARE(ChildLabels(w.profileNode()), QStringList{"new.org"});
    QVERIFY(w.profileNode()->isExpanded());
    QCOMPARE(w.tree()->currentItem(), w.profileNode());
    QCOMPARE(HeaderTitles(w.list()).first(), QString("URL"));
    QCOMPARE(Column(w.list(), 0), (QStringList{"http://new.org/a", "http://new.org/b"}));
    QVERIFY(!w.frame->IsBusy());
}

void CacheFrameTest::ColumnWidthsAreStoredUnderTheKeyOfTheColumnSetShown()
{
    Window w;
    w.expand();
    QHeaderView* header = w.list()->Table()->horizontalHeader();
    QCOMPARE(header->sectionSize(0), 142);
    // Never narrower than the column table says; wider where a full date
    // and time needs it.
    QVERIFY(header->sectionSize(4) >= 116);
    header->resizeSection(0, 300);
    QCOMPARE(OptionStore::Instance().ReadInt("ColumnWidths", "URL", 0), 300);
    ClickNode(w.tree(), w.serverNode("www.a.com"));
    QCOMPARE(header->sectionSize(0), 142);
    header->resizeSection(0, 222);
    header->resizeSection(6, 99);
    QCOMPARE(OptionStore::Instance().ReadInt("ColumnWidths", "Path", 0), 222);
    QCOMPARE(OptionStore::Instance().ReadInt("ColumnWidths", "URL", 0), 300);
    QCOMPARE(OptionStore::Instance().ReadInt("ColumnWidths", "DateExpire", 0), 99);
    ClickNode(w.tree(), w.profileNode());
    QCOMPARE(header->sectionSize(0), 300);
}

void CacheFrameTest::WindowSettingsAreSavedAndRestored()
{
    {
        Window w;
        w.frame->setGeometry(70, 80, 640, 480);
        w.frame->OuterSplitter()->setSizes({150, 490});
        w.frame->InnerSplitter()->setSizes({180, 200, 0});
        w.frame->Action(CCacheFrame::ID_VIEW_REQUEST_DATA)->trigger();
        w.frame->Action(CCacheFrame::ID_VIEW_TOOLBAR)->trigger();
        w.frame->Action(CCacheFrame::ID_VIEW_SHOW_MISSING)->trigger();
        w.frame->Action(CCacheFrame::ID_VIEW_LIST)->trigger();
        QVERIFY(w.frame->close());
    }
    OptionStore& store = OptionStore::Instance();
    QCOMPARE(store.ReadInt("Window", "State", 0), 1);
    QCOMPARE(store.ReadInt("Window", "Left", 0), 70);
    QCOMPARE(store.ReadInt("Window", "Top", 0), 80);
    QCOMPARE(store.ReadInt("Window", "Width", 0), 640);
    QCOMPARE(store.ReadInt("Window", "Height", 0), 480);
    QCOMPARE(store.ReadInt("Window", "SplitWidth", 0), 150);
    QCOMPARE(store.ReadInt("Window", "SplitHeight", 0), 180);
    QCOMPARE(store.ReadInt("Options", "InfoView", -1), 0);
    QCOMPARE(store.ReadInt("Options", "Toolbar", -1), 0);
    QCOMPARE(store.ReadInt("Options", "ShowMissing", -1), 0);
    QCOMPARE(store.ReadInt("Options", "View", -1), 3);

    TempDir dir;
    CCacheDocument document(std::make_unique<ProfileList>());
    CCacheFrame frame(document);
    QCOMPARE(frame.geometry(), QRect(70, 80, 640, 480));
    QCOMPARE(frame.InfoView(), 0);
    QVERIFY(!frame.ToolBar()->isVisibleTo(&frame));
    QVERIFY(!frame.ShowMissing());
    QCOMPARE(frame.List()->GetViewStyle(), int(CCacheListView::kList));
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCOMPARE(frame.OuterSplitter()->sizes().value(0), 150);
    QCOMPARE(frame.InnerSplitter()->sizes().value(0), 180);
    QVERIFY(frame.MetaData()->isVisible());
    QVERIFY(!frame.Content()->isVisible());
}

void CacheFrameTest::StoredSettingsOutOfRangeFallBack()
{
    WriteOption("Options", "View", 7);
    WriteOption("Options", "DefaultAction", 2);
    CCacheDocument document(std::make_unique<ProfileList>());
    CCacheFrame frame(document);
    QCOMPARE(frame.List()->GetViewStyle(), int(CCacheListView::kDetails));
    QCOMPARE(frame.DefaultAction(), 0);
    // Defaults of a first start.
    QCOMPARE(frame.geometry(), QRect(50, 50, 550, 350));
    QCOMPARE(frame.InfoView(), 1);
    QVERIFY(frame.ShowMissing());
    QCOMPARE(frame.windowTitle(), QString("Oriel"));

    OptionStore::Instance().WriteString("Options", "QuickView", "/usr/bin/viewer");
    CCacheFrame withProgram(document);
    QCOMPARE(withProgram.DefaultAction(), 2);
}

void CacheFrameTest::ContextMenusAreChosenByWhatLiesUnderThePointer()
{
    Window w;
    w.expand();
    CCacheTreeView* tree = w.tree();
    auto at = [](QWidget* viewport, QPoint p) { return viewport->mapToGlobal(p); };
    QCOMPARE(w.frame->ContextMenuAt(at(tree->viewport(), tree->visualItemRect(w.profileNode()).center())),
             int(CCacheFrame::kProfileMenu));
    QCOMPARE(w.frame->ContextMenuAt(at(tree->viewport(), tree->visualItemRect(w.serverNode("www.b.com")).center())),
             int(CCacheFrame::kServerMenu));
    QTableView* table = w.list()->Table();
    QCOMPARE(w.frame->ContextMenuAt(at(table->viewport(), table->visualRect(w.list()->Model()->index(1, 0)).center())),
             int(CCacheFrame::kItemMenu));
    QCOMPARE(w.frame->ContextMenuAt(at(table->viewport(), QPoint(5, table->viewport()->height() - 3))),
             int(CCacheFrame::kBackgroundMenu));
    QCOMPARE(w.frame->ContextMenuAt(at(tree->viewport(), QPoint(5, tree->viewport()->height() - 3))),
             int(CCacheFrame::kBackgroundMenu));

    std::unique_ptr<QMenu> profileMenu = w.frame->CreateContextMenu(CCacheFrame::kProfileMenu);
    QVERIFY(profileMenu);
    QCOMPARE(profileMenu->actions().size(), 2);
    QCOMPARE(profileMenu->actions()[0]->text(), QString("&Empty Cache"));
    QCOMPARE(profileMenu->defaultAction(), w.frame->Action(CCacheFrame::ID_FILE_RELOAD));
    QCOMPARE(profileMenu->defaultAction()->text(), QString("&Re-load Cache"));

    std::unique_ptr<QMenu> background = w.frame->CreateContextMenu(CCacheFrame::kBackgroundMenu);
    QVERIFY(background);
    QStringList texts;
    for (QAction* action : background->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    QCOMPARE(texts, (QStringList{"&Toolbar", "Show &Missing Files", "-", "&View", "Arrange &Icons"}));
    QMenu* arrange = background->actions().last()->menu();
    QCOMPARE(arrange->actions().first()->text(), QString("by &URL"));
    QCOMPARE(arrange->actions().size(), 9);
    // Item and server menus hold the item operations, separators included.
    QCOMPARE(w.frame->CreateContextMenu(CCacheFrame::kItemMenu)->actions().size(), 12);
    QCOMPARE(w.frame->CreateContextMenu(CCacheFrame::kServerMenu)->actions().size(), 5);
}

void CacheFrameTest::ViewStylesShareTheModelAndTheSelection()
{
    Window w;
    w.expand();
    ClickRow(w.list(), 2);
    for (int command : {CCacheFrame::ID_VIEW_LARGE_ICONS, CCacheFrame::ID_VIEW_SMALL_ICONS, CCacheFrame::ID_VIEW_LIST}) {
        w.frame->Action(command)->trigger();
        QVERIFY(w.list()->IconList()->isVisible());
        QVERIFY(!w.list()->Table()->isVisible());
        QCOMPARE(w.list()->IconList()->model(), w.list()->Model());
        QCOMPARE(w.list()->SelectedRows(), std::vector<int>{2});
        QVERIFY(w.frame->Action(command)->isChecked());
        QVERIFY(w.frame->Action(CCacheFrame::ID_VIEW_AUTO_ARRANGE)->isEnabled());
    }
    // Selecting in icon style selects the same row in details style.
    QListView* icons = w.list()->IconList();
    QModelIndex first = w.list()->Model()->index(0, 0);
    QTest::mouseClick(icons->viewport(), Qt::LeftButton, {}, icons->visualRect(first).center());
    w.frame->Action(CCacheFrame::ID_VIEW_DETAILS)->trigger();
    QVERIFY(w.list()->Table()->isVisible());
    QCOMPARE(w.list()->SelectedRows(), std::vector<int>{0});
    QCOMPARE(w.frame->StatusText(0), QString("1 object(s) selected"));
    QVERIFY(!w.frame->Action(CCacheFrame::ID_VIEW_AUTO_ARRANGE)->isEnabled());
}

ORIEL_UI_TEST_MAIN(CacheFrameTest)
#include "CacheFrameTest.moc"
