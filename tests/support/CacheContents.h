// What a decode put into a cache, in the cache's order (group by group).
#pragma once

#include "model/Cache.h"

#include <string>
#include <vector>

namespace oriel::test {

std::vector<CCacheItem*> Items(const CCache& cache);
// Every item's URL; "(null)" for an item without one.
std::vector<std::string> Urls(const CCache& cache);
// How many items find their body (CCacheItem::Exists).
int PresentCount(const CCache& cache);

} // namespace oriel::test
