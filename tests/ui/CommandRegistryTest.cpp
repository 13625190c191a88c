// The window's commands as declared: every placed id has a declaration,
// the enabling and check-mark rules over the window's state, the menus,
// toolbar and context menus built from the declarations, a new command
// added by a declaration and a place, and the frame's use of them (rules
// that follow the list, no command while a decode runs).
#include "ui/commands/CommandRegistry.h"

#include "UiTestSupport.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "support/Gate.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolBar>

#include <algorithm>
#include <set>

using namespace oriel;
using namespace oriel::test;

namespace {

using C = CommandIds;

QStringList Texts(const QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    return texts;
}

QMenu* Popup(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->menu() && action->text() == text)
            return action->menu();
    }
    return nullptr;
}

QMenu* Popup(const QMenuBar* bar, const QString& text)
{
    for (QAction* action : bar->actions()) {
        if (action->menu() && action->text() == text)
            return action->menu();
    }
    return nullptr;
}

// The standard commands bound to a plain widget; triggered ids are recorded.
struct Bound {
    QWidget owner;
    CommandRegistry registry{AllCommands(), StandardMenuLayout()};
    std::vector<int> ran;

    Bound()
    {
        registry.CreateActions(&owner, [this](const Command& command) { ran.push_back(command.id); });
    }
};

} // namespace

class CommandRegistryTest : public QObject {
    Q_OBJECT
private slots:
    void EveryPlacedCommandIsDeclaredOnceWithTextAndPrompt();
    void AnIdPlacedWithoutADeclarationIsReported();
    void RulesEnableAndTickCommandsOverTheState();
    void SelectionRulesAskForTheItemsOnlyWhenTheyNeedThem();
    void TheMainMenuHasTheDeclaredEntriesShortcutsAndPrompts();
    void TheToolbarHoldsTheFourViewStylesWithIcons();
    void TheBackgroundMenuSpellsTheFirstSortByUrlAndRunsTheSameCommand();
    void ANewCommandNeedsOnlyItsDeclarationAndItsPlace();
    void TheFramesSortTickFollowsTheListsStoredSort();
    void ABusyWindowRunsNoCommandAndShowsTheJobsProgress();
};

void CommandRegistryTest::EveryPlacedCommandIsDeclaredOnceWithTextAndPrompt()
{
    CommandRegistry registry(AllCommands(), StandardMenuLayout());
    QCOMPARE(registry.UndeclaredIds(), std::vector<int>{});
    QCOMPARE(registry.DuplicateIds(), std::vector<int>{});
    const std::vector<int> placed = registry.Layout().PlacedCommands();
    QVERIFY(!placed.empty());
    std::vector<int> keysOnly;
    for (const MenuEntry& entry : registry.Layout().accelerators)
        keysOnly.push_back(entry.id);
    for (const Command& command : registry.Commands()) {
        const QByteArray id = QByteArray::number(command.id);
        // A command reached by its key alone shows no text or prompt.
        const bool shown = std::find(keysOnly.begin(), keysOnly.end(), command.id) == keysOnly.end();
        if (shown) {
            QVERIFY2(std::string(LoadString(command.textId)).size() > 0, id);
            QVERIFY2(std::string(LoadString(command.promptId ? command.promptId : command.id)).size() > 0, id);
        } else {
            QVERIFY2(!command.shortcut.isEmpty(), id);
        }
        QVERIFY2(command.run, id);
        // Every command of today's window stands somewhere.
        QVERIFY2(std::find(placed.begin(), placed.end(), command.id) != placed.end(), id);
    }
}

void CommandRegistryTest::AnIdPlacedWithoutADeclarationIsReported()
{
    MenuLayout layout = StandardMenuLayout();
    layout.mainMenu.front().entries.push_back(MenuCommand(49901));
    std::vector<Command> commands = AllCommands();
    commands.push_back(commands.front());
    CommandRegistry registry(std::move(commands), std::move(layout));
    QCOMPARE(registry.UndeclaredIds(), std::vector<int>{49901});
    QCOMPARE(registry.DuplicateIds(), std::vector<int>{int(C::ID_FILE_RELOAD)});
    QVERIFY(!registry.Find(49901));
}

