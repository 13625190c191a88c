// The Arrange Icons menu: the seven sorts and auto arrange.
#include "ui/commands/Command.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"

namespace oriel {

namespace {

// A sort command sorts ascending and is remembered for the next start (a
// header click is not).
Command SortCommand(int column, int textId)
{
    return {.id = CommandIds::ID_SORT_URL + column,
            .textId = textId,
            .checked = [column](const CommandContext& c) { return c.sortColumn == column; },
            .run =
                [column](CCacheFrame& frame, const CommandContext&) {
                    OptionStore& store = OptionStore::Instance();
                    store.WriteInt("Options", "SortColumn", column);
                    store.WriteInt("Options", "SortOrder", 1);
                    frame.List()->SortByColumn(column, true);
                    frame.UpdateCommandUI();
                }};
}

} // namespace

std::vector<Command> SortCommands()
{
    const int kTexts[7] = {IDS_MENU_SORT_URL_OR_PATH, IDS_MENU_SORT_NAME,       IDS_MENU_SORT_SIZE,
                           IDS_MENU_SORT_TYPE,        IDS_MENU_SORT_MODIFIED,   IDS_MENU_SORT_DOWNLOADED,
                           IDS_MENU_SORT_EXPIRES};
    std::vector<Command> commands;
    for (int column = 0; column < 7; ++column)
        commands.push_back(SortCommand(column, kTexts[column]));
    commands.push_back(
        {.id = CommandIds::ID_VIEW_AUTO_ARRANGE,
         .textId = IDS_MENU_AUTO_ARRANGE,
         .enabled = [](const CommandContext& c) { return c.viewStyle != CCacheListView::kDetails; },
         .checked = [](const CommandContext& c) { return c.viewStyle != CCacheListView::kDetails && c.autoArrange; },
         .run =
             [](CCacheFrame& frame, const CommandContext&) {
                 CCacheListView& list = *frame.List();
                 if (list.GetViewStyle() == CCacheListView::kDetails)
                     return;
                 // Turning it on arranges the icons once now.
                 if (!list.AutoArrange())
                     list.ArrangeIcons();
                 list.SetAutoArrange(!list.AutoArrange());
                 frame.UpdateCommandUI();
             }});
    return commands;
}

} // namespace oriel
