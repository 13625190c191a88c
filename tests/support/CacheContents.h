// What a decode put into a cache, in the cache's order (group by group).
#pragma once

#include "model/Cache.h"

#include <string>
#include <vector>

namespace oriel::test {

std::vector<CCacheItem*> Items(const CCache& cache);
// Every item's URL; "(null)" for an item without one.
std::vector<std::string> Urls(const CCache& cache);
// The recovered items (CCache::GetRecoveredItems), in the order found, and
// their URLs as Urls gives them.
std::vector<CCacheItem*> RecoveredItems(const CCache& cache);
std::vector<std::string> RecoveredUrls(const CCache& cache);
// How many items find their body (CCacheItem::Exists).
int PresentCount(const CCache& cache);
// Every group's name and its items, then the recovered items, one line an
// item with every field a decoder sets: for comparing two decodes whole.
std::string Contents(const CCache& cache);

} // namespace oriel::test