void CommandRegistryTest::RulesEnableAndTickCommandsOverTheState()
{
    BrowserProfile profile;
    struct Case {
        const char* what;
        std::function<void(CommandContext&)> set;
        int id;
        bool enabled;
        bool checked;
    };
    const Case kCases[] = {
        {"re-load without a profile", [](CommandContext& c) { c.profile = nullptr; }, C::ID_FILE_RELOAD, false, false},
        {"re-load with a profile", [&](CommandContext& c) { c.profile = &profile; }, C::ID_FILE_RELOAD, true, false},
        {"exit always", [](CommandContext&) {}, C::ID_APP_EXIT, true, false},
        {"toolbar shown", [](CommandContext& c) { c.toolbarVisible = true; }, C::ID_VIEW_TOOLBAR, true, true},
        {"toolbar hidden", [](CommandContext& c) { c.toolbarVisible = false; }, C::ID_VIEW_TOOLBAR, true, false},
        {"missing files hidden", [](CommandContext& c) { c.showMissing = false; }, C::ID_VIEW_SHOW_MISSING, true, false},
        {"small icons ticked in style 2", [](CommandContext& c) { c.viewStyle = 2; }, C::ID_VIEW_SMALL_ICONS, true, true},
        {"details not ticked in style 2", [](CommandContext& c) { c.viewStyle = 2; }, C::ID_VIEW_DETAILS, true, false},
        {"list ticked in style 3", [](CommandContext& c) { c.viewStyle = 3; }, C::ID_VIEW_LIST, true, true},
        {"large icons ticked in style 0", [](CommandContext& c) { c.viewStyle = 0; }, C::ID_VIEW_LARGE_ICONS, true, true},
        {"request data ticked in info view 0", [](CommandContext& c) { c.infoView = 0; }, C::ID_VIEW_REQUEST_DATA, true, true},
        {"contents not ticked in info view 0", [](CommandContext& c) { c.infoView = 0; }, C::ID_VIEW_CONTENTS, true, false},
        {"sort by type ticked", [](CommandContext& c) { c.sortColumn = 3; }, C::ID_SORT_URL + 3, true, true},
        {"sort by size not ticked", [](CommandContext& c) { c.sortColumn = 3; }, C::ID_SORT_URL + 2, true, false},
        {"auto arrange off in details, flag or not",
         [](CommandContext& c) {
             c.viewStyle = 1;
             c.autoArrange = true;
         },
         C::ID_VIEW_AUTO_ARRANGE, false, false},
        {"auto arrange ticked in icons with the flag",
         [](CommandContext& c) {
             c.viewStyle = 0;
             c.autoArrange = true;
         },
         C::ID_VIEW_AUTO_ARRANGE, true, true},
        {"auto arrange not ticked in a list without the flag",
         [](CommandContext& c) {
             c.viewStyle = 3;
             c.autoArrange = false;
         },
         C::ID_VIEW_AUTO_ARRANGE, true, false},
    };
    Bound bound;
    for (const Case& test : kCases) {
        CommandContext context;
        test.set(context);
        bound.registry.Refresh(context);
        QAction* action = bound.registry.Action(test.id);
        QVERIFY2(action, test.what);
        QVERIFY2(action->isEnabled() == test.enabled, test.what);
        QVERIFY2(action->isChecked() == test.checked, test.what);
    }
}

void CommandRegistryTest::SelectionRulesAskForTheItemsOnlyWhenTheyNeedThem()
{
    // Two commands over the list's selection: one counts, one looks at the
    // items themselves.
    FakeCache cache;
    CFileCacheItem withType(&cache, 0, "http://h/a", "/a", OptText("a"), OptText("text/html"), 1, 0, 0, 0);
    CFileCacheItem withoutType(&cache, 1, "http://h/b", "/b", OptText("b"), OptText(), 1, 0, 0, 0);
    std::vector<Command> commands{
        {.id = 1, .textId = IDS_MENU_RELOAD, .enabled = [](const CommandContext& c) { return c.OneSelected(); }},
        {.id = 2,
         .textId = IDS_MENU_EXIT,
         .enabled =
             [](const CommandContext& c) {
                 if (!c.AnySelected())
                     return false;
                 const std::vector<CCacheItem*> items = c.SelectedItems();
                 return std::all_of(items.begin(), items.end(), [](CCacheItem* i) { return i->GetContentType(); });
             }},
    };
    CommandRegistry registry(std::move(commands), MenuLayout{});
    QWidget owner;
    registry.CreateActions(&owner, [](const Command&) {});
    int asked = 0;
    auto contextOf = [&](std::vector<CCacheItem*> items) {
        CommandContext context;
        context.selectedCount = int(items.size());
        context.selectedItems = [&asked, items] {
            ++asked;
            return items;
        };
        return context;
    };

    registry.Refresh(contextOf({}));
    QVERIFY(!registry.Action(1)->isEnabled());
    QVERIFY(!registry.Action(2)->isEnabled());
    QCOMPARE(asked, 0);
    registry.Refresh(contextOf({&withType}));
    QVERIFY(registry.Action(1)->isEnabled());
    QVERIFY(registry.Action(2)->isEnabled());
    QCOMPARE(asked, 1);
    registry.Refresh(contextOf({&withType, &withoutType}));
    QVERIFY(!registry.Action(1)->isEnabled());
    QVERIFY(!registry.Action(2)->isEnabled());
    QCOMPARE(asked, 2);
}

