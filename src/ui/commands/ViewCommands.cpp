// The View menu: toolbar, missing files, recovered entries, the list's four view styles and
// the lower pane's two views.
#include "ui/commands/Command.h"

#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"

#include <QAbstractItemView>
#include <QToolBar>

namespace oriel {

namespace {

Command ViewStyleCommand(int id, int textId, int style, const char* icon)
{
    return {.id = id,
            .textId = textId,
            .icon = icon,
            .checked = [style](const CommandContext& c) { return c.viewStyle == style; },
            .run =
                [style](CCacheFrame& frame, const CommandContext&) {
                    frame.List()->SetViewStyle(style);
                    frame.UpdateCommandUI();
                }};
}

Command InfoViewCommand(int id, int textId, int infoView)
{
    return {.id = id,
            .textId = textId,
            .checked = [infoView](const CommandContext& c) { return c.infoView == infoView; },
            .run = [infoView](CCacheFrame& frame, const CommandContext&) { frame.ShowInfoView(infoView); }};
}

} // namespace

std::vector<Command> ViewCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_VIEW_TOOLBAR,
         .textId = IDS_MENU_TOOLBAR,
         .checked = [](const CommandContext& c) { return c.toolbarVisible; },
         .run =
             [](CCacheFrame& frame, const CommandContext&) {
                 frame.ToolBar()->setVisible(!frame.ToolBar()->isVisibleTo(&frame));
                 frame.UpdateCommandUI();
                 frame.List()->CurrentView()->setFocus();
             }},
        {.id = C::ID_VIEW_SHOW_MISSING,
         .textId = IDS_MENU_SHOW_MISSING,
         .checked = [](const CommandContext& c) { return c.showMissing; },
         .run =
             [](CCacheFrame& frame, const CommandContext& c) {
                 frame.SetShowMissing(!c.showMissing);
                 frame.Document().UpdateAllViews(nullptr, CACHE_REFRESH, nullptr);
                 frame.UpdateCommandUI();
             }},
        {.id = C::ID_VIEW_SHOW_RECOVERED,
         .textId = IDS_MENU_SHOW_RECOVERED,
         .promptId = IDS_PROMPT_SHOW_RECOVERED,
         .checked = [](const CommandContext& c) { return c.showRecovered; },
         .run =
             [](CCacheFrame& frame, const CommandContext& c) {
                 frame.SetShowRecovered(!c.showRecovered);
                 frame.Tree()->UpdateRecoveredNodes();
                 frame.Document().UpdateAllViews(nullptr, CACHE_REFRESH, nullptr);
                 frame.UpdateCommandUI();
             }},
        ViewStyleCommand(C::ID_VIEW_LARGE_ICONS, IDS_MENU_LARGE_ICONS, CCacheListView::kLargeIcons, "view-large"),
        ViewStyleCommand(C::ID_VIEW_SMALL_ICONS, IDS_MENU_SMALL_ICONS, CCacheListView::kSmallIcons, "view-small"),
        ViewStyleCommand(C::ID_VIEW_LIST, IDS_MENU_LIST, CCacheListView::kList, "view-list"),
        ViewStyleCommand(C::ID_VIEW_DETAILS, IDS_MENU_DETAILS, CCacheListView::kDetails, "view-details"),
        InfoViewCommand(C::ID_VIEW_CONTENTS, IDS_MENU_CONTENTS, 1),
        InfoViewCommand(C::ID_VIEW_REQUEST_DATA, IDS_MENU_REQUEST_DATA, 0),
    };
}

} // namespace oriel
