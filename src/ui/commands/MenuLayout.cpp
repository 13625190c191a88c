#include "ui/commands/MenuLayout.h"

#include "app/StringTable.h"

namespace oriel {

namespace {

void CollectCommands(const std::vector<MenuEntry>& entries, std::vector<int>& ids)
{
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntry::kCommand)
            ids.push_back(entry.id);
        else if (entry.kind == MenuEntry::kPopup)
            CollectCommands(entry.entries, ids);
    }
}

std::vector<MenuEntry> ViewStyles()
{
    using C = CommandIds;
    return {MenuCommand(C::ID_VIEW_LARGE_ICONS), MenuCommand(C::ID_VIEW_SMALL_ICONS), MenuCommand(C::ID_VIEW_LIST),
            MenuCommand(C::ID_VIEW_DETAILS)};
}

// The seven sorts, separator, auto arrange; the first sort's text as given.
std::vector<MenuEntry> ArrangeIcons(int firstSortText)
{
    using C = CommandIds;
    std::vector<MenuEntry> entries{MenuCommand(C::ID_SORT_URL, firstSortText)};
    for (int column = 1; column < 7; ++column)
        entries.push_back(MenuCommand(C::ID_SORT_URL + column));
    entries.push_back(MenuSeparator());
    entries.push_back(MenuCommand(C::ID_VIEW_AUTO_ARRANGE));
    return entries;
}

} // namespace

const ContextMenuLayout* MenuLayout::ContextMenu(int menu) const
{
    for (const ContextMenuLayout& layout : contextMenus) {
        if (layout.menu == menu)
            return &layout;
    }
    return nullptr;
}

std::vector<int> MenuLayout::PlacedCommands() const
{
    std::vector<int> ids;
    CollectCommands(mainMenu, ids);
    CollectCommands(toolBar, ids);
    CollectCommands(accelerators, ids);
    for (const ContextMenuLayout& menu : contextMenus)
        CollectCommands(menu.entries, ids);
    return ids;
}

