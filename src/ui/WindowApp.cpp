#include "ui/WindowApp.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "ui/OrielApplication.h"
#include "ui/VersionCheck.h"
#include "ui/WindowLog.h"
#include "ui/dialogs/EmptyCacheDialog.h"
#include "ui/UiMessageSink.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace oriel {

std::unique_ptr<CCacheFrame> CreateCacheFrame(CCacheDocument& document, CCacheApp* app)
{
    Trace("Entry - CCacheApp::CreateCacheFrame");
    // A window closed maximized comes back maximized.
    const int state = OptionStore::Instance().ReadInt("Window", "State", 1);
    auto frame = std::make_unique<CCacheFrame>(document);
    frame->SetApplication(app);
    frame->ShowWithState(state);
    Trace("Exit - CCacheApp::CreateCacheFrame");
    return frame;
}

void DecodeAtStartup(CCacheFrame& frame)
{
    if (OptionStore::Instance().ReadInt("Options", "DecodeStartup", 1) != 0)
        frame.RunCommand(CCacheFrame::ID_FILE_RELOAD);
}

WindowArguments ParseWindowArguments(int argc, char** argv)
{
    WindowArguments parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        if (arg == "--root" || arg == "--user") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
                parsed.error = arg + " needs a value";
                continue;
            }
            (arg == "--root" ? parsed.root : parsed.user) = argv[++i];
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            parsed.error = "unknown option " + arg;
            continue;
        }
        const QFileInfo info(QString::fromLocal8Bit(argv[i]));
        if (!arg.empty() && info.exists()) {
            // A file given is examined in its folder (the index file itself,
            // say); the path is made absolute, as a stored folder would be.
            // Paths after the first are not examined, and are no switches.
            if (parsed.folder.empty())
                parsed.folder =
                    (info.isDir() ? info.absoluteFilePath() : info.absolutePath()).toLocal8Bit().toStdString();
            continue;
        }
        if (!parsed.commandLine.empty())
            parsed.commandLine += ' ';
        parsed.commandLine += arg;
    }
    if (parsed.error.empty() && !parsed.user.empty() && parsed.root.empty())
        parsed.error = "--user needs --root";
    if (parsed.error.empty() && !parsed.root.empty()) {
        const QFileInfo root(QString::fromLocal8Bit(parsed.root.c_str()));
        if (!root.isDir())
            parsed.error = "--root: no such folder: " + parsed.root;
        else
            parsed.root = root.absoluteFilePath().toLocal8Bit().toStdString();
    }
    return parsed;
}

std::string WindowUsage()
{
    return "usage: oriel [--root DIR [--user NAME]] [FOLDER]\n"
           "       oriel /EMPTY\n"
           "\n"
           "Shows the browser caches of the examined system in a window.\n"
           "\n"
           "  FOLDER         show the cache in this folder alone, for this run\n"
           "  --root DIR     examine the Windows system whose system drive's top folder\n"
           "                 is DIR (a mounted disk or image, or a copied tree), for\n"
           "                 this run; the stored System options are not changed\n"
           "  --user NAME    the user profile to examine (with --root; default: the\n"
           "                 only or the first user)\n"
           "  /EMPTY         empty the caches as the options say, without a window\n"
           "  --help         this text\n"
           "\n"
           "Without arguments the System options (File > Examine System...) say what\n"
           "is examined. oriel-cli does the same from scripts.\n";
}

void ExamineGivenSystem(CCacheApp& app, const WindowArguments& arguments)
{
    if (arguments.root.empty())
        return;
    platform::SystemConfig config;
    config.root = arguments.root;
    config.user = arguments.user;
    app.SetSystemConfig(std::move(config));
}

FolderOnlyRun::FolderOnlyRun(CCacheApp& app, std::string folder)
    : app_(app)
    , folder_(std::move(folder))
    , storedFolder_(app.Options().cacheFolder)
    , storedMode_(app.Options().useProfiles)
{
    app_.Options().cacheFolder = folder_;
    app_.Options().useProfiles = CBrowserSettings::kModeFolderOnly;
    app_.Context().Trace("       Folder given: " + folder_);
}

FolderOnlyRun::~FolderOnlyRun()
{
    if (app_.Options().cacheFolder == folder_)
        app_.Options().cacheFolder = storedFolder_;
    if (app_.Options().useProfiles == CBrowserSettings::kModeFolderOnly)
        app_.Options().useProfiles = storedMode_;
}

int RunOriel(CCacheApp& app, const std::string& commandLine, const std::string& folder, bool systemGiven)
{
    const bool openWindow = app.InitInstance(commandLine);
    // A system given on the command line is examined through its browsers'
    // settings, not through a folder the stored display choice shows alone
    // (for this run: "UseProfiles" is not saved at exit).
    if (systemGiven && folder.empty() && app.Options().useProfiles == CBrowserSettings::kModeFolderOnly)
        app.Options().useProfiles = CBrowserSettings::kModeAllBrowsers;
    SetWindowLog(&app.Context().Log());
    int status = 0;
    if (!openWindow) {
        // "/EMPTY": the caches are emptied from the progress dialog over a
        // profile collection of its own; no main window opens.
        CBrowserSettings settings(app.Context(), FormatCatalog());
        RunEmptyCacheDialog(std::make_unique<BrowserSettingsCollection>(settings));
    } else {
        // "oriel FOLDER": that folder alone, for this run.
        std::optional<FolderOnlyRun> folderRun;
        if (!folder.empty())
            folderRun.emplace(app, folder);
        // Constructing the document discovers the browser profiles; the main
        // window is created over it.
        CBrowserSettings settings(app.Context(), FormatCatalog());
        CCacheDocument document(std::make_unique<BrowserSettingsCollection>(settings));
        std::unique_ptr<CCacheFrame> frame = CreateCacheFrame(document, &app);
        // Once per start, on its own thread; nothing goes out when it is off.
        std::unique_ptr<OnlineVersionCheck> versionCheck =
            StartVersionCheck(app.Options(), app.Store(), &app.Context().Log(), QCoreApplication::instance());
        DecodeAtStartup(*frame);
        status = QApplication::exec();
    }
    SetWindowLog(nullptr);
    return status;
}

int RunOriel(CCacheApp& app, const WindowArguments& arguments)
{
    ExamineGivenSystem(app, arguments);
    return RunOriel(app, arguments.commandLine, arguments.folder, !arguments.root.empty());
}

int RunWindowApp(int argc, char** argv)
{
    // Before the window system is asked for: --help works without a display.
    const WindowArguments arguments = ParseWindowArguments(argc, argv);
    if (arguments.help) {
        std::fputs(WindowUsage().c_str(), stdout);
        return 0;
    }
    if (!arguments.error.empty()) {
        std::fprintf(stderr, "oriel: %s\n%s", arguments.error.c_str(), WindowUsage().c_str());
        return 2;
    }

    COrielApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Oriel"));
    ChooseIconTheme();
    UiMessageSink messages;

    CCacheApp app(OptionStore::Instance());
    app.Context().SetMessages(&messages);
    return RunOriel(app, arguments);
}

} // namespace oriel
