// A window command as it is declared once: its id, menu text, status
// prompt, accelerator, toolbar icon, the rules that enable it and tick it
// over the window's current state, and what it does. The registry
// (ui/commands/CommandRegistry.h) makes the menus, the toolbar, the context
// menus and the enabling refresh from these declarations and the menu
// description (ui/commands/MenuLayout.h).
//
// A new command is an id below, one declaration in its group's file and its
// id placed in StandardMenuLayout (a menu, the toolbar, a context menu or
// the accelerators); its texts are string-table entries. A new group file
// also names its function in AllCommands.
#pragma once

#include <QKeySequence>

#include <functional>
#include <vector>

namespace oriel {

class CCacheFrame;
class CCacheItem;
class CNamedCacheItemArray;
struct BrowserProfile;

// The ids of the commands (also the string ids of their status prompts) and
// of the context menus.
struct CommandIds {
    enum Id : int {
        ID_FILE_EMPTY = 40005,
        ID_FILE_RELOAD = 40006,
        ID_EDIT_MOVE_TO = 40008,
        ID_EDIT_COPY_TO = 40021,
        ID_EDIT_COPY_URLS = 40023,
        ID_SERVER_MOVE_ALL = 40049,
        ID_SERVER_COPY_ALL = 40050,
        ID_SERVER_COPY_URL = 40052,
        ID_APP_EXIT = 40007,
        ID_EDIT_SELECT_ALL = 40024,
        ID_EDIT_DELETE = 40022,
        ID_EDIT_INVERT = 40025,
        ID_VIEW_TOOLBAR = 40027,
        ID_VIEW_SHOW_MISSING = 40028,
        ID_VIEW_LARGE_ICONS = 40029,
        ID_VIEW_SMALL_ICONS = 40030,
        ID_VIEW_LIST = 40031,
        ID_VIEW_DETAILS = 40032,
        ID_SORT_URL = 40034, // to ID_SORT_URL + 6: the seven sort columns
        ID_VIEW_AUTO_ARRANGE = 40041,
        ID_SERVER_DELETE_ALL = 40051,
        ID_NEXT_PANE = 40058,
        ID_VIEW_REQUEST_DATA = 40064,
        ID_VIEW_CONTENTS = 40065,
        // Opening items, their properties, the CSV export.
        ID_FILE_OPEN = 40001,
        ID_FILE_OPEN_URL = 40002,
        ID_FILE_QUICKVIEW = 40003,
        ID_DEFAULT_ACTION = 40004, // Enter, and a double click on one row
        ID_FILE_PROPERTIES = 40059,
        ID_FILE_EXPORT_CSV = 40061,
        ID_FILE_EXPORT_REPORT = 40095,
        ID_FILE_OPEN_WITH = 131,
        // Find, Options, Help and About; choosing what to examine.
        ID_EDIT_FIND = 40026,
        ID_VIEW_OPTIONS = 40042,
        ID_HELP_CONTENTS = 40043,
        ID_HELP_SEARCH = 40044,
        ID_APP_ABOUT = 40045,
        ID_FILE_EXAMINE_SYSTEM = 40080,
        ID_FILE_OPEN_FOLDER = 40081,
        ID_VIEW_SHOW_RECOVERED = 40090,
    };
    enum Menu : int { kNoMenu = 0, kItemMenu = 110, kBackgroundMenu = 111, kServerMenu = 124, kProfileMenu = 130 };
};

// The state the rules look at, as the frame sees it when the menus and the
// toolbar are refreshed or a command runs.
struct CommandContext {
    BrowserProfile* profile = nullptr;       // the tree's selected profile (or the one over its server)
    CNamedCacheItemArray* server = nullptr;  // the tree's selected server
    bool treeActive = false;                 // the tree has the focus
    int selectedCount = 0;                   // the list's selected rows
    // The selected items in list order; asked only by the rules and
    // commands that need them (a selection may hold 100,000 rows).
    std::function<std::vector<CCacheItem*>()> selectedItems{};
    int viewStyle = 1;      // the list's style (CCacheListView::ViewStyle)
    int sortColumn = 0;     // the list's sort column
    bool autoArrange = false;
    bool showMissing = true;
    bool showRecovered = false;
    // The tree's chosen node is a profile's "<Recovered>" group: its items
    // are evidence the cache no longer lists, never deleted nor moved.
    bool recoveredServer = false;
    bool toolbarVisible = true;
    int infoView = 0;       // 0 request data, 1 contents
    int defaultAction = 0;  // 0 Open File, 1 Open URL, 2 QuickView
    // The selected profile's cache folder can be written to (false on a
    // read-only mount: nothing in it can be deleted).
    bool cacheWritable = true;
    // A QuickView program is configured ("Options"/"QuickView").
    bool programPathSet = false;

    bool OneSelected() const { return selectedCount == 1; }
    bool AnySelected() const { return selectedCount >= 1; }
    bool ProfileSelected() const { return profile != nullptr; }
    bool ServerSelected() const { return server != nullptr; }
    std::vector<CCacheItem*> SelectedItems() const { return selectedItems ? selectedItems() : std::vector<CCacheItem*>{}; }
};

using CommandRule = std::function<bool(const CommandContext&)>;

struct Command {
    int id = 0;
    int textId = 0;     // string id of the menu text ("&Re-load Cache")
    int promptId = 0;   // string id of "prompt\ntooltip"; 0: the command's id
    QKeySequence shortcut{};
    const char* icon = nullptr;  // ":/oriel/icons/<icon>.svg"; null for none
    CommandRule enabled{};       // empty: always enabled
    CommandRule checked{};       // empty: the command has no check mark
    std::function<void(CCacheFrame& frame, const CommandContext& context)> run{};
    // The string id of the tooltip that says why the command is disabled,
    // for the states that call for it; 0 for the usual tooltip.
    std::function<int(const CommandContext&)> disabledNote{};
};

// The command groups, one file each, as the main menu groups them.
std::vector<Command> FileCommands();
std::vector<Command> EditCommands();
std::vector<Command> ViewCommands();
std::vector<Command> SortCommands();
// Getting files out: copy and move, URLs to the clipboard.
std::vector<Command> ItemCommands();
std::vector<Command> DeleteCommands();
// Open File, Open URL, QuickView, Open With, the default action, Properties.
std::vector<Command> OpenCommands();
// Export to CSV and Export Report.
std::vector<Command> ExportCommands();
// Find and Options.
std::vector<Command> ToolsCommands();
// Examine System and Open Cache Folder.
std::vector<Command> SystemCommands();
// Help contents, help search, About.
std::vector<Command> HelpCommands();

// The profiles built again from the options (display choice, folder,
// examined system), and every view told (hint 4, the whole document).
void RebuildProfiles(CCacheFrame& frame);

// Every command of the window: the groups above, in menu order.
std::vector<Command> AllCommands();

} // namespace oriel
