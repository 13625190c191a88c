// Find over the item list: the search sequences over a text in rows 2 and
// 7 with and without Wrap to Start and Extend Selection, the history (most
// recent first, no duplicates, at most 20), the last match kept across a
// refill of the list, and one dialog at a time through Ctrl+F.
#include "ui/dialogs/FindDialog.h"

#include "DialogShots.h"
#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

using namespace oriel;
using namespace oriel::test;

namespace {

// Ten rows in path order; "needle" in rows 2 and 7 (row 7 in capitals).
std::vector<ItemSetup> Items()
{
    std::vector<ItemSetup> items;
    for (int i = 0; i < 10; ++i) {
        std::string name = "/p" + std::to_string(i);
        if (i == 2)
            name += "-needle.html";
        else if (i == 7)
            name += "-NEEDLE.html";
        else
            name += ".html";
        items.push_back({.url = "http://www.h.com" + name, .cacheName = "f" + std::to_string(i), .type = "text/html",
                         .body = "<p>" + std::to_string(i) + "</p>"});
    }
    return items;
}

struct Window {
    TempDir dir;
    std::unique_ptr<CCacheDocument> document;
    std::unique_ptr<CCacheFrame> frame;
    QTreeWidgetItem* server = nullptr;
    std::vector<QString> notFound;

    Window()
    {
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(MakeProfile("Profile A", dir.file("cache"), Items()));
        BrowserProfile* profile = profiles.back().get();
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
        server = node->child(0);
        ShowServer();
        QCOMPARE(frame->List()->GetItemCount(), 10);
    }

    void ShowServer()
    {
        frame->Tree()->scrollToItem(server);
        QTest::mouseClick(frame->Tree()->viewport(), Qt::LeftButton, {}, frame->Tree()->visualItemRect(server).center());
    }

    CFindDlg& Open()
    {
        frame->RunCommand(CommandIds::ID_EDIT_FIND);
        CFindDlg* dialog = CFindDlg::OpenDialog(*frame);
        if (!dialog)
            qFatal("no Find dialog");
        dialog->SetNotFoundPresenter([this](const QString& text) { notFound.push_back(text); });
        return *dialog;
    }

    std::vector<int> Selected() const { return frame->List()->SelectedRows(); }
};

void Search(CFindDlg& dialog, const QString& text)
{
    dialog.SearchBox()->setEditText(text);
    QVERIFY(dialog.FindNextButton()->isEnabled());
    dialog.FindNextButton()->click();
}

QStringList History()
{
    QStringList stored;
    for (int n = 1; n <= CFindDlg::kHistorySize + 1; ++n)
        stored << QString::fromStdString(OptionStore::Instance().ReadString("Find", "Prev" + std::to_string(n), ""));
    while (!stored.isEmpty() && stored.back().isEmpty())
        stored.removeLast();
    return stored;
}

void ClearHistory()
{
    for (int n = 1; n <= CFindDlg::kHistorySize; ++n)
        OptionStore::Instance().WriteString("Find", "Prev" + std::to_string(n), "");
}

} // namespace

class FindDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearHistory(); }
    void SearchesRunOnFromTheLastMatchAndStartOverAfterAMiss();
    void WrapToStartFindsTheFirstRowAgainAtOnce();
    void ExtendSelectionKeepsEveryMatchSelected();
    void MatchCaseTellsCapitalsApart();
    void TheLastMatchSurvivesARefillOfTheList();
    void HistoryMovesATextToTheTopOnceAndKeepsTwenty();
    void OneDialogAtATimeAndCancelForgetsIt();
};

void FindDialogTest::SearchesRunOnFromTheLastMatchAndStartOverAfterAMiss()
{
    Window window;
    CFindDlg& dialog = window.Open();
    QCOMPARE(dialog.LastFound(), -1);
    QVERIFY(!dialog.FindNextButton()->isEnabled()); // no history yet
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{2});
    QCOMPARE(window.frame->StatusText(0), QString("1 object(s) selected"));
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{7});
    QVERIFY(window.notFound.empty());
    Search(dialog, "needle");
    QCOMPARE(window.notFound, std::vector<QString>{"Search string not found."});
    QCOMPARE(dialog.LastFound(), -1);
    QCOMPARE(window.Selected(), std::vector<int>{7}); // a miss leaves the selection
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{2});
    SaveShot(dialog, QStringLiteral("find-dialog"));
}

