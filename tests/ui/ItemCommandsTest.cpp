// The commands that get files out: their enabling over the selection and
// the tree, the clipboard texts, and copy and move through the dialog with
// the rows of moved files ghosted or removed afterwards.
#include "ui/commands/Command.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ItemListModel.h"
#include "ui/dialogs/CopyMoveDialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

using namespace oriel;
using namespace oriel::test;

namespace {

using C = CommandIds;

const Command* Find(const std::vector<Command>& commands, int id)
{
    for (const Command& c : commands) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

std::vector<ItemSetup> Items()
{
    return {
        {.url = "http://www.a.com/docs/", .cacheName = "index[1].html", .type = "text/html", .body = "<p>a</p>"},
        {.url = "http://www.a.com/img/logo.gif", .cacheName = "logo[1].gif", .type = "image/gif", .body = "GIF89a"},
        {.url = "http://www.a.com/gone.txt", .cacheName = "gone[1].txt", .type = "text/plain", .body = "x",
         .missing = true},
    };
}

struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    BrowserProfile* profile = nullptr;
    std::unique_ptr<CCacheFrame> frame;

    Window()
    {
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(MakeProfile("Profile A", dir.file("cache"), Items()));
        profile = profiles.back().get();
        document = MakeDocument(std::move(profiles));
        frame = std::make_unique<CCacheFrame>(*document);
        frame->resize(900, 600);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QTreeWidgetItem* node = frame->Tree()->FindProfileNode(profile);
        node->setExpanded(true);
        if (frame->IsDecoding()) {
            QSignalSpy finished(frame.get(), &CCacheFrame::DecodeFinished);
            QVERIFY(finished.wait(10000));
        }
        QTreeWidgetItem* server = node->child(0);
        frame->Tree()->scrollToItem(server);
        QTest::mouseClick(frame->Tree()->viewport(), Qt::LeftButton, {},
                          frame->Tree()->visualItemRect(server).center());
        QCOMPARE(frame->List()->GetItemCount(), 3);
    }
};

// Answers the next copy/move dialog with `folder` and OK.
void AnswerDialog(const std::string& folder, int operation)
{
    QTimer::singleShot(0, [folder, operation] {
        auto* dlg = qobject_cast<CCopyMoveDlg*>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        dlg->SetOperation(operation);
        dlg->FolderBox()->setEditText(QString::fromStdString(folder));
        dlg->accept();
    });
}

} // namespace

class ItemCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void commandsAreEnabledBySelectionAndTree()
    {
        const std::vector<Command> commands = ItemCommands();
        BrowserProfile profile;
        CNamedCacheItemArray server("www.a.com");
        struct Case {
            int selected;
            bool tree;
            bool hasServer;
            bool selection; // copy/move/URLs of the selection
            bool serverOps; // the server menu's commands
        };
        const Case cases[] = {
            {0, false, false, false, false}, {1, false, false, true, false}, {3, false, true, true, false},
            {0, true, true, false, true},    {2, true, false, true, false},
        };
        for (const Case& c : cases) {
            CommandContext context;
            context.profile = &profile;
            context.selectedCount = c.selected;
            context.treeActive = c.tree;
            context.server = c.hasServer ? &server : nullptr;
            for (int id : {C::ID_EDIT_COPY_TO, C::ID_EDIT_MOVE_TO, C::ID_EDIT_COPY_URLS})
                QCOMPARE(Find(commands, id)->enabled(context), c.selection);
            for (int id : {C::ID_SERVER_COPY_ALL, C::ID_SERVER_MOVE_ALL, C::ID_SERVER_COPY_URL})
                QCOMPARE(Find(commands, id)->enabled(context), c.serverOps);
        }
        QCOMPARE(Find(commands, C::ID_EDIT_COPY_TO)->shortcut, QKeySequence(Qt::CTRL | Qt::Key_C));
        QCOMPARE(Find(commands, C::ID_EDIT_MOVE_TO)->shortcut, QKeySequence(Qt::CTRL | Qt::Key_X));
    }

    void urlsGoToTheClipboardSeparatedByCrLf()
    {
        Window w;
        w.frame->List()->SelectAll();
        std::vector<CCacheItem*> items = w.frame->List()->SelectedItems();
        w.frame->RunCommand(C::ID_EDIT_COPY_URLS);
        QString expected;
        for (CCacheItem* item : items)
            expected += (expected.isEmpty() ? "" : "\r\n") + QString(item->GetURL());
        QCOMPARE(QApplication::clipboard()->text(), expected);
        QVERIFY(!expected.endsWith("\n"));
        QCOMPARE(expected.count("\r\n"), 2);
    }

    void moveGhostsOrRemovesTheRowsOfMovedFiles_data()
    {
        QTest::addColumn<bool>("showMissing");
        QTest::newRow("show missing") << true;
        QTest::newRow("hide missing") << false;
    }

    void moveGhostsOrRemovesTheRowsOfMovedFiles()
    {
        QFETCH(bool, showMissing);
        Window w;
        w.frame->SetShowMissing(showMissing);
        w.frame->List()->SelectAll();
        const std::string out = w.dir.file("out");
        AnswerDialog(out, CCopyMoveDlg::kMove);
        w.frame->RunCommand(C::ID_EDIT_MOVE_TO);
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame->IsJobRunning(), 10000);
        QCOMPARE(ReadWholeFile(out + "/www.a.com/docs/index.htm"), std::string("<p>a</p>"));
        QCOMPARE(ReadWholeFile(out + "/www.a.com/img/logo.gif"), std::string("GIF89a"));
        QVERIFY(!std::filesystem::exists(w.dir.file("cache/logo[1].gif")));
        CCacheItemModel* model = w.frame->List()->Model();
        if (showMissing) {
            QCOMPARE(model->RowCountInt(), 3);
            for (int row = 0; row < 3; ++row)
                QVERIFY(model->IsMissing(row));
        } else {
            // The row that was missing before stays as it was.
            QCOMPARE(model->RowCountInt(), 1);
            QCOMPARE(std::string(model->ItemAt(0)->GetURL()), std::string("http://www.a.com/gone.txt"));
        }
    }

    void copyLeavesTheRowsAndTheCache()
    {
        Window w;
        w.frame->List()->SelectAll();
        const std::string out = w.dir.file("copies");
        AnswerDialog(out, CCopyMoveDlg::kCopy);
        w.frame->RunCommand(C::ID_EDIT_COPY_TO);
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame->IsJobRunning(), 10000);
        QCOMPARE(ReadWholeFile(out + "/www.a.com/img/logo.gif"), std::string("GIF89a"));
        QVERIFY(std::filesystem::exists(w.dir.file("cache/logo[1].gif")));
        QCOMPARE(w.frame->List()->Model()->RowCountInt(), 3);
    }
};

ORIEL_UI_TEST_MAIN(ItemCommandsTest)
#include "ItemCommandsTest.moc"
