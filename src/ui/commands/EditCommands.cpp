// The Edit menu: select all, invert the selection.
#include "ui/commands/Command.h"

#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"

namespace oriel {

std::vector<Command> EditCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_EDIT_SELECT_ALL,
         .textId = IDS_MENU_SELECT_ALL,
         .shortcut = QKeySequence(Qt::CTRL | Qt::Key_A),
         .run =
             [](CCacheFrame& frame, const CommandContext&) {
                 frame.List()->SelectAll();
                 frame.UpdateStatusText();
             }},
        {.id = C::ID_EDIT_INVERT,
         .textId = IDS_MENU_INVERT,
         .shortcut = QKeySequence(Qt::CTRL | Qt::Key_I),
         .run =
             [](CCacheFrame& frame, const CommandContext&) {
                 frame.List()->InvertSelection();
                 frame.UpdateStatusText();
             }},
    };
}

} // namespace oriel
