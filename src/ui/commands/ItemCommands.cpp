// Getting files out of the cache: copy and move of the selection or of a
// whole server through the copy/move dialog and a CopyMoveJob, and URLs to
// the clipboard.
#include "ui/commands/Command.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/Cache.h"
#include "model/CacheItem.h"
#include "ops/CopyMoveJob.h"
#include "ops/DestName.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/ItemListModel.h"
#include "ui/dialogs/CopyMoveDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QMetaObject>

namespace oriel {

namespace {

DestNameOptions NamingOptions()
{
    const OptionStore& store = OptionStore::Instance();
    DestNameOptions names;
    names.usePathNames = store.ReadInt("Options", "UsePathNames", 1) != 0;
    names.extractNames = store.ReadInt("Options", "ExtractNames", 1) != 0;
    names.useServerInPath = store.ReadInt("Options", "UseServerInPath", 1) != 0;
    names.defaultFileName = store.ReadString("Options", "DefaultFileName", "index");
    return names;
}

// The shell's overwrite question, asked on the window's thread while the
// job waits.
OverwriteAnswer AskOverwrite(CCacheFrame& frame, const std::string& destination)
{
    OverwriteAnswer answer = OverwriteAnswer::No;
    QMetaObject::invokeMethod(
        &frame,
        [&] {
            auto button = QMessageBox::question(
                &frame, QString::fromUtf8(LoadString(IDS_COPY_TO)),
                QString::fromUtf8(LoadString(IDS_OVERWRITE_QUESTION)) + QString::fromStdString(destination),
                QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
            answer = button == QMessageBox::Yes        ? OverwriteAnswer::Yes
                     : button == QMessageBox::YesToAll ? OverwriteAnswer::YesToAll
                     : button == QMessageBox::Cancel   ? OverwriteAnswer::Cancel
                                                       : OverwriteAnswer::No;
        },
        Qt::BlockingQueuedConnection);
    return answer;
}

void CopyMoveItems(CCacheFrame& frame, const std::vector<CCacheItem*>& items, int operation)
{
    if (items.empty() || frame.IsJobRunning())
        return;
    frame.SetStatusMessage(IDS_CHECKING_SELECTED);
    CCopyMoveDlg dialog(OptionStore::Instance(), NamingOptions(), operation, &frame.Icons(), &frame);
    dialog.FillList(items);
    if (dialog.exec() != QDialog::Accepted) {
        frame.UpdateStatusText();
        return;
    }
    const bool move = dialog.GetOperation() == CCopyMoveDlg::kMove;
    auto job = std::make_unique<CopyMoveJob>(dialog.Requests(), dialog.Folder(), move, &frame.GetProgress());
    job->SetOverwriteQuestion([&frame](const std::string& path) { return AskOverwrite(frame, path); });
    frame.BeginWait();
    frame.ShowProgress(true);
    frame.StartJob(std::move(job), [&frame, move](Job& done) {
        auto& copy = static_cast<CopyMoveJob&>(done);
        frame.ShowProgress(false);
        frame.EndWait();
        if (move) {
            frame.List()->Model()->UpdateGoneRows(frame.ShowMissing());
            if (copy.NotMoved() > 0)
                QMessageBox::information(&frame, QString::fromUtf8(LoadString(IDS_MOVE_TO)),
                                         QString::fromUtf8(LoadString(IDS_COPY_NOT_MOVED)) +
                                             QString::number(copy.NotMoved()));
        }
        frame.UpdateStatusText();
        frame.List()->setFocus();
    });
}

// The URLs of the items, "\r\n" between them and none after the last.
QString UrlsText(const std::vector<CCacheItem*>& items)
{
    std::string text;
    for (CCacheItem* item : items) {
        if (!text.empty())
            text += "\r\n";
        if (item && item->GetURL())
            text += item->GetURL();
    }
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::vector<CCacheItem*> ServerItems(CNamedCacheItemArray* server)
{
    std::vector<CCacheItem*> items;
    if (!server)
        return items;
    for (int32_t i = 0; i < server->GetCount(); ++i) {
        if (CCacheItem* item = server->ItemAt(i))
            items.push_back(item);
    }
    return items;
}

} // namespace

std::vector<Command> ItemCommands()
{
    using C = CommandIds;
    auto anySelected = [](const CommandContext& c) { return c.AnySelected(); };
    auto serverInTree = [](const CommandContext& c) { return c.treeActive && c.ServerSelected(); };
    // Moving removes from the cache: never offered for the "<Recovered>"
    // group, whose items are copied instead.
    auto movable = [](const CommandContext& c) { return c.AnySelected() && !c.recoveredServer; };
    auto serverMovable = [](const CommandContext& c) { return c.treeActive && c.ServerSelected() && !c.recoveredServer; };
    return {
        {.id = C::ID_EDIT_MOVE_TO,
         .textId = IDS_MENU_MOVE_TO,
         .shortcut = QKeySequence(Qt::CTRL | Qt::Key_X),
         .icon = "move",
         .enabled = movable,
         .run = [](CCacheFrame& frame, const CommandContext& c) { CopyMoveItems(frame, c.SelectedItems(), 1); }},
        {.id = C::ID_EDIT_COPY_TO,
         .textId = IDS_MENU_COPY_TO,
         .shortcut = QKeySequence(Qt::CTRL | Qt::Key_C),
         .icon = "copy",
         .enabled = anySelected,
         .run = [](CCacheFrame& frame, const CommandContext& c) { CopyMoveItems(frame, c.SelectedItems(), 0); }},
        {.id = C::ID_EDIT_COPY_URLS,
         .textId = IDS_MENU_COPY_URLS,
         .enabled = anySelected,
         .run =
             [](CCacheFrame&, const CommandContext& c) {
                 QString text = UrlsText(c.SelectedItems());
                 if (!text.isEmpty())
                     QApplication::clipboard()->setText(text);
             }},
        {.id = C::ID_SERVER_MOVE_ALL,
         .textId = IDS_MENU_MOVE_ALL,
         .enabled = serverMovable,
         .run = [](CCacheFrame& frame, const CommandContext& c) { CopyMoveItems(frame, ServerItems(c.server), 1); }},
        {.id = C::ID_SERVER_COPY_ALL,
         .textId = IDS_MENU_COPY_ALL,
         .enabled = serverInTree,
         .run = [](CCacheFrame& frame, const CommandContext& c) { CopyMoveItems(frame, ServerItems(c.server), 0); }},
        {.id = C::ID_SERVER_COPY_URL,
         .textId = IDS_MENU_COPY_URL,
         .enabled = serverMovable,
         .run =
             [](CCacheFrame&, const CommandContext& c) {
                 if (c.server && c.server->GetName())
                     QApplication::clipboard()->setText(QString("http://") + QString::fromUtf8(c.server->GetName()));
             }},
    };
}

} // namespace oriel
