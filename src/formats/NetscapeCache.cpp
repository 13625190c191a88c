#include "formats/NetscapeCache.h"

#include "app/StringTable.h"
#include "model/Progress.h"
#include "platform/ShellFileOperation.h"
#include "platform/FileSystem.h"

#include <cstring>
#include <thread>

namespace oriel {

namespace {
// The decoders walk their database from the start to the end (the map
// reads it whole): reads of this size keep one small buffer hot.
constexpr size_t kDatabaseReadAhead = 64 * 1024;
} // namespace

int ReadDeleteOption(const AppContext& context, const char* key)
{
    if (std::strcmp(key, "FastDelete") == 0)
        return context.Options().fastDelete;
    if (std::strcmp(key, "RemoveDB") == 0)
        return context.Options().removeDB;
    return 0;
}

NetscapeCache::NetscapeCache(const AppContext& context, BrowserProfile* profile, std::string folder, std::string databaseFileName)
    : CCache(context, profile, std::move(folder))
    , databaseFileName_(std::move(databaseFileName))
{
}

NetscapeCache::~NetscapeCache()
{
    StopDecodeThread();
    CloseDBFile();
}

std::string NetscapeCache::DatabaseFilePath() const
{
    return platform::ResolvePath(platform::MakePath(GetFolder(), databaseFileName_));
}

void NetscapeCache::DoShutdown()
{
    CloseDBFile();
    CCache::DoShutdown();
}

int NetscapeCache::CloseDBFile()
{
    database_.reset();
    return 0;
}

int NetscapeCache::OpenDBFile()
{
    // A folder (or a FIFO, a device) of that name is no database file.
    database_ = givenSource_ ? givenSource_ : platform::FileRange{DatabaseFilePath()}.Open(kDatabaseReadAhead);
    return database_ ? 0 : -1;
}

int NetscapeCache::OpenDatabase()
{
    if (OpenDBFile() == 0)
        return 0;
    CloseDBFile();
    ShowOpenFailure(DatabaseFilePath());
    return -1;
}

void NetscapeCache::AppendItemPaths(ShellFileOperation& operation, CCacheItem& item) const
{
    if (auto* file = dynamic_cast<CFileCacheItem*>(&item)) {
        // The body itself, also when a working copy has taken its place as
        // the item's file path.
        const char* name = file->GetCacheName();
        std::string body;
        if (name && platform::IsContainedRelativeName(name)) {
            body = platform::ResolvePath(platform::MakePath(GetFolder(), name));
            operation.AppendPath(ShellFileOperation::List::Source, body);
        }
        if (file->DeletesOnDestroy()) {
            const char* copy = file->GetFilePath();
            if (copy && body != copy)
                operation.AppendPath(ShellFileOperation::List::Source, copy);
        }
        return;
    }
    if (const char* path = item.GetFilePath())
        operation.AppendPath(ShellFileOperation::List::Source, path);
}

int NetscapeCache::DoEmpty(OwnerWindow owner)
{
    Trace("Entry - NetscapeCache::DoEmpty()");
    ShellFileOperation operation;
    operation.SetLog(&Context().Log());
    operation.SetOwnerWindow(owner);
    operation.SetDeleteScope(GetFolder());
    operation.AddDeleteScope(platform::PrivateTempFolder());

    if (ReadDeleteOption(Context(), "FastDelete")) {
        if (std::string why = ShellFileOperation::ProtectedFolderReason(GetFolder()); !why.empty()) {
            Trace("Exit  - NetscapeCache::DoEmpty() refused: " + why);
            return -1;
        }
        operation.SetFlags(FOF_NOCONFIRMATION | FOF_NOERRORUI);
        operation.AppendPath(ShellFileOperation::List::Source, platform::MakePath(GetFolder(), "*.*"));
    } else {
        if (GetGroupCount() == 0) {
            Trace("Exit  - NetscapeCache::DoEmpty() nothing decoded");
            return 0;
        }
        ProgressSetRange(GetGroupCount());
        operation.SetFlags(FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_NOERRORUI);
        uint32_t visited = 0;
        for (int32_t g = 0; g < GetGroupCount(); ++g) {
            if (StopRequested()) {
                Trace("Exit  - NetscapeCache::DoEmpty() stopped");
                return 0; // nothing is deleted
            }
            CNamedCacheItemArray* group = GetGroup(g);
            for (int32_t i = 0; i < group->GetCount(); ++i) {
                CCacheItem* item = group->ItemAt(i);
                if (item && item->Exists())
                    AppendItemPaths(operation, *item);
                // Other threads get their turn now and then: a yield on
                // every item gives a time slice away each time on a busy
                // machine (100,000 items took minutes).
                if (++visited % 1024 == 0)
                    std::this_thread::yield();
            }
            if (progress_)
                progress_->OffsetPos(1);
        }
        if (ReadDeleteOption(Context(), "RemoveDB"))
            operation.AppendPath(ShellFileOperation::List::Source, DatabaseFilePath());
    }
    operation.RunDelete();
    Trace("Exit  - NetscapeCache::DoEmpty()");
    return 0;
}

int NetscapeCache::DoDeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items)
{
    Trace("Entry - NetscapeCache::DoDeleteItems()");
    ShellFileOperation operation;
    operation.SetLog(&Context().Log());
    operation.SetOwnerWindow(owner);
    operation.SetDeleteScope(GetFolder());
    operation.AddDeleteScope(platform::PrivateTempFolder());
    operation.SetFlags(FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_NOERRORUI);
    for (CCacheItem* item : items) {
        if (!item || StopRequested())
            break;
        AppendItemPaths(operation, *item);
        if (progress_)
            progress_->OffsetPos(1);
    }
    operation.RunDelete();
    Trace("Exit  - NetscapeCache::DoDeleteItems()");
    return 0;
}

} // namespace oriel