void CommandRegistryTest::TheMainMenuHasTheDeclaredEntriesShortcutsAndPrompts()
{
    Bound bound;
    QMenuBar bar;
    int refreshed = 0;
    bound.registry.BuildMenuBar(&bar, [&refreshed] { ++refreshed; });
    QStringList titles;
    for (QAction* action : bar.actions())
        titles << action->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Help"}));

    QMenu* file = Popup(&bar, "&File");
    QCOMPARE(Texts(file), (QStringList{"&Open File", "Open &URL", "&QuickView", "Open Wit&h...", "-", "&Properties",
                                       "-", "&Empty Cache", "&Re-load Cache", "Export to CS&V", "Export Report...", "-",
                                       "Examine S&ystem...", "Open Cache F&older...", "-", "E&xit"}));
    QCOMPARE(file->actions()[8]->statusTip(), QString("Re-read the cache index file"));
    QCOMPARE(file->actions()[8]->toolTip(), QString("Re-load Cache"));
    QCOMPARE(file->actions()[7]->statusTip(), QString("Delete all cached files"));
    QCOMPARE(file->actions()[5]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Return));

    QMenu* edit = Popup(&bar, "&Edit");
    QCOMPARE(Texts(edit), (QStringList{"&Move to...", "&Copy to...", "&Delete", "-", "Copy &URLs to Clipboard", "-",
                                       "Select &All", "&Invert Selection", "-", "&Find..."}));
    QCOMPARE(edit->actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
    QCOMPARE(edit->actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    QCOMPARE(edit->actions()[2]->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(edit->actions()[6]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    QCOMPARE(edit->actions()[7]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    QCOMPARE(edit->actions()[7]->statusTip(), QString("Inverts the current selection"));
    QCOMPARE(edit->actions()[9]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QCOMPARE(edit->actions()[9]->statusTip(), QString("Finds text contained in the cached file list"));

    QMenu* view = Popup(&bar, "&View");
    QCOMPARE(Texts(view), (QStringList{"&Toolbar", "Show &Missing Files", "Show Reco&vered Entries", "-", "Lar&ge Icons",
                                       "&Small Icons", "&List", "&Details", "-", "&Contents", "&Request Data", "-",
                                       "Arrange &Icons", "-", "&Options..."}));
    QVERIFY(view->actions()[2]->isCheckable());
    QCOMPARE(view->actions()[2]->statusTip(),
             QString("Shows or hides the entries the cache no longer lists but whose records or bodies still stand"));
    QCOMPARE(view->actions().back()->statusTip(), QString("Changes the options for the window"));

    QMenu* help = Popup(&bar, "&Help");
    QCOMPARE(Texts(help), (QStringList{"&Contents", "&Search for help on...", "-", "&About Oriel"}));
    QCOMPARE(help->actions()[0]->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(help->actions()[0]->statusTip(), QString("Opens help"));
    QCOMPARE(help->actions()[1]->statusTip(), QString("Searches help for specific terms"));
    QCOMPARE(help->actions()[3]->toolTip(), QString("About Oriel"));
    // A prompt without a line feed has no tooltip part.
    QCOMPARE(bound.registry.Action(C::ID_VIEW_CONTENTS)->statusTip(),
             QString("Show the contents of the selected cached file."));
    QMenu* arrange = Popup(view, "Arrange &Icons");
    QVERIFY(arrange);
    QCOMPARE(Texts(arrange), (QStringList{"by &URL or Path", "by &Cache Name", "by &Size", "by &Type",
                                          "by &Last Modified", "by &Date Downloaded", "by &Expiry Date", "-",
                                          "&Auto Arrange"}));
    QVERIFY(arrange->actions().first()->isCheckable());
    QVERIFY(!bound.registry.Action(C::ID_FILE_RELOAD)->isCheckable());

    // Every popup, sub-popups too, refreshes the commands as it opens.
    for (QMenu* menu : {file, edit, view, arrange, help})
        emit menu->aboutToShow();
    QCOMPARE(refreshed, 5);
    // The menu's actions are the commands' own: triggering runs the command.
    arrange->actions()[2]->trigger();
    edit->actions()[6]->trigger();
    QCOMPARE(bound.ran, (std::vector<int>{C::ID_SORT_URL + 2, C::ID_EDIT_SELECT_ALL}));
}

void CommandRegistryTest::TheToolbarHoldsTheFourViewStylesWithIcons()
{
    Bound bound;
    QToolBar toolBar;
    bound.registry.BuildToolBar(&toolBar);
    // Open File, Open URL, QuickView; Copy to, Move to, Delete; the four
    // view styles.
    const int ids[] = {C::ID_FILE_OPEN,        C::ID_FILE_OPEN_URL,   C::ID_FILE_QUICKVIEW, 0,
                       C::ID_EDIT_COPY_TO,     C::ID_EDIT_MOVE_TO,    C::ID_EDIT_DELETE,    0,
                       C::ID_VIEW_LARGE_ICONS, C::ID_VIEW_SMALL_ICONS, C::ID_VIEW_LIST,      C::ID_VIEW_DETAILS};
    QCOMPARE(toolBar.actions().size(), 12);
    for (int i = 0; i < 12; ++i) {
        if (ids[i] == 0) {
            QVERIFY(toolBar.actions()[i]->isSeparator());
            continue;
        }
        QCOMPARE(toolBar.actions()[i], bound.registry.Action(ids[i]));
        QVERIFY(!toolBar.actions()[i]->icon().isNull());
    }
    QCOMPARE(toolBar.actions()[11]->toolTip(), QString("Details"));
}

void CommandRegistryTest::TheBackgroundMenuSpellsTheFirstSortByUrlAndRunsTheSameCommand()
{
    Bound bound;
    CommandContext context;
    context.sortColumn = 0;
    std::unique_ptr<QMenu> menu = bound.registry.CreateContextMenu(C::kBackgroundMenu, &bound.owner, context);
    QVERIFY(menu);
    QCOMPARE(Texts(menu.get()), (QStringList{"&Toolbar", "Show &Missing Files", "-", "&View", "Arrange &Icons"}));
    QCOMPARE(Texts(Popup(menu.get(), "&View")), (QStringList{"Lar&ge Icons", "&Small Icons", "&List", "&Details"}));
    QMenu* arrange = Popup(menu.get(), "Arrange &Icons");
    QAction* byUrl = arrange->actions().first();
    QCOMPARE(byUrl->text(), QString("by &URL"));
    QVERIFY(byUrl != bound.registry.Action(C::ID_SORT_URL));
    QVERIFY(byUrl->isChecked());
    QCOMPARE(byUrl->statusTip(), QString("Sorts items by URL or Path"));
    // The other entries are the shared actions.
    QCOMPARE(arrange->actions()[1], bound.registry.Action(C::ID_SORT_URL + 1));
    byUrl->trigger();
    QCOMPARE(bound.ran, std::vector<int>{C::ID_SORT_URL});

    context.sortColumn = 4;
    menu = bound.registry.CreateContextMenu(C::kBackgroundMenu, &bound.owner, context);
    QVERIFY(!Popup(menu.get(), "Arrange &Icons")->actions().first()->isChecked());

    std::unique_ptr<QMenu> profileMenu = bound.registry.CreateContextMenu(C::kProfileMenu, &bound.owner, context);
    QCOMPARE(Texts(profileMenu.get()), (QStringList{"&Empty Cache", "&Re-load Cache"}));
    QCOMPARE(profileMenu->defaultAction(), bound.registry.Action(C::ID_FILE_RELOAD));
    // The item and server menus; a menu the layout does not have is none.
    QCOMPARE(Texts(bound.registry.CreateContextMenu(C::kItemMenu, &bound.owner, context).get()),
             (QStringList{"&Open File", "Open &URL", "&QuickView", "Open Wit&h...", "-", "&Copy to...", "&Move to...",
                          "&Delete", "-", "Copy &URL to Clipboard", "-", "&Properties"}));
    QCOMPARE(Texts(bound.registry.CreateContextMenu(C::kServerMenu, &bound.owner, context).get()),
             (QStringList{"&Move all to...", "&Copy all to...", "&Delete all", "-", "Copy &URL to Clipboard"}));
    QVERIFY(!bound.registry.CreateContextMenu(999, &bound.owner, context));
}

void CommandRegistryTest::ANewCommandNeedsOnlyItsDeclarationAndItsPlace()
{
    // A command of a later issue as its group file would declare it,
    // placed in the File menu, on the toolbar and first in the item menu,
    // whose default entry follows the default action; and one reached by
    // its key alone.
    constexpr int kOpenFile = 49001;
    constexpr int kDefaultAction = 49004;
    std::vector<Command> commands = AllCommands();
    commands.push_back({.id = kOpenFile,
                        .textId = IDS_MENU_RELOAD,
                        .promptId = C::ID_FILE_RELOAD,
                        .shortcut = QKeySequence(Qt::Key_Return),
                        .icon = "file",
                        .enabled = [](const CommandContext& c) { return c.OneSelected(); },
                        .run = [](CCacheFrame&, const CommandContext&) {}});
    commands.push_back({.id = kDefaultAction, .textId = IDS_MENU_EXIT, .shortcut = QKeySequence(Qt::Key_Enter)});
    MenuLayout layout = StandardMenuLayout();
    // Only the new key command among the accelerators, so that the window's
    // key actions are that one.
    layout.accelerators = {MenuCommand(kDefaultAction)};
    auto& file = layout.mainMenu.front().entries;
    file.insert(file.begin(), {MenuCommand(kOpenFile), MenuSeparator()});
    layout.toolBar.insert(layout.toolBar.begin(), {MenuCommand(kOpenFile), MenuSeparator()});
    for (ContextMenuLayout& menu : layout.contextMenus) {
        if (menu.menu == C::kItemMenu) {
            menu.entries = {MenuCommand(kOpenFile), MenuSeparator(), MenuCommand(C::ID_EDIT_SELECT_ALL)};
            menu.defaultCommand = [](const CommandContext& c) {
                return c.defaultAction == 0 ? kOpenFile : int(C::ID_EDIT_SELECT_ALL);
            };
        }
    }
    CommandRegistry registry(std::move(commands), std::move(layout));
    QCOMPARE(registry.UndeclaredIds(), std::vector<int>{});
    QWidget owner;
    std::vector<int> ran;
    registry.CreateActions(&owner, [&ran](const Command& command) { ran.push_back(command.id); });
    QMenuBar bar;
    registry.BuildMenuBar(&bar, [] {});
    QToolBar toolBar;
    registry.BuildToolBar(&toolBar);
    registry.AddAccelerators(&owner);
    QCOMPARE(owner.actions(), QList<QAction*>{registry.Action(kDefaultAction)});
    QCOMPARE(registry.Action(kDefaultAction)->shortcut(), QKeySequence(Qt::Key_Enter));

    QAction* open = registry.Action(kOpenFile);
    QVERIFY(open);
    QCOMPARE(Popup(&bar, "&File")->actions().first(), open);
    QCOMPARE(toolBar.actions().first(), open);
    QVERIFY(toolBar.actions()[1]->isSeparator());
    QCOMPARE(open->shortcut(), QKeySequence(Qt::Key_Return));
    QCOMPARE(open->statusTip(), QString("Re-read the cache index file"));
    CommandContext context;
    context.selectedCount = 2;
    registry.Refresh(context);
    QVERIFY(!open->isEnabled());
    context.selectedCount = 1;
    registry.Refresh(context);
    QVERIFY(open->isEnabled());
    std::unique_ptr<QMenu> itemMenu = registry.CreateContextMenu(C::kItemMenu, &owner, context);
    QVERIFY(itemMenu);
    QCOMPARE(itemMenu->defaultAction(), open);
    context.defaultAction = 1;
    itemMenu = registry.CreateContextMenu(C::kItemMenu, &owner, context);
    QCOMPARE(itemMenu->defaultAction(), registry.Action(C::ID_EDIT_SELECT_ALL));
    open->trigger();
    QCOMPARE(ran, std::vector<int>{kOpenFile});
}

void CommandRegistryTest::TheFramesSortTickFollowsTheListsStoredSort()
{
    TempDir dir;
    OptionStore::Instance().WriteInt("Options", "SortColumn", 2);
    OptionStore::Instance().WriteInt("Options", "SortOrder", 1);
    std::vector<std::unique_ptr<BrowserProfile>> profiles;
    profiles.push_back(MakeProfile("P", dir.file("p"),
                                   {{.url = "http://h/a", .cacheName = "a", .body = "12"},
                                    {.url = "http://h/b", .cacheName = "b", .body = "1"}}));
    BrowserProfile* profile = profiles.front().get();
    auto document = MakeDocument(std::move(profiles));
    CCacheFrame frame(*document);
    frame.show();
    QSignalSpy finished(&frame, &CCacheFrame::DecodeFinished);
    frame.Tree()->FindProfileNode(profile)->setExpanded(true);
    QVERIFY(finished.wait(10000));
    QCOMPARE(frame.List()->SortColumn(), 2);
    frame.UpdateCommandUI();
    QVERIFY(frame.Action(C::ID_SORT_URL + 2)->isChecked());
    QVERIFY(!frame.Action(C::ID_SORT_URL)->isChecked());
    QCOMPARE(frame.CommandState().sortColumn, 2);

    // The view style and auto arrange are the list's, read by the rules.
    frame.Action(C::ID_VIEW_SMALL_ICONS)->trigger();
    frame.Action(C::ID_VIEW_AUTO_ARRANGE)->trigger();
    QVERIFY(frame.List()->AutoArrange());
    QVERIFY(frame.Action(C::ID_VIEW_AUTO_ARRANGE)->isChecked());
    // A sort clears it.
    frame.Action(C::ID_SORT_URL + 1)->trigger();
    QVERIFY(!frame.List()->AutoArrange());
    QVERIFY(!frame.Action(C::ID_VIEW_AUTO_ARRANGE)->isChecked());
    QCOMPARE(frame.List()->GetViewStyle(), int(CCacheListView::kSmallIcons));
    QVERIFY(frame.Action(C::ID_VIEW_SMALL_ICONS)->isChecked());
    OptionStore::Instance().WriteString("Options", "SortColumn", "");
    OptionStore::Instance().WriteString("Options", "SortOrder", "");
    OptionStore::Instance().WriteString("Options", "View", "");
}

void CommandRegistryTest::ABusyWindowRunsNoCommandAndShowsTheJobsProgress()
{
    TempDir dir;
    std::vector<std::unique_ptr<BrowserProfile>> profiles;
    profiles.push_back(MakeProfile("P", dir.file("p"), {{.url = "http://h/a", .cacheName = "a", .body = "1"}}));
    BrowserProfile* profile = profiles.front().get();
    FakeCache& cache = CacheOf(*profile);
    Gate moved, release;
    auto decode = cache.decode;
    cache.decode = [&moved, &release, decode](FakeCache& c) {
        c.GetProgress()->SetRange(0, 100);
        c.GetProgress()->SetPos(60);
        moved.Open();
        release.WaitOpen();
        return decode(c);
    };
    auto document = MakeDocument(std::move(profiles));
    CCacheFrame frame(*document);
    frame.show();
    QSignalSpy finished(&frame, &CCacheFrame::DecodeFinished);
    frame.Tree()->FindProfileNode(profile)->setExpanded(true);
    // The expansion returned with the decode still running.
    QVERIFY(frame.IsDecoding());
    QVERIFY(frame.IsBusy());
    QVERIFY(!frame.menuBar()->isEnabled());
    // The bar shows, on the window's thread, what the job's thread set.
    QVERIFY(moved.WaitOpen());
    QTRY_COMPARE(frame.ProgressBar()->value(), 60);
    QVERIFY(frame.ProgressBar()->isVisible());
    QVERIFY(frame.IsDecoding());
    frame.RunCommand(C::ID_FILE_RELOAD);
    frame.Action(C::ID_VIEW_LIST)->trigger();
    // A second job while one runs is not started; its caller hears at once.
    int second = 1;
    frame.StartDecode(profile->cache.get(), [&second](int result) { second = result; });
    QCOMPARE(second, -1);
    QCOMPARE(frame.List()->GetViewStyle(), int(CCacheListView::kDetails));
    release.Open();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), 0);
    QVERIFY(!frame.IsBusy());
    QVERIFY(frame.menuBar()->isEnabled());
    QCOMPARE(cache.decodeCalls, 1);
    QCOMPARE(frame.List()->GetItemCount(), 1);
    // Idle again: the commands run.
    frame.Action(C::ID_VIEW_LIST)->trigger();
    QCOMPARE(frame.List()->GetViewStyle(), int(CCacheListView::kList));
    OptionStore::Instance().WriteString("Options", "View", "");
}

ORIEL_UI_TEST_MAIN(CommandRegistryTest)
#include "CommandRegistryTest.moc"
