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

int RunOriel(CCacheApp& app, const std::string& commandLine)
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

    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }

    CCacheApp app(OptionStore::Instance());
    app.Context().SetMessages(&messages);
    return RunOriel(app, commandLine);
}

} // namespace oriel
