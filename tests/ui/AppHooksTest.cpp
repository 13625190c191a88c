// The application-wide reactions, under the window's own application
// object: an exception escaping an event handler is logged, shown and
// survived; the version check's event asks about the download; and the
// frame's idle text and focus on activation.
#include "ui/OrielApplication.h"

#include "UiTestSupport.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/VersionCheck.h"
#include "ui/WindowLog.h"

#include <QAbstractItemView>
#include <QStatusBar>

#include <stdexcept>

using namespace oriel;
using namespace oriel::test;

namespace {

class LineLog : public platform::LogSink {
public:
    void Write(std::string_view text) override { lines.emplace_back(text); }
    void WriteBytes(const void* data, size_t length) override { Write({static_cast<const char*>(data), length}); }
    std::vector<std::string> lines;
};

// Throws from its event handler.
class Thrower : public QObject {
public:
    bool throwUnknown = false;
    int handled = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User) {
            ++handled;
            if (throwUnknown)
                throw 42;
            throw std::runtime_error("index record 17 points past the file");
        }
        return QObject::event(event);
    }
};

COrielApplication& App()
{
    return *static_cast<COrielApplication*>(QCoreApplication::instance());
}

} // namespace

class AppHooksTest : public QObject {
    Q_OBJECT
private slots:
    void AnEscapedExceptionIsLoggedShownAndSurvived();
    void TheVersionEventAsksAboutTheDownload();
    void PaneZeroShowsReadyWhenAPromptGoes();
    void ActivationGivesTheListTheFocus();
};

void AppHooksTest::AnEscapedExceptionIsLoggedShownAndSurvived()
{
    LineLog log;
    SetWindowLog(&log);
    QStringList shown;
    App().SetErrorPresenter([&](const QString& text) { shown << text; });
    Thrower thrower;
    QEvent first(QEvent::User);
    QCOMPARE(QCoreApplication::sendEvent(&thrower, &first), false);
    QCOMPARE(log.lines, (std::vector<std::string>{"Unhandled exception!", "index record 17 points past the file"}));
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown.front().endsWith("index record 17 points past the file"));

    // Without a text of its own: the first line only. And the application
    // goes on: posted events are still delivered.
    thrower.throwUnknown = true;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&thrower);
    QCOMPARE(thrower.handled, 2);
    QCOMPARE(log.lines.size(), size_t(3));
    QCOMPARE(log.lines.back(), std::string("Unhandled exception!"));
    QCOMPARE(shown.size(), 2);
    SetWindowLog(nullptr);
    App().SetErrorPresenter({});
}

void AppHooksTest::TheVersionEventAsksAboutTheDownload()
{
    QStringList asked;
    App().SetNewVersionPresenter([&](const NewVersionEvent& event) { asked << event.Server().host; });
    QCoreApplication::postEvent(QCoreApplication::instance(), new NewVersionEvent(VersionServer{"updates.invalid", 80}));
    QCoreApplication::sendPostedEvents(QCoreApplication::instance());
    QCOMPARE(asked, QStringList{"updates.invalid"});
    App().SetNewVersionPresenter({});
}

void AppHooksTest::PaneZeroShowsReadyWhenAPromptGoes()
{
    auto document = MakeDocument({});
    CCacheFrame frame(*document);
    frame.show();
    QCOMPARE(frame.StatusText(0), QString("0 object(s)"));
    frame.statusBar()->showMessage("Selects all items");
    frame.statusBar()->clearMessage();
    QCOMPARE(frame.StatusText(0), QString("Ready"));
    frame.UpdateStatusText();
    QCOMPARE(frame.StatusText(0), QString("0 object(s)"));
}

void AppHooksTest::ActivationGivesTheListTheFocus()
{
    TempDir dir;
    std::vector<std::unique_ptr<BrowserProfile>> profiles;
    profiles.push_back(MakeProfile("Profile A", dir.file("cache"), {}));
    auto document = MakeDocument(std::move(profiles));
    CCacheFrame frame(*document);
    frame.show();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    frame.Tree()->setFocus();
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!frame.isActiveWindow());
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    QVERIFY(QTest::qWaitFor([&] { return frame.List()->CurrentView()->hasFocus(); }, 2000));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    COrielApplication app(argc, argv);
    oriel::test::TestEnvironment environment;
    AppHooksTest tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "AppHooksTest.moc"
