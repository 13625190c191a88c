// Handing the first selected item to another program: Open File (the
// desktop's default program), Open URL (the default browser), QuickView
// (the program named in the options), Open With (a chooser of the
// desktop's programs for the item's type), the default action that Enter
// and a double click run, and the item's Properties.
#include "ui/commands/Command.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/CacheItem.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/ItemLauncher.h"
#include "ui/ItemListModel.h"
#include "ui/WindowLog.h"
#include "ui/dialogs/OpenWithDialog.h"
#include "ui/dialogs/PropertiesDialog.h"

#include <QMessageBox>
#include <QMimeDatabase>

#include <initializer_list>
#include <string>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

void Exclaim(CCacheFrame& frame, int textId)
{
    QMessageBox::warning(&frame, Text(IDS_APP_TITLE), Text(textId));
}

// The first selected row: its item and whether it shows as missing.
struct Target {
    CCacheItem* item = nullptr;
    bool missing = false;
};

Target FirstSelected(CCacheFrame& frame)
{
    Target target;
    const std::vector<int> rows = frame.List()->SelectedRows();
    if (rows.empty())
        return target;
    target.item = frame.List()->Model()->ItemAt(rows.front());
    target.missing = frame.List()->Model()->IsMissing(rows.front());
    return target;
}

// PrepareFile with the window busy (it may extract or decode the body).
bool Prepare(CCacheFrame& frame, CCacheItem& item)
{
    frame.BeginWait();
    const bool prepared = item.PrepareFile() && item.GetFilePath();
    frame.EndWait();
    return prepared;
}

// The trace-log texts of the shell's failure codes.
struct ShellFailure {
    int code;
    std::initializer_list<const char*> lines;
};

const ShellFailure kShellFailures[] = {
    {0, {"The operating system is out of memory or resources. "}},
    {2, {"The specified file was not found. ", "The specified file was not found.  "}},
    {3, {"The specified path was not found. ", "The specified path was not found. "}},
    {5, {"The operating system denied access to the specified file.  "}},
    {8, {"There was not enough memory to complete the operation. "}},
    {11, {"The .exe file is invalid (non-Win32\xC2\xAE .exe or error in .exe image). "}},
    {26, {"A sharing violation occurred."}},
    {27, {"The file name association is incomplete or invalid. "}},
    {28, {"The DDE transaction could not be completed because the request timed out. "}},
    {29, {"The DDE transaction failed. "}},
    {30, {"The DDE transaction could not be completed because other DDE transactions were being processed. "}},
    {31, {"There is no application associated with the given file name extension. "}},
    {32, {"The specified dynamic-link library was not found.  "}},
};

// The item's file to the desktop's default program; a failure is written
// to the trace log only.
void OpenItemFile(CCacheItem& item)
{
    Trace("Entry - CCacheItem::OpenFile()");
    if (item.PrepareFile() && item.GetFilePath()) {
        const std::string path = item.GetFilePath();
        Trace("      - Attempt execute of \"" + path + "\"");
        Trace("      -  with default verb");
        const int result = CurrentItemLauncher().OpenFile(path);
        if (result <= 32) {
            for (const ShellFailure& failure : kShellFailures) {
                if (failure.code == result) {
                    for (const char* line : failure.lines)
                        Trace(line);
                }
            }
        }
    }
    Trace("Exit  - CCacheItem::OpenFile()");
}

// The first selected row's item with its file prepared, or null after
// saying why (a missing row, a body that could not be prepared).
CCacheItem* PreparedFirstSelected(CCacheFrame& frame)
{
    const Target target = FirstSelected(frame);
    if (!target.item)
        return nullptr;
    if (target.missing) {
        Exclaim(frame, IDS_FILE_NO_LONGER_EXISTS);
        return nullptr;
    }
    if (!Prepare(frame, *target.item)) {
        Exclaim(frame, IDS_FILE_ACCESS_FAILED);
        return nullptr;
    }
    return target.item;
}

void OpenFile(CCacheFrame& frame)
{
    if (CCacheItem* item = PreparedFirstSelected(frame))
        OpenItemFile(*item);
}

// A missing row's URL opens all the same.
void OpenUrl(CCacheFrame& frame)
{
    const Target target = FirstSelected(frame);
    if (!target.item || !target.item->GetURL())
        return;
    const std::string url = target.item->GetURL();
    if (IsOpenableUrl(url))
        CurrentItemLauncher().OpenUrl(url);
    else
        Trace("      - Not opened, not a web URL: " + url);
}

