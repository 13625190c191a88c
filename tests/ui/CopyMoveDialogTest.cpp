// The copy/move dialog: rows newest source first with their destination
// names, missing bodies left out, the title following the operation, the
// folder history of 20 in "CopyMoveDirs", OK without a trailing separator,
// Cancel leaving the history as it was, and the requests handed to the job
// with the names as edited.
#include "ui/dialogs/CopyMoveDialog.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "support/CacheContents.h"

#include <QComboBox>
#include <QTreeWidget>

using namespace oriel;
using namespace oriel::test;

namespace {

std::vector<std::string> StoredHistory()
{
    std::vector<std::string> history;
    for (int i = 1; i <= 20; ++i) {
        std::string folder = OptionStore::Instance().ReadString("CopyMoveDirs", "Prev" + std::to_string(i), "");
        if (folder.empty())
            break;
        history.push_back(folder);
    }
    return history;
}

void ClearHistory()
{
    for (int i = 1; i <= 20; ++i)
        OptionStore::Instance().WriteString("CopyMoveDirs", "Prev" + std::to_string(i), "");
}

} // namespace

class CopyMoveDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearHistory(); }

    void rowsAreInReverseOrderWithTheirNamesAndMissingBodiesLeftOut()
    {
        TempDir dir;
        WriteFile(dir.file("a"), "A");
        WriteFile(dir.file("c"), "C");
        FakeCache cache(dir.path());
        cache.AddUrl("http://h.example/x/a.gif", "a");
        cache.AddUrl("http://h.example/b.gif", "b"); // no body
        cache.AddUrl("http://h.example/c/", "c");
        std::vector<CCacheItem*> items = test::Items(cache);
        CCopyMoveDlg dlg(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kCopy, nullptr);
        dlg.FillList(items);
        QTreeWidget* rows = dlg.Rows();
        QCOMPARE(rows->topLevelItemCount(), 2);
        QCOMPARE(rows->topLevelItem(0)->text(0), QString("h.example/c/index.htm"));
        QCOMPARE(rows->topLevelItem(1)->text(0), QString("h.example/x/a.gif"));
        QCOMPARE(rows->topLevelItem(1)->text(1), QString("a"));
        QCOMPARE(rows->headerItem()->text(0), QString("Destination File Names"));
        QCOMPARE(rows->headerItem()->text(1), QString("Cache File Names"));
        QCOMPARE(dlg.windowTitle(), QString("Copy to..."));
        dlg.SetOperation(CCopyMoveDlg::kMove);
        QCOMPARE(dlg.windowTitle(), QString("Move to..."));

        // An edited name is what the job gets.
        rows->topLevelItem(0)->setText(0, "renamed.htm");
        std::vector<CopyRequest> requests = dlg.Requests();
        QCOMPARE(int(requests.size()), 2);
        QCOMPARE(requests[0].item, items[2]);
        QCOMPARE(requests[0].destName, std::string("renamed.htm"));
        QCOMPARE(requests[1].item, items[0]);
    }

    void okSavesTheFolderWithoutItsTrailingSeparatorAtTheFrontOfTheHistory()
    {
        for (int i = 0; i < 20; ++i)
            OptionStore::Instance().WriteString("CopyMoveDirs", "Prev" + std::to_string(i + 1),
                                                "/d" + std::to_string(i));
        CCopyMoveDlg dlg(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kCopy, nullptr);
        QCOMPARE(dlg.FolderBox()->count(), 20);
        QCOMPARE(dlg.FolderBox()->currentText(), QString("/d0"));
        dlg.FolderBox()->setEditText("/new/place/");
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Folder(), std::string("/new/place"));
        std::vector<std::string> stored = StoredHistory();
        QCOMPARE(int(stored.size()), 20);
        QCOMPARE(stored.front(), std::string("/new/place"));
        QCOMPARE(stored.back(), std::string("/d18")); // the 20th fell off

        // A folder already in the history moves to the front, once.
        CCopyMoveDlg again(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kCopy, nullptr);
        again.FolderBox()->setEditText("/d5");
        again.accept();
        stored = StoredHistory();
        QCOMPARE(int(stored.size()), 20);
        QCOMPARE(stored[0], std::string("/d5"));
        QCOMPARE(stored[1], std::string("/new/place"));
        QCOMPARE(int(std::count(stored.begin(), stored.end(), "/d5")), 1);
    }

    void browseKeepsTheCaseAndCancelKeepsTheStoredHistory()
    {
        OptionStore::Instance().WriteString("CopyMoveDirs", "Prev1", "/Web Saves");
        CCopyMoveDlg dlg(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kMove, nullptr);
        dlg.AddBrowsedFolder("/Other/Web Saves");
        dlg.AddBrowsedFolder("/Web Saves");
        QCOMPARE(dlg.FolderBox()->count(), 2);
        QCOMPARE(dlg.FolderBox()->itemText(0), QString("/Web Saves"));
        QCOMPARE(dlg.FolderBox()->itemText(1), QString("/Other/Web Saves"));
        QCOMPARE(dlg.History().size(), size_t(2));
        dlg.reject();
        QCOMPARE(StoredHistory(), std::vector<std::string>{"/Web Saves"});
    }

    // A picture of the dialog for review, under the build folder.
    void screenshot()
    {
        TempDir dir;
        WriteFile(dir.file("a"), "A");
        WriteFile(dir.file("b"), "B");
        FakeCache cache(dir.path());
        cache.AddUrl("http://www.example.com/images/logo.gif", "a");
        cache.AddUrl("http://www.example.com/docs/", "b");
        OptionStore::Instance().WriteString("CopyMoveDirs", "Prev1", "/home/examiner/case-42/site");
        CCopyMoveDlg dlg(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kCopy, nullptr);
        dlg.FillList(test::Items(cache));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QString folder = QCoreApplication::applicationDirPath() + "/../shots";
        QDir().mkpath(folder);
        QVERIFY(dlg.grab().save(folder + "/copy-move-dialog.png"));
    }

    void anEmptyFolderKeepsTheDialogOpen()
    {
        CCopyMoveDlg dlg(OptionStore::Instance(), DestNameOptions{}, CCopyMoveDlg::kCopy, nullptr);
        dlg.show();
        dlg.FolderBox()->setEditText("");
        dlg.accept();
        QVERIFY(dlg.isVisible());
        QVERIFY(StoredHistory().empty());
    }
};

ORIEL_UI_TEST_MAIN(CopyMoveDialogTest)
#include "CopyMoveDialogTest.moc"
