#include "ui/WindowApp.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "ui/WindowLog.h"
#include "ui/dialogs/EmptyCacheDialog.h"
#include "ui/UiMessageSink.h"

#include <QApplication>
#include <QFileInfo>

#include <optional>

namespace oriel {

std::unique_ptr<CCacheFrame> CreateCacheFrame(CCacheDocument& document)
{
    Trace("Entry - CCacheApp::CreateCacheFrame");
    // A window closed maximized comes back maximized.
    const int state = OptionStore::Instance().ReadInt("Window", "State", 1);
    auto frame = std::make_unique<CCacheFrame>(document);
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
    return parsed;
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

int RunOriel(CCacheApp& app, const std::string& commandLine, const std::string& folder)
{
    const bool openWindow = app.InitInstance(commandLine);
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
        std::unique_ptr<CCacheFrame> frame = CreateCacheFrame(document);
        DecodeAtStartup(*frame);
        status = QApplication::exec();
    }
    SetWindowLog(nullptr);
    return status;
}

int RunWindowApp(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Oriel"));
    ChooseIconTheme();
    UiMessageSink messages;

    const WindowArguments arguments = ParseWindowArguments(argc, argv);

    CCacheApp app(OptionStore::Instance());
    app.Context().SetMessages(&messages);
    return RunOriel(app, arguments.commandLine, arguments.folder);
}

} // namespace oriel
