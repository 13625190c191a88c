// The window's commands, declared once, and what is built from them: one
// action per command, the main menu, the toolbar, the context menus, and
// the refresh that enables and ticks every action over the window's state.
#pragma once

#include "ui/commands/Command.h"
#include "ui/commands/MenuLayout.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QObject;
class QToolBar;
class QWidget;

namespace oriel {

class CommandRegistry {
public:
    CommandRegistry(std::vector<Command> commands, MenuLayout layout);

    const Command* Find(int id) const;
    const std::vector<Command>& Commands() const { return commands_; }
    const MenuLayout& Layout() const { return layout_; }
    // The ids the layout places that no command declares, and the ids
    // declared more than once; both empty for a sound pair.
    std::vector<int> UndeclaredIds() const;
    std::vector<int> DuplicateIds() const;

    // What runs a triggered command (the window gives it its state).
    using Runner = std::function<void(const Command& command)>;
    // One action per command, owned by `owner`.
    void CreateActions(QObject* owner, Runner run);
    QAction* Action(int id) const;

    // The main menu's popups; `aboutToShow` runs before any of them opens.
    void BuildMenuBar(QMenuBar* bar, const std::function<void()>& aboutToShow) const;
    void BuildToolBar(QToolBar* toolBar) const;
    // The actions of the commands reached by keys alone, on the window.
    void AddAccelerators(QWidget* window) const;
    // A context menu over the state given; null when the layout has no such
    // menu or the menu has no entries.
    std::unique_ptr<QMenu> CreateContextMenu(int menu, QWidget* parent, const CommandContext& context) const;

    // Enables and ticks every action as its rules say.
    void Refresh(const CommandContext& context) const;
    // One action's enabled state, check mark and tooltip over the state.
    static void ApplyState(QAction* action, const Command& command, const CommandContext& context);

private:
    QAction* NewAction(const Command& command, int textId, QObject* parent) const;
    void AddEntries(QMenu* menu, const std::vector<MenuEntry>& entries, const CommandContext* context,
                    const std::function<void()>* aboutToShow) const;

    std::vector<Command> commands_;
    MenuLayout layout_;
    std::map<int, size_t> index_;
    std::map<int, QAction*> actions_;
    Runner run_;
};

} // namespace oriel
