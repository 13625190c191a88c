// About Oriel and the manual: the version and library lines, the help
// window's contents and search, F1 and the search command, and a manual
// that speaks of every command of the window.
#include "ui/dialogs/AboutDialog.h"

#include "DialogShots.h"
#include "UiTestSupport.h"
#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/commands/CommandRegistry.h"
#include "ui/dialogs/HelpWindow.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTreeWidget>

#include <zlib.h>

using namespace oriel;
using namespace oriel::test;

namespace {

QStringList TopLevelTitles(const QTreeWidget* tree)
{
    QStringList titles;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        titles << tree->topLevelItem(i)->text(0);
    return titles;
}

// A menu text as the manual names it: "&Find...\tCtrl+F" is "Find".
QString Plain(int textId)
{
    QString text = QString::fromUtf8(LoadString(textId));
    text = text.left(text.indexOf(u'\t') >= 0 ? text.indexOf(u'\t') : text.size());
    text.remove(u'&');
    if (text.endsWith(QStringLiteral("...")))
        text.chop(3);
    return text;
}

} // namespace

class AboutHelpTest : public QObject {
    Q_OBJECT
private slots:
    void AboutShowsTheVersionAndTheLibraries();
    void TheHelpWindowHasContentsAndFindsSections();
    void F1AndTheSearchCommandOpenOneHelpWindow();
    void TheManualSpeaksOfEveryCommand();
};

void AboutHelpTest::AboutShowsTheVersionAndTheLibraries()
{
    CAboutDlg dialog;
    SaveShot(dialog, QStringLiteral("about-dialog"));
    QCOMPARE(dialog.windowTitle(), QString("About Oriel"));
    QCOMPARE(dialog.findChild<QLabel*>("version")->text(), QString("2.8.03"));
    QVERIFY(dialog.findChild<QLabel*>("product")->text().contains("Oriel"));
    const QStringList libraries = CAboutDlg::LibraryVersions();
    QCOMPARE(libraries.size(), 3);
    QCOMPARE(libraries[0], QString("Qt ") + qVersion());
    QCOMPARE(libraries[1], QString("zlib ") + zlibVersion());
    QVERIFY(libraries[2].startsWith("libhivex ") && libraries[2].size() > 9);
    QCOMPARE(dialog.findChild<QLabel*>("libraries")->text(), libraries.join(u'\n'));
    bool versionLabel = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        versionLabel = versionLabel || label->text() == "Version:";
    QVERIFY(versionLabel);
}

void AboutHelpTest::TheHelpWindowHasContentsAndFindsSections()
{
    CHelpWindow* help = CHelpWindow::ShowContents();
    QVERIFY(help);
    const QStringList titles = TopLevelTitles(help->Contents());
    for (const char* title : {"The window", "Choosing what to examine", "Examining a mounted image read-only",
                              "Commands", "The Options dialog", "The Find dialog", "oriel-cli"})
        QVERIFY2(titles.contains(title), title);

    // A topic further down scrolls the text there.
    help->Browser()->verticalScrollBar()->setValue(0);
    help->ShowTopic("cli");
    QVERIFY(help->Browser()->verticalScrollBar()->value() > 0);

    // Every word, in any case, in one section.
    QStringList found = help->Search("EWFMOUNT read-only");
    QCOMPARE(found, QStringList{"Examining a mounted image read-only"});
    found = help->Search("Wrap to Start");
    QVERIFY(found.contains("The Find dialog"));
    QVERIFY(help->Search("nosuchwordanywhere").isEmpty());
    QCOMPARE(help->Results()->count(), 1); // "(nothing found)"
    help->resize(960, 640);
    help->SearchField()->setText("read-only");
    help->Search(help->SearchField()->text());
    help->ShowTopic("image");
    SaveShot(*help, QStringLiteral("help-window"), false);
    help->close();
}

void AboutHelpTest::F1AndTheSearchCommandOpenOneHelpWindow()
{
    auto document = MakeDocument({});
    CCacheFrame frame(*document);
    QCOMPARE(frame.Action(CommandIds::ID_HELP_CONTENTS)->shortcut(), QKeySequence(Qt::Key_F1));
    frame.RunCommand(CommandIds::ID_HELP_CONTENTS);
    CHelpWindow* help = CHelpWindow::Instance();
    QVERIFY(help && help->isVisible());
    frame.RunCommand(CommandIds::ID_HELP_SEARCH);
    QCOMPARE(CHelpWindow::Instance(), help);
    help->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!CHelpWindow::Instance());
}

void AboutHelpTest::TheManualSpeaksOfEveryCommand()
{
    CHelpWindow help;
    const QString manual = help.Browser()->toPlainText();
    for (const Command& command : AllCommands()) {
        const QString text = Plain(command.textId);
        QVERIFY2(manual.contains(text, Qt::CaseInsensitive), qPrintable(text));
    }
}

ORIEL_UI_TEST_MAIN(AboutHelpTest)
#include "AboutHelpTest.moc"