MenuLayout StandardMenuLayout()
{
    using C = CommandIds;
    MenuLayout layout;

    std::vector<MenuEntry> view{MenuCommand(C::ID_VIEW_TOOLBAR), MenuCommand(C::ID_VIEW_SHOW_MISSING),
                                MenuCommand(C::ID_VIEW_SHOW_RECOVERED), MenuSeparator()};
    for (MenuEntry& style : ViewStyles())
        view.push_back(std::move(style));
    view.push_back(MenuSeparator());
    view.push_back(MenuCommand(C::ID_VIEW_CONTENTS));
    view.push_back(MenuCommand(C::ID_VIEW_REQUEST_DATA));
    view.push_back(MenuSeparator());
    view.push_back(MenuPopup(IDS_MENU_ARRANGE, ArrangeIcons(0)));
    view.push_back(MenuSeparator());
    view.push_back(MenuCommand(C::ID_VIEW_OPTIONS));

    layout.mainMenu = {
        MenuPopup(IDS_MENU_FILE,
                  {MenuCommand(C::ID_FILE_OPEN), MenuCommand(C::ID_FILE_OPEN_URL), MenuCommand(C::ID_FILE_QUICKVIEW),
                   MenuCommand(C::ID_FILE_OPEN_WITH), MenuSeparator(), MenuCommand(C::ID_FILE_PROPERTIES),
                   MenuSeparator(), MenuCommand(C::ID_FILE_EMPTY), MenuCommand(C::ID_FILE_RELOAD),
                   MenuCommand(C::ID_FILE_EXPORT_CSV), MenuCommand(C::ID_FILE_EXPORT_REPORT), MenuSeparator(), MenuCommand(C::ID_FILE_EXAMINE_SYSTEM),
                   MenuCommand(C::ID_FILE_OPEN_FOLDER), MenuSeparator(), MenuCommand(C::ID_APP_EXIT)}),
        MenuPopup(IDS_MENU_EDIT,
                  {MenuCommand(C::ID_EDIT_MOVE_TO), MenuCommand(C::ID_EDIT_COPY_TO), MenuCommand(C::ID_EDIT_DELETE),
                   MenuSeparator(), MenuCommand(C::ID_EDIT_COPY_URLS), MenuSeparator(),
                   MenuCommand(C::ID_EDIT_SELECT_ALL), MenuCommand(C::ID_EDIT_INVERT), MenuSeparator(),
                   MenuCommand(C::ID_EDIT_FIND)}),
        MenuPopup(IDS_MENU_VIEW, std::move(view)),
        MenuPopup(IDS_MENU_HELP, {MenuCommand(C::ID_HELP_CONTENTS), MenuCommand(C::ID_HELP_SEARCH), MenuSeparator(),
                                  MenuCommand(C::ID_APP_ABOUT)}),
    };

    layout.toolBar = {MenuCommand(C::ID_FILE_OPEN),    MenuCommand(C::ID_FILE_OPEN_URL),
                      MenuCommand(C::ID_FILE_QUICKVIEW), MenuSeparator(),
                      MenuCommand(C::ID_EDIT_COPY_TO), MenuCommand(C::ID_EDIT_MOVE_TO),
                      MenuCommand(C::ID_EDIT_DELETE),  MenuSeparator()};
    for (MenuEntry& style : ViewStyles())
        layout.toolBar.push_back(std::move(style));

    // Enter: the default action.
    layout.accelerators = {MenuCommand(C::ID_DEFAULT_ACTION)};

    // The item menu's default (bold) entry is the default action's command.
    layout.contextMenus = {
        {C::kItemMenu,
         {MenuCommand(C::ID_FILE_OPEN), MenuCommand(C::ID_FILE_OPEN_URL), MenuCommand(C::ID_FILE_QUICKVIEW),
          MenuCommand(C::ID_FILE_OPEN_WITH), MenuSeparator(), MenuCommand(C::ID_EDIT_COPY_TO, IDS_ITEM_MENU_COPY_TO),
          MenuCommand(C::ID_EDIT_MOVE_TO, IDS_ITEM_MENU_MOVE_TO), MenuCommand(C::ID_EDIT_DELETE, IDS_MENU_DELETE_ITEM),
          MenuSeparator(), MenuCommand(C::ID_EDIT_COPY_URLS, IDS_MENU_COPY_URL), MenuSeparator(),
          MenuCommand(C::ID_FILE_PROPERTIES, IDS_ITEM_MENU_PROPERTIES)},
         [](const CommandContext& c) {
             return c.defaultAction == 1                       ? int(C::ID_FILE_OPEN_URL)
                    : c.defaultAction == 2 && c.programPathSet ? int(C::ID_FILE_QUICKVIEW)
                                                               : int(C::ID_FILE_OPEN);
         }},
        {C::kServerMenu,
         {MenuCommand(C::ID_SERVER_MOVE_ALL), MenuCommand(C::ID_SERVER_COPY_ALL), MenuCommand(C::ID_SERVER_DELETE_ALL),
          MenuSeparator(), MenuCommand(C::ID_SERVER_COPY_URL)},
         {}},
        {C::kProfileMenu,
         {MenuCommand(C::ID_FILE_EMPTY), MenuCommand(C::ID_FILE_RELOAD)},
         [](const CommandContext&) { return int(C::ID_FILE_RELOAD); }},
        {C::kBackgroundMenu,
         {MenuCommand(C::ID_VIEW_TOOLBAR), MenuCommand(C::ID_VIEW_SHOW_MISSING), MenuSeparator(),
          MenuPopup(IDS_MENU_VIEW, ViewStyles()),
          // The background menu names the first sort "by URL".
          MenuPopup(IDS_MENU_ARRANGE, ArrangeIcons(IDS_MENU_SORT_URL))},
         {}},
    };
    return layout;
}

} // namespace oriel