void FindDialogTest::WrapToStartFindsTheFirstRowAgainAtOnce()
{
    Window window;
    CFindDlg& dialog = window.Open();
    dialog.WrapToStart()->click();
    Search(dialog, "needle");
    Search(dialog, "needle");
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{2});
    QVERIFY(window.notFound.empty());
}

void FindDialogTest::ExtendSelectionKeepsEveryMatchSelected()
{
    Window window;
    CFindDlg& dialog = window.Open();
    dialog.ExtendSelection()->click();
    Search(dialog, "needle");
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), (std::vector<int>{2, 7}));
    QCOMPARE(window.frame->StatusText(0), QString("2 object(s) selected"));
    // Without it the next match stands alone again.
    dialog.ExtendSelection()->click();
    Search(dialog, "needle");
    QCOMPARE(window.notFound.size(), size_t(1));
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{2});
}

void FindDialogTest::MatchCaseTellsCapitalsApart()
{
    Window window;
    CFindDlg& dialog = window.Open();
    dialog.MatchCase()->click();
    Search(dialog, "NEEDLE");
    QCOMPARE(window.Selected(), std::vector<int>{7});
    Search(dialog, "NEEDLE");
    QCOMPARE(window.notFound.size(), size_t(1));
}

void FindDialogTest::TheLastMatchSurvivesARefillOfTheList()
{
    Window window;
    CFindDlg& dialog = window.Open();
    Search(dialog, "needle");
    QCOMPARE(dialog.LastFound(), 2);
    // The list is filled again (the server chosen anew, its rows unselected).
    window.frame->Tree()->setCurrentItem(window.frame->Tree()->topLevelItem(0));
    window.ShowServer();
    QCOMPARE(window.frame->List()->GetItemCount(), 10);
    QVERIFY(window.Selected().empty());
    Search(dialog, "needle");
    QCOMPARE(window.Selected(), std::vector<int>{7});
}

void FindDialogTest::HistoryMovesATextToTheTopOnceAndKeepsTwenty()
{
    Window window;
    {
        CFindDlg& dialog = window.Open();
        Search(dialog, "alpha");
        Search(dialog, "beta");
        Search(dialog, "gamma");
        QCOMPARE(History(), (QStringList{"gamma", "beta", "alpha"}));
        // Again, in other capitals: to the top, not twice.
        Search(dialog, "ALPHA");
        QCOMPARE(History(), (QStringList{"ALPHA", "gamma", "beta"}));
        QCOMPARE(dialog.SearchBox()->count(), 3);
        for (int i = 0; i < 25; ++i)
            Search(dialog, QStringLiteral("t%1").arg(i));
        const QStringList stored = History();
        QCOMPARE(stored.size(), CFindDlg::kHistorySize);
        QCOMPARE(stored.front(), QString("t24"));
        QCOMPARE(stored.back(), QString("t5"));
        dialog.findChildren<QPushButton*>().back()->click(); // Cancel
    }
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A new dialog loads the history, the newest text ready to search.
    CFindDlg& dialog = window.Open();
    QCOMPARE(dialog.SearchBox()->count(), CFindDlg::kHistorySize);
    QCOMPARE(dialog.SearchBox()->currentText(), QString("t24"));
    QVERIFY(dialog.FindNextButton()->isEnabled());
    dialog.SearchBox()->setEditText(QString());
    QVERIFY(!dialog.FindNextButton()->isEnabled());
}

void FindDialogTest::OneDialogAtATimeAndCancelForgetsIt()
{
    Window window;
    CFindDlg& first = window.Open();
    first.WrapToStart()->click();
    Search(first, "needle");
    QCOMPARE(&window.Open(), &first); // Ctrl+F again: the same dialog
    QVERIFY(first.isVisible());
    QCOMPARE(first.LastFound(), 2);

    QPointer<CFindDlg> gone(&first);
    first.reject();
    QVERIFY(!CFindDlg::OpenDialog(*window.frame));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(gone.isNull());
    // A fresh one: boxes clear, no last match.
    CFindDlg& second = window.Open();
    QVERIFY(!second.WrapToStart()->isChecked());
    QCOMPARE(second.LastFound(), -1);
    QCOMPARE(second.SearchBox()->currentText(), QString("needle"));
}

ORIEL_UI_TEST_MAIN(FindDialogTest)
#include "FindDialogTest.moc"
