// The File menu: re-load the selected profile's cache, exit.
#include "ui/commands/Command.h"

#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"

namespace oriel {

namespace {

// Clears the list, decodes the profile's cache again on a decode job, then
// has the tree rebuild the profile (sent from the list: the list follows
// the tree).
void ReloadCache(CCacheFrame& frame, BrowserProfile* profile)
{
    if (!profile || !profile->cache)
        return;
    frame.BeginWait();
    frame.SetStatusMessage(IDS_CLEARING_LIST);
    frame.List()->DeleteAllItems();
    frame.ShowProgress(true);
    frame.SetStatusMessage(IDS_DECODING);
    frame.StartDecode(profile->cache.get(), [&frame, profile](int) {
        frame.ShowProgress(false);
        frame.EndWait();
        frame.Document().UpdateAllViews(frame.List(), CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        frame.UpdateStatusText();
    });
}

} // namespace

std::vector<Command> FileCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_FILE_RELOAD,
         .textId = IDS_MENU_RELOAD,
         .enabled = [](const CommandContext& c) { return c.ProfileSelected(); },
         .run = [](CCacheFrame& frame, const CommandContext& c) { ReloadCache(frame, c.profile); }},
        {.id = C::ID_APP_EXIT,
         .textId = IDS_MENU_EXIT,
         .run = [](CCacheFrame& frame, const CommandContext&) { frame.close(); }},
    };
}

} // namespace oriel
