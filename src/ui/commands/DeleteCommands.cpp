// Delete of the selection (Edit menu, Del, toolbar, item menu), Delete all
// of a server (server menu) and Empty Cache of a profile (File menu and
// profile menu). Each runs as a job while the window is busy; a cache whose
// folder is read-only offers none of them, and recovered entries are never
// deleted (the "<Recovered>" group offers no delete; a selection that holds
// recovered rows deletes only its live ones).
#include "ui/commands/Command.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/Cache.h"
#include "ops/DeleteItemsJob.h"
#include "ops/EmptyJob.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"

#include <QAbstractItemView>

namespace oriel {

namespace {

CCache* CacheOf(BrowserProfile* profile)
{
    return profile ? profile->cache.get() : nullptr;
}

void Finish(CCacheFrame& frame)
{
    frame.ShowProgress(false);
    frame.UpdateStatusText();
    frame.EndWait();
    frame.List()->CurrentView()->setFocus();
}

// Deletes the selected items that are not marked missing; afterwards each
// of the other selected rows whose item is gone is ghosted or removed, as
// Show Missing Files says.
void DeleteSelection(CCacheFrame& frame, const CommandContext& context)
{
    CCache* cache = CacheOf(context.profile);
    if (!cache || !context.AnySelected())
        return;
    frame.BeginWait();
    frame.GetProgress().SetRange(0, context.selectedCount);
    frame.GetProgress().SetPos(0);
    frame.ShowProgress(true);
    frame.SetStatusMessage(IDS_CHECKING_SELECTED);
    // Ghosted rows are neither passed to the cache nor examined again.
    std::vector<CCacheItem*> items = frame.List()->SelectedPresentItems();
    frame.GetProgress().SetRange(0, int(items.size()));
    frame.GetProgress().SetPos(0);
    frame.StartJob(std::make_unique<DeleteItemsJob>(*cache, std::move(items), nullptr, &frame.GetProgress()),
                   [&frame](Job&) {
                       frame.ShowProgress(false);
                       frame.List()->ReviewSelectedRows(frame.ShowMissing());
                       Finish(frame);
                   });
}

// Deletes every item of the server; the list then shows the server again.
void DeleteServer(CCacheFrame& frame, const CommandContext& context)
{
    CCache* cache = CacheOf(context.profile);
    CNamedCacheItemArray* server = context.server;
    if (!cache || !server)
        return;
    frame.BeginWait();
    frame.GetProgress().SetRange(0, server->GetCount());
    frame.GetProgress().SetPos(0);
    frame.ShowProgress(true);
    frame.SetStatusMessage(IDS_CHECKING_SELECTED);
    std::vector<CCacheItem*> items;
    items.reserve(size_t(server->GetCount()));
    for (int32_t i = 0; i < server->GetCount(); ++i)
        items.push_back(server->ItemAt(i));
    frame.StartJob(std::make_unique<DeleteItemsJob>(*cache, std::move(items), nullptr, &frame.GetProgress()),
                   [&frame, server](Job&) {
                       frame.ShowProgress(false);
                       frame.Document().UpdateAllViews(frame.Tree(), CACHE_RELOAD, CUpdateHint::ForServer(server));
                       Finish(frame);
                   });
}

// Empties the profile's cache, decoding it first unless "FastDelete" is on
// or it is decoded; then the views drop the profile's items.
void EmptyCache(CCacheFrame& frame, BrowserProfile* profile)
{
    CCache* cache = CacheOf(profile);
    if (!cache)
        return;
    const bool fast = OptionStore::Instance().ReadInt("Options", "FastDelete", 0) != 0;
    frame.BeginWait();
    // The decode and the empty destroy the items the list shows.
    frame.List()->DeleteAllItems();
    if (fast || cache->IsDecoded()) {
        frame.SetStatusMessage(IDS_REMOVING_ALL);
    } else {
        frame.SetStatusMessage(IDS_DECODING);
    }
    frame.GetProgress().SetRange(0, 100);
    frame.GetProgress().SetPos(0);
    if (!fast)
        frame.ShowProgress(true);
    auto job = std::make_unique<EmptyJob>(*cache, fast, nullptr, &frame.GetProgress(), true);
    job->SetPhaseHandler([&frame](EmptyJob::Phase phase) {
        if (phase != EmptyJob::Phase::Removing)
            return;
        QMetaObject::invokeMethod(
            &frame, [&frame] { frame.SetStatusMessage(IDS_REMOVING_ALL); }, Qt::QueuedConnection);
    });
    frame.StartJob(std::move(job), [&frame, profile](Job&) {
        frame.ShowProgress(false);
        frame.Document().UpdateAllViews(nullptr, CACHE_EMPTY, CUpdateHint::ForProfile(profile));
        Finish(frame);
    });
}

int ReadOnlyNote(const CommandContext& c)
{
    return c.ProfileSelected() && !c.cacheWritable ? int(IDS_READ_ONLY_TOOLTIP) : 0;
}

} // namespace

std::vector<Command> DeleteCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_FILE_EMPTY,
         .textId = IDS_MENU_EMPTY,
         .enabled = [](const CommandContext& c) { return c.ProfileSelected() && c.cacheWritable; },
         .run = [](CCacheFrame& frame, const CommandContext& c) { EmptyCache(frame, c.profile); },
         .disabledNote = ReadOnlyNote},
        {.id = C::ID_EDIT_DELETE,
         .textId = IDS_MENU_DELETE,
         .shortcut = QKeySequence(Qt::Key_Delete),
         .icon = "delete",
         .enabled = [](const CommandContext& c) { return c.AnySelected() && c.cacheWritable && !c.recoveredServer; },
         .run = DeleteSelection,
         .disabledNote = ReadOnlyNote},
        {.id = C::ID_SERVER_DELETE_ALL,
         .textId = IDS_MENU_DELETE_ALL,
         .enabled =
             [](const CommandContext& c) {
                 return c.treeActive && c.ServerSelected() && c.cacheWritable && !c.recoveredServer;
             },
         .run = DeleteServer,
         .disabledNote = ReadOnlyNote},
    };
}

} // namespace oriel