std::string QuickViewProgram()
{
    return OptionStore::Instance().ReadString("Options", "QuickView", "");
}

// The configured program on the prepared file (its one argument).
void QuickView(CCacheFrame& frame)
{
    const Target target = FirstSelected(frame);
    const std::string program = QuickViewProgram();
    if (!target.item || program.empty())
        return;
    if (!Prepare(frame, *target.item)) {
        Exclaim(frame, IDS_FILE_ACCESS_FAILED);
        return;
    }
    const std::string path = target.item->GetFilePath();
    Trace("Entry - CacheFrm::OnFileQuick()");
    Trace("      - Attempt open of \"" + path + "\"");
    Trace("      -  with " + program);
    CurrentItemLauncher().StartProgram({program, path});
    Trace("Exit  - CacheFrm::OnFileQuick()");
}

// The item's MIME type: its stored content type, else the one the file's
// name and bytes suggest.
std::string ItemMimeType(CCacheItem& item, const std::string& path)
{
    if (const char* type = item.GetContentType(); type && *type)
        return type;
    return QMimeDatabase().mimeTypeForFile(QString::fromStdString(path)).name().toStdString();
}

void OpenWith(CCacheFrame& frame)
{
    CCacheItem* const item = PreparedFirstSelected(frame);
    if (!item)
        return;
    const std::string path = item->GetFilePath();
    COpenWithDlg dialog(ItemMimeType(*item, path), path,
                        item->GetURL() ? item->GetURL() : "", &frame);
    if (dialog.exec() == QDialog::Accepted) {
        const std::vector<std::string> command = dialog.Command();
        if (!command.empty())
            CurrentItemLauncher().StartProgram(command);
    }
}

void Properties(CCacheFrame& frame, const CommandContext& context)
{
    const Target target = FirstSelected(frame);
    if (!target.item || !context.ProfileSelected() || !target.item->Exists())
        return;
    if (!Prepare(frame, *target.item)) {
        Exclaim(frame, IDS_FILE_ACCESS_FAILED);
        return;
    }
    frame.BeginWait();
    CPropertiesDlg dialog(*target.item, &frame);
    frame.EndWait();
    dialog.exec();
}

void DefaultAction(CCacheFrame& frame, const CommandContext& context)
{
    switch (context.defaultAction) {
    case 1:
        OpenUrl(frame);
        break;
    case 2:
        if (context.programPathSet) {
            QuickView(frame);
            break;
        }
        [[fallthrough]];
    default:
        OpenFile(frame);
        break;
    }
}

} // namespace

std::vector<Command> OpenCommands()
{
    using C = CommandIds;
    auto oneSelected = [](const CommandContext& c) { return c.OneSelected(); };
    return {
        {.id = C::ID_FILE_OPEN,
         .textId = IDS_MENU_OPEN_FILE,
         .icon = "open-file",
         .enabled = oneSelected,
         .run = [](CCacheFrame& frame, const CommandContext&) { OpenFile(frame); }},
        {.id = C::ID_FILE_OPEN_URL,
         .textId = IDS_MENU_OPEN_URL,
         .icon = "open-url",
         .enabled = oneSelected,
         .run = [](CCacheFrame& frame, const CommandContext&) { OpenUrl(frame); }},
        {.id = C::ID_FILE_QUICKVIEW,
         .textId = IDS_MENU_QUICKVIEW,
         .icon = "quickview",
         .enabled = [](const CommandContext& c) { return c.OneSelected() && c.programPathSet; },
         .run = [](CCacheFrame& frame, const CommandContext&) { QuickView(frame); }},
        {.id = C::ID_FILE_OPEN_WITH,
         .textId = IDS_MENU_OPEN_WITH,
         .enabled = oneSelected,
         .run = [](CCacheFrame& frame, const CommandContext&) { OpenWith(frame); }},
        {.id = C::ID_FILE_PROPERTIES,
         .textId = IDS_MENU_PROPERTIES,
         .shortcut = QKeySequence(Qt::ALT | Qt::Key_Return),
         .enabled = oneSelected,
         .run = [](CCacheFrame& frame, const CommandContext& c) { Properties(frame, c); }},
        // No menu: Enter, and a double click on a single selected row.
        {.id = C::ID_DEFAULT_ACTION,
         .shortcut = QKeySequence(Qt::Key_Return),
         .run = [](CCacheFrame& frame, const CommandContext& c) { DefaultAction(frame, c); }},
    };
}

} // namespace oriel
