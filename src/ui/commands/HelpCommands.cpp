// The Help menu: the manual's contents (F1) and its search, About.
#include "ui/commands/Command.h"

#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/HelpWindow.h"

namespace oriel {

std::vector<Command> HelpCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_HELP_CONTENTS,
         .textId = IDS_MENU_HELP_CONTENTS,
         .shortcut = QKeySequence(Qt::Key_F1),
         .run = [](CCacheFrame&, const CommandContext&) { CHelpWindow::ShowContents(); }},
        {.id = C::ID_HELP_SEARCH,
         .textId = IDS_MENU_HELP_SEARCH,
         .run = [](CCacheFrame&, const CommandContext&) { CHelpWindow::ShowSearch(); }},
        {.id = C::ID_APP_ABOUT,
         .textId = IDS_MENU_ABOUT,
         .run =
             [](CCacheFrame& frame, const CommandContext&) {
                 CAboutDlg dialog(&frame);
                 dialog.exec();
             }},
    };
}

} // namespace oriel
