// Where the commands stand: the main menu's popups, the toolbar and the
// context menus, by command id. A command is declared once in its group's
// file (ui/commands/*Commands.cpp) and placed here; the registry builds
// every menu from the two.
#pragma once

#include "ui/commands/Command.h"

#include <functional>
#include <vector>

namespace oriel {

struct MenuEntry {
    enum Kind { kCommand, kSeparator, kPopup };
    Kind kind = kCommand;
    int id = 0;      // the command's id; for a popup the string id of its title
    int textId = 0;  // a command's text in this menu when it differs from its own
    std::vector<MenuEntry> entries{};  // a popup's entries
};

inline MenuEntry MenuCommand(int id, int textId = 0)
{
    return {MenuEntry::kCommand, id, textId, {}};
}

inline MenuEntry MenuSeparator()
{
    return {MenuEntry::kSeparator, 0, 0, {}};
}

inline MenuEntry MenuPopup(int titleId, std::vector<MenuEntry> entries)
{
    return {MenuEntry::kPopup, titleId, 0, std::move(entries)};
}

struct ContextMenuLayout {
    int menu = CommandIds::kNoMenu;
    std::vector<MenuEntry> entries{};
    // The command shown as the default (bold) entry; 0 for none.
    std::function<int(const CommandContext&)> defaultCommand{};
};

struct MenuLayout {
    std::vector<MenuEntry> mainMenu{};  // its popups
    std::vector<MenuEntry> toolBar{};   // commands and separators
    // Commands reached by their keys alone (in no menu): their actions are
    // added to the window so that the keys work.
    std::vector<MenuEntry> accelerators{};
    std::vector<ContextMenuLayout> contextMenus{};

    const ContextMenuLayout* ContextMenu(int menu) const;
    // Every command id placed anywhere, in description order (an id placed
    // twice is listed twice).
    std::vector<int> PlacedCommands() const;
};

// The window's menus, toolbar and context menus.
MenuLayout StandardMenuLayout();

} // namespace oriel
