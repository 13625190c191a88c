// Find in the item list (a modeless dialog) and the Options dialog.
#include "ui/commands/Command.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/dialogs/FindDialog.h"
#include "ui/dialogs/OptionsDialog.h"

#include <QAbstractItemView>

namespace oriel {

// The profiles built again from the options (another display choice,
// folder or examined system): the list lets go of the old items first, then
// every view hears of the rebuilt document.
void RebuildProfiles(CCacheFrame& frame)
{
    frame.List()->DeleteAllItems();
    frame.Document().ReloadProfiles();
    frame.Document().UpdateAllViews(nullptr, CACHE_EMPTY, CUpdateHint::ForDocument());
    frame.UpdateExaminedTitle();
    frame.UpdateStatusText();
}

namespace {

// One Find dialog at a time: a new one (history loaded, boxes clear, no
// last match) when none is open; then it is brought up.
void RunFind(CCacheFrame& frame)
{
    CFindDlg* dialog = CFindDlg::OpenDialog(frame);
    if (!dialog) {
        dialog = new CFindDlg(frame, OptionStore::Instance());
        dialog->show();
    }
    dialog->raise();
    dialog->activateWindow();
}

void RunOptions(CCacheFrame& frame)
{
    CCacheApp* app = frame.Application();
    if (!app)
        return;
    COptionsDlg dialog(app->Options(), app->Store(), frame.DefaultAction(), [&frame] { RebuildProfiles(frame); },
                       &frame);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // QuickView as the default action only with a program to run.
    const bool programPathSet = !app->Options().quickView.empty();
    frame.SetDefaultAction(dialog.DefaultAction() == 2 && !programPathSet ? 0 : dialog.DefaultAction());
    frame.UpdateCommandUI();
}

} // namespace

std::vector<Command> ToolsCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_EDIT_FIND,
         .textId = IDS_MENU_FIND,
         .shortcut = QKeySequence(Qt::CTRL | Qt::Key_F),
         .run = [](CCacheFrame& frame, const CommandContext&) { RunFind(frame); }},
        {.id = C::ID_VIEW_OPTIONS,
         .textId = IDS_MENU_OPTIONS,
         .run = [](CCacheFrame& frame, const CommandContext&) { RunOptions(frame); }},
    };
}

} // namespace oriel
