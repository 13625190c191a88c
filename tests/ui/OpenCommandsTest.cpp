// Opening items, Open With, Properties and Export to CSV from the window:
// the enabling rules, what would be launched (through a recording
// launcher), the trace lines, the messages, the default action on Enter and
// on a double click, the item and server menus and the toolbar.
#include "ui/commands/Command.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ItemLauncher.h"
#include "ui/ItemListModel.h"
#include "ui/WindowLog.h"
#include "ui/dialogs/FolderPicker.h"
#include "ui/dialogs/OpenWithDialog.h"
#include "ui/dialogs/PropertiesDialog.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QToolBar>

#include <cstdlib>
#include <filesystem>
#include <functional>

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

struct RecordingLauncher : ItemLauncher {
    int result = 42;
    std::vector<std::string> files;
    std::vector<std::string> urls;
    std::vector<std::vector<std::string>> programs;

    int OpenFile(const std::string& path) override
    {
        files.push_back(path);
        return result;
    }
    void OpenUrl(const std::string& url) override { urls.push_back(url); }
    void StartProgram(const std::vector<std::string>& command) override { programs.push_back(command); }
    size_t Launches() const { return files.size() + urls.size() + programs.size(); }
};

struct LineLog : platform::LogSink {
    std::vector<std::string> lines;
    void Write(std::string_view text) override { lines.emplace_back(text); }
    void WriteBytes(const void*, size_t) override {}
};

constexpr int64_t kNewYear2007 = 1167609600;

std::vector<ItemSetup> Items()
{
    return {
        {.url = "http://www.a.com/docs/", .cacheName = "index[1].html", .type = "text/html", .body = "<p>a</p>",
         .modified = kNewYear2007, .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"},
        {.url = "http://www.a.com/img/logo.gif", .cacheName = "logo[1].gif", .type = "image/gif", .body = "GIF89a"},
        {.url = "http://www.a.com/gone.txt", .cacheName = "gone[1].txt", .type = "text/plain", .body = "x",
         .missing = true},
    };
}

struct Window {
    TempDir dir;
    std::string cache = dir.file("cache dir"); // a blank in every body's path
    std::unique_ptr<CCacheDocument> document;
    BrowserProfile* profile = nullptr;
    std::unique_ptr<CCacheFrame> frame;
    RecordingLauncher launcher;
    ScopedItemLauncher scoped{launcher};
    LineLog log;

    Window()
    {
        SetWindowLog(&log);
        std::vector<std::unique_ptr<BrowserProfile>> profiles;
        profiles.push_back(MakeProfile("Profile A", cache, Items()));
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
    ~Window() { SetWindowLog(nullptr); }

    // Selects the row of `url` alone, as a click would.
    int Select(const std::string& url)
    {
        CCacheItemModel* model = frame->List()->Model();
        for (int row = 0; row < model->RowCountInt(); ++row) {
            if (url == model->ItemAt(row)->GetURL()) {
                QTest::mouseClick(frame->List()->Table()->viewport(), Qt::LeftButton, {}, RowCenter(row));
                log.lines.clear(); // the command's lines alone
                return row;
            }
        }
        return -1;
    }
    QPoint RowCenter(int row) const
    {
        QTableView* table = frame->List()->Table();
        return table->visualRect(table->model()->index(row, 1)).center();
    }
    // The file an item's PrepareFile made ready (a copy with a usable
    // extension beside the body).
    std::string Prepared(const std::string& url) const
    {
        CCacheItemModel* model = frame->List()->Model();
        for (int row = 0; row < model->RowCountInt(); ++row) {
            CCacheItem* item = model->ItemAt(row);
            if (url == item->GetURL() && item->PrepareFile() && item->GetFilePath())
                return item->GetFilePath();
        }
        return {};
    }
};

// Runs `answer` on the next modal window of type T once it is up.
template <typename T>
void Answer(std::function<void(T*)> answer)
{
    QTimer::singleShot(0, [answer] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        QVERIFY2(window, "the expected dialog did not open");
        answer(window);
    });
}

// Closes the next message box and keeps its text.
void ExpectMessage(QString* text)
{
    Answer<QMessageBox>([text](QMessageBox* box) {
        *text = box->text();
        box->accept();
    });
}

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

QStringList EntryTexts(QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

void WriteDesktopEntry(const std::string& dataDir, const std::string& id, const std::string& name,
                       const std::string& exec, const std::string& types)
{
    WriteFile(dataDir + "/applications/" + id,
              "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\nMimeType=" + types + "\n");
}

QString ShotsFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + "/../shots";
    QDir().mkpath(folder);
    return folder;
}

} // namespace

class OpenCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void commandsAreEnabledByTheSelectionAndTheProgramPath()
    {
        std::vector<Command> commands = OpenCommands();
        for (Command& c : ExportCommands())
            commands.push_back(std::move(c));
        BrowserProfile profile;
        struct Case {
            int selected;
            bool program;
            bool hasProfile;
        };
        const Case cases[] = {{0, false, false}, {1, false, true}, {1, true, true}, {2, true, false}, {0, true, true}};
        for (const Case& c : cases) {
            CommandContext context;
            context.selectedCount = c.selected;
            context.programPathSet = c.program;
            context.profile = c.hasProfile ? &profile : nullptr;
            for (int id : {C::ID_FILE_OPEN, C::ID_FILE_OPEN_URL, C::ID_FILE_OPEN_WITH, C::ID_FILE_PROPERTIES})
                QCOMPARE(Find(commands, id)->enabled(context), c.selected == 1);
            QCOMPARE(Find(commands, C::ID_FILE_QUICKVIEW)->enabled(context), c.selected == 1 && c.program);
            QCOMPARE(Find(commands, C::ID_FILE_EXPORT_CSV)->enabled(context), c.hasProfile);
            QVERIFY(!Find(commands, C::ID_DEFAULT_ACTION)->enabled); // always
        }
        QCOMPARE(Find(commands, C::ID_FILE_PROPERTIES)->shortcut, QKeySequence(Qt::ALT | Qt::Key_Return));
        QCOMPARE(Find(commands, C::ID_DEFAULT_ACTION)->shortcut, QKeySequence(Qt::Key_Return));
    }

    void openFileHandsThePreparedFileToTheDesktopAndTracesIt()
    {
        Window w;
        w.Select("http://www.a.com/img/logo.gif");
        w.frame->RunCommand(C::ID_FILE_OPEN);
        const std::string prepared = w.Prepared("http://www.a.com/img/logo.gif");
        // The working copy is private: never beside the body in the cache.
        QVERIFY(prepared.find("logo[1].gif") != std::string::npos);
        QVERIFY(prepared.rfind(w.cache, 0) != 0);
        QVERIFY(std::filesystem::is_regular_file(prepared));
        QCOMPARE(w.launcher.files, std::vector<std::string>{prepared});
        const std::vector<std::string> expected{"Entry - CCacheItem::OpenFile()",
                                                "      - Attempt execute of \"" + prepared + "\"",
                                                "      -  with default verb", "Exit  - CCacheItem::OpenFile()"};
        QCOMPARE(w.log.lines, expected);
    }

    void openFileFailuresGoToTheTraceLogOnly_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no program") << 31
                                    << QStringList{"There is no application associated with the given file name "
                                                   "extension. "};
        QTest::newRow("file gone") << 2
                                   << QStringList{"The specified file was not found. ",
                                                  "The specified file was not found.  "};
        QTest::newRow("success") << 33 << QStringList{};
    }

    void openFileFailuresGoToTheTraceLogOnly()
    {
        QFETCH(int, result);
        QFETCH(QStringList, lines);
        Window w;
        w.launcher.result = result;
        w.Select("http://www.a.com/img/logo.gif");
        w.frame->RunCommand(C::ID_FILE_OPEN);
        QStringList logged;
        for (const std::string& line : w.log.lines)
            logged << QString::fromStdString(line);
        QCOMPARE(logged.mid(3, logged.size() - 4), lines);
        QCOMPARE(logged.last(), QStringLiteral("Exit  - CCacheItem::OpenFile()"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aMissingRowIsNotOpenedButItsUrlIs()
    {
        Window w;
        w.Select("http://www.a.com/gone.txt");
        QString message;
        ExpectMessage(&message);
        w.frame->RunCommand(C::ID_FILE_OPEN);
        QCOMPARE(message, Text(IDS_FILE_NO_LONGER_EXISTS));
        ExpectMessage(&message);
        message.clear();
        w.frame->RunCommand(C::ID_FILE_OPEN_WITH);
        QCOMPARE(message, Text(IDS_FILE_NO_LONGER_EXISTS));
        QCOMPARE(w.launcher.Launches(), size_t(0));
        w.frame->RunCommand(C::ID_FILE_OPEN_URL);
        QCOMPARE(w.launcher.urls, std::vector<std::string>{"http://www.a.com/gone.txt"});
    }

    void onlyWebUrlsAreHandedToTheDesktop()
    {
        for (const char* url : {"http://a/", "HTTPS://a/b", "ftp://a/f"})
            QVERIFY2(IsOpenableUrl(url), url);
        for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "x-handler://run", "noscheme", ""})
            QVERIFY2(!IsOpenableUrl(url), url);
    }

    void quickViewStartsTheProgramWithTheFileAsOneArgument()
    {
        OptionStore::Instance().WriteString("Options", "QuickView", "/opt/quick view/qv");
        Window w;
        w.Select("http://www.a.com/docs/");
        w.frame->UpdateStatusText();
        QVERIFY(w.frame->Action(C::ID_FILE_QUICKVIEW)->isEnabled());
        w.frame->RunCommand(C::ID_FILE_QUICKVIEW);
        const std::vector<std::vector<std::string>> expected{
            {"/opt/quick view/qv", w.Prepared("http://www.a.com/docs/")}};
        QCOMPARE(w.launcher.programs, expected);
        QVERIFY(std::find(w.log.lines.begin(), w.log.lines.end(), "      -  with /opt/quick view/qv") !=
                w.log.lines.end());
        QCOMPARE(w.log.lines.front(), std::string("Entry - CacheFrm::OnFileQuick()"));
        QCOMPARE(w.log.lines.back(), std::string("Exit  - CacheFrm::OnFileQuick()"));

        OptionStore::Instance().WriteString("Options", "QuickView", "");
        w.frame->UpdateStatusText();
        QVERIFY(!w.frame->Action(C::ID_FILE_QUICKVIEW)->isEnabled());
    }

    void enterAndDoubleClickRunTheDefaultAction_data()
    {
        QTest::addColumn<int>("defaultAction");
        QTest::addColumn<bool>("program");
        QTest::addColumn<QString>("launched"); // file, url or program
        QTest::newRow("open file") << 0 << false << "file";
        QTest::newRow("open url") << 1 << false << "url";
        QTest::newRow("quickview") << 2 << true << "program";
        QTest::newRow("quickview without program") << 2 << false << "file";
    }

    void enterAndDoubleClickRunTheDefaultAction()
    {
        QFETCH(int, defaultAction);
        QFETCH(bool, program);
        QFETCH(QString, launched);
        OptionStore::Instance().WriteInt("Options", "DefaultAction", defaultAction);
        OptionStore::Instance().WriteString("Options", "QuickView", program ? "/usr/bin/qv" : "");
        Window w;
        const int row = w.Select("http://www.a.com/img/logo.gif");
        QTableView* table = w.frame->List()->Table();
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Return);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, w.RowCenter(row));
        const size_t files = w.launcher.files.size(), urls = w.launcher.urls.size(),
                     programs = w.launcher.programs.size();
        QCOMPARE(files, size_t(launched == "file" ? 2 : 0));
        QCOMPARE(urls, size_t(launched == "url" ? 2 : 0));
        QCOMPARE(programs, size_t(launched == "program" ? 2 : 0));
        // A double click with three rows selected does nothing.
        w.frame->List()->SelectAll();
        QCOMPARE(w.frame->List()->GetSelectedCount(), 3);
        emit table->doubleClicked(table->model()->index(row, 1));
        QCOMPARE(w.launcher.Launches(), size_t(2));
        OptionStore::Instance().WriteInt("Options", "DefaultAction", 0);
        OptionStore::Instance().WriteString("Options", "QuickView", "");
    }

    void theItemMenuShowsTheDefaultActionInBold()
    {
        OptionStore::Instance().WriteInt("Options", "DefaultAction", 1);
        Window w;
        w.Select("http://www.a.com/img/logo.gif");
        std::unique_ptr<QMenu> menu = w.frame->CreateContextMenu(C::kItemMenu);
        QVERIFY(menu);
        const QStringList expected{"&Open File", "Open &URL", "&QuickView", "Open Wit&h...", "-", "&Copy to...",
                                   "&Move to...", "&Delete", "-", "Copy &URL to Clipboard", "-", "&Properties"};
        QCOMPARE(EntryTexts(*menu), expected);
        QVERIFY(menu->defaultAction());
        QCOMPARE(menu->defaultAction()->text(), QStringLiteral("Open &URL"));
        OptionStore::Instance().WriteInt("Options", "DefaultAction", 0);
        w.frame->LoadSettings();
        menu = w.frame->CreateContextMenu(C::kItemMenu);
        QCOMPARE(menu->defaultAction()->text(), QStringLiteral("&Open File"));

        std::unique_ptr<QMenu> server = w.frame->CreateContextMenu(C::kServerMenu);
        QVERIFY(server);
        QCOMPARE(EntryTexts(*server), (QStringList{"&Move all to...", "&Copy all to...", "&Delete all", "-",
                                                   "Copy &URL to Clipboard"}));
    }

    void theToolbarAndTheFileMenuHoldTheOpenCommands()
    {
        Window w;
        std::vector<int> ids;
        for (QAction* action : w.frame->ToolBar()->actions()) {
            int id = 0;
            for (int candidate : {C::ID_FILE_OPEN, C::ID_FILE_OPEN_URL, C::ID_FILE_QUICKVIEW, C::ID_EDIT_COPY_TO,
                                  C::ID_EDIT_MOVE_TO, C::ID_EDIT_DELETE, C::ID_VIEW_LARGE_ICONS,
                                  C::ID_VIEW_SMALL_ICONS, C::ID_VIEW_LIST, C::ID_VIEW_DETAILS}) {
                if (w.frame->Action(candidate) == action)
                    id = candidate;
            }
            ids.push_back(action->isSeparator() ? -1 : id);
        }
        const std::vector<int> expected{C::ID_FILE_OPEN, C::ID_FILE_OPEN_URL, C::ID_FILE_QUICKVIEW, -1,
                                        C::ID_EDIT_COPY_TO, C::ID_EDIT_MOVE_TO, C::ID_EDIT_DELETE, -1,
                                        C::ID_VIEW_LARGE_ICONS, C::ID_VIEW_SMALL_ICONS, C::ID_VIEW_LIST,
                                        C::ID_VIEW_DETAILS};
        QCOMPARE(ids, expected);
        for (int id : {C::ID_FILE_OPEN, C::ID_FILE_OPEN_URL, C::ID_FILE_QUICKVIEW})
            QVERIFY(!w.frame->Action(id)->icon().isNull());
        QCOMPARE(w.frame->Action(C::ID_FILE_OPEN)->statusTip(), QStringLiteral("Open file with default application"));
        QCOMPARE(w.frame->Action(C::ID_FILE_OPEN)->toolTip(), QStringLiteral("Open File"));
        QCOMPARE(w.frame->Action(C::ID_FILE_OPEN_WITH)->statusTip(),
                 QStringLiteral("Open the file with a specified application..."));
        QCOMPARE(w.frame->Action(C::ID_FILE_EXPORT_CSV)->statusTip(),
                 QStringLiteral("Exports the entire cache directory to a CSV file."));
    }

    void openWithOffersTheDesktopsProgramsForTheType()
    {
        TempDir xdg;
        const std::string data = xdg.file("share");
        // Back to the run's own folders when the test ends: Qt writes its
        // settings into the config folder at exit, which would make the
        // removed temp folder again.
        const EnvironmentFor desktop({{"XDG_DATA_HOME", data},
                                      {"XDG_DATA_DIRS", xdg.file("none")},
                                      {"XDG_CONFIG_HOME", xdg.file("config")},
                                      {"XDG_CONFIG_DIRS", xdg.file("none")}});
        WriteDesktopEntry(data, "gifview.desktop", "Gif Viewer", "gifview --page 1 %f", "image/gif;");
        WriteDesktopEntry(data, "paint.desktop", "Paint", "paint %U", "image/gif;image/png;");
        WriteDesktopEntry(data, "editor.desktop", "Editor", "edit %f", "text/plain;");
        WriteFile(xdg.file("config/mimeapps.list"), "[Default Applications]\nimage/gif=paint.desktop\n");

        Window w;
        w.Select("http://www.a.com/img/logo.gif");
        QStringList rows;
        Answer<COpenWithDlg>([&rows](COpenWithDlg* dlg) {
            for (int i = 0; i < dlg->Programs()->count(); ++i)
                rows << dlg->Programs()->item(i)->text();
            dlg->Programs()->setCurrentRow(1);
            dlg->accept();
        });
        w.frame->RunCommand(C::ID_FILE_OPEN_WITH);
        QCOMPARE(rows, (QStringList{"Paint (default)", "Gif Viewer"}));
        const std::string path = w.Prepared("http://www.a.com/img/logo.gif");
        std::vector<std::vector<std::string>> expected{{"gifview", "--page", "1", path}};
        QCOMPARE(w.launcher.programs, expected);

        // "Other program...": any program, the file its one argument.
        Answer<COpenWithDlg>([](COpenWithDlg* dlg) {
            dlg->AddOtherProgram("/usr/local/bin/hex view");
            dlg->accept();
        });
        w.frame->RunCommand(C::ID_FILE_OPEN_WITH);
        expected.push_back({"/usr/local/bin/hex view", path});
        QCOMPARE(w.launcher.programs, expected);

        // Cancel launches nothing.
        Answer<COpenWithDlg>([](COpenWithDlg* dlg) { dlg->reject(); });
        w.frame->RunCommand(C::ID_FILE_OPEN_WITH);
        QCOMPARE(w.launcher.programs.size(), size_t(2));

        COpenWithDlg shot("image/gif", path, "http://www.a.com/img/logo.gif", w.frame.get());
        shot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shot));
        QVERIFY(shot.grab().save(ShotsFolder() + "/open-with-dialog.png"));
    }

    void propertiesShowAndCopyTheItemsFieldsAndHashes()
    {
        Window w;
        w.Select("http://www.a.com/docs/");
        QString copied;
        QString shown;
        Answer<CPropertiesDlg>([&](CPropertiesDlg* dlg) {
            QTest::mouseClick(dlg->CopyButton(), Qt::LeftButton);
            copied = QApplication::clipboard()->text();
            shown = dlg->Properties().Text();
            dlg->grab().save(ShotsFolder() + "/properties-dialog.png");
            dlg->reject();
        });
        w.frame->RunCommand(C::ID_FILE_PROPERTIES);
        QCOMPARE(copied, shown);
        const QString prepared = QString::fromStdString(w.Prepared("http://www.a.com/docs/"));
        const QString body = QString::fromStdString(w.cache + "/index[1].html");
        QVERIFY(prepared != body); // a copy with its extension beside the body
        const QStringList lines = copied.split(u'\n');
        const QStringList expected{
            "URL: http://www.a.com/docs/",
            "Cache name: index[1].html",
            "File: " + body,
            "Working copy: " + prepared,
            "Size: 8 bytes",
            // "Size on disk" depends on the file system: checked below.
            "Last modified (UTC): 2007-01-01 00:00:00",
            "Downloaded (UTC): (none)",
            "Expires (UTC): (none)",
            "MIME type: text/html",
            "Content encoding: (none)",
            "SHA-256: df5ddd75e1e0e3fee2eb4c4d7a160f2673560df8afb145ba651b43f100c0dc57",
            "MD5: 9fb83da5876b087ddc72927b565f223a",
            "Response headers:",
            "HTTP/1.1 200 OK",
            "Content-Type: text/html",
            "",
        };
        QStringList withoutDisk = lines;
        QVERIFY(withoutDisk.size() > 5 && withoutDisk[5].startsWith("Size on disk: "));
        QVERIFY(withoutDisk[5].endsWith(" bytes"));
        withoutDisk.removeAt(5);
        QCOMPARE(withoutDisk, expected);
    }

    void propertiesSayWhenTheDecodedBodyWasCutAtTheCap()
    {
        // A gzip body longer than the cap once decoded is marked on its
        // encoding line; one that fits is not.
        test::OptionsScope options;
        test::Options().maxDecodedBytes = 4096;
        TempDir dir;
        FakeCache cache(dir.path());
        const std::string text(10000, 'z');
        const std::pair<std::string, bool> cases[] = {{text, true}, {text.substr(0, 4096), false}};
        for (const auto& [body, cut] : cases) {
            const std::string name = cut ? "long.gz" : "short.gz";
            WriteFile(dir.file(name), GzipBytes(body));
            CFileCacheItem item(&cache, 0, "http://h/" + name, "/" + name, name, OptText("text/plain"), 0, 0, 0, 0);
            item.SetContentEncoding(CCacheItem::kEncodingGzip);
            QVERIFY(item.PrepareFile());
            QCOMPARE(item.IsBodyCut(), cut);
            const ItemProperties p = GatherProperties(item);
            QString encoding;
            for (const auto& [label, value] : p.fields) {
                if (label == Text(IDS_PROP_ENCODING))
                    encoding = value;
            }
            const QString expected = cut ? QStringLiteral("gzip (decoded from the stored body); cut at the "
                                                          "decoded-size cap, only its first 256 MiB are kept")
                                         : QStringLiteral("gzip (decoded from the stored body)");
            QCOMPARE(encoding, expected);
            if (cut) {
                CPropertiesDlg shot(item);
                shot.show();
                QVERIFY(QTest::qWaitForWindowExposed(&shot));
                QVERIFY(shot.grab().save(ShotsFolder() + "/properties-cut-body.png"));
            }
        }
    }

    void propertiesOfAMissingItemShowNothing()
    {
        Window w;
        w.Select("http://www.a.com/gone.txt");
        w.frame->RunCommand(C::ID_FILE_PROPERTIES);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void exportWritesTheProfilesIndexToTheNamedFile()
    {
        Window w;
        const std::string chosen = w.dir.file("export"); // "csv" is added
        Answer<QFileDialog>([chosen](QFileDialog* dlg) {
            QCOMPARE(dlg->nameFilters(), QStringList{"CSV Files (*.csv)"});
            dlg->selectFile(QString::fromStdString(chosen));
            static_cast<QDialog*>(dlg)->accept(); // QFileDialog::accept, virtually
        });
        w.frame->RunCommand(C::ID_FILE_EXPORT_CSV);
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame->IsJobRunning() && !w.frame->IsBusy(), 10000);
        const std::string expected = "Oriel Export File\n"
                                     "Information for : Profile A\n"
                                     "Cache Path" + w.cache + "\n"
                                     "\n"
                                     "URL,Cache Name,Size (bytes),File Type,Last Modified Date,Download Date,"
                                     "Expiry Date\n"
                                     "\"http://www.a.com/docs/\",\"index[1].html\",\"8\",\"text/html\","
                                     "\"1/01/2007 12:00:00 AM\",\"\",\"\",\n"
                                     "\"http://www.a.com/img/logo.gif\",\"logo[1].gif\",\"6\",\"image/gif\",\"\","
                                     "\"\",\"\",\n"
                                     "\"http://www.a.com/gone.txt\",\"gone[1].txt\",\"1\",\"text/plain\",\"\",\"\","
                                     "\"\",\n";
        QCOMPARE(ReadWholeFile(chosen + ".csv"), expected);
        QVERIFY(!std::filesystem::exists(chosen));
    }

    void exportReportWritesThePageOfTheProfileIntoTheChosenFolder()
    {
        Window w;
        QCOMPARE(w.frame->Action(C::ID_FILE_EXPORT_REPORT)->text(), QStringLiteral("Export Report..."));
        const std::string chosen = w.dir.file("report");
        QString title;
        SetFolderPicker([&](QWidget*, const QString& t, const QString&) {
            title = t;
            return QString::fromStdString(chosen);
        });
        w.frame->RunCommand(C::ID_FILE_EXPORT_REPORT);
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame->IsJobRunning() && !w.frame->IsBusy(), 10000);
        SetFolderPicker({});
        QCOMPARE(title, QStringLiteral("Select the folder for the report:"));
        const std::string html = ReadWholeFile(chosen + "/index.html");
        for (const char* url : {"http://www.a.com/docs/", "http://www.a.com/img/logo.gif", "http://www.a.com/gone.txt"})
            QVERIFY2(html.find(std::string("<td class=\"url\">") + url + "</td>") != std::string::npos, url);
        QVERIFY(html.find("<td>Profile A</td>") != std::string::npos);

        // Cancelled: nothing more is written.
        SetFolderPicker([](QWidget*, const QString&, const QString&) { return QString(); });
        std::filesystem::remove_all(chosen);
        w.frame->RunCommand(C::ID_FILE_EXPORT_REPORT);
        SetFolderPicker({});
        QVERIFY(!w.frame->IsJobRunning());
        QVERIFY(!std::filesystem::exists(chosen));
    }

    void cancellingTheExportWritesNothing()
    {
        Window w;
        Answer<QFileDialog>([](QFileDialog* dlg) { dlg->reject(); });
        w.frame->RunCommand(C::ID_FILE_EXPORT_CSV);
        QVERIFY(!w.frame->IsJobRunning());
        QCOMPARE(std::distance(std::filesystem::directory_iterator(w.dir.path()), {}), 1L); // the cache alone
    }
};

ORIEL_UI_TEST_MAIN(OpenCommandsTest)
#include "OpenCommandsTest.moc"
