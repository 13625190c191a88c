#include "ops/EmptyJob.h"

#include "app/StringTable.h"
#include "model/Cache.h"
#include "model/CacheItem.h"

#include <filesystem>

namespace oriel {

namespace {

// The files of the decoded list, before Empty destroys the items: each as
// found on disk (Exists settles the spelling), so that whether it is gone
// afterwards takes one exact look.
std::vector<std::string> ListedFiles(const CCache& cache)
{
    std::vector<std::string> files;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        const CNamedCacheItemArray* group = cache.GetGroup(g);
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            CCacheItem* item = group->ItemAt(i);
            if (!item || !item->GetFilePath())
                continue;
            item->Exists();
            files.emplace_back(item->GetFilePath());
        }
    }
    return files;
}

// Exactly as spelled (a link counts as itself): no lookup regardless of
// case, which lists the folder for every name that is not there.
bool ExistsAsSpelled(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found &&
           !ec;
}

} // namespace

EmptyJob::EmptyJob(CCache& cache, bool fastDelete, OwnerWindow owner, Progress* progress, bool showMessages)
    : FileJob(progress)
    , cache_(cache)
    , fastDelete_(fastDelete)
    , owner_(owner)
    , showMessages_(showMessages)
{
}

EmptyJob::~EmptyJob()
{
    StopAndWait();
}

bool EmptyJob::DoPrepare()
{
    // A decode of this cache is rebuilding the list the empty would use.
    if (cache_.IsDecoding())
        return false;
    cache_.ClearStopRequest();
    return true;
}

void EmptyJob::DoRequestStop()
{
    cache_.RequestStop();
}

int EmptyJob::DoRun()
{
    if (!fastDelete_ && !cache_.IsDecoded()) {
        if (phase_)
            phase_(Phase::Decoding);
        ProgressSetRange(100);
        decodedFirst_ = true;
        // A failed decode still goes on to the empty: the cache removes what
        // it found.
        cache_.Decode(GetProgress(), showMessages_);
        if (StopRequested())
            return 0;
    }
    std::vector<std::string> files;
    if (!fastDelete_)
        files = ListedFiles(cache_);
    if (phase_)
        phase_(Phase::Removing);
    ProgressSetRange(0);
    if (StopRequested())
        return 0;
    const int result = cache_.Empty(owner_, GetProgress());
    emptied_ = true;
    bool failed = false;
    const bool stopped = StopRequested();
    for (std::string& file : files) {
        if (!ExistsAsSpelled(file)) {
            Record(std::move(file), FileOutcome::Done);
        } else if (stopped) {
            Record(std::move(file), FileOutcome::Skipped, "stopped");
        } else {
            Record(std::move(file), FileOutcome::Failed, "the file still exists");
            failed = true;
        }
    }
    if (result != 0)
        return result;
    return failed ? -1 : 0;
}

EmptyProfilesJob::EmptyProfilesJob(std::vector<Target> targets, bool fastDelete, Progress* progress)
    : FileJob(progress)
    , targets_(std::move(targets))
    , fastDelete_(fastDelete)
{
}

EmptyProfilesJob::~EmptyProfilesJob()
{
    StopAndWait();
}

void EmptyProfilesJob::SetCurrent(CCache* cache)
{
    std::lock_guard lock(currentMutex_);
    current_ = cache;
}

void EmptyProfilesJob::DoRequestStop()
{
    std::lock_guard lock(currentMutex_);
    if (current_)
        current_->RequestStop();
}

int EmptyProfilesJob::DoRun()
{
    int result = 0;
    for (const Target& target : targets_) {
        if (StopRequested())
            break;
        CCache* cache = target.cache;
        if (!cache)
            continue;
        // A stop left over from an earlier operation is dropped before the
        // job can forward one of its own.
        if (!cache->IsDecoding())
            cache->ClearStopRequest();
        SetCurrent(cache);
        // A stop that came while the cache was not yet current.
        if (StopRequested())
            break;
        if (!fastDelete_) {
            if (status_)
                status_(IDS_DECODING, target.name);
            ProgressSetRange(100);
            cache->DecodeThread(GetProgress(), false);
            cache->WaitForDecodeThread();
            if (StopRequested())
                break;
        }
        if (status_)
            status_(IDS_CHECKING_SELECTED, target.name);
        ProgressSetRange(0);
        const int emptied = cache->Empty(nullptr, GetProgress());
        if (emptied != 0)
            result = emptied;
        emptied_.push_back(target.name);
    }
    SetCurrent(nullptr);
    return result;
}

} // namespace oriel
