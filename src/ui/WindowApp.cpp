#include "ui/WindowApp.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "ui/WindowLog.h"
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
    const bool openWindow = app.InitInstance(commandLine);
    SetWindowLog(&app.Context().Log());
    if (!openWindow) {
        // "/EMPTY": the empty-cache run has no window of its own yet.
        messages.ShowMessage(LoadString(IDS_EMPTY_NOT_AVAILABLE), MessageIcon::Information);
        SetWindowLog(nullptr);
        return 0;
    }
    int status = 0;
    {
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

} // namespace oriel
