#include "ui/commands/CommandRegistry.h"

#include "app/StringTable.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidget>

#include <set>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

// A menu text as the resource spells it, less its "\tKeys" part (the
// action's shortcut shows the keys).
QString MenuText(int id)
{
    const QString text = Text(id);
    const int tab = text.indexOf(u'\t');
    return tab >= 0 ? text.left(tab) : text;
}

} // namespace

std::vector<Command> AllCommands()
{
    std::vector<Command> all;
    for (auto group : {FileCommands, EditCommands, ViewCommands, SortCommands, ItemCommands, DeleteCommands,
                       OpenCommands, ExportCommands, ToolsCommands, SystemCommands, HelpCommands}) {
        for (Command& command : group())
            all.push_back(std::move(command));
    }
    return all;
}

CommandRegistry::CommandRegistry(std::vector<Command> commands, MenuLayout layout)
    : commands_(std::move(commands))
    , layout_(std::move(layout))
{
    for (size_t i = 0; i < commands_.size(); ++i)
        index_.emplace(commands_[i].id, i);
}

const Command* CommandRegistry::Find(int id) const
{
    auto found = index_.find(id);
    return found == index_.end() ? nullptr : &commands_[found->second];
}

std::vector<int> CommandRegistry::UndeclaredIds() const
{
    std::vector<int> missing;
    for (int id : layout_.PlacedCommands()) {
        if (!Find(id))
            missing.push_back(id);
    }
    return missing;
}

std::vector<int> CommandRegistry::DuplicateIds() const
{
    std::set<int> seen;
    std::vector<int> twice;
    for (const Command& command : commands_) {
        if (!seen.insert(command.id).second)
            twice.push_back(command.id);
    }
    return twice;
}

QAction* CommandRegistry::NewAction(const Command& command, int textId, QObject* parent) const
{
    auto* action = new QAction(MenuText(textId ? textId : command.textId), parent);
    action->setCheckable(bool(command.checked));
    const QString prompt = Text(command.promptId ? command.promptId : command.id);
    // The text before the line feed is the status-bar prompt, the rest the
    // tooltip.
    const int lineFeed = prompt.indexOf(u'\n');
    action->setStatusTip(lineFeed >= 0 ? prompt.left(lineFeed) : prompt);
    if (lineFeed >= 0)
        action->setToolTip(prompt.mid(lineFeed + 1));
    if (!command.shortcut.isEmpty())
        action->setShortcut(command.shortcut);
    if (command.icon)
        action->setIcon(QIcon(QStringLiteral(":/oriel/icons/%1.svg").arg(QLatin1String(command.icon))));
    const int id = command.id;
    QObject::connect(action, &QAction::triggered, action, [this, id] {
        const Command* declared = Find(id);
        if (declared && run_)
            run_(*declared);
    });
    return action;
}

void CommandRegistry::CreateActions(QObject* owner, Runner run)
{
    run_ = std::move(run);
    for (const Command& command : commands_)
        actions_[command.id] = NewAction(command, 0, owner);
}

QAction* CommandRegistry::Action(int id) const
{
    auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void CommandRegistry::AddEntries(QMenu* menu, const std::vector<MenuEntry>& entries, const CommandContext* context,
                                 const std::function<void()>* aboutToShow) const
{
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
        case MenuEntry::kSeparator:
            menu->addSeparator();
            break;
        case MenuEntry::kPopup: {
            QMenu* popup = menu->addMenu(Text(entry.id));
            if (aboutToShow)
                QObject::connect(popup, &QMenu::aboutToShow, popup, *aboutToShow);
            AddEntries(popup, entry.entries, context, aboutToShow);
            break;
        }
        case MenuEntry::kCommand: {
            const Command* command = Find(entry.id);
            if (!command)
                break;
            if (!entry.textId) {
                if (QAction* shared = Action(entry.id))
                    menu->addAction(shared);
                break;
            }
            // Spelled otherwise in this menu: an action of the menu's own,
            // set from the rules as the menu opens.
            QAction* own = NewAction(*command, entry.textId, menu);
            if (context)
                ApplyState(own, *command, *context);
            menu->addAction(own);
            break;
        }
        }
    }
}

void CommandRegistry::BuildMenuBar(QMenuBar* bar, const std::function<void()>& aboutToShow) const
{
    for (const MenuEntry& entry : layout_.mainMenu) {
        if (entry.kind != MenuEntry::kPopup)
            continue;
        QMenu* popup = bar->addMenu(Text(entry.id));
        QObject::connect(popup, &QMenu::aboutToShow, popup, aboutToShow);
        AddEntries(popup, entry.entries, nullptr, &aboutToShow);
    }
}

void CommandRegistry::BuildToolBar(QToolBar* toolBar) const
{
    for (const MenuEntry& entry : layout_.toolBar) {
        if (entry.kind == MenuEntry::kSeparator)
            toolBar->addSeparator();
        else if (QAction* action = entry.kind == MenuEntry::kCommand ? Action(entry.id) : nullptr)
            toolBar->addAction(action);
    }
}

void CommandRegistry::AddAccelerators(QWidget* window) const
{
    for (const MenuEntry& entry : layout_.accelerators) {
        if (QAction* action = entry.kind == MenuEntry::kCommand ? Action(entry.id) : nullptr)
            window->addAction(action);
    }
}

std::unique_ptr<QMenu> CommandRegistry::CreateContextMenu(int menu, QWidget* parent, const CommandContext& context) const
{
    const ContextMenuLayout* layout = layout_.ContextMenu(menu);
    if (!layout || layout->entries.empty())
        return nullptr;
    auto popup = std::make_unique<QMenu>(parent);
    AddEntries(popup.get(), layout->entries, &context, nullptr);
    if (layout->defaultCommand) {
        const int id = layout->defaultCommand(context);
        for (QAction* action : popup->actions()) {
            if (action == Action(id)) {
                popup->setDefaultAction(action);
                break;
            }
        }
    }
    return popup;
}

void CommandRegistry::Refresh(const CommandContext& context) const
{
    for (const Command& command : commands_) {
        QAction* action = Action(command.id);
        if (!action)
            continue;
        ApplyState(action, command, context);
    }
}

void CommandRegistry::ApplyState(QAction* action, const Command& command, const CommandContext& context)
{
    action->setEnabled(!command.enabled || command.enabled(context));
    if (command.checked)
        action->setChecked(command.checked(context));
    if (command.disabledNote) {
        const int note = command.disabledNote(context);
        if (note != 0) {
            action->setToolTip(Text(note));
        } else {
            const QString prompt = Text(command.promptId ? command.promptId : command.id);
            const int lineFeed = prompt.indexOf(u'\n');
            action->setToolTip(lineFeed >= 0 ? prompt.mid(lineFeed + 1) : QString());
        }
    }
}

} // namespace oriel
