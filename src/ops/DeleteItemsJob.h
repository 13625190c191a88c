// Deletes chosen items of one cache through the cache's own DeleteItems
// (each format knows which files and index records belong to an item).
//
// Files() holds one outcome per item, in the order given, with the item's
// file path (its URL when it has none); none when the job did not run:
//   Done     the item's file is gone afterwards (Exists is false);
//   Failed   the file still exists after the cache's delete ran;
//   Skipped  the item was already missing (not passed to the cache), or a
//            stop request ended the delete before it was removed.
// A null item gives no outcome. The job does not run while a decode of the
// cache runs (the items would be those of a list being rebuilt). A stop
// request left on the cache by an earlier operation is dropped when the job
// begins; one made after the start reaches the cache's delete loop.
//
// The result's status is the cache's DoDeleteItems value when it failed,
// -1 when an item failed, 0 otherwise. The items must outlive the job.
#pragma once

#include "ops/FileJob.h"
#include "platform/OwnerWindow.h"

#include <vector>

namespace oriel {

class CCache;
class CCacheItem;

class DeleteItemsJob final : public FileJob {
public:
    DeleteItemsJob(CCache& cache, std::vector<CCacheItem*> items, OwnerWindow owner = nullptr,
                   Progress* progress = nullptr);
    ~DeleteItemsJob() override;

    const std::vector<CCacheItem*>& Items() const { return items_; }

private:
    bool DoPrepare() override;
    int DoRun() override;
    void DoRequestStop() override;

    CCache& cache_;
    std::vector<CCacheItem*> items_;
    OwnerWindow owner_;
};

} // namespace oriel
