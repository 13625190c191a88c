// Choosing what the window examines: File > Examine System... (a Windows
// system drive: a mounted disk or image, or a copied tree) and File > Open
// Cache Folder... (one cache folder alone). Both rebuild the profiles as a
// new display choice does.
#include "ui/commands/Command.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "app/SystemSetup.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "ui/CacheFrame.h"
#include "ui/dialogs/ExamineSystemDialog.h"
#include "ui/dialogs/FolderPicker.h"

#include <QMessageBox>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

void ExamineSystem(CCacheFrame& frame)
{
    CCacheApp* app = frame.Application();
    if (!app)
        return;
    CExamineSystemDlg dialog(app->Context().System()->Config(), &frame);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const platform::SystemConfig config = dialog.Config();
    WriteSystemOptions(app->Store(), config);
    app->ExamineSystem(config);
    // A system is examined through its browsers' settings: a folder shown
    // alone gives way to every browser.
    if (!config.root.empty() && app->Options().useProfiles == CBrowserSettings::kModeFolderOnly) {
        app->Options().useProfiles = CBrowserSettings::kModeAllBrowsers;
        app->Store().WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeAllBrowsers);
    }
    RebuildProfiles(frame);
}

void OpenCacheFolder(CCacheFrame& frame)
{
    CCacheApp* app = frame.Application();
    if (!app)
        return;
    const QString chosen = PickFolder(&frame, Text(IDS_SELECT_CACHE_FOLDER), QString::fromStdString(app->Options().cacheFolder));
    if (chosen.isEmpty())
        return;
    const std::string folder = chosen.toStdString();
    // Known by its index file, as the folder of the display choice is.
    if (!RecognizeCacheFolder(folder)) {
        QMessageBox::warning(&frame, Text(IDS_APP_TITLE), Text(IDS_NO_CACHE_IN_FOLDER) + chosen);
        return;
    }
    app->Options().cacheFolder = folder;
    app->Options().useProfiles = CBrowserSettings::kModeFolderOnly;
    app->Store().WriteString("Netscape", "Cache", folder);
    app->Store().WriteInt("Netscape", "UseProfiles", CBrowserSettings::kModeFolderOnly);
    RebuildProfiles(frame);
}

} // namespace

std::vector<Command> SystemCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_FILE_EXAMINE_SYSTEM,
         .textId = IDS_MENU_EXAMINE_SYSTEM,
         .run = [](CCacheFrame& frame, const CommandContext&) { ExamineSystem(frame); }},
        {.id = C::ID_FILE_OPEN_FOLDER,
         .textId = IDS_MENU_OPEN_FOLDER,
         .run = [](CCacheFrame& frame, const CommandContext&) { OpenCacheFolder(frame); }},
    };
}

} // namespace oriel
