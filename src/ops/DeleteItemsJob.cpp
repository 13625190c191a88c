#include "ops/DeleteItemsJob.h"

#include "model/Cache.h"
#include "model/CacheItem.h"

namespace oriel {

namespace {

std::string PathOf(CCacheItem& item)
{
    if (const char* path = item.GetFilePath())
        return path;
    return item.GetURL() ? item.GetURL() : "";
}

} // namespace

DeleteItemsJob::DeleteItemsJob(CCache& cache, std::vector<CCacheItem*> items, OwnerWindow owner, Progress* progress)
    : FileJob(progress)
    , cache_(cache)
    , items_(std::move(items))
    , owner_(owner)
{
}

DeleteItemsJob::~DeleteItemsJob()
{
    StopAndWait();
}

bool DeleteItemsJob::DoPrepare()
{
    if (cache_.IsDecoding())
        return false;
    cache_.ClearStopRequest();
    return true;
}

void DeleteItemsJob::DoRequestStop()
{
    cache_.RequestStop();
}

int DeleteItemsJob::DoRun()
{
    // Only items whose files exist go to the cache, as the window's Delete
    // passes only the rows not marked missing.
    std::vector<CCacheItem*> present;
    std::vector<std::string> paths(items_.size());
    std::vector<bool> wasPresent(items_.size(), false);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i])
            continue;
        paths[i] = PathOf(*items_[i]);
        if (items_[i]->Exists()) {
            wasPresent[i] = true;
            present.push_back(items_[i]);
        }
    }
    ProgressSetRange(int(present.size()));
    int result = 0;
    if (!present.empty())
        result = cache_.DeleteItems(owner_, GetProgress(), present);
    bool stopped = cache_.StopRequested();
    bool failed = false;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i])
            continue;
        if (!wasPresent[i])
            Record(paths[i], FileOutcome::Skipped, "already missing");
        else if (!items_[i]->Exists())
            Record(paths[i], FileOutcome::Done);
        else if (stopped)
            Record(paths[i], FileOutcome::Skipped, "stopped");
        else {
            Record(paths[i], FileOutcome::Failed, "the item's file still exists");
            failed = true;
        }
    }
    if (result != 0)
        return result;
    return failed ? -1 : 0;
}

} // namespace oriel
